// Volume tables and channel layouts, and the synthesizer's conversion of
// T-states to ticks and ticks to output frames.
#include "chip/frame_cursor.h"
#include "chip_test_util.h"

#include <gtest/gtest.h>

#include <cmath>

using chiptest::Rig;

namespace {

int32_t Entry(const ChipState& c, int ch, int side, int level) {
    return c.Mix.VolumeTable[ch][side][level];
}

} // namespace

TEST(VolumeTables, FullVolumePeaks) {
    Rig rig;
    ChipState& c = rig.C();
    SetChipAndChannels(c, 0, 39, 39); // AY mono
    for (int ch = 0; ch < 3; ++ch)
        for (int side = 0; side < 2; ++side) EXPECT_EQ(Entry(c, ch, side, 31), 10922);

    SetChipAndChannels(c, 2, 39, 39); // AY ABC
    EXPECT_EQ(Entry(c, 0, 0, 31), 16383);
    EXPECT_EQ(Entry(c, 0, 1, 31), 5461);
    EXPECT_EQ(Entry(c, 1, 0, 31), 10922);
    EXPECT_EQ(Entry(c, 1, 1, 31), 10922);
    EXPECT_EQ(Entry(c, 2, 0, 31), 5461);
    EXPECT_EQ(Entry(c, 2, 1, 31), 16383);
    EXPECT_EQ(Entry(c, 0, 0, 2), 209); // AY level 1 at weight 255
    EXPECT_EQ(Entry(c, 0, 0, 3), 209);
    for (int i = 0; i < 32; i += 2) EXPECT_EQ(Entry(c, 1, 0, i), Entry(c, 1, 0, i + 1)) << i;
    EXPECT_EQ(Entry(c, 0, 0, 0), 0);

    SetChipAndChannels(c, 3, 39, 39); // YM ABC
    EXPECT_EQ(Entry(c, 0, 0, 31), 19076);
    EXPECT_EQ(Entry(c, 0, 1, 31), 973);
    EXPECT_EQ(Entry(c, 1, 0, 31), 12717);
    EXPECT_EQ(Entry(c, 2, 1, 31), 19076);
    for (int ch = 0; ch < 3; ++ch)
        for (int side = 0; side < 2; ++side) {
            EXPECT_EQ(Entry(c, ch, side, 0), 0);
            EXPECT_EQ(Entry(c, ch, side, 1), 0);
            EXPECT_GT(Entry(c, ch, side, 2), 0);
        }
    EXPECT_EQ(c.Mix.BeeperAmplitude, -16384);
}

TEST(VolumeTables, LayoutsPlaceTheChannels) {
    // For each layout: the channel on the left, in the centre, on the right.
    const int order[7][3] = {{0, 0, 0}, {0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                             {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (int mode = 2; mode < 14; ++mode) {
        Rig rig;
        ChipState& c = rig.C();
        SetChipAndChannels(c, mode, 39, 39);
        const int32_t peak = (mode & 1) ? 19076 : 16383;
        const int32_t centre = (mode & 1) ? 12717 : 10922;
        const int32_t far = (mode & 1) ? 973 : 5461;
        const int* o = order[mode / 2];
        EXPECT_EQ(Entry(c, o[0], 0, 31), peak) << mode;
        EXPECT_EQ(Entry(c, o[0], 1, 31), far) << mode;
        EXPECT_EQ(Entry(c, o[1], 0, 31), centre) << mode;
        EXPECT_EQ(Entry(c, o[1], 1, 31), centre) << mode;
        EXPECT_EQ(Entry(c, o[2], 0, 31), far) << mode;
        EXPECT_EQ(Entry(c, o[2], 1, 31), peak) << mode;
    }
    // Beyond the list: mono.
    Rig rig;
    SetChipAndChannels(rig.C(), 15, 39, 39);
    EXPECT_EQ(Entry(rig.C(), 2, 1, 31), 8355585 / 765);
    EXPECT_EQ(Entry(rig.C(), 0, 0, 1), 0); // the YM's silent level 0
    SetChipAndChannels(rig.C(), 14, 39, 39);
    EXPECT_EQ(Entry(rig.C(), 1, 0, 31), 10922);
    EXPECT_EQ(Entry(rig.C(), 1, 0, 2), 139); // AY level 1 in mono: 836 x 10922 / 65535
}

TEST(VolumeTables, VolumeScalesTablesAndBeeper) {
    Rig rig;
    ChipState& c = rig.C();
    SetChipAndChannels(c, 2, 0, 39);
    for (int ch = 0; ch < 3; ++ch)
        for (int side = 0; side < 2; ++side)
            for (int i = 0; i < 32; ++i) ASSERT_EQ(Entry(c, ch, side, i), 0);
    EXPECT_EQ(c.Mix.BeeperAmplitude, 0);

    SetChipAndChannels(c, 2, 20, 39);
    const double f = std::pow(2.0, 20.0 / 39.0) - 1.0; // 0.4278...
    EXPECT_EQ(Entry(c, 0, 0, 31), std::lround(16383 * f));
    EXPECT_EQ(Entry(c, 1, 1, 31), std::lround(10922 * f));
    EXPECT_EQ(c.Mix.BeeperAmplitude, -std::lround(16384 * f));
    EXPECT_EQ(c.Mix.BeeperAmplitude, ComputeBeeperAmplitude(16384, 20, 39));
    EXPECT_EQ(ComputeBeeperAmplitude(32768, 39, 39), -32768);
    EXPECT_EQ(ComputeBeeperAmplitude(0, 39, 39), 0);
    // Volume rises monotonically to exactly the unscaled table.
    int32_t previous = -1;
    for (int v = 0; v <= 39; ++v) {
        SetChipAndChannels(c, 3, v, 39);
        EXPECT_GT(Entry(c, 0, 0, 31), previous) << v;
        previous = Entry(c, 0, 0, 31);
    }
    EXPECT_EQ(previous, 19076);
    // The beeper level in force is left alone until the next beeper write.
    c.Beeper.Level = -16384;
    SetChipAndChannels(c, 3, 10, 39);
    EXPECT_EQ(c.Beeper.Level, -16384);
}

TEST(Synthesizer, NothingElapsedRendersNothing) {
    Rig rig;
    ChipState& c = rig.C();
    rig.RenderTo(0);
    EXPECT_EQ(c.Cursor.OutputCount, 0);
    EXPECT_EQ(c.Cursor.TicksToRender, 0u);
    rig.RenderTo(200);
    const ChipState before = c;
    rig.RenderTo(200);
    EXPECT_EQ(c.Cursor.OutputCount, before.Cursor.OutputCount);
    EXPECT_EQ(c.Cursor.TicksToRender, before.Cursor.TicksToRender);
    EXPECT_EQ(c.Cursor.TicksRendered, before.Cursor.TicksRendered);
    EXPECT_EQ(c.Cursor.TickFraction, before.Cursor.TickFraction);
}

TEST(Synthesizer, ShortIntervalsAddUpToWholeTicks) {
    Rig rig;
    ChipState& c = rig.C();
    // 15 T-states are 0.95 of a tick: nothing yet, and the time is kept.
    rig.RenderTo(15);
    EXPECT_EQ(c.Cursor.LastSynthTState, 0);
    EXPECT_EQ(c.Cursor.TickFraction, 0u);
    rig.RenderTo(16); // 1.015 ticks since T = 0
    EXPECT_EQ(c.Cursor.LastSynthTState, 16);
    EXPECT_EQ(c.Cursor.TicksToRender, 1u);
    EXPECT_EQ(c.Cursor.TickFraction, static_cast<uint32_t>(16 * SpectrumTicksPerTState));
    // Over a whole frame in uneven pieces, T-states become ticks at exactly
    // the rate of one long span: nothing is lost to rounding.
    uint64_t ticks = c.Cursor.TicksToRender;
    for (int t = 20; t <= FrameTStates; t += 7) {
        const int32_t last = c.Cursor.LastSynthTState;
        rig.RenderTo(t);
        if (c.Cursor.LastSynthTState != last) ticks += c.Cursor.TicksToRender;
    }
    EXPECT_EQ(ticks,
              (static_cast<uint64_t>(c.Cursor.LastSynthTState) * SpectrumTicksPerTState) >> 32);
    EXPECT_GT(ticks, 4400u);
    // Every tick went into a frame or is waiting in the open one.
    EXPECT_NEAR((c.Cursor.OutputCount / 2) * 221675.0 / 44100,
                static_cast<double>(ticks - c.Cursor.TicksInSample), 1.0);
}

TEST(Synthesizer, FramesAverageTheirTicks) {
    Rig rig;
    ChipState& c = rig.C();
    SetChipAndChannels(c, 0, 39, 39);
    WriteRegister(c, VolumeA, 15); // A: tone of period 0, flipping every tick
    WriteRegister(c, Mixer, 0x3E);
    c.Beeper.Level = -16384;
    // First frame: 5 ticks, the tone on in ticks 1, 3, 5.
    rig.RenderTo(79); // 5.01 ticks
    ASSERT_EQ(c.Cursor.TicksToRender, 5u);
    ASSERT_EQ(c.Cursor.OutputCount, 2);
    EXPECT_EQ(rig.Buffer1[0], -9830); // (3 x 10922 - 5 x 16384) / 5 = -9830.8, towards 0
    EXPECT_EQ(rig.Buffer1[1], -9830);
    EXPECT_EQ(c.Cursor.SampleBoundary >> 16, 5u); // the next frame is owed 5 ticks
}

TEST(Synthesizer, ModeThreeExampleAndSilence) {
    Rig rig;
    ChipState& c = rig.C();
    SetChipAndChannels(c, 3, 39, 39);
    WriteRegister(c, Mixer, 0x3F);
    WriteRegister(c, VolumeA, 15);
    rig.RenderTo(10000);
    ASSERT_GT(c.Cursor.OutputCount, 100);
    for (int i = 0; i < c.Cursor.OutputCount; i += 2) {
        ASSERT_EQ(rig.Buffer1[i], 19076);
        ASSERT_EQ(rig.Buffer1[i + 1], 973);
    }

    Rig quiet;
    quiet.RenderTo(5000);
    for (int i = 0; i < quiet.C().Cursor.OutputCount; ++i) ASSERT_EQ(quiet.Buffer1[i], 0);
    quiet.OutAt(5000, 0x00FE, 0x10);
    const int from = quiet.C().Cursor.OutputCount + 2; // past the frame that straddles the change
    quiet.RenderTo(10000);
    for (int i = from; i < quiet.C().Cursor.OutputCount; ++i) ASSERT_EQ(quiet.Buffer1[i], -16384);
}

TEST(Synthesizer, ModeChangeAppliesFromTheNextTick) {
    Rig rig;
    ChipState& c = rig.C();
    WriteRegister(c, Mixer, 0x3F);
    WriteRegister(c, VolumeB, 15); // B, in the centre
    rig.RenderTo(3000);
    EXPECT_EQ(rig.Buffer1[c.Cursor.OutputCount - 1], 10922);
    SetChipAndChannels(c, 3, 39, 39); // YM ABC
    const int from = c.Cursor.OutputCount + 2;
    rig.RenderTo(6000);
    EXPECT_EQ(rig.Buffer1[from], 12717);
    EXPECT_EQ(rig.Buffer1[from + 1], 12717);
}

TEST(Synthesizer, BufferHoldsExactlyItsValuesAndTheRestCarriesOver) {
    Rig rig;
    ChipState& c = rig.C();
    WriteRegister(c, Mixer, 0x3E);
    WriteRegister(c, VolumeA, 15);
    WriteRegister(c, ToneFineA, 100);
    // 1.4 million T-states: more than a buffer's worth (1.29 million).
    rig.RenderTo(1400000);
    EXPECT_EQ(c.Cursor.OutputCount, BufferValues);
    EXPECT_EQ(c.Cursor.BufferFull, 1);
    const uint32_t rendered = c.Cursor.TicksRendered;
    EXPECT_NEAR(rendered, 16320.0 * 221675 / 44100, 6);
    c.Cursor.OutputBuffer = rig.Buffer2.data();
    ASSERT_TRUE(BeginBuffer(rig.E()));
    EXPECT_EQ(c.Cursor.BufferFull, 0);
    EXPECT_EQ(c.Cursor.TicksRendered, c.Cursor.TicksToRender);
    EXPECT_EQ(c.Cursor.TicksToRender, (1400000 * SpectrumTicksPerTState) >> 32);
    EXPECT_NEAR((c.Cursor.TicksToRender - rendered) * 44100.0 / 221675, c.Cursor.OutputCount / 2,
                1.5);
}

TEST(Synthesizer, RestLongerThanABufferKeepsChangesPending) {
    Rig rig;
    ChipState& c = rig.C();
    rig.WriteSpectrum(0, VolumeA, 15);
    rig.Z().TStates = 2700000; // two buffers' worth and more
    rig.E().Out(0xBFFD, 3);
    EXPECT_EQ(c.Deferred.WritePending, 1);
    c.Cursor.OutputBuffer = rig.Buffer2.data();
    EXPECT_FALSE(BeginBuffer(rig.E()));
    EXPECT_EQ(c.Cursor.OutputCount, BufferValues);
    EXPECT_EQ(c.Deferred.WritePending, 1);
    EXPECT_EQ(c.Registers.Values[VolumeA], 15);
    c.Cursor.OutputBuffer = rig.Buffer1.data();
    EXPECT_TRUE(BeginBuffer(rig.E()));
    EXPECT_EQ(c.Deferred.WritePending, 0);
    EXPECT_EQ(c.Registers.Values[VolumeA], 3);
    EXPECT_LT(c.Cursor.OutputCount, BufferValues);
}

// The fast paths' stated bounds stop the program in the builds that hunt
// faults (sanitizers, fuzzing), and cost nothing elsewhere: there the
// condition is not even evaluated.
TEST(BoundChecks, StopTheProgramOnlyWhereEnabled) {
#if defined(ZIRRAFON_CHECKS)
    EXPECT_DEATH(chip_detail::DivideShortSum(1 << 29, 1), "bound broken");
    EXPECT_DEATH(chip_detail::DivideShortSum(8, 9), "bound broken");
    EXPECT_EQ(chip_detail::DivideShortSum(-(1 << 29) + 1, 8), (-(1 << 29) + 1) / 8);
#else
    int evaluated = 0;
    ZIRRAFON_ASSERT(++evaluated == 0);
    EXPECT_EQ(evaluated, 0);
#endif
}
