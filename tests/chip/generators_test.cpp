// Tone, noise and envelope generators, one chip tick at a time.
#include "chip_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using chiptest::Rig;

namespace {

std::vector<int> ToneFlipTicks(ChipState& c, int ch, int ticks) {
    std::vector<int> flips;
    for (int t = 1; t <= ticks; ++t) {
        const uint8_t before = c.Generators.ToneOutput[ch];
        StepGenerators(c);
        if (c.Generators.ToneOutput[ch] != before) flips.push_back(t);
    }
    return flips;
}

} // namespace

TEST(Tone, PeriodsZeroAndOneFlipEveryTick) {
    for (int period : {0, 1}) {
        Rig rig;
        WriteRegister(rig.C(), ToneFineB, period);
        const std::vector<int> flips = ToneFlipTicks(rig.C(), 1, 10);
        EXPECT_EQ(flips, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10})) << period;
    }
}

TEST(Tone, PeriodCountsTicksAndChangesTakeEffectAtOnce) {
    Rig rig;
    ChipState& c = rig.C();
    WriteRegister(c, ToneFineC, 0x05);
    WriteRegister(c, ToneCoarseC, 0x01); // channel C: 261
    EXPECT_EQ(ToneFlipTicks(c, 2, 800), (std::vector<int>{261, 522, 783}));
    EXPECT_EQ(c.Generators.ToneCounter[2], 17);
    // A period below the running count flips on the next tick.
    WriteRegister(c, ToneCoarseC, 0);
    WriteRegister(c, ToneFineC, 10);
    EXPECT_EQ(ToneFlipTicks(c, 2, 21), (std::vector<int>{1, 11, 21}));
    // The largest period, 4095.
    WriteRegister(c, ToneFineC, 0xFF);
    WriteRegister(c, ToneCoarseC, 0xFF);
    EXPECT_EQ(ToneFlipTicks(c, 2, 8190), (std::vector<int>{4095, 8190}));
}

TEST(Noise, SequenceAfterResetAtSeveralPeriods) {
    // Outputs after each shift from 0xFFFF.
    std::vector<int> expected(16, 1);
    expected.push_back(0);
    expected.insert(expected.end(), 13, 1);
    expected.insert(expected.end(), {0, 1, 1, 0});
    for (int r6 : {0, 1, 2, 31, 0x3F}) {
        Rig rig;
        ChipState& c = rig.C();
        WriteRegister(c, NoisePeriod, r6);
        const int spacing = 2 * std::max(r6 & 0x1F, 1);
        // Before the first shift (which comes on tick `spacing`) the output is
        // the reset value's bit 16: 0.
        for (int t = 1; t < spacing; ++t) {
            StepGenerators(c);
            ASSERT_EQ((c.Generators.NoiseShift >> 16) & 1, 0u) << "R6=" << r6 << " tick " << t;
        }
        for (size_t k = 0; k < expected.size(); ++k)
            for (int t = 0; t < spacing; ++t) {
                StepGenerators(c);
                ASSERT_EQ(static_cast<int>((c.Generators.NoiseShift >> 16) & 1), expected[k])
                    << "R6=" << r6 << " value " << k << " tick " << t;
            }
    }
}

TEST(Noise, RegisterRunsThroughAllButOneState) {
    Rig rig;
    ChipState& c = rig.C();
    int shifts = 0;
    do {
        StepGenerators(c);
        StepGenerators(c);
        ++shifts;
        ASSERT_NE(c.Generators.NoiseShift, 0x1FFFFu);
        ASSERT_LE(c.Generators.NoiseShift, 0x1FFFFu);
    } while (c.Generators.NoiseShift != 0xFFFF && shifts < 200000);
    EXPECT_EQ(shifts, 131071);
}

namespace {

std::vector<int> Ramp(int from, int to) {
    std::vector<int> v;
    for (int p = from;; p += from < to ? 1 : -1) {
        v.push_back(p);
        if (p == to) break;
    }
    return v;
}

// The first n positions of each shape, built from its description.
std::vector<int> ExpectedShape(int shape, size_t n) {
    std::vector<int> seq;
    std::vector<int> cycle;
    int hold = -1;
    switch (shape) {
    case 8: cycle = Ramp(31, 0); break;
    case 10:
        cycle = Ramp(31, 0);
        for (int p : Ramp(0, 31)) cycle.push_back(p);
        break;
    case 11:
        seq = Ramp(31, 0);
        hold = 31;
        break;
    case 12: cycle = Ramp(0, 31); break;
    case 13:
        seq = Ramp(0, 31);
        hold = 31;
        break;
    case 14:
        cycle = Ramp(0, 31);
        for (int p : Ramp(31, 0)) cycle.push_back(p);
        break;
    default: // the one-shot shapes that end silent
        seq = (shape & 4) ? Ramp(0, 31) : Ramp(31, 0);
        hold = 0;
    }
    while (seq.size() < n) {
        if (hold >= 0)
            seq.push_back(hold);
        else
            seq.insert(seq.end(), cycle.begin(), cycle.end());
    }
    seq.resize(n);
    return seq;
}

} // namespace

TEST(Envelope, EveryShapeFollowsItsCurve) {
    for (int period : {0, 1}) {
        for (int shape = 0; shape < 16; ++shape) {
            Rig rig;
            ChipState& c = rig.C();
            WriteRegister(c, EnvelopeFine, period);
            WriteRegister(c, EnvelopeShape, shape);
            std::vector<int> seen;
            for (int t = 0; t < 200; ++t) {
                StepGenerators(c);
                seen.push_back(c.Generators.EnvelopePosition);
            }
            EXPECT_EQ(seen, ExpectedShape(shape, 200)) << "shape " << shape;
        }
    }
}

TEST(Envelope, StepsOnTheFirstTickThenEveryPeriod) {
    Rig rig;
    ChipState& c = rig.C();
    WriteRegister(c, EnvelopeFine, 0x2C);
    WriteRegister(c, EnvelopeCoarse, 0x01); // 300
    WriteRegister(c, EnvelopeShape, 13);
    std::vector<int> steps;
    int16_t last = c.Generators.EnvelopePosition;
    for (int t = 1; t <= 1000; ++t) {
        StepGenerators(c);
        if (c.Generators.EnvelopePosition != last) steps.push_back(t);
        last = c.Generators.EnvelopePosition;
    }
    EXPECT_EQ(steps, (std::vector<int>{1, 301, 601, 901}));
    // Lowering the period below the count: the count resets on the next tick,
    // the step follows one tick later.
    WriteRegister(c, EnvelopeCoarse, 0);
    WriteRegister(c, EnvelopeFine, 50);
    steps.clear();
    for (int t = 1; t <= 60; ++t) {
        StepGenerators(c);
        if (c.Generators.EnvelopePosition != last) steps.push_back(t);
        last = c.Generators.EnvelopePosition;
    }
    EXPECT_EQ(steps, (std::vector<int>{2, 52}));
}

TEST(Envelope, ResetStateStaysSilentUntilAShapeIsWritten) {
    Rig rig;
    ChipState& c = rig.C();
    for (int t = 0; t < 1000; ++t) {
        StepGenerators(c);
        ASSERT_EQ(c.Generators.EnvelopePosition, 0);
    }
}
