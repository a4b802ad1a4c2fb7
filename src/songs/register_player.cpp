// Playing a register stream on the chip engine. No Z80 runs: the player sets
// the engine's T-state clock to each write's instant and uses the chip's own
// render-up-to-the-instant-then-write path, so a stream's writes land on the
// chip exactly as a Z80 song's OUTs do, and buffers end where they would.
//
// The timeline is the engine's: 3,494,400 T-states a second. A frame of a
// stream at R Hz lasts from T(n) = n * 3494400 / R to T(n + 1) (rounded down,
// so no time is lost over many frames); the chip ticks at the file's clock / 8
// in the same 32.32 and 16.16 fixed point as the Spectrum's and the CPC's.
//
// The YM5/YM6 effects were made on the Atari ST by a timer of its MFP (2,457,600
// Hz, a predivisor of 4, 10, 16, 50, 64, 100 or 200 and a count) whose
// interrupt wrote the chip between two frames. They are played here as the
// chip writes their timer made, at the timer's instants inside the frame:
// - SID voice: each tick switches a voice between its level and 0.
// - Digidrum: each tick sets a voice to the next level of a sample, its tone
//   and noise switched off meanwhile (as the ST's drum routines did), until
//   the sample ends; a drum goes on through the following frames.
// - Sync-buzzer (YM6): each tick writes the envelope shape again, which
//   restarts the envelope.
// The timer keeps its phase from one frame to the next while its effect and
// voice stay the same.
//
// Where this differs from the Atari: YM6's sinus-SID (a voice's level stepping
// through a sine) is played as a SID voice.
#include "songs/register_player.h"

#include <algorithm>

namespace {

// The MFP's predivisors (the spare bits' index 0 stops the timer).
constexpr int64_t TimerPredivisor[8] = {0, 4, 10, 16, 50, 64, 100, 200};
// One MFP cycle in 1/64 T-states: 3494400 / 2457600 = 91 / 64.
constexpr int64_t TStates64PerTimerCycle = 91;

enum EffectKind { SidVoice = 0, Digidrum = 1, SinusSid = 2, SyncBuzzer = 3 };

constexpr uint32_t Round(uint64_t numerator, uint64_t denominator) {
    return static_cast<uint32_t>((numerator + denominator / 2) / denominator);
}

} // namespace

void RegisterPlayer::Start(SoundEngine& e, const RegisterStream& stream, int16_t* firstBuffer) {
    StartPlayback(e, firstBuffer);
    ChipState& c = e.Chip;
    // Chip ticks (clock / 8) per T-state in 32.32 and per output frame in
    // 16.16, derived as the Spectrum's and the CPC's constants are.
    const uint64_t tickRate = stream.ChipClock; // ticks/s * 8
    c.Machine.TicksPerTState = (tickRate * (uint64_t{1} << 32) + 4 * uint64_t{TStatesPerSecond}) /
                               (8 * uint64_t{TStatesPerSecond});
    c.Machine.TicksPerSample = Round(tickRate * 65536, 8 * uint64_t{44100});
    c.Cursor.SampleBoundary = c.Machine.TicksPerSample;
    Stream = &stream;
    CurrentFrame = 0;
    BegunFrames = 0;
    InFrame = false;
    Writes.clear();
    NextWrite = 0;
    for (Timer& t : Timers) t = Timer{};
    Mixer = 0;
    std::fill(std::begin(Volume), std::end(Volume), 0);
}

void RegisterPlayer::PlanTimer(Timer& t, int kind, int voice, int64_t period, const uint8_t* regs) {
    if (kind == SinusSid) kind = SidVoice;
    if (kind == Digidrum) {
        // A drum starts afresh in every frame that names it; the register
        // that would hold the voice's level holds the drum's number.
        const size_t number = regs[8 + voice] & 0x1F;
        if (period == 0 || number >= Stream->Digidrums.size() || Stream->Digidrums[number].empty())
            return;
        t = Timer{Digidrum, voice, period, 0, true, number, 0};
        return;
    }
    if (period == 0) {
        t = Timer{};
        return;
    }
    if (t.Kind != kind || t.Voice != voice) t = Timer{kind, voice, period, period, true, 0, 0};
    t.Period = period;
    t.Next = std::min(t.Next, period);
}

void RegisterPlayer::PlanEffects(const uint8_t* regs) {
    const bool ym6 = Stream->Version == "YM6!";
    // Effect 1: R1 bits 4-5 the voice (0 none), R6 bits 5-7 the predivisor, R14
    // the count; effect 2 likewise from R3, R8 and R15. YM5 has a SID voice as
    // effect 1 and a digidrum as effect 2; YM6 names each one's kind in bits
    // 6-7 of R1 and R3.
    const uint8_t select[2] = {regs[1], regs[3]};
    const uint8_t divider[2] = {regs[6], regs[8]};
    for (int i = 0; i < 2; ++i) {
        Timer& t = Timers[i];
        const int voice = (select[i] >> 4) & 3;
        const int kind = ym6 ? select[i] >> 6 : (i == 0 ? SidVoice : Digidrum);
        const int64_t period =
            TimerPredivisor[divider[i] >> 5] * regs[14 + i] * TStates64PerTimerCycle;
        if (voice == 0) {
            // No effect starts; a drum already playing plays to its end.
            if (t.Kind != Digidrum) t = Timer{};
            continue;
        }
        PlanTimer(t, kind, voice - 1, period, regs);
    }
}

void RegisterPlayer::BeginFrame(SoundEngine& e) {
    const RegisterStream& s = *Stream;
    if (CurrentFrame >= s.FrameCount) CurrentFrame = s.LoopFrame;
    const uint8_t* regs = s.Frame(CurrentFrame);
    const uint16_t written = s.Written[CurrentFrame];
    const uint64_t n = BegunFrames;
    FrameLength = static_cast<int32_t>((n + 1) * TStatesPerSecond / s.FrameRate -
                                       n * TStatesPerSecond / s.FrameRate);
    ++CurrentFrame;
    ++BegunFrames;
    Writes.clear();
    NextWrite = 0;
    if (written & (1u << 7)) Mixer = regs[7];
    for (int v = 0; v < 3; ++v)
        if (written & (1u << (8 + v))) Volume[v] = regs[8 + v] & 0x1F;
    if (s.HasEffects()) PlanEffects(regs);

    // What an effect holds of a voice: a drum its level and mixer bits, a
    // SID voice switched off its level.
    uint8_t drumMask = 0;
    bool held[3]{};
    uint8_t level[3] = {Volume[0], Volume[1], Volume[2]};
    for (const Timer& t : Timers) {
        if (t.Kind == Digidrum) {
            drumMask |= static_cast<uint8_t>(9u << t.Voice);
            held[t.Voice] = true;
        } else if (t.Kind == SidVoice && !t.On) {
            level[t.Voice] = 0;
        }
    }
    for (int r = 0; r < 14; ++r) {
        if (!(written & (1u << r))) continue;
        uint8_t value = regs[r];
        if (r == 7) value |= drumMask;
        if (r >= 8 && r <= 10) {
            if (held[r - 8]) continue;
            value = level[r - 8];
        }
        Writes.push_back({0, static_cast<uint8_t>(r), value});
    }
    // A drum that starts this frame sets its voice up at the frame's start.
    for (const Timer& t : Timers)
        if (t.Kind == Digidrum && t.Next == 0 && t.DrumPosition == 0 && !(written & (1u << 7)))
            Writes.push_back({0, 7, static_cast<uint8_t>(Mixer | drumMask)});

    // The timers' writes inside this frame.
    const int64_t end = int64_t{FrameLength} * 64;
    const size_t frameWrites = Writes.size();
    const uint8_t shape = written & (1u << 13) ? regs[13] : 0xFF;
    for (Timer& t : Timers) {
        while (t.Kind >= 0 && t.Next < end) {
            const uint8_t voiceRegister = static_cast<uint8_t>(8 + t.Voice);
            if (t.Kind == SidVoice) {
                t.On = !t.On;
                Writes.push_back({t.Next, voiceRegister, t.On ? Volume[t.Voice] : uint8_t{0}});
            } else if (t.Kind == SyncBuzzer) {
                const uint8_t current = shape != 0xFF ? shape : e.Chip.Registers.Values[13];
                Writes.push_back({t.Next, 13, static_cast<uint8_t>(current & 0x0F)});
            } else if (const std::vector<uint8_t>& drum = Stream->Digidrums[t.Drum];
                       t.DrumPosition < drum.size()) {
                Writes.push_back({t.Next, voiceRegister, drum[t.DrumPosition++]});
            } else {
                // The drum has ended: the voice is the stream's again.
                Writes.push_back({t.Next, 7, Mixer});
                Writes.push_back({t.Next, voiceRegister, Volume[t.Voice]});
                t = Timer{};
                break;
            }
            t.Next += t.Period;
        }
        if (t.Kind >= 0) t.Next -= end;
    }
    std::stable_sort(Writes.begin() + static_cast<std::ptrdiff_t>(frameWrites), Writes.end(),
                     [](const Write& a, const Write& b) { return a.At < b.At; });
}

void RegisterPlayer::FillBuffer(SoundEngine& e, FrameEndObserver* observer) {
    ChipState& c = e.Chip;
    if (!BeginBuffer(e)) {
        SettleGenerators(c);
        return;
    }
    while (c.Cursor.OutputCount < BufferValues) {
        if (!InFrame) {
            BeginFrame(e);
            InFrame = true;
        }
        if (NextWrite < Writes.size()) {
            const Write& w = Writes[NextWrite++];
            e.Z80.TStates = static_cast<int32_t>(w.At / 64);
            RenderAndWrite(e, w.Register, w.Value);
            continue;
        }
        // The frame's end: render up to it, then count the next frame's
        // T-states from 0 (the span still to render keeps its length).
        e.Z80.TStates = FrameLength;
        Synthesizer(e);
        e.Z80.TStates = 0;
        c.Cursor.LastSynthTState -= FrameLength;
        InFrame = false;
        if (observer) observer->FrameEnded(0);
    }
    SettleGenerators(c); // the state between buffers is the whole state
}
