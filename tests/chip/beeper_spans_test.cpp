// Beeper songs render a few chip ticks before every OUT. These tests drive the
// engine with such short spans (beeper writes every few dozen T-states, that
// change the level or keep it, on a silent chip and on a sounding one, with
// the settings changed between buffers) and compare every sample and the
// whole generator and synthesis state with the definition; and check the
// closed-form advance of generators whose periods are 0 or 1 against single
// steps.
#include "chip/generators_inline.h"
#include "equivalence_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using chiptest::Rig;
using chiptest::SameGenerators;
using chiptest::SameState;

namespace {

// The runner on a running clock, rendering at each frame end.
struct Pair : chiptest::EquivalenceRunner {
    int32_t T = 0;

    // Moves time on by dt T-states, rendering at the frame end when one is
    // crossed (as the frame loop does).
    void Advance(int32_t dt) {
        T += dt;
        if (T < FrameTStates) return;
        T -= FrameTStates;
        Both([&](Rig& r) {
            r.Z().TStates = T;
            r.C().Cursor.LastSynthTState -= FrameTStates;
            if (r.C().Cursor.OutputCount < BufferValues && T != r.C().Cursor.LastSynthTState)
                Synthesizer(r.E());
        });
        ASSERT_TRUE(CollectFullBuffers());
    }

    void Out(uint16_t port, uint8_t value) {
        Both([&](Rig& r) { r.OutAt(T, port, value); });
        ASSERT_TRUE(CollectFullBuffers());
    }

    void Write(int reg, uint8_t value) {
        Both([&](Rig& r) { r.WriteSpectrum(T, reg, value); });
        ASSERT_TRUE(CollectFullBuffers());
    }
};

// Beeper writes with gaps of 4..160 T-states (0 to about 80 ticks: mostly
// spans inside one output frame, some that close one or several), now and
// then a longer span; two in three change the level. The chip is set up by
// `setUp`. Returns the distinct sample values seen, so that a caller can
// check the beeper was heard.
void ToggleBeeper(unsigned seed, int outs, void (*setUp)(Pair&, std::mt19937&),
                  std::vector<int16_t>* seen) {
    std::mt19937 rng(seed);
    Pair p;
    p.Schedule = static_cast<int>(seed);
    // Start near the end of a buffer so that buffer ends fall inside spans.
    const uint16_t start = static_cast<uint16_t>(BufferValues - 2 * (1 + rng() % 4000));
    p.Both([&](Rig& r) { r.C().Cursor.OutputCount = start; });
    setUp(p, rng);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    uint8_t level = 0;
    for (int i = 0; i < outs; ++i) {
        p.Advance(rng() % 64 == 0 ? static_cast<int32_t>(rng() % 3000)
                                  : 4 + static_cast<int32_t>(rng() % 157));
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "seed " << seed << " out " << i;
        if (rng() % 3) level ^= 0x10;
        p.Out(0x00FE, level);
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "seed " << seed << " out " << i;
        ASSERT_TRUE(p.SameStateWhenCaughtUp()) << "seed " << seed << " out " << i;
    }
    p.Both([&](Rig& r) { r.RenderTo(p.T); });
    ASSERT_TRUE(p.CollectFullBuffers()) << "seed " << seed;
    ASSERT_TRUE(SameState(p.Ref.C(), p.Fast.C())) << "seed " << seed;
    ASSERT_GE(p.Buffers, 2) << "seed " << seed; // buffer ends were crossed
    ASSERT_TRUE(p.SameSamples()) << "seed " << seed;
    if (seen) {
        for (int16_t v : p.RefOut)
            if (seen->size() < 64 && std::find(seen->begin(), seen->end(), v) == seen->end())
                seen->push_back(v);
    }
}

} // namespace

TEST(BeeperSpans, SilentChipMatchesTickByTick) {
    // A chip the song never wrote: every period 0, every level 0.
    std::vector<int16_t> seen;
    for (unsigned seed = 1; seed <= 6; ++seed) {
        ToggleBeeper(
            seed, 40000, [](Pair&, std::mt19937&) {}, &seen);
        if (HasFatalFailure()) return;
    }
    // Both beeper levels and the averages of frames that hold both.
    EXPECT_GT(seen.size(), 2u);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 0), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), -16384), seen.end());
}

TEST(BeeperSpans, SilentGeneratorsStillAdvanceExactly) {
    // Nothing is heard, but the generators run: small and large periods, a
    // noise counter left high by a long period, an envelope that keeps
    // stepping, and fixed levels with tone and noise off (a steady level).
    for (unsigned seed = 11; seed <= 18; ++seed) {
        ToggleBeeper(
            seed, 20000,
            [](Pair& p, std::mt19937& rng) {
                p.Write(NoisePeriod, 31); // noise counter climbs while R6 is large
                p.Advance(2000);
                p.Write(NoisePeriod, static_cast<uint8_t>(rng() % 2));
                for (int reg = 0; reg < 6; ++reg)
                    p.Write(reg, reg % 2 ? 0 : static_cast<uint8_t>(rng() % 2));
                if (rng() % 2) p.Write(ToneFineB, 7); // one tone with a longer period
                p.Write(EnvelopeFine, static_cast<uint8_t>(rng() % 3));
                p.Write(EnvelopeShape, static_cast<uint8_t>(8 + rng() % 8)); // repeating shapes
                // Channels A and B silent by level; C steady at level 9 or
                // silent, tone and noise off.
                const bool steady = rng() % 2;
                p.Write(Mixer, steady ? 0x24 : static_cast<uint8_t>(rng()));
                p.Write(VolumeA, 0);
                p.Write(VolumeB, 0);
                p.Write(VolumeC, steady ? 9 : 0);
            },
            nullptr);
        if (HasFatalFailure()) return;
    }
}

TEST(BeeperSpans, SoundingChipMatchesTickByTick) {
    // Tones, noise and envelope heard while the beeper toggles.
    for (unsigned seed = 21; seed <= 26; ++seed) {
        ToggleBeeper(
            seed, 20000,
            [](Pair& p, std::mt19937& rng) {
                for (int reg = 0; reg < 6; ++reg)
                    p.Write(reg, reg % 2 ? static_cast<uint8_t>(rng() % 2)
                                         : static_cast<uint8_t>(rng() % 40));
                p.Write(NoisePeriod, static_cast<uint8_t>(rng() % 4));
                p.Write(Mixer, static_cast<uint8_t>(rng() & 0x3F));
                p.Write(VolumeA, 15);
                p.Write(VolumeB, 0x10); // follows the envelope
                p.Write(VolumeC, static_cast<uint8_t>(rng() % 16));
                p.Write(EnvelopeFine, static_cast<uint8_t>(1 + rng() % 20));
                p.Write(EnvelopeShape, static_cast<uint8_t>(8 + rng() % 8));
            },
            nullptr);
        if (HasFatalFailure()) return;
    }
}

TEST(BeeperSpans, FastPeriodsAdvanceLikeSingleSteps) {
    // Tone periods 0 and 1 and noise periods 0 and 1, from any counters: the
    // closed forms against tick-by-tick steps.
    std::mt19937 rng(5);
    for (int trial = 0; trial < 3000; ++trial) {
        Rig a;
        ChipState& c = a.C();
        for (int reg = 0; reg < 6; ++reg) WriteRegister(c, reg, reg % 2 || rng() % 2 ? 0 : 1);
        if (trial % 5 == 0) WriteRegister(c, 2 * static_cast<int>(rng() % 3), 2 + rng() % 9);
        WriteRegister(c, NoisePeriod, static_cast<int>(rng() % 2));
        WriteRegister(c, EnvelopeFine, static_cast<int>(rng() % 3));
        WriteRegister(c, EnvelopeShape, static_cast<int>(rng() % 16));
        for (int ch = 0; ch < 3; ++ch) {
            c.Generators.ToneCounter[ch] =
                static_cast<uint16_t>(rng() % 2 ? rng() % 2 : rng() % 300);
            c.Generators.ToneOutput[ch] = static_cast<uint8_t>(rng() % 2);
        }
        c.Generators.NoiseCounter = static_cast<uint16_t>(rng() % 2 ? rng() % 2 : rng() % 70);
        do c.Generators.NoiseShift = rng() % 0x20000;
        while (c.Generators.NoiseShift == 0x1FFFF);
        c.Generators.EnvelopeCounter = rng() % 4;
        ChipState stepped = c;
        const uint32_t n = rng() % 8 == 0 ? rng() % 5000 : rng() % 70;
        for (uint32_t i = 0; i < n; ++i) StepGenerators(stepped);
        chip_detail::AdvanceGenerators(c, n);
        ASSERT_TRUE(SameGenerators(stepped, c)) << "trial " << trial << " n " << n;
    }
}
