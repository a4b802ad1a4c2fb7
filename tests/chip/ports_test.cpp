// Register file, port decoding of both machines, machine detection, reads,
// the reset, and changes deferred when the buffer fills.
#include "chip_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

using chiptest::Rig;

TEST(Registers, WritesAreMaskedAndUpdateTheFlags) {
    Rig rig;
    ChipState& c = rig.C();
    for (int r = 0; r < 14; ++r) WriteRegister(c, r, 0xFF);
    const uint8_t expected[14] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F,
                                  0x3F, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F};
    for (int r = 0; r < 14; ++r) EXPECT_EQ(c.Registers.Values[r], expected[r]) << "R" << r;
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(c.Registers.ToneOn[ch], 0);
        EXPECT_EQ(c.Registers.NoiseOn[ch], 0);
        EXPECT_EQ(c.Registers.FixedVolume[ch], 0);
    }

    WriteRegister(c, Mixer, 0x2A); // tone B off, noise A and C off
    EXPECT_EQ(c.Registers.ToneOn[0], 1);
    EXPECT_EQ(c.Registers.ToneOn[1], 0);
    EXPECT_EQ(c.Registers.ToneOn[2], 1);
    EXPECT_EQ(c.Registers.NoiseOn[0], 0);
    EXPECT_EQ(c.Registers.NoiseOn[1], 1);
    EXPECT_EQ(c.Registers.NoiseOn[2], 0);

    WriteRegister(c, VolumeB, 0x1F);
    EXPECT_EQ(c.Registers.Values[VolumeB], 0x1F);
    EXPECT_EQ(c.Registers.FixedVolume[1], 0);
    WriteRegister(c, VolumeB, 0x0F);
    EXPECT_EQ(c.Registers.Values[VolumeB], 0x0F);
    EXPECT_EQ(c.Registers.FixedVolume[1], 1);
}

TEST(Registers, EveryShapeWriteRestartsTheEnvelope) {
    Rig rig;
    ChipState& c = rig.C();
    for (int shape = 0; shape < 16; ++shape) {
        c.Generators.EnvelopeCounter = 77;
        c.Generators.EnvelopeFlag = 0;
        c.Generators.EnvelopePosition = 5;
        WriteRegister(c, EnvelopeShape, 0xF0 | shape);
        EXPECT_EQ(c.Registers.Values[EnvelopeShape], shape);
        EXPECT_EQ(c.Generators.EnvelopePosition, (shape & 4) ? -1 : 32) << shape;
        EXPECT_EQ(c.Generators.EnvelopeCounter, 0u);
        EXPECT_EQ(c.Generators.EnvelopeFlag, 1);
        EXPECT_EQ(c.Generators.EnvelopeStep, EnvelopeShapes[shape]);
    }
    // The same shape again restarts again; R11 and R12 do not restart.
    WriteRegister(c, EnvelopeShape, 14);
    c.Generators.EnvelopeCounter = 9;
    c.Generators.EnvelopePosition = 3;
    WriteRegister(c, EnvelopeFine, 1);
    WriteRegister(c, EnvelopeCoarse, 2);
    EXPECT_EQ(c.Generators.EnvelopeCounter, 9u);
    EXPECT_EQ(c.Generators.EnvelopePosition, 3);
    WriteRegister(c, EnvelopeShape, 14);
    EXPECT_EQ(c.Generators.EnvelopeCounter, 0u);
    EXPECT_EQ(c.Generators.EnvelopePosition, -1);
}

TEST(Registers, WritesLeaveTheGeneratorsAlone) {
    Rig rig;
    ChipState& c = rig.C();
    c.Generators.ToneCounter[1] = 33;
    c.Generators.ToneOutput[1] = 1;
    c.Generators.NoiseCounter = 7;
    c.Generators.NoiseShift = 0x1234;
    for (int r = 0; r < 13; ++r) WriteRegister(c, r, 0x55);
    EXPECT_EQ(c.Generators.ToneCounter[1], 33);
    EXPECT_EQ(c.Generators.ToneOutput[1], 1);
    EXPECT_EQ(c.Generators.NoiseCounter, 7);
    EXPECT_EQ(c.Generators.NoiseShift, 0x1234u);
}

TEST(SpectrumPorts, SelectWriteAndRead) {
    Rig rig;
    ChipState& c = rig.C();
    rig.OutAt(0, 0xFFFD, 0x17); // masked to R7
    EXPECT_EQ(c.Registers.Selected, 7);
    EXPECT_EQ(c.Machine.OutHandler, OutSpectrum);
    rig.OutAt(0, 0xBFFD, 0xF8);
    EXPECT_EQ(c.Registers.Values[Mixer], 0x38);
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(c.Registers.ToneOn[ch], 1);
        EXPECT_EQ(c.Registers.NoiseOn[ch], 0);
    }
    // Partial decoding: any port with A15=1, A14=1, A1=0 selects; A15=1, A14=0, A1=0 writes.
    rig.OutAt(0, 0xC0FD, 1);
    rig.OutAt(0, 0x8001, 0xFF);
    EXPECT_EQ(c.Registers.Values[ToneCoarseA], 0x0F);
    EXPECT_EQ(rig.E().In(0xFFFD), 0x0F);
    EXPECT_EQ(rig.E().In(0xC000), 0x0F);
    EXPECT_EQ(rig.E().In(0xBFFD), 0xFF);
    EXPECT_EQ(rig.E().In(0x00FE), 0xFF);
    // A port with A1 set decodes to nothing.
    rig.OutAt(0, 0xFFFF, 3);
    EXPECT_EQ(c.Registers.Selected, 1);

    rig.OutAt(0, 0xFFFD, 14);
    EXPECT_EQ(rig.E().In(0xFFFD), 0xFF);
    rig.OutAt(0, 0xBFFD, 0x12); // dropped
    EXPECT_EQ(rig.E().In(0xFFFD), 0xFF);
    rig.OutAt(0, 0xFFFD, 15);
    EXPECT_EQ(rig.E().In(0xFFFD), 0xFF);
}

TEST(SpectrumPorts, BeeperFollowsBit4OfEvenPorts) {
    Rig rig;
    ChipState& c = rig.C();
    rig.OutAt(0, 0xFFFD, 8);
    rig.OutAt(0, 0x00FE, 0x10);
    EXPECT_EQ(c.Beeper.Level, -16384);
    rig.OutAt(0, 0x00FE, 0xEF);
    EXPECT_EQ(c.Beeper.Level, 0);
    rig.OutAt(0, 0x00FF, 0x10); // odd: not the ULA
    EXPECT_EQ(c.Beeper.Level, 0);
    // 0xFFFC is even and selects: beeper on and R9 selected.
    rig.OutAt(0, 0xFFFC, 0x19);
    EXPECT_EQ(c.Beeper.Level, -16384);
    EXPECT_EQ(c.Registers.Selected, 9);
    // 0xBFFC is even and writes the data port.
    rig.OutAt(0, 0xBFFC, 0x0C);
    EXPECT_EQ(c.Beeper.Level, 0);
    EXPECT_EQ(c.Registers.Values[VolumeB], 0x0C);
}

TEST(CpcPorts, SelectAndWriteThroughThePpi) {
    Rig rig;
    ChipState& c = rig.C();
    c.Machine.OutHandler = OutCpc;
    rig.OutAt(0, 0xF400, 7);
    rig.OutAt(0, 0xF600, 0xC0);
    rig.OutAt(0, 0xF600, 0xC0); // a second select while one is pending changes nothing
    EXPECT_EQ(c.Machine.PpiControl, 0xC0);
    EXPECT_EQ(c.Registers.Selected, 0);
    rig.OutAt(0, 0xF600, 0x00);
    EXPECT_EQ(c.Registers.Selected, 7);
    EXPECT_EQ(c.Machine.PpiControl, 0);
    rig.OutAt(0, 0xF400, 0x38);
    rig.OutAt(0, 0xF600, 0x80);
    EXPECT_EQ(c.Registers.Values[Mixer], 0);
    rig.OutAt(0, 0xF6FF, 0x3F); // low bits do not matter: f = 0 completes
    EXPECT_EQ(c.Registers.Values[Mixer], 0x38);
    EXPECT_EQ(c.Machine.PpiControl, 0);
    // A write while R14 is selected is dropped but ends the function.
    rig.WriteCpc(0, IoPortA, 0x55);
    EXPECT_EQ(c.Machine.PpiControl, 0);
    // Spectrum ports and the beeper mean nothing to the CPC.
    rig.OutAt(0, 0xFFFD, 1);
    rig.OutAt(0, 0xBFFD, 9);
    rig.OutAt(0, 0x00FE, 0x10);
    EXPECT_EQ(c.Registers.Selected, 14);
    EXPECT_EQ(c.Registers.Values[ToneCoarseA], 0);
    EXPECT_EQ(c.Beeper.Level, 0);
    // Reads decode the same mask whatever the machine: 0xF4xx with A1 clear reads.
    rig.OutAt(0, 0xF400, 7);
    rig.OutAt(0, 0xF600, 0xC0);
    rig.OutAt(0, 0xF600, 0x00);
    EXPECT_EQ(rig.E().In(0xF400), 0x38);
    EXPECT_EQ(rig.E().In(0xF402), 0xFF);
}

TEST(CpcPorts, ReadRequestEndsAtTheNextInactiveControlWrite) {
    Rig rig;
    ChipState& c = rig.C();
    c.Machine.OutHandler = OutCpc;
    rig.OutAt(0, 0xF600, 0x40);
    EXPECT_EQ(c.Machine.PpiControl, 0x40);
    rig.OutAt(0, 0xF600, 0x80); // still busy with the read
    EXPECT_EQ(c.Machine.PpiControl, 0x40);
    rig.OutAt(0, 0xF600, 0x00);
    EXPECT_EQ(c.Machine.PpiControl, 0);
    // Decoding goes on normally afterwards.
    rig.WriteCpc(0, ToneFineB, 0x99);
    EXPECT_EQ(c.Registers.Values[ToneFineB], 0x99);
}

TEST(MachineDetection, SpectrumSelectSwitchesWithoutTimingChange) {
    Rig rig;
    ChipState& c = rig.C();
    EXPECT_EQ(c.Machine.OutHandler, OutAuto);
    rig.OutAt(0, 0xBFFD, 0x22); // data write while R0 selected
    EXPECT_EQ(c.Machine.OutHandler, OutSpectrum);
    EXPECT_EQ(c.Registers.Values[ToneFineA], 0x22);
    EXPECT_EQ(c.Machine.TicksPerTState, SpectrumTicksPerTState);

    Rig rig2;
    rig2.OutAt(0, 0xFFFD, 3);
    EXPECT_EQ(rig2.C().Machine.OutHandler, OutSpectrum);
    EXPECT_EQ(rig2.C().Registers.Selected, 3);
    EXPECT_EQ(rig2.C().Machine.TicksPerSample, SpectrumTicksPerSample);

    // A data write while R14 is selected does not switch.
    Rig rig3;
    rig3.C().Registers.Selected = 14;
    rig3.OutAt(0, 0xBFFD, 1);
    EXPECT_EQ(rig3.C().Machine.OutHandler, OutAuto);
}

TEST(MachineDetection, CpcWriteSwitchesTimingAndSilencesTheBeeper) {
    Rig rig;
    ChipState& c = rig.C();
    rig.OutAt(0, 0x00FE, 0x10);
    EXPECT_EQ(c.Beeper.Level, -16384);
    // A select alone does not switch.
    rig.OutAt(0, 0xF401, 7);
    rig.OutAt(0, 0xF601, 0xC0);
    rig.OutAt(0, 0xF601, 0x00);
    EXPECT_EQ(c.Machine.OutHandler, OutAuto);
    EXPECT_EQ(c.Registers.Selected, 7);
    rig.OutAt(0, 0xF401, 0x38);
    rig.OutAt(0, 0xF601, 0x80);
    EXPECT_EQ(c.Machine.OutHandler, OutAuto);
    rig.OutAt(3000, 0xF601, 0x00);
    EXPECT_EQ(c.Machine.OutHandler, OutCpc);
    EXPECT_EQ(c.Registers.Values[Mixer], 0x38);
    EXPECT_EQ(c.Beeper.Level, 0);
    EXPECT_EQ(c.Machine.TicksPerTState, CpcTicksPerTState);
    EXPECT_EQ(c.Machine.TicksPerSample, CpcTicksPerSample);
    // The span up to the write was rendered at the CPC rate, with the beeper off.
    EXPECT_EQ(c.Cursor.TicksToRender, (3000 * CpcTicksPerTState) >> 32);
    EXPECT_EQ(rig.Buffer1[0], 0);

    // A completed write to R14 does not switch.
    Rig rig2;
    rig2.OutAt(0, 0xF401, 14);
    rig2.OutAt(0, 0xF601, 0xC0);
    rig2.OutAt(0, 0xF601, 0x00);
    rig2.OutAt(0, 0xF401, 1);
    rig2.OutAt(0, 0xF601, 0x80);
    rig2.OutAt(0, 0xF601, 0x00);
    EXPECT_EQ(rig2.C().Machine.OutHandler, OutAuto);
    EXPECT_EQ(rig2.C().Machine.TicksPerTState, SpectrumTicksPerTState);

    // A beeper change before the switch sounds at the Spectrum's rate up to
    // where it came, also when its span was left to render later.
    Rig waited, rendered;
    for (Rig* r : {&waited, &rendered}) {
        MeasureTicksToFill(r->C());
        r->OutAt(0, 0x00FE, 0x10);
        if (r == &rendered) r->RenderTo(1000);
        r->OutAt(1000, 0x00FE, 0x00);
        r->WriteCpc(3000, Mixer, 0x38);
        r->RenderTo(9000);
    }
    ASSERT_EQ(waited.C().Cursor.OutputCount, rendered.C().Cursor.OutputCount);
    EXPECT_TRUE(std::equal(rendered.Buffer1.begin(),
                           rendered.Buffer1.begin() + rendered.C().Cursor.OutputCount,
                           waited.Buffer1.begin()));
}

TEST(Reset, FreshEngineIsReadyToUse) {
    auto e = std::make_unique<SoundEngine>();
    EXPECT_EQ(e->Chip.Machine.OutHandler, OutAuto);
    EXPECT_EQ(e->Chip.Generators.EnvelopeStep, EnvelopeShapes[0]);
    EXPECT_EQ(e->Z80.Ports, e.get());
    EXPECT_EQ(e->Chip.Mix.VolumeTable[0][0][31], 16383); // mode 2 at full volume
    EXPECT_EQ(e->Chip.Mix.BeeperAmplitude, -16384);
    e->Out(0xFFFD, 5);
    EXPECT_EQ(e->Chip.Registers.Selected, 5);
}

// Fills the buffer up to its last `framesLeft` frames with silence, so that
// the next span overflows it.
static void NearlyFill(Rig& rig, int framesLeft) {
    rig.C().Cursor.OutputCount = static_cast<uint16_t>(BufferValues - 2 * framesLeft);
}

TEST(DeferredChange, BeeperWriteThatFillsTheBufferWaitsForTheNext) {
    Rig rig;
    ChipState& c = rig.C();
    NearlyFill(rig, 2);
    rig.OutAt(1000, 0x00FE, 0x10); // 63 ticks: far more than two frames
    EXPECT_EQ(c.Cursor.OutputCount, BufferValues);
    EXPECT_EQ(c.Cursor.BufferFull, 1);
    EXPECT_EQ(c.Deferred.BeeperPending, 1);
    EXPECT_EQ(c.Beeper.Level, 0);
    EXPECT_EQ(c.Beeper.NewLevel, -16384);
    EXPECT_EQ(rig.Buffer1[BufferValues - 1], 0);

    c.Cursor.OutputBuffer = rig.Buffer2.data();
    ASSERT_TRUE(BeginBuffer(rig.E()));
    EXPECT_EQ(c.Deferred.BeeperPending, 0);
    EXPECT_EQ(c.Beeper.Level, -16384);
    EXPECT_EQ(c.Cursor.TicksRendered, c.Cursor.TicksToRender);
    // The rest of the span came out silent; the new level starts after it.
    const int silentFrames = c.Cursor.OutputCount / 2;
    EXPECT_GE(silentFrames, 8);
    for (int i = 0; i < c.Cursor.OutputCount; ++i) EXPECT_EQ(rig.Buffer2[i], 0);
    rig.RenderTo(2000);
    EXPECT_EQ(rig.Buffer2[c.Cursor.OutputCount - 1], -16384);
}

TEST(DeferredChange, RegisterWriteThatFillsTheBufferWaitsForTheNext) {
    Rig rig;
    ChipState& c = rig.C();
    WriteRegister(c, Mixer, 0x3F);
    NearlyFill(rig, 1);
    rig.OutAt(0, 0xFFFD, 8);
    rig.OutAt(500, 0xBFFD, 0xEF); // R8 := 15 (masked 0x0F)
    EXPECT_EQ(c.Deferred.WritePending, 1);
    EXPECT_EQ(c.Deferred.Register, 8);
    EXPECT_EQ(c.Deferred.Value, 0xEF);
    EXPECT_EQ(c.Registers.Values[VolumeA], 0);
    EXPECT_EQ(rig.E().In(0xFFFD), 0); // not yet visible
    c.Cursor.OutputBuffer = rig.Buffer2.data();
    ASSERT_TRUE(BeginBuffer(rig.E()));
    EXPECT_EQ(c.Deferred.WritePending, 0);
    EXPECT_EQ(c.Registers.Values[VolumeA], 0x0F);
    for (int i = 0; i < c.Cursor.OutputCount; ++i) EXPECT_EQ(rig.Buffer2[i], 0);
}

TEST(DeferredChange, EvenDataPortFillingTheBufferDefersBothChanges) {
    // OUT (0xBFFC) drives the beeper and writes the chip; when the beeper's
    // rendering fills the buffer, the chip write must not render into it again.
    Rig rig;
    ChipState& c = rig.C();
    rig.OutAt(0, 0xFFFD, 9);
    NearlyFill(rig, 1);
    rig.Buffer1.push_back(0x7777); // a guard just past the end
    c.Cursor.OutputBuffer = rig.Buffer1.data();
    rig.OutAt(800, 0xBFFC, 0x1F);
    EXPECT_EQ(rig.Buffer1[BufferValues], 0x7777);
    EXPECT_EQ(c.Cursor.OutputCount, BufferValues);
    EXPECT_EQ(c.Cursor.BufferFull, 1);
    EXPECT_EQ(c.Deferred.BeeperPending, 1);
    EXPECT_EQ(c.Deferred.WritePending, 1);
    c.Cursor.OutputBuffer = rig.Buffer2.data();
    ASSERT_TRUE(BeginBuffer(rig.E()));
    EXPECT_EQ(c.Beeper.Level, -16384);
    EXPECT_EQ(c.Registers.Values[VolumeB], 0x1F);
}

TEST(DeferredChange, SplitAtAnyPointGivesTheSameSound) {
    // The same OUTs rendered into one buffer and split over two at every
    // possible frame: the concatenation must match, without loss or repetition.
    auto play = [](Rig& rig) {
        rig.WriteSpectrum(0, Mixer, 0x3E);
        rig.WriteSpectrum(0, VolumeA, 12);
        rig.WriteSpectrum(1000, ToneFineA, 7);
        rig.OutAt(3000, 0x00FE, 0x10);
        rig.WriteSpectrum(6400, VolumeA, 5);
        rig.OutAt(7000, 0x00FE, 0x00);
        rig.WriteSpectrum(9000, ToneFineA, 3);
        rig.RenderTo(15000);
    };
    Rig whole;
    play(whole);
    const int frames = whole.C().Cursor.OutputCount / 2;
    ASSERT_GT(frames, 80);
    for (int split = 1; split < frames; ++split) {
        Rig rig;
        NearlyFill(rig, split);
        const int offset = BufferValues - 2 * split;
        std::vector<int16_t> out;
        // Render, moving to the second buffer whenever the first fills.
        rig.WriteSpectrum(0, Mixer, 0x3E);
        rig.WriteSpectrum(0, VolumeA, 12);
        auto step = [&](auto action) {
            action();
            if (rig.C().Cursor.OutputCount >= BufferValues &&
                rig.C().Cursor.OutputBuffer == rig.Buffer1.data()) {
                out.assign(rig.Buffer1.begin() + offset, rig.Buffer1.end());
                rig.C().Cursor.OutputBuffer = rig.Buffer2.data();
                ASSERT_TRUE(BeginBuffer(rig.E()));
            }
        };
        step([&] { rig.WriteSpectrum(1000, ToneFineA, 7); });
        step([&] { rig.OutAt(3000, 0x00FE, 0x10); });
        step([&] { rig.WriteSpectrum(6400, VolumeA, 5); });
        step([&] { rig.OutAt(7000, 0x00FE, 0x00); });
        step([&] { rig.WriteSpectrum(9000, ToneFineA, 3); });
        step([&] { rig.RenderTo(15000); });
        ASSERT_EQ(rig.C().Cursor.OutputBuffer, rig.Buffer2.data()) << split;
        out.insert(out.end(), rig.Buffer2.begin(),
                   rig.Buffer2.begin() + rig.C().Cursor.OutputCount);
        ASSERT_EQ(out, std::vector<int16_t>(whole.Buffer1.begin(),
                                            whole.Buffer1.begin() + whole.C().Cursor.OutputCount))
            << "split after " << split << " frames";
    }
}
