// The one runner of the chip equivalence tests: the engine with every speed
// shortcut it has, against the definition, fed the same programs or the same
// port writes and compared buffer by buffer, while the player's settings
// change between buffers.
#pragma once

#include "chip_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace chiptest {

#define ZF_SAME(field)                                                                             \
    if (!(a.field == b.field))                                                                     \
        return ::testing::AssertionFailure() << #field << ": " << +a.field << " vs " << +b.field;
#define ZF_SAME3(field)                                                                            \
    for (int i = 0; i < 3; ++i) ZF_SAME(field[i])
// The generators: counters, outputs, noise register and envelope, each
// state brought up to date first (spans nobody hears leave them behind).
inline ::testing::AssertionResult SameGenerators(const ChipState& first, const ChipState& second) {
    ChipState a = first, b = second;
    SettleGenerators(a);
    SettleGenerators(b);
    ZF_SAME3(Generators.ToneCounter);
    ZF_SAME3(Generators.ToneOutput);
    ZF_SAME(Generators.NoiseCounter);
    ZF_SAME(Generators.NoiseShift);
    ZF_SAME(Generators.EnvelopeCounter);
    ZF_SAME(Generators.EnvelopePosition);
    ZF_SAME(Generators.EnvelopeFlag);
    if (a.Generators.EnvelopeStep != b.Generators.EnvelopeStep)
        return ::testing::AssertionFailure() << "EnvelopeStep";
    return ::testing::AssertionSuccess();
}

// The instant up to which a chip has rendered, as a tick count that the
// next span starts from.
inline int64_t RenderedUpTo(const ChipState& c) {
    return static_cast<int64_t>(c.Cursor.LastSynthTState) *
               static_cast<int64_t>(c.Machine.TicksPerTState) -
           static_cast<int64_t>(c.Cursor.TickFraction);
}

// The whole chip state but the buffer pointer and derived copies.
inline ::testing::AssertionResult SameState(const ChipState& a, const ChipState& b) {
    if (auto generators = SameGenerators(a, b); !generators) return generators;
    for (int r = 0; r < 14; ++r) ZF_SAME(Registers.Values[r]);
    ZF_SAME(Registers.Selected);
    ZF_SAME3(Registers.ToneOn);
    ZF_SAME3(Registers.NoiseOn);
    ZF_SAME3(Registers.FixedVolume);
    if (a.Machine.OutHandler != b.Machine.OutHandler)
        return ::testing::AssertionFailure() << "OutHandler";
    ZF_SAME(Machine.PpiLatch);
    ZF_SAME(Machine.PpiControl);
    ZF_SAME(Mix.BeeperAmplitude);
    ZF_SAME(Beeper.Level);
    ZF_SAME(Beeper.NewLevel);
    ZF_SAME(Cursor.BufferFull);
    ZF_SAME(Deferred.BeeperPending);
    ZF_SAME(Deferred.WritePending);
    ZF_SAME(Deferred.Register);
    ZF_SAME(Deferred.Value);
    // Where the rendering stands, in 2^-32 ticks: skipping renders that have
    // less than a tick to do may leave the same instant written differently.
    if (RenderedUpTo(a) != RenderedUpTo(b))
        return ::testing::AssertionFailure()
               << "rendered up to T " << a.Cursor.LastSynthTState << " + " << a.Cursor.TickFraction
               << " vs " << b.Cursor.LastSynthTState << " + " << b.Cursor.TickFraction;
    if (a.Cursor.TicksToRender - a.Cursor.TicksRendered !=
        b.Cursor.TicksToRender - b.Cursor.TicksRendered)
        return ::testing::AssertionFailure() << "ticks left of the span";
    ZF_SAME(Cursor.TicksInSample);
    ZF_SAME(Cursor.SumLeft);
    ZF_SAME(Cursor.SumRight);
    ZF_SAME(Cursor.SampleBoundary);
    ZF_SAME(Cursor.OutputCount);
    ZF_SAME(Machine.TicksPerTState);
    ZF_SAME(Machine.TicksPerSample);
    return ::testing::AssertionSuccess();
}
#undef ZF_SAME3
#undef ZF_SAME

// The definition's ports: every beeper write and every register write
// renders up to its instant first, whether or not it changes anything, as the
// plain frame loop does; then the engine's own decoding (which then has
// nothing left to render). While the machine is not known yet the engine's
// decoding renders its writes itself (it switches the timing first).
class PlainPorts final : public Z80Ports {
  public:
    explicit PlainPorts(SoundEngine& e) : e_(e) {}
    void Out(uint16_t port, uint8_t value) override {
        const ChipState& c = e_.Chip;
        const bool beeper = (port & 1) == 0 && c.Machine.OutHandler != OutCpc;
        const bool spectrumWrite = c.Machine.OutHandler == OutSpectrum &&
                                   (port & 0xC002) == 0x8000 && c.Registers.Selected < 14;
        const bool cpcWrite = c.Machine.OutHandler == OutCpc && (port >> 8) == 0xF6 &&
                              (value & 0xC0) == 0 && c.Machine.PpiControl == 0x80 &&
                              c.Registers.Selected < 14;
        if (beeper || spectrumWrite || cpcWrite) Synthesizer(e_);
        e_.Out(port, value);
    }
    uint8_t In(uint16_t port) override { return e_.In(port); }

  private:
    SoundEngine& e_;
};

// `Ref` is the definition: it renders tick by tick, runs the Z80 pass by pass
// (FramePass) and renders before every beeper and register write. `Fast` is
// the engine as the player runs it: runs of ticks at once, MakeBuffer with
// its delay and idle loops, writes that change nothing left unrendered. Both get the
// same OUTs (through `Rig::OutAt`) or the same program; whenever a buffer is
// full both move to the next one, with the same settings change, and their
// whole state is compared.
struct EquivalenceRunner {
    Rig Ref, Fast;
    PlainPorts RefPorts{Ref.E()};
    std::vector<int16_t> RefOut, FastOut;
    int Buffers = 0;     // buffers finished
    int Volume = 39;     // the volume the settings changes play at
    bool Changes = true; // change the settings between buffers
    int Schedule = 0;    // where in the round of changes the first one falls

    EquivalenceRunner() {
        Ref.C().TickByTick = 1;
        Ref.Z().Ports = &RefPorts;
    }
    EquivalenceRunner(const EquivalenceRunner&) = delete;
    EquivalenceRunner& operator=(const EquivalenceRunner&) = delete;

    template <typename F> void Both(F f) {
        f(Ref);
        f(Fast);
    }

    // What a user may change while a song plays, one change per buffer in
    // turn: volume and chip layout (SetChipAndChannels), the beeper level
    // alone (as the Parameters dialog sets it), or nothing.
    void ChangeSettings(int buffer) {
        buffer += Schedule;
        static constexpr int Volumes[] = {20, 39, 0, 31, 7};
        static constexpr int32_t BeeperLevels[] = {8000, 32768, 0, 1234, 16384, 20000};
        switch (buffer % 3) {
        case 1:
            Volume = Volumes[(buffer / 3) % 5];
            Both([&](Rig& r) { SetChipAndChannels(r.C(), (buffer * 5) % 14, Volume, 39); });
            break;
        case 2:
            Both([&](Rig& r) {
                r.C().Mix.BeeperSetting = BeeperLevels[(buffer / 3) % 6];
                r.C().Mix.BeeperAmplitude =
                    ComputeBeeperAmplitude(r.C().Mix.BeeperSetting, Volume, 39);
            });
            break;
        default: break;
        }
    }

    // While a buffer is full (either one's), keeps what both wrote and moves
    // both to a fresh one, after comparing them.
    ::testing::AssertionResult CollectFullBuffers() {
        while (Ref.C().Cursor.OutputCount >= BufferValues ||
               Fast.C().Cursor.OutputCount >= BufferValues) {
            if (auto same = SameState(Ref.C(), Fast.C()); !same)
                return same << " at the end of buffer " << Buffers;
            RefOut.insert(RefOut.end(), Ref.C().Cursor.OutputBuffer,
                          Ref.C().Cursor.OutputBuffer + BufferValues);
            FastOut.insert(FastOut.end(), Fast.C().Cursor.OutputBuffer,
                           Fast.C().Cursor.OutputBuffer + BufferValues);
            ++Buffers;
            if (Changes) ChangeSettings(Buffers);
            Both([](Rig& r) {
                r.C().Cursor.OutputBuffer = r.C().Cursor.OutputBuffer == r.Buffer1.data()
                                                ? r.Buffer2.data()
                                                : r.Buffer1.data();
                BeginBuffer(r.E());
            });
        }
        return ::testing::AssertionSuccess();
    }

    // The whole state of both, when both have rendered up to the same
    // instant (the engine may not have rendered the beeper writes since).
    ::testing::AssertionResult SameStateWhenCaughtUp() {
        if (RenderedUpTo(Ref.C()) != RenderedUpTo(Fast.C())) return ::testing::AssertionSuccess();
        return SameState(Ref.C(), Fast.C());
    }

    // Both hold the same samples so far, also in the buffer still open.
    ::testing::AssertionResult SameSamples() {
        if (RefOut != FastOut) return ::testing::AssertionFailure() << "full buffers differ";
        const int16_t* ref = Ref.C().Cursor.OutputBuffer;
        const int16_t* fast = Fast.C().Cursor.OutputBuffer;
        if (Ref.C().Cursor.OutputCount != Fast.C().Cursor.OutputCount ||
            !std::equal(ref, ref + Ref.C().Cursor.OutputCount, fast))
            return ::testing::AssertionFailure() << "the open buffer differs";
        return ::testing::AssertionSuccess();
    }

    // Plays `buffers` more buffers of the program in both (each set up
    // alike), the definition pass by pass, the engine by MakeBuffer, with a
    // settings change before each but the song's first; compares samples,
    // processor and chip after each.
    ::testing::AssertionResult Play(int buffers) {
        for (int n = 0; n < buffers; ++n, ++Buffers) {
            const int b = Buffers;
            if (b > 0 && Changes) ChangeSettings(b);
            Both([](Rig& r) { r.C().Cursor.OutputBuffer = r.Buffer1.data(); });
            if (BeginBuffer(Ref.E()))
                while (Ref.C().Cursor.OutputCount < BufferValues) FramePass(Ref.E());
            MakeBuffer(Fast.E());
            if (Ref.C().Cursor.OutputCount != BufferValues ||
                Fast.C().Cursor.OutputCount != BufferValues)
                return ::testing::AssertionFailure() << "buffer " << b << " not full";
            if (Ref.Buffer1 != Fast.Buffer1)
                return ::testing::AssertionFailure() << "samples of buffer " << b;
            if (const std::string diff = z80test::Diff(Ref.Z(), Fast.Z()); !diff.empty())
                return ::testing::AssertionFailure()
                       << "processor after buffer " << b << ": " << diff;
            if (auto same = SameState(Ref.C(), Fast.C()); !same)
                return same << " after buffer " << b;
        }
        return ::testing::AssertionSuccess();
    }
};

} // namespace chiptest
