// The voices of a song each on its own (zirrafon-render --stems), for people who draw
// or edit them apart: the chip's channels A, B and C and the beeper, each at
// the level it has in the chip's mono mix.
//
// One Z80 run makes the mix and all the voices. The splitter stands between
// the engine's Z80 and its ports and notes every OUT with its T-state, and
// every frame end, of one buffer; then it plays exactly these port writes at
// exactly these instants into one more chip per voice, which is the engine's
// chip at the start of the song with the other voices' levels at 0. Each voice
// chip therefore renders its voice the way the engine renders the mix: same
// ticks, same frames, same buffer ends, only fewer levels added.
#pragma once

#include "render/render.h"

#include <memory>
#include <vector>

class VoiceSplitter final : public Z80Ports, FrameEndObserver {
  public:
    // `engine` has just started its playback; from now until the splitter
    // goes, its Z80's OUTs and INs pass through the splitter. Writes the mono
    // WAV headers to the job's voice outputs (throws SongIOError); a job
    // whose voice outputs are all null writes nothing and leaves the voices
    // to `FadedVoice` (the player's voices view).
    // A register stream's song (`streamer` not null) has no OUTs to note: each
    // voice chip plays the stream itself, from the same start.
    VoiceSplitter(SoundEngine& engine, const ChipSettings& settings, const RenderJob& job,
                  RegisterPlayer* streamer = nullptr);
    ~VoiceSplitter();
    VoiceSplitter(const VoiceSplitter&) = delete;
    VoiceSplitter& operator=(const VoiceSplitter&) = delete;

    // What MakeBuffer does for the engine, into `buffer`; then the same buffer
    // of every voice (the song stream's buffer maker).
    void MakeBuffer(int16_t* buffer);
    // Writes frames [first, first + frames) of the last buffers, faded as the
    // mix is with the song's `timing`, to the job's voice outputs (throws
    // SongIOError).
    // `from` is the first frame of the last buffers written.
    void Write(uint64_t first, uint64_t frames, const SongTiming& timing, uint64_t from = 0);
    // Frames [first, first + frames) of `voice`'s last buffer (a `Voice`),
    // faded in place as the mix is with the song's `timing`: stereo values
    // with left = right. `from` is the first frame of the last buffer asked
    // for; each frame is faded once.
    const int16_t* FadedVoice(int voice, uint64_t first, uint64_t frames, const SongTiming& timing,
                              uint64_t from);

    void Out(uint16_t port, uint8_t value) override;
    uint8_t In(uint16_t port) override { return Engine.In(port); }
    bool SteadyInput() const override { return Engine.SteadyInput(); }

  private:
    enum class Kind : uint8_t { Out, FrameEnd, BufferEnd };
    struct Event {
        int32_t TStates; // the Z80's, at the OUT or just after the frame end
        uint16_t Port;
        uint8_t Value;
        Kind What;
    };
    void Replay(SoundEngine& voice) const;
    void FrameEnded(int32_t tStates) override;

    SoundEngine& Engine;
    const RenderJob& Job;
    std::vector<Event> Events; // of the buffer being made
    std::unique_ptr<SoundEngine> VoiceFiles[VoiceCount];
    RegisterPlayer* Streamer;
    std::vector<RegisterPlayer> VoiceStreamers;
    std::vector<int16_t> Buffers[VoiceCount]; // stereo, left = right
    std::vector<uint8_t> Bytes;
};
