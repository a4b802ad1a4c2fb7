// The voices of a song each on its own (see stems.h).
#include "render/stems.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

const char* const VoiceNames[VoiceCount] = {"A", "B", "C", "beeper"};

VoiceSplitter::VoiceSplitter(SoundEngine& engine, const ChipSettings& settings,
                             const RenderJob& job, RegisterPlayer* streamer)
    : Engine(engine), Job(job), Streamer(streamer) {
    if (streamer) VoiceStreamers.assign(VoiceCount, *streamer);
    constexpr int Beeper = 3;
    for (int v = 0; v < VoiceCount; ++v) {
        Buffers[v].assign(BufferValues, 0);
        VoiceFiles[v] = std::make_unique<SoundEngine>();
        SoundEngine& voice = *VoiceFiles[v];
        ChipState& c = voice.Chip;
        c = engine.Chip; // the state the song starts from, whatever it holds
        c.Cursor.OutputBuffer = Buffers[v].data();
        // Even modes are the AY-3-8910's, odd ones the YM2149F's; 0 and 1 mono.
        ApplyChipSettings(
            c, {settings.Mode & 1, v == Beeper ? settings.BeeperSetting : 0, settings.Volume});
        for (int ch = 0; ch < 3; ++ch)
            if (ch != v) std::memset(c.Mix.VolumeTable[ch], 0, sizeof c.Mix.VolumeTable[ch]);
        if (++c.Mix.TableVersion == 0) c.Mix.TableVersion = 1; // the tables changed once more
        if (v != Beeper) c.Beeper.Level = c.Beeper.NewLevel = 0;
        voice.Z80.TStates = engine.Z80.TStates;
    }
    uint8_t header[44];
    MakeWavHeader(header, job.Frames - std::min(job.StartFrame, job.Frames), 1);
    for (std::FILE* out : job.Voices)
        if (out && std::fwrite(header, 1, sizeof header, out) != sizeof header)
            throw SongIOError(std::strerror(errno));
    Bytes.resize(BufferValues);
    engine.Z80.Ports = this;
}

VoiceSplitter::~VoiceSplitter() { Engine.Z80.Ports = &Engine; }

void VoiceSplitter::FrameEnded(int32_t tStates) {
    Events.push_back({tStates, 0, 0, Kind::FrameEnd});
}

void VoiceSplitter::Out(uint16_t port, uint8_t value) {
    Events.push_back({Engine.Z80.TStates, port, value, Kind::Out});
    Engine.Out(port, value);
}

void VoiceSplitter::MakeBuffer(int16_t* buffer) {
    Engine.Chip.Cursor.OutputBuffer = buffer;
    // The engine's own frame loop, with the frame ends noted among the OUTs.
    // Which voices the engine's chip renders makes no difference to it.
    if (Streamer) {
        Streamer->FillBuffer(Engine);
        for (int v = 0; v < VoiceCount; ++v) {
            VoiceStreamers[v].FillBuffer(*VoiceFiles[v]);
            if (VoiceFiles[v]->Chip.Cursor.OutputCount != Engine.Chip.Cursor.OutputCount)
                throw std::logic_error("a voice went out of step with the mix");
        }
        return;
    }
    Events.clear();
    ::MakeBuffer(Engine, *this);
    Events.push_back({Engine.Z80.TStates, 0, 0, Kind::BufferEnd});

    for (const std::unique_ptr<SoundEngine>& voice : VoiceFiles) {
        Replay(*voice);
        // A voice chip renders the engine's ticks, so it fills its buffer with
        // the engine's writes; anything else would be a fault here.
        if (voice->Chip.Cursor.OutputCount != Engine.Chip.Cursor.OutputCount)
            throw std::logic_error("a voice went out of step with the mix");
    }
}

void VoiceSplitter::Replay(SoundEngine& voice) const {
    ChipState& c = voice.Chip;
    Z80State& z = voice.Z80;
    // A voice chip renders at the engine's OUTs that change what it hears and
    // at the frame ends. When the engine's buffer filled at a change that this
    // voice does not hear (a beeper change, for a channel), the voice fills
    // its buffer at the end of the engine's buffer instead, with the same
    // samples: a span renders alike however it is cut.
    const bool open = BeginBuffer(voice);
    for (const Event& event : Events) {
        z.TStates = event.TStates;
        switch (event.What) {
        case Kind::Out: voice.Out(event.Port, event.Value); break;
        case Kind::FrameEnd:
            c.Cursor.LastSynthTState -= FrameTStates; // as the frame loop does
            if (open && c.Cursor.OutputCount < BufferValues &&
                z.TStates != c.Cursor.LastSynthTState)
                Synthesizer(voice);
            break;
        case Kind::BufferEnd:
            if (open && c.Cursor.OutputCount < BufferValues) Synthesizer(voice);
            break;
        }
    }
    SettleGenerators(c);
}

const int16_t* VoiceSplitter::FadedVoice(int voice, uint64_t first, uint64_t frames,
                                         const SongTiming& timing, uint64_t from) {
    int16_t* buffer = Buffers[voice].data() + 2 * from;
    ApplyFade(buffer, frames, first, timing);
    return buffer;
}

void VoiceSplitter::Write(uint64_t first, uint64_t frames, const SongTiming& timing,
                          uint64_t from) {
    for (int v = 0; v < VoiceCount; ++v) {
        std::FILE* out = Job.Voices[v];
        if (!out) continue;
        // The mix's fade, in the same arithmetic; then the left side of the
        // mono chip's output, as 16-bit little-endian.
        const int16_t* buffer = FadedVoice(v, first, frames, timing, from);
        for (uint64_t f = 0; f < frames; ++f) {
            const auto value = static_cast<uint16_t>(buffer[2 * f]);
            Bytes[2 * f] = static_cast<uint8_t>(value);
            Bytes[2 * f + 1] = static_cast<uint8_t>(value >> 8);
        }
        if (std::fwrite(Bytes.data(), 1, frames * 2, out) != frames * 2)
            throw SongIOError(std::strerror(errno));
    }
}
