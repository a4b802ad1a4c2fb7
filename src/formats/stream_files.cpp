// The ".ym", ".vtx" and ".psg" readers: register streams, one set of register
// values per frame, read whole into a `RegisterStream`.
//
// - YM (big-endian, usually an LHA archive of one file): "YM2!" and "YM3!"
//   hold 14 registers a frame, interleaved (all frames' R0, then all R1 ...);
//   "YM3b" adds the loop frame in its last four bytes. "YM5!" and "YM6!" have a
//   header (frame count, attributes, digidrums, chip clock, frame rate, loop
//   frame, texts) and 16 bytes a frame, interleaved or not by attribute bit 0;
//   the spare bits of R1, R3, R6, R8-R10 and the bytes 14-15 time effects. An
//   envelope shape of 0xFF means "not written this frame".
// - VTX (little-endian): chip, layout, loop, clock, rate, year, unpacked size
//   and five texts, then a raw "-lh5-" stream of 14 interleaved registers.
// - PSG: "PSG" 0x1A, a 16-byte header, then register/value pairs; 0xFF ends a
//   frame, 0xFE n passes 4n frames without writes, 0xFD ends the song. 50 Hz.
//
// Where these readers are stricter or kinder than the usual ones:
// - A declared frame count must fit the data there is; texts must end inside
//   the file; a digidrum must fit the file. Anything else is refused as damaged.
// - A loop frame past the end loops to the start; a frame rate of 0 means
//   50 Hz; a chip clock of 0 means the format's usual clock (2 MHz, or the
//   Spectrum's for VTX). Clocks outside 352.8 kHz..8 MHz and rates above
//   1000 Hz are refused: below 352.8 kHz (eight times the output rate) an
//   output frame would hold less than one chip tick, which the renderer does
//   not take (and no chip ever ran that slowly).
// - "YM2!" files were made for a player with built-in drum samples that the
//   file does not hold: they play as plain YM3 streams.
// - A missing "End!" mark at the end of a YM5/YM6 file is not an error, and
//   a YM5/YM6 stream cut short plays the whole frames it holds, with a
//   warning that says so.
// - "MIX1" sample mixes and "YMT1"/"YMT2" tracker files are refused by name.
// - PSG writes to registers 14 and 15 (the chip's I/O ports) and to register
//   numbers above 15 are skipped.
#include "formats/song_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

constexpr size_t MaxFrames = MaxStreamBytes / StreamRegisters;
constexpr uint16_t ChipRegistersWritten = 0x3FFF;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Le32(const uint8_t* p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>((p[1] << 8) | p[0]); }

// A cursor over a file's bytes that never reads past the end.
class ByteReader {
  public:
    explicit ByteReader(std::span<const uint8_t> bytes) : Bytes(bytes) {}
    size_t Left() const { return Bytes.size() - Offset; }
    size_t Position() const { return Offset; }
    const uint8_t* Take(size_t n) {
        if (n > Left()) return nullptr;
        const uint8_t* p = Bytes.data() + Offset;
        Offset += n;
        return p;
    }
    // A zero-terminated text, without blanks and control characters at either end.
    std::optional<std::string> Text() {
        const uint8_t* begin = Bytes.data() + Offset;
        const uint8_t* end = Bytes.data() + Bytes.size();
        const uint8_t* zero = std::find(begin, end, 0);
        if (zero == end) return std::nullopt;
        Offset += static_cast<size_t>(zero - begin) + 1;
        while (begin < zero && *begin <= ' ') ++begin;
        while (zero > begin && zero[-1] <= ' ') --zero;
        return std::string(begin, zero);
    }

  private:
    std::span<const uint8_t> Bytes;
    size_t Offset = 0;
};

// The 14 (or 16) registers of `frames` frames from `data`, interleaved or
// frame after frame; R13 = 0xFF is an envelope shape not written. Interleaved
// registers lie `stride` frames apart: the frames the file declares, of which
// a stream cut short holds fewer whole ones.
void FillFrames(RegisterStream& s, const uint8_t* data, uint32_t frames, int perFrame,
                bool interleaved, uint32_t stride = 0) {
    if (stride == 0) stride = frames;
    s.FrameCount = frames;
    s.Registers.assign(size_t{frames} * StreamRegisters, 0);
    s.Written.assign(frames, 0);
    for (uint32_t f = 0; f < frames; ++f) {
        uint8_t* regs = &s.Registers[size_t{f} * StreamRegisters];
        for (int r = 0; r < perFrame; ++r)
            regs[r] = interleaved ? data[size_t(r) * stride + f] : data[size_t{f} * perFrame + r];
        s.Written[f] =
            static_cast<uint16_t>(ChipRegistersWritten & ~(regs[13] == 0xFF ? 1u << 13 : 0));
    }
}

bool Refuse(std::string& refusal, const char* text) {
    refusal = text;
    return false;
}

// The clock and rate rules shared by YM and VTX.
bool CheckTiming(RegisterStream& s, uint32_t clock, uint32_t rate, uint32_t usualClock,
                 std::string& refusal, const char* damaged) {
    s.ChipClock = clock ? clock : usualClock;
    s.FrameRate = rate ? rate : 50;
    if (s.ChipClock < 8 * 44100 || s.ChipClock > 8000000 || s.FrameRate > 1000)
        return Refuse(refusal, damaged);
    return true;
}

// An LHA archive's header: its method name "-lhN-" at offset 2 (every header level).
bool LooksLikeLhaArchive(std::span<const uint8_t> bytes) {
    return bytes.size() >= 22 && bytes[2] == '-' && bytes[3] == 'l' && bytes[4] == 'h' &&
           bytes[6] == '-';
}

// Digidrum bytes as chip levels 0..15. 4-bit drums are levels already;
// 8-bit drums are linear amplitudes (signed ones offset by 0x80), mapped to
// the level nearest in loudness on the chip's scale of 3 dB a step.
std::vector<uint8_t> DrumLevels(const uint8_t* data, size_t size, uint32_t attributes) {
    std::vector<uint8_t> levels(data, data + size);
    const bool fourBits = attributes & 4;
    const bool isSigned = attributes & 2;
    for (uint8_t& v : levels) {
        if (fourBits) {
            v &= 0x0F;
            continue;
        }
        const int amplitude = isSigned ? (v ^ 0x80) : v;
        // Level L is 2^((L - 15) / 2) of full scale: the first level whose
        // amplitude's geometric midpoint with the next lies above this one.
        int level = 0;
        for (int l = 1; l <= 15; ++l) {
            const double threshold = 255.0 * std::pow(2.0, (l - 15.5) / 2.0);
            if (amplitude >= threshold) level = l;
        }
        v = static_cast<uint8_t>(level);
    }
    return levels;
}

// How far a reader got with the bytes at hand.
enum class Outcome {
    Read,
    Refused,
    Short, // it needs bytes past those at hand (a file's start only)
};

// The YM5/YM6 file whose first bytes are `bytes`, of `total` bytes in all.
// Without `frames` only the header is read and the frames are counted.
Outcome ReadYM5or6(RegisterStream& s, std::span<const uint8_t> bytes, size_t total, bool frames,
                   std::string& refusal) {
    constexpr const char* damaged = "Damaged .YM file";
    const auto refused = [&] {
        refusal = damaged;
        return Outcome::Refused;
    };
    // Past the bytes at hand: more are needed, or there are none.
    const auto cut = [&] { return bytes.size() < total ? Outcome::Short : refused(); };
    ByteReader in(bytes);
    const uint8_t* h = in.Take(34);
    if (!h) return cut();
    if (std::memcmp(h + 4, "LeOnArD!", 8) != 0) return refused();
    const uint32_t frameCount = Be32(h + 12);
    s.Attributes = Be32(h + 16);
    s.Interleaved = s.Attributes & 1;
    const uint16_t drums = Be16(h + 20);
    if (!CheckTiming(s, Be32(h + 22), Be16(h + 26), AtariChipClock, refusal, damaged))
        return Outcome::Refused;
    s.LoopFrame = Be32(h + 28);
    if (!in.Take(Be16(h + 32))) return cut();
    for (uint16_t d = 0; d < drums; ++d) {
        const uint8_t* sizeField = in.Take(4);
        if (!sizeField) return cut();
        const uint32_t size = Be32(sizeField);
        const uint8_t* data = in.Take(size);
        if (!data) return cut();
        s.Digidrums.push_back(DrumLevels(data, size, s.Attributes));
    }
    std::optional<std::string> texts[3];
    for (auto& t : texts)
        if (!(t = in.Text())) return cut();
    s.Title = *texts[0];
    s.Author = *texts[1];
    s.Comment = *texts[2];
    if (frameCount == 0 || frameCount > MaxFrames) return refused();
    // A stream cut short plays the frames it holds whole: frame after frame,
    // those before the cut; interleaved, those whose last register (the
    // column cut first) is still there.
    const size_t left = total - in.Position();
    const size_t whole = size_t{frameCount} * StreamRegisters;
    const size_t lastColumn = size_t{frameCount} * (StreamRegisters - 1);
    const auto held = static_cast<uint32_t>(left >= whole       ? frameCount
                                            : !s.Interleaved    ? left / StreamRegisters
                                            : left > lastColumn ? left - lastColumn
                                                                : 0);
    if (held == 0) return refused();
    if (held < frameCount)
        s.Warning = "Stream cut short: " + std::to_string(held) + " of " +
                    std::to_string(frameCount) + " frames";
    if (!frames) {
        s.FrameCount = held;
        return Outcome::Read;
    }
    FillFrames(s, in.Take(std::min(left, whole)), held, StreamRegisters, s.Interleaved, frameCount);
    return Outcome::Read;
}

// The YM file whose first bytes (after unpacking) are `bytes`, of `total`
// bytes in all; `frames` as above.
Outcome ReadYMBytes(RegisterStream& s, std::span<const uint8_t> bytes, size_t total, bool frames,
                    std::string& refusal) {
    if (bytes.size() < 4 && bytes.size() < total) return Outcome::Short;
    // Sample mixes of the same family hold no chip registers at all.
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "MIX1", 4) == 0) {
        refusal = "Unsupported .YM format MIX1";
        return Outcome::Refused;
    }
    if (bytes.size() < 4 || bytes[0] != 'Y' || bytes[1] != 'M') {
        refusal = "Not .YM file";
        return Outcome::Refused;
    }
    s.Version.assign(bytes.begin(), bytes.begin() + 4);
    if (s.Version == "YM2!" || s.Version == "YM3!" || s.Version == "YM3b") {
        const bool loop = s.Version == "YM3b";
        // The loop frame is in the file's last bytes.
        if (bytes.size() < total && (frames || loop)) return Outcome::Short;
        const size_t data = total - 4 - (loop ? 4 : 0);
        if (total < 4 + (loop ? 4u : 0u) || data / 14 == 0 || data / 14 > MaxFrames) {
            refusal = "Damaged .YM file";
            return Outcome::Refused;
        }
        if (frames)
            FillFrames(s, bytes.data() + 4, static_cast<uint32_t>(data / 14), 14, true);
        else
            s.FrameCount = static_cast<uint32_t>(data / 14);
        if (loop) s.LoopFrame = Be32(bytes.data() + total - 4);
    } else if (s.Version == "YM5!" || s.Version == "YM6!") {
        const Outcome o = ReadYM5or6(s, bytes, total, frames, refusal);
        if (o != Outcome::Read) return o;
    } else {
        refusal = "Unsupported .YM format " + std::string(s.Version);
        return Outcome::Refused;
    }
    if (s.LoopFrame >= s.FrameCount) s.LoopFrame = 0;
    return Outcome::Read;
}

} // namespace

std::optional<RegisterStream> ReadYMFile(std::span<const uint8_t> bytes, std::string& refusal,
                                         StreamDetail detail) {
    std::optional<RegisterStream> result(std::in_place);
    RegisterStream& s = *result;
    s.Format = StreamFormat::YM;
    const bool frames = detail == StreamDetail::Whole;
    std::vector<uint8_t> unpacked;
    if (LooksLikeLhaArchive(bytes)) {
        s.Packed = true;
        // A list needs the header, which is near the start: unpack more only
        // while it needs more. A file refused on the way is read whole for
        // the reason it is refused.
        for (size_t wanted = 4096; !frames; wanted *= 16) {
            size_t length = 0;
            std::string ignored;
            const std::optional<std::vector<uint8_t>> start =
                UnpackLhaArchiveStart(bytes, MaxStreamBytes, wanted, length, ignored);
            if (!start) break;
            RegisterStream listed = s;
            const Outcome o = ReadYMBytes(listed, *start, length, false, ignored);
            if (o == Outcome::Read) return listed;
            if (o == Outcome::Refused || start->size() >= length) break;
        }
        std::optional<std::vector<uint8_t>> out = UnpackLhaArchive(bytes, MaxStreamBytes, refusal);
        if (!out) return std::nullopt;
        unpacked = std::move(*out);
        bytes = unpacked;
    }
    if (ReadYMBytes(s, bytes, bytes.size(), frames, refusal) != Outcome::Read) return std::nullopt;
    return result;
}

std::optional<RegisterStream> ReadVTXFile(std::span<const uint8_t> bytes, std::string& refusal) {
    constexpr const char* damaged = "Damaged .VTX file";
    std::optional<RegisterStream> result(std::in_place);
    RegisterStream& s = *result;
    s.Format = StreamFormat::VTX;
    s.Version = "VTX";
    s.Packed = true;
    ByteReader in(bytes);
    const uint8_t* h = in.Take(16);
    const auto lower = [](uint8_t c) { return static_cast<char>(c | 0x20); };
    if (!h || !((lower(h[0]) == 'a' && lower(h[1]) == 'y') ||
                (lower(h[0]) == 'y' && lower(h[1]) == 'm'))) {
        refusal = "Not .VTX file";
        return std::nullopt;
    }
    s.DeclaredChip = std::string(lower(h[0]) == 'a' ? "AY" : "YM", 2);
    static constexpr std::string_view layouts[] = {"MONO", "ABC", "ACB", "BAC",
                                                   "BCA",  "CAB", "CBA"};
    s.DeclaredLayout = layouts[h[2] < 7 ? h[2] : 1];
    s.LoopFrame = Le16(h + 3);
    if (!CheckTiming(s, Le32(h + 5), h[9], SpectrumChipClock, refusal, damaged))
        return std::nullopt;
    s.Year = Le16(h + 10);
    const uint32_t size = Le32(h + 12);
    std::optional<std::string> texts[5];
    for (auto& t : texts)
        if (!(t = in.Text())) {
            refusal = damaged;
            return std::nullopt;
        }
    s.Title = *texts[0];
    s.Author = *texts[1];
    s.Program = *texts[2];
    s.Tracker = *texts[3];
    s.Comment = *texts[4];
    if (size / 14 == 0 || size > MaxStreamBytes) {
        refusal = damaged;
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> data =
        UnpackLh5(std::span(bytes).subspan(in.Position()), size, refusal);
    if (!data) {
        refusal = damaged;
        return std::nullopt;
    }
    FillFrames(s, data->data(), size / 14, 14, true);
    if (s.LoopFrame >= s.FrameCount) s.LoopFrame = 0;
    return result;
}

std::optional<RegisterStream> ReadPSGFile(std::span<const uint8_t> bytes, std::string& refusal) {
    std::optional<RegisterStream> result(std::in_place);
    RegisterStream& s = *result;
    s.Format = StreamFormat::PSG;
    s.Version = "PSG";
    s.ChipClock = SpectrumChipClock;
    s.FrameRate = 50;
    if (bytes.size() < 16 || std::memcmp(bytes.data(), "PSG\x1A", 4) != 0) {
        refusal = "Not .PSG file";
        return std::nullopt;
    }
    uint8_t regs[StreamRegisters]{};
    uint16_t written = 0;
    bool open = false; // writes since the last frame end
    const auto endFrames = [&](size_t n) {
        for (size_t i = 0; i < n && s.Written.size() < MaxFrames; ++i) {
            s.Registers.insert(s.Registers.end(), regs, regs + StreamRegisters);
            s.Written.push_back(written);
            written = 0;
        }
        open = false;
    };
    for (size_t p = 16; p < bytes.size() && s.Written.size() < MaxFrames;) {
        const uint8_t b = bytes[p++];
        if (b == 0xFF) {
            endFrames(1);
        } else if (b == 0xFE) {
            if (p >= bytes.size()) break;
            endFrames(size_t{4} * bytes[p++]);
        } else if (b == 0xFD) {
            break;
        } else {
            if (p >= bytes.size()) break; // a register without its value
            const uint8_t value = bytes[p++];
            if (b < 14) {
                regs[b] = value;
                written |= static_cast<uint16_t>(1u << b);
                open = true;
            }
        }
    }
    if (open) endFrames(1);
    s.FrameCount = static_cast<uint32_t>(s.Written.size());
    if (s.FrameCount == 0) {
        refusal = "Damaged .PSG file";
        return std::nullopt;
    }
    return result;
}

std::optional<RegisterStream> ReadStreamFile(StreamFormat format, std::span<const uint8_t> bytes,
                                             std::string& refusal, StreamDetail detail) {
    switch (format) {
    case StreamFormat::YM: return ReadYMFile(bytes, refusal, detail);
    case StreamFormat::VTX: return ReadVTXFile(bytes, refusal);
    case StreamFormat::PSG: return ReadPSGFile(bytes, refusal);
    case StreamFormat::PT3:
    case StreamFormat::PT2: break; // modules are played, not read (songs/tracker_engine.h)
    }
    return std::nullopt;
}

bool OpenStreamFile(SongList& list, const std::string& fileName, StreamFormat format,
                    const FormatErrorSink& formatError, StreamDetail detail) {
    static constexpr SongKind kinds[] = {SongKind::YM, SongKind::VTX, SongKind::PSG};
    return OpenStreamFile(
        list, fileName, kinds[static_cast<int>(format)],
        [format, detail](std::span<const uint8_t> bytes, std::string& refusal) {
            return ReadStreamFile(format, bytes, refusal, detail);
        },
        formatError);
}

bool OpenStreamFile(SongList& list, const std::string& fileName, SongKind kind,
                    const StreamMaker& make, const FormatErrorSink& formatError) {
    if (list.FileOpen) {
        list.SongFile.Close();
        list.FileOpen = false;
    }
    list.Stream.reset();
    list.SongFile.Open(fileName);
    std::string refusal = "File too large";
    std::optional<RegisterStream> stream;
    try {
        const uint64_t size = list.SongFile.Size();
        if (size <= MaxStreamBytes) {
            std::vector<uint8_t> bytes(size);
            list.SongFile.ReadAt(0, bytes.data(), bytes.size());
            stream = make(bytes, refusal);
        }
    } catch (...) {
        list.SongFile.Close();
        throw;
    }
    if (!stream) {
        list.SongFile.Close();
        if (formatError) formatError(refusal);
        return false;
    }
    list.Kind = kind;
    list.SongCount = 1;
    list.FirstSong = 0;
    list.CurrentSong = 0;
    list.SongNameText = stream->Title;
    list.AuthorText = stream->Author;
    list.MiscText = stream->Comment;
    list.Songs.assign(1, TAYSong{});
    list.SongNames.assign(1, stream->Title);
    list.Stream = std::make_shared<const RegisterStream>(std::move(*stream));
    list.FileOpen = true;
    return true;
}
