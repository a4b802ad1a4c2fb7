// The ".ay" (ZXAYEMUL) reader and the start-up of one AY song.
//
// `OpenAYFile` checks the file's identity, reads the author and miscellaneous
// strings and builds the song list; the songs' data stays in the file, which is
// kept open, and `LoadAYSong` reads one song's blocks into the emulated memory
// each time that song starts, under a small start-up program that calls the
// song's INIT routine and then its interrupt routine once per frame.
//
// Where this reader is stricter than the format's usual readers:
// - Every read is bounds-checked. A field, string or table that runs past the
//   end of the file is an I/O error ("Read beyond end of file"); a pointer that
//   leads before the start of the file is one too ("Invalid argument").
// - A block whose data begins past the end of the file (or before its start)
//   is kept in the list with length 0; starting its song then fails with
//   "Read beyond end of file" instead of loading garbage.
// - A first-song index that names no song starts the file on song 0.
// - On any failure the file is closed and the song list is left as it was.
#include "formats/song_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Sequential big-endian reading over the song file with the positioning rules
// of the format: relative pointers count from the position of the pointer
// field itself and may point backwards. Reads go through a small window so
// that parsing a song table costs a handful of system calls.
class FileCursor {
  public:
    explicit FileCursor(const SongFileHandle& file) : File(file) {}

    void Seek(int64_t position) { Offset = position; }
    int64_t Position() const { return Offset; }

    void Read(void* data, size_t length) {
        auto* out = static_cast<uint8_t*>(data);
        while (length > 0) {
            const size_t n = std::min(length, Fill());
            std::memcpy(out, Window + (Offset - WindowStart), n);
            out += n;
            length -= n;
            Offset += static_cast<int64_t>(n);
        }
    }

    uint8_t Byte() {
        uint8_t b;
        Read(&b, 1);
        return b;
    }
    uint16_t Word() {
        uint8_t b[2];
        Read(b, 2);
        return static_cast<uint16_t>(b[0] << 8 | b[1]);
    }
    // Reads a relative pointer and returns the absolute position it names.
    int64_t Pointer() {
        const int64_t field = Offset;
        return field + static_cast<int16_t>(Word());
    }
    // Bytes up to the first zero byte (which is consumed), taken as they are.
    std::string String() {
        std::string text;
        for (;;) {
            const size_t available = Fill();
            const uint8_t* at = Window + (Offset - WindowStart);
            const void* zero = std::memchr(at, 0, available);
            const size_t n =
                zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - at) : available;
            text.append(reinterpret_cast<const char*>(at), n);
            Offset += static_cast<int64_t>(n);
            if (zero) {
                Offset += 1;
                return text;
            }
        }
    }

  private:
    // Makes the window hold the byte at the current position; returns how many
    // bytes from there on it holds (at least one), or throws at the end.
    size_t Fill() {
        if (Offset < 0) throw SongIOError(std::strerror(EINVAL));
        if (Offset < WindowStart || Offset >= WindowStart + WindowLength) {
            WindowStart = Offset;
            WindowLength = static_cast<int64_t>(
                File.ReadUpTo(static_cast<uint64_t>(Offset), Window, sizeof Window));
            if (WindowLength == 0) throw SongIOError("Read beyond end of file");
        }
        return static_cast<size_t>(WindowStart + WindowLength - Offset);
    }

    const SongFileHandle& File;
    int64_t Offset = 0;
    int64_t WindowStart = 0;
    int64_t WindowLength = 0;
    uint8_t Window[4096];
};

// The AY start-up programs, assembled at 0x0000 (INIT at 0x0002-0x0003,
// INTERRUPT at 0x0009-0x000A are filled in per song).
//   DI; CALL init; IM 1; EI; HALT; CALL interrupt; JR 0x0004
constexpr uint8_t StubWithInterrupt[13] = {0xF3, 0xCD, 0x00, 0x00, 0xED, 0x56, 0xFB,
                                           0x76, 0xCD, 0x00, 0x00, 0x18, 0xF7};
//   DI; CALL init; IM 2; EI; HALT; JR 0x0004
constexpr uint8_t StubOwnInterrupt[10] = {0xF3, 0xCD, 0x00, 0x00, 0xED,
                                          0x5E, 0xFB, 0x76, 0x18, 0xFA};

// Reads the block table at the cursor into `song` (Init taken from the first
// block when the file gives 0), cutting each length to the address space and
// then to the bytes the file holds.
void ReadBlocks(FileCursor& in, uint64_t fileSize, TAYSong& song) {
    for (uint16_t address = in.Word(); address != 0; address = in.Word()) {
        TAYBlock block;
        block.Address = address;
        if (song.Init == 0) song.Init = address;
        uint32_t length = in.Word();
        if (address + length > 0x10000u) length = 0x10000u - address;
        const int64_t offset = in.Pointer();
        if (offset < 0 || static_cast<uint64_t>(offset) > fileSize) {
            // Nothing of it is in the file: an empty block at a position that
            // cannot be read, so that the song's start reports the fault.
            block.Offset = offset < 0
                               ? UINT32_MAX
                               : static_cast<uint32_t>(std::min<int64_t>(offset, UINT32_MAX));
            length = 0;
        } else {
            block.Offset = static_cast<uint32_t>(offset);
            if (static_cast<uint64_t>(offset) + length > fileSize)
                length = static_cast<uint32_t>(fileSize - static_cast<uint64_t>(offset));
        }
        block.Length = static_cast<uint16_t>(length);
        song.Blocks.push_back(block);
    }
}

} // namespace

bool OpenAYFile(SongList& list, const std::string& fileName, const FormatErrorSink& formatError) {
    if (list.FileOpen) {
        list.SongFile.Close();
        list.FileOpen = false;
    }
    list.SongFile.Open(fileName);
    try {
        FileCursor in(list.SongFile);
        uint8_t header[20];
        in.Read(header, sizeof header);
        const char* refusal = nullptr;
        if (std::memcmp(header, "ZXAY", 4) != 0)
            refusal = "Not .AY file";
        else if (std::memcmp(header + 4, "EMUL", 4) != 0)
            refusal = "Not Z80 emulation .AY file";
        if (refusal) {
            list.SongFile.Close();
            if (formatError) formatError(refusal);
            return false;
        }

        const int songCount = header[16] + 1;
        uint8_t firstSong = header[17];

        in.Seek(12);
        in.Seek(in.Pointer());
        std::string author = in.String();
        in.Seek(14);
        in.Seek(in.Pointer());
        std::string misc = in.String();
        in.Seek(18);
        int64_t entry = in.Pointer();

        std::vector<TAYSong> songs(songCount);
        std::vector<std::string> names(songCount);
        for (int i = 0; i < songCount; ++i, entry += 4) {
            in.Seek(entry);
            const int64_t namePosition = in.Pointer();
            const int64_t dataPosition = in.Pointer();

            in.Seek(namePosition);
            names[i] = in.String();

            in.Seek(dataPosition);
            uint8_t record[14];
            in.Read(record, sizeof record);
            TAYSong& song = songs[i];
            song.SongLength = static_cast<uint16_t>(record[4] << 8 | record[5]);
            song.FadeLength = static_cast<uint16_t>(record[6] << 8 | record[7]);
            song.HiReg = record[8];
            song.LoReg = record[9];
            const int64_t pointsField = dataPosition + 10;
            const int64_t points = pointsField + static_cast<int16_t>(record[10] << 8 | record[11]);
            const int64_t blocksField = dataPosition + 12;
            const int64_t blocks = blocksField + static_cast<int16_t>(record[12] << 8 | record[13]);

            in.Seek(points);
            song.Stack = in.Word();
            song.Init = in.Word();
            song.Interrupt = in.Word();

            in.Seek(blocks);
            ReadBlocks(in, list.SongFile.Size(), song);
        }

        // A first song that does not exist: start on the first one instead.
        if (firstSong >= songCount) firstSong = 0;

        list.Kind = SongKind::AY;
        list.SongCount = songCount;
        list.FirstSong = firstSong;
        list.AuthorText = std::move(author);
        list.MiscText = std::move(misc);
        list.SongNameText = names[firstSong];
        list.Songs = std::move(songs);
        list.SongNames = std::move(names);
        list.FileOpen = true;
        return true;
    } catch (...) {
        list.SongFile.Close();
        throw;
    }
}

void LoadAYSong(SongList& list, SoundEngine& engine, int index) {
    if (index < 0 || static_cast<size_t>(index) >= list.Songs.size())
        throw std::out_of_range("LoadAYSong: no such song");
    const TAYSong& song = list.Songs[static_cast<size_t>(index)];
    Z80State& z = engine.Z80;
    uint8_t* memory = z.Memory;

    // RET over the restart area, 0xFF over the rest of the ROM, RAM cleared.
    std::fill(memory, memory + 0x100, 0xC9);
    std::fill(memory + 0x100, memory + 0x4000, 0xFF);
    std::fill(memory + 0x4000, memory + 0x10000, 0x00);
    // The IM 1 entry enables interrupts again and returns through the RET at 0x0039.
    memory[0x0038] = 0xFB;

    if (song.Interrupt != 0) {
        std::copy(std::begin(StubWithInterrupt), std::end(StubWithInterrupt), memory);
        memory[0x0009] = static_cast<uint8_t>(song.Interrupt);
        memory[0x000A] = static_cast<uint8_t>(song.Interrupt >> 8);
    } else {
        std::copy(std::begin(StubOwnInterrupt), std::end(StubOwnInterrupt), memory);
    }
    memory[0x0002] = static_cast<uint8_t>(song.Init);
    memory[0x0003] = static_cast<uint8_t>(song.Init >> 8);

    for (const TAYBlock& block : song.Blocks) {
        // The reader already cut lengths to the address space; a hand-made
        // list must not write past memory either.
        const size_t length = std::min<size_t>(block.Length, 0x10000u - block.Address);
        list.SongFile.ReadAt(block.Offset, memory + block.Address, length);
    }
    z.MirrorByte() = memory[0];

    const AFPair af{song.LoReg, song.HiReg};
    const RegisterBank bank{song.LoReg, song.HiReg, song.LoReg, song.HiReg, song.LoReg, song.HiReg};
    const uint16_t pair = static_cast<uint16_t>(song.HiReg << 8 | song.LoReg);
    z.AFStore1 = af;
    z.AFStore2 = af;
    z.BankStore1 = bank;
    z.BankStore2 = bank;
    z.IX = pair;
    z.IY = pair;
    z.SP = song.Stack;
    z.I = 3;
    z.R = 0;
    z.RBit7 = 0;
    z.PC = 0x0000;

    engine.Chip.Beeper.Level = 0;
}
