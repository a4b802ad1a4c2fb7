// Song files: the ".ay" (ZXAYEMUL) and ".aym" readers and the start-up of one
// song in the emulated machine. No window and no audio device here: format
// errors go to a caller-supplied sink, file-system errors are thrown as
// `SongIOError` and reported once by whoever started the operation.
#pragma once

#include "chip/chip.h"
#include "formats/register_stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// A song file's text (a title, an author) as UTF-8: valid UTF-8 passes, any
// other byte is taken as Latin-1, so the text is always valid UTF-8.
std::string SongTextUtf8(const std::string& text);

// A file-system error while a song file is read: the system's text, or
// "Read beyond end of file" for a short read, "File not found" for a missing file.
class SongIOError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Receives the text of a format error ("Not .AY file", ...); the player shows it
// in a box captioned "Error".
using FormatErrorSink = std::function<void(const std::string& text)>;

// A song file kept open read-only while it is current.
class SongFileHandle {
  public:
    SongFileHandle() = default;
    ~SongFileHandle() { Close(); }
    SongFileHandle(const SongFileHandle&) = delete;
    SongFileHandle& operator=(const SongFileHandle&) = delete;

    void Open(const std::string& name); // throws SongIOError
    void Close();
    bool IsOpen() const { return Fd >= 0; }
    uint64_t Size() const { return ByteCount; }
    // Reads exactly `length` bytes at `offset`; throws SongIOError
    // ("Read beyond end of file" when the file is shorter).
    void ReadAt(uint64_t offset, void* data, size_t length) const;
    // Reads up to `length` bytes at `offset`; returns how many were there.
    size_t ReadUpTo(uint64_t offset, void* data, size_t length) const;

  private:
    int Fd = -1;
    uint64_t ByteCount = 0;
};

struct TAYBlock {
    uint16_t Address = 0; // never 0
    uint16_t Length = 0;  // cut to the address space and to the file
    uint32_t Offset = 0;  // absolute file position of the first byte
};

struct TAYSong {
    uint16_t Stack = 0;
    uint16_t Init = 0;
    uint16_t Interrupt = 0;
    uint8_t HiReg = 0, LoReg = 0;
    // Song and fade length in 1/50 s frames as the header gives them. The player
    // ignores both (a song plays until stopped); the headless renderer uses them.
    uint16_t SongLength = 0;
    uint16_t FadeLength = 0;
    std::vector<TAYBlock> Blocks;
};

// The 69-byte little-endian AYM header, as read.
struct TAYMHeader {
    uint8_t Raw[69]{};

    uint16_t Word(int offset) const {
        return static_cast<uint16_t>(Raw[offset] | (Raw[offset + 1] << 8));
    }
    uint16_t InitAddress() const { return Word(48); }
    uint16_t PlayAddress() const { return Word(50); }
    uint8_t FirstNumber() const { return Raw[52]; }
    uint8_t LastNumber() const { return Raw[53]; }
    uint8_t StartNumber() const { return Raw[54]; }
    uint8_t SongNumberSlot() const { return Raw[55]; }
    uint8_t BlockCount() const { return Raw[68]; }
};

// The kinds of song file: ".ay" (ZXAYEMUL), ".aym", the register streams
// ".ym", ".vtx" and ".psg", and the Pro Tracker modules ".pt3" and ".pt2" (no
// Z80 runs for these last five); Unknown for any other.
enum class SongKind { Unknown, AY, AYM, YM, VTX, PSG, PT3, PT2 };

// The open song file and its song list, held by a song session (session.h):
// the player keeps one for its whole run, the renderer opens one per song.
struct SongList {
    SongKind Kind = SongKind::AY; // of the file open, or opened last
    bool FileOpen = false;
    SongFileHandle SongFile;
    int32_t CurrentSong = 0;
    uint8_t FirstSong = 0;
    int32_t SongCount = 0;
    std::vector<TAYSong> Songs;
    std::vector<std::string> SongNames;
    std::string AuthorText, MiscText, SongNameText;
    TAYMHeader AYMHeader;
    // A register-stream file's or a module's one song (YM, VTX, PSG, PT3, PT2);
    // null for AY and AYM.
    std::shared_ptr<const RegisterStream> Stream;
};

// Opens an ".ay" file and builds the song list. False after a format error
// (reported to `formatError`, file closed); throws SongIOError on I/O errors.
bool OpenAYFile(SongList& list, const std::string& fileName, const FormatErrorSink& formatError);
// Builds the machine for AY song `index` (memory, stub, blocks, registers,
// beeper off). Throws SongIOError when a block cannot be read.
void LoadAYSong(SongList& list, SoundEngine& engine, int index);

// Opens an ".aym" file and loads its memory image into `engine`.
bool OpenAYMFile(SongList& list, const std::string& fileName, const FormatErrorSink& formatError,
                 SoundEngine& engine);
// Prepares the processor for AYM song `index`.
void LoadAYMSong(SongList& list, SoundEngine& engine, int index);

// Opens a ".ym", ".vtx" or ".psg" file: reads it whole into `list.Stream`,
// one song whose texts are the file's. False after a format error (reported
// to `formatError`, file closed); throws SongIOError on I/O errors.
// `detail` ListOnly: what a song list shows, no frames (see StreamDetail).
bool OpenStreamFile(SongList& list, const std::string& fileName, StreamFormat format,
                    const FormatErrorSink& formatError, StreamDetail detail = StreamDetail::Whole);
// The same for any file whose one song is a register stream: `make` turns the
// file's bytes into the stream, or refuses them with a message.
using StreamMaker =
    std::function<std::optional<RegisterStream>(std::span<const uint8_t>, std::string& refusal)>;
bool OpenStreamFile(SongList& list, const std::string& fileName, SongKind kind,
                    const StreamMaker& make, const FormatErrorSink& formatError);
