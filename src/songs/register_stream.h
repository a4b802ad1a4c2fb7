// Register-stream songs: ".ym", ".vtx" and ".psg" files hold no player code,
// only the values the chip's registers take frame after frame. This header
// reads them into one in-memory form, plays that form on the chip engine
// without a Z80, and writes register dumps back out.
//
//     std::string refusal;
//     std::optional<RegisterStream> song = ReadRegisterStream(bytes, SongKind-like format,
//     refusal); StreamPlayer player; player.Start(engine, *song, buffer1);   // silent chip at the
//     file's clock player.FillBuffer(engine);              // BufferValues samples, like MakeBuffer
//
// Every file is treated as hostile: every offset and count is checked against
// the bytes there are, the unpacked size is capped, and a refused file gives a
// message instead of a song.
#pragma once

#include "chip/chip.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class StreamFormat : uint8_t { YM, VTX, PSG };

// The registers a frame carries: the chip's 14, and for YM5/YM6 two more
// whose bytes time the effects (the Atari's timer counts).
inline constexpr int StreamRegisters = 16;
// The biggest unpacked stream a reader accepts (about 5.8 hours of YM6 at 50 Hz).
inline constexpr size_t MaxStreamBytes = 16u << 20;
// The T-state clock of the engine's timeline (69888 T-states per 50 Hz frame).
inline constexpr uint32_t TStatesPerSecond = 3494400;
inline constexpr uint32_t SpectrumChipClock = 1773400;
inline constexpr uint32_t AtariChipClock = 2000000;

struct RegisterStream {
    StreamFormat Format = StreamFormat::YM;
    std::string Version; // "YM2!", "YM3!", "YM3b", "YM5!", "YM6!", "VTX", "PSG"
    bool Packed = false; // the file was LHA-packed (YM) or lh5 (VTX, always)
    bool Interleaved = true;
    uint32_t FrameCount = 0;
    uint32_t LoopFrame = 0;              // below FrameCount
    uint32_t ChipClock = AtariChipClock; // Hz
    uint32_t FrameRate = 50;             // frames per second
    std::string Title, Author, Comment;
    // What was wrong with the file but could be played past (a stream cut
    // short); empty for a sound file.
    std::string Warning;
    // VTX only: what the file declares (shown, never applied: the user's chip
    // mode decides the tables and the layout).
    std::string DeclaredChip, DeclaredLayout, Program, Tracker;
    uint16_t Year = 0;
    // YM5/YM6: the file's attribute bits and digidrums as chip levels 0..15.
    uint32_t Attributes = 0;
    std::vector<std::vector<uint8_t>> Digidrums;
    // StreamRegisters bytes per frame, frame after frame; bit r of Written[f]
    // says whether frame f writes register r (an envelope shape written
    // restarts the envelope even with the value it had).
    std::vector<uint8_t> Registers;
    std::vector<uint16_t> Written;

    const uint8_t* Frame(uint32_t f) const { return &Registers[size_t{f} * StreamRegisters]; }
    // The YM5/YM6 effects (digidrums, SID voice, sync-buzzer) are in the stream.
    bool HasEffects() const { return Version == "YM5!" || Version == "YM6!"; }
    double Seconds() const { return FrameRate ? double(FrameCount) / FrameRate : 0; }
};

// The readers, on a whole file's bytes. A refused file returns nothing and
// sets `refusal` to the message shown for it.
std::optional<RegisterStream> ReadYMFile(std::span<const uint8_t> bytes, std::string& refusal);
std::optional<RegisterStream> ReadVTXFile(std::span<const uint8_t> bytes, std::string& refusal);
std::optional<RegisterStream> ReadPSGFile(std::span<const uint8_t> bytes, std::string& refusal);
std::optional<RegisterStream> ReadStreamFile(StreamFormat format, std::span<const uint8_t> bytes,
                                             std::string& refusal);

// Unpacking (liblhasa). The only file of an LHA archive, at most `limit`
// bytes, its CRC checked; nothing when `bytes` is no archive or is damaged.
std::optional<std::vector<uint8_t>> UnpackLhaArchive(std::span<const uint8_t> bytes, size_t limit,
                                                     std::string& refusal);
// A raw "-lh5-" stream that unpacks to exactly `length` bytes.
std::optional<std::vector<uint8_t>> UnpackLh5(std::span<const uint8_t> bytes, size_t length,
                                              std::string& refusal);

// Plays a register stream on an engine: the chip is driven straight from the
// stream, frame by frame, at the file's clock and frame rate; the YM5/YM6
// effects write the chip at their timer's instants inside the frame. After the
// last frame the song goes on from its loop frame.
class StreamPlayer {
  public:
    // Resets the chip for a playback start of `stream` (which must outlive
    // the playback), with output to `firstBuffer`.
    void Start(SoundEngine& e, const RegisterStream& stream, int16_t* firstBuffer);
    // Fills `Chip.OutputBuffer` with exactly BufferValues values, going on
    // where the previous buffer ended; tells `observer` of every frame end.
    void FillBuffer(SoundEngine& e, FrameEndObserver* observer = nullptr);
    // Frames begun since the start (loops counted).
    uint64_t FramesBegun() const { return framesBegun_; }
    // Plays `stream` (which must outlive the playback) from where this player
    // stands in its own: the same stream, or a copy of it.
    void Bind(const RegisterStream& stream) { stream_ = &stream; }
    // Takes `from`'s place in the stream, its timers and the frame it plays,
    // and keeps its own stream.
    void LoadState(const StreamPlayer& from) {
        const RegisterStream* const own = stream_;
        *this = from;
        stream_ = own;
    }

  private:
    struct Write {
        int64_t At; // 1/64 T-states from the frame's start
        uint8_t Register, Value;
    };
    struct Timer {
        int Kind = -1; // -1 none, else an effect kind (stream_player.cpp)
        int Voice = 0;
        int64_t Period = 0; // 1/64 T-states
        int64_t Next = 0;   // next tick, 1/64 T-states from the frame's start
        bool On = true;     // SID: the voice is at its level
        size_t Drum = 0;    // a digidrum's number in the stream
        size_t DrumPosition = 0;
    };
    void BeginFrame(SoundEngine& e);
    void PlanEffects(const uint8_t* regs);
    void PlanTimer(Timer& t, int kind, int voice, int64_t period, const uint8_t* regs);

    const RegisterStream* stream_ = nullptr;
    uint32_t frame_ = 0;        // the stream's frame to begin next
    uint64_t framesBegun_ = 0;  // frames begun since the start
    int32_t frameLength_ = 0;   // T-states of the frame being played
    bool inFrame_ = false;      // a frame has begun and not ended
    std::vector<Write> writes_; // of the frame being played, by instant
    size_t nextWrite_ = 0;
    Timer timers_[2];
    uint8_t mixer_ = 0;   // the frame's mixer, before a drum masks its voice
    uint8_t volume_[3]{}; // the frame's volume registers
};

// The registers a song leaves in the chip at every frame end, for register
// dumps: an observer of the frame loop (or of a StreamPlayer) that notes the
// chip's 14 registers and whether the envelope shape was written since the
// last frame end.
class RegisterRecorder final : public FrameEndObserver {
  public:
    explicit RegisterRecorder(const SoundEngine& e);
    void FrameEnded(int32_t tStates) override;
    // 16 bytes a frame (registers 14 and 15 zero); R13 is 0xFF in a frame
    // that did not write it.
    const std::vector<uint8_t>& Frames() const { return frames_; }
    uint32_t FrameCount() const { return static_cast<uint32_t>(frames_.size() / StreamRegisters); }

  private:
    const SoundEngine& engine_;
    uint32_t restarts_ = 0;
    std::vector<uint8_t> frames_;
};

// Register dumps of recorded frames. YM: an uncompressed, interleaved YM6
// file with the texts; PSG: writes of the registers that changed, frame by
// frame.
struct DumpTexts {
    std::string Title, Author, Comment;
};
std::vector<uint8_t> WriteYM6(const std::vector<uint8_t>& frames, uint32_t chipClock,
                              uint32_t frameRate, uint32_t loopFrame, const DumpTexts& texts);
std::vector<uint8_t> WritePSG(const std::vector<uint8_t>& frames);
