// The ".aym" reader and the start-up of one AYM song.
//
// An AYM file is a memory image of a Z80 player plus a 69-byte little-endian
// header (revision "0" only) that names its init and play routines, the start
// values of the registers and the register byte that receives the song number.
// `OpenAYMFile` loads the image once, when the file is opened; `LoadAYMSong`
// only places the start-up program and sets the registers, so a player that
// changes its own variables hands them on to the next song of the same file.
//
// Where this reader is stricter than the format's usual readers:
// - A block whose address plus length passes 0x10000 is cut at the end of
//   memory (the rest of its bytes are skipped), like the blocks of AY files.
// - A song-number slot above 11 lies outside the register image and is ignored.
// - A first-song number outside the file's range of songs starts on song 0.
// - On any failure the file is closed.
#include "formats/song_file.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t HeaderSize = sizeof(TAYMHeader::Raw);

// The AYM start-up program at 0x0000 (init at 0x0003-0x0004, play at
// 0x0008-0x0009). Execution starts at 0x0002, past DI and XOR A, so A keeps
// its start value, which may be the song number.
//   DI; XOR A; CALL init; EI; HALT; CALL play; JR 0x0005
constexpr uint8_t AYMStub[12] = {0xF3, 0xAF, 0xCD, 0x00, 0x00, 0xFB,
                                 0x76, 0xCD, 0x00, 0x00, 0x18, 0xF9};

// A header text: up to its first zero byte, without blanks and control
// characters at either end.
std::string HeaderText(const uint8_t* field, size_t size) {
    const uint8_t* end = std::find(field, field + size, 0);
    const uint8_t* begin = field;
    while (begin < end && *begin <= ' ') ++begin;
    while (end > begin && end[-1] <= ' ') --end;
    return std::string(begin, end);
}

} // namespace

bool OpenAYMFile(SongList& list, const std::string& fileName, const FormatErrorSink& formatError,
                 SoundEngine& engine) {
    if (list.FileOpen) {
        list.SongFile.Close();
        list.FileOpen = false;
    }
    list.SongFile.Open(fileName);
    try {
        TAYMHeader header;
        list.SongFile.ReadAt(0, header.Raw, HeaderSize);
        const char* refusal = nullptr;
        if (std::memcmp(header.Raw, "AYM", 3) != 0)
            refusal = "Not .AYM file";
        else if (header.Raw[3] != '0')
            refusal = "AYM format revision other than '0' are not supported";
        if (refusal) {
            list.SongFile.Close();
            if (formatError) formatError(refusal);
            return false;
        }

        const int songCount = static_cast<uint8_t>(header.LastNumber() - header.FirstNumber()) + 1;
        uint8_t firstSong = static_cast<uint8_t>(header.StartNumber() - header.FirstNumber());
        if (firstSong >= songCount) firstSong = 0;

        list.Kind = SongKind::AYM;
        list.AYMHeader = header;
        list.SongCount = songCount;
        list.FirstSong = firstSong;
        list.SongNameText = HeaderText(header.Raw + 4, 28);
        list.AuthorText = HeaderText(header.Raw + 32, 16);
        list.MiscText.clear();
        list.Songs.clear();
        list.SongNames.clear();

        uint8_t* memory = engine.Z80.Memory;
        std::fill(memory + 0x4000, memory + 0x10000, 0x00);
        uint64_t position = HeaderSize;
        for (int i = 0; i < header.BlockCount(); ++i) {
            uint8_t block[4];
            list.SongFile.ReadAt(position, block, sizeof block);
            position += sizeof block;
            const uint32_t address = block[0] | block[1] << 8;
            const uint32_t length = block[2] | block[3] << 8;
            // A short last block loads what the file holds; a block that would
            // pass the end of memory loads what fits.
            list.SongFile.ReadUpTo(position, memory + address, std::min(length, 0x10000 - address));
            position += length;
        }

        list.FileOpen = true;
        return true;
    } catch (...) {
        list.SongFile.Close();
        throw;
    }
}

void LoadAYMSong(SongList& list, SoundEngine& engine, int index) {
    const TAYMHeader& header = list.AYMHeader;
    Z80State& z = engine.Z80;
    uint8_t* memory = z.Memory;

    std::copy(std::begin(AYMStub), std::end(AYMStub), memory);
    memory[0x0038] = 0xFB; // EI
    memory[0x0039] = 0xC9; // RET
    z.MirrorByte() = memory[0];
    memory[0x0003] = header.Raw[48];
    memory[0x0004] = header.Raw[49];
    memory[0x0008] = header.Raw[50];
    memory[0x0009] = header.Raw[51];

    uint8_t image[12];
    std::copy(header.Raw + 56, header.Raw + 68, image);
    if (header.SongNumberSlot() < sizeof image)
        image[header.SongNumberSlot()] = static_cast<uint8_t>(index + header.FirstNumber());

    z.AFStore1 = AFPair{image[0], image[1]};
    z.BankStore1 = RegisterBank{image[6], image[7], image[4], image[5], image[2], image[3]};
    z.IX = static_cast<uint16_t>(image[8] | image[9] << 8);
    z.IY = static_cast<uint16_t>(image[10] | image[11] << 8);
    z.SP = 0x4000;
    z.PC = 0x0002;
    z.I = 0;
    z.R = 0;
    z.RBit7 = 0;

    engine.Chip.Beeper.Level = 0;
}
