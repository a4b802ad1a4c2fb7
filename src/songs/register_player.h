// The register player: plays a register stream (formats/register_stream.h) on
// the chip engine without a Z80, frame by frame at the file's clock and frame
// rate, and records what a song leaves in the chip for register dumps.
//
//     RegisterPlayer player;
//     player.Start(engine, stream, buffer1); // silent chip at the file's clock
//     player.FillBuffer(engine);             // BufferValues samples, like MakeBuffer
#pragma once

#include "chip/chip.h"
#include "formats/register_stream.h"

#include <cstdint>
#include <string>
#include <vector>

// Plays a register stream on an engine: the chip is driven straight from the
// stream, frame by frame, at the file's clock and frame rate; the YM5/YM6
// effects write the chip at their timer's instants inside the frame. After the
// last frame the song goes on from its loop frame.
class RegisterPlayer {
  public:
    // Resets the chip for a playback start of `stream` (which must outlive
    // the playback), with output to `firstBuffer`.
    void Start(SoundEngine& e, const RegisterStream& stream, int16_t* firstBuffer);
    // Fills `Chip.OutputBuffer` with exactly BufferValues values, going on
    // where the previous buffer ended; tells `observer` of every frame end.
    void FillBuffer(SoundEngine& e, FrameEndObserver* observer = nullptr);
    // Frames begun since the start (loops counted).
    uint64_t FramesBegun() const { return BegunFrames; }
    // Plays `stream` (which must outlive the playback) from where this player
    // stands in its own: the same stream, or a copy of it.
    void Bind(const RegisterStream& stream) { Stream = &stream; }
    // Takes `from`'s place in the stream, its timers and the frame it plays,
    // and keeps its own stream.
    void LoadState(const RegisterPlayer& from) {
        const RegisterStream* const own = Stream;
        *this = from;
        Stream = own;
    }

  private:
    struct Write {
        int64_t At; // 1/64 T-states from the frame's start
        uint8_t Register, Value;
    };
    struct Timer {
        int Kind = -1; // -1 none, else an effect kind (register_player.cpp)
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

    const RegisterStream* Stream = nullptr;
    uint32_t CurrentFrame = 0; // the stream's frame to begin next
    uint64_t BegunFrames = 0;  // frames begun since the start
    int32_t FrameLength = 0;   // T-states of the frame being played
    bool InFrame = false;      // a frame has begun and not ended
    std::vector<Write> Writes; // of the frame being played, by instant
    size_t NextWrite = 0;
    Timer Timers[2];
    uint8_t Mixer = 0;   // the frame's mixer, before a drum masks its voice
    uint8_t Volume[3]{}; // the frame's volume registers
};

// The registers a song leaves in the chip at every frame end, for register
// dumps: an observer of the frame loop (or of a RegisterPlayer) that notes the
// chip's 14 registers and whether the envelope shape was written since the
// last frame end.
class RegisterRecorder final : public FrameEndObserver {
  public:
    explicit RegisterRecorder(const SoundEngine& e);
    void FrameEnded(int32_t tStates) override;
    // 16 bytes a frame (registers 14 and 15 zero); R13 is 0xFF in a frame
    // that did not write it.
    const std::vector<uint8_t>& Frames() const { return DumpedFrames; }
    uint32_t FrameCount() const {
        return static_cast<uint32_t>(DumpedFrames.size() / StreamRegisters);
    }

  private:
    const SoundEngine& Engine;
    uint32_t Restarts = 0;
    std::vector<uint8_t> DumpedFrames;
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
