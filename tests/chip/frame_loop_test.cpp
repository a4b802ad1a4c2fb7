// The frame loop with real Z80 code: interrupt window, EI delay, HALT, the
// frame end, whole buffers, and small player programs that drive the chip
// through the Spectrum and the CPC ports.
#include "equivalence_runner.h"

#include <gtest/gtest.h>

#include <vector>

using chiptest::Asm;
using chiptest::Rig;

namespace {

constexpr uint16_t Counter = 0x9000;

// IM 1 handler at 0x38 that counts interrupts in memory, then EI; RET.
void LoadCountingHandler(Z80State& z) {
    Asm h(0x38);
    h.LdAFromMem(Counter).IncA().LdMemFromA(Counter).Ei().Ret();
    h.LoadInto(z);
}

// Runs passes until `frames` frame ends have happened.
int RunFrames(SoundEngine& e, int frames) {
    int passes = 0;
    while (frames > 0) {
        const int32_t before = e.Z80.TStates;
        FramePass(e);
        ++passes;
        if (e.Z80.TStates < before) --frames;
    }
    return passes;
}

// Mean distance in frames between rising crossings of `threshold` on the left
// channel, and the number of crossings.
std::pair<double, int> RisingEdges(const std::vector<int16_t>& samples, int threshold) {
    int first = -1, last = -1, count = 0;
    for (size_t i = 2; i < samples.size(); i += 2)
        if (samples[i - 2] < threshold && samples[i] >= threshold) {
            if (first < 0) first = static_cast<int>(i / 2);
            last = static_cast<int>(i / 2);
            ++count;
        }
    return {count > 1 ? static_cast<double>(last - first) / (count - 1) : 0.0, count};
}

} // namespace

TEST(FrameLoop, InterruptComesOneInstructionAfterEi) {
    Rig rig;
    Z80State& z = rig.Z();
    Asm a(0x100);
    a.Ei().Nop().Nop();
    a.LoadInto(z);
    z.PC = 0x100;
    z.SP = 0x8000;
    z.IM = 1;
    z.TStates = 10;
    FramePass(rig.E());
    EXPECT_EQ(z.TStates, 14);
    EXPECT_EQ(z.IFF1, 1);
    FramePass(rig.E()); // the NOP, although T < 21 and IFF1 = 1
    EXPECT_EQ(z.TStates, 18);
    EXPECT_EQ(z.PC, 0x102);
    FramePass(rig.E());
    EXPECT_EQ(z.PC, 0x38);
    EXPECT_EQ(z.TStates, 30);
    EXPECT_EQ(z.IFF1, 0);
    EXPECT_EQ(z.SP, 0x7FFE);
    EXPECT_EQ(ReadWord(z, 0x7FFE), 0x102);
    EXPECT_EQ(z.R, 3); // one refresh count per pass, the interrupt included
}

TEST(FrameLoop, OneInterruptPerFrameInImOne) {
    Rig rig;
    Z80State& z = rig.Z();
    LoadCountingHandler(z);
    Asm a(0x100);
    a.Ei().JrSelf(0); // EI; loop: JR loop
    a.LoadInto(z);
    z.PC = 0x100;
    z.SP = 0x8000;
    z.IM = 1;
    RunFrames(rig.E(), 10);
    // Frame 0 (EI and one JR fit the window) and the 10 that followed.
    while (z.TStates < 100) FramePass(rig.E());
    EXPECT_EQ(z.Memory[Counter], 11);
}

TEST(FrameLoop, ImTwoReadsTheVectorAndCosts18) {
    Rig rig;
    Z80State& z = rig.Z();
    z.I = 0x3B;
    z.Memory[0x3BFF] = 0x34;
    z.Memory[0x3C00] = 0x12;
    z.IM = 2;
    z.IFF1 = 1;
    z.SP = 0x8000;
    z.PC = 0x200;
    z.TStates = 5;
    FramePass(rig.E());
    EXPECT_EQ(z.PC, 0x1234);
    EXPECT_EQ(z.TStates, 23);
    EXPECT_EQ(ReadWord(z, 0x7FFE), 0x200);
}

TEST(FrameLoop, InterruptLostWhenEnabledAfterTheWindow) {
    Rig rig;
    Z80State& z = rig.Z();
    LoadCountingHandler(z);
    Asm a(0x100);
    a.Nop().Nop().Nop().Nop().Nop().Nop().Ei(); // EI at T = 24
    a.JrSelf(0);
    a.LoadInto(z);
    z.PC = 0x100;
    z.SP = 0x8000;
    z.IM = 1;
    RunFrames(rig.E(), 1);
    EXPECT_EQ(z.Memory[Counter], 0);
    while (z.TStates < 100) FramePass(rig.E());
    EXPECT_EQ(z.Memory[Counter], 1);
}

TEST(FrameLoop, HaltSkipsToTheFrameEnd) {
    Rig rig;
    Z80State& z = rig.Z();
    LoadCountingHandler(z);
    Asm a(0x100);
    a.Ei().Halt().JrSelf(1); // EI; loop: HALT; JR loop
    a.LoadInto(z);
    z.PC = 0x100;
    z.SP = 0x8000;
    z.IM = 1;
    const int passes = RunFrames(rig.E(), 10);
    // Per frame: the interrupt, the handler's five instructions, JR and HALT.
    EXPECT_LE(passes, 10 * 8 + 3);
    // The new frame's interrupt, then the handler's count.
    for (int i = 0; i < 4; ++i) FramePass(rig.E());
    EXPECT_EQ(z.Memory[Counter], 11);
    // Every frame end rendered its frame: 10 frames of 882 output frames.
    EXPECT_NEAR(rig.C().Cursor.OutputCount / 2, 10 * 44100 / 50, 1);
}

TEST(FrameLoop, FrameEndMovesTheRenderedInstantBackWithT) {
    Rig rig;
    Z80State& z = rig.Z();
    z.PC = 0x100; // NOP
    rig.RenderTo(69000);
    const uint32_t fraction = rig.C().Cursor.TickFraction;
    z.TStates = 69887;
    FramePass(rig.E());
    EXPECT_EQ(z.TStates, 3);
    EXPECT_EQ(rig.C().Cursor.LastSynthTState, 3);
    EXPECT_EQ(rig.C().Cursor.TicksToRender, (891 * SpectrumTicksPerTState + fraction) >> 32);

    // With the buffer full nothing renders and the instant just moves back.
    Rig full;
    full.Z().PC = 0x100;
    full.RenderTo(69000);
    full.C().Cursor.OutputCount = BufferValues;
    full.Z().TStates = 69887;
    FramePass(full.E());
    EXPECT_EQ(full.Z().TStates, 3);
    EXPECT_EQ(full.C().Cursor.LastSynthTState, 69000 - FrameTStates);
}

namespace {

// A Spectrum player: set up the chip, then EI and HALT in a loop; the IM 1
// handler rewrites a register every frame and toggles the beeper.
void LoadBusySpectrumProgram(Z80State& z) {
    Asm h(0x38);
    h.LdAFromMem(Counter).IncA().LdMemFromA(Counter);
    h.Bytes({0x57}); // LD D,A
    h.LdBC(0xFFFD);
    h.LdA(2).OutCA().LdB(0xBF).Bytes({0xED, 0x51}); // select R2, OUT (C),D
    h.Bytes({0x7A, 0xE6, 0x10}).OutNA(0xFE);        // LD A,D; AND 0x10; OUT (0xFE),A
    h.Ei().Ret();
    h.LoadInto(z);
    Asm a(0x100);
    a.SpectrumWrite(Mixer, 0x38)
        .SpectrumWrite(VolumeA, 15)
        .SpectrumWrite(VolumeB, 0x10)
        .SpectrumWrite(ToneFineA, 90);
    a.SpectrumWrite(EnvelopeFine, 3).SpectrumWrite(EnvelopeShape, 10).SpectrumWrite(VolumeC, 12);
    a.Ei().Halt().JrSelf(1);
    a.LoadInto(z);
    z.PC = 0x100;
    z.SP = 0x8000;
    z.IM = 1;
}

// Runs `program` (at 0x100, with an EI; RET handler in IM 1) for two full
// buffers and returns their samples.
std::vector<int16_t> TwoBuffersOf(Rig& rig, const Asm& program) {
    Z80State& z = rig.Z();
    Asm h(0x38);
    h.Ei().Ret();
    h.LoadInto(z);
    program.LoadInto(z);
    z.PC = 0x100;
    z.SP = 0x8000;
    std::vector<int16_t> all;
    for (int b = 0; b < 2; ++b) {
        MakeBuffer(rig.E());
        EXPECT_EQ(rig.C().Cursor.OutputCount, BufferValues);
        all.insert(all.end(), rig.Buffer1.begin(), rig.Buffer1.end());
    }
    return all;
}

} // namespace

TEST(MakeBuffer, EveryBufferIsFullAndTheSoundContinuesAcrossThem) {
    chiptest::EquivalenceRunner run;
    run.Both([](Rig& r) { LoadBusySpectrumProgram(r.Z()); });
    bool endedInsideASpan = false;
    for (int b = 0; b < 8; ++b) {
        ASSERT_TRUE(run.Play(1));
        endedInsideASpan |= run.Fast.C().Cursor.BufferFull != 0;
    }
    EXPECT_TRUE(endedInsideASpan);
    EXPECT_EQ(run.Fast.C().Machine.OutHandler, OutSpectrum);
    // 8 buffers are 2.96 s: 148 frames, one interrupt each.
    EXPECT_NEAR(run.Fast.Z().Memory[Counter], 148, 1);
}

TEST(MakeBuffer, SpectrumToneHasItsPeriodInSamples) {
    Rig rig;
    Z80State& z = rig.Z();
    Asm a(0x100);
    a.SpectrumWrite(ToneFineA, 100).SpectrumWrite(Mixer, 0x3E).SpectrumWrite(VolumeA, 15);
    // Read R7 back through the select port, and the ULA port (nothing there).
    a.LdBC(0xFFFD).LdA(7).OutCA().InAC().LdMemFromA(0x9001);
    a.LdA(0x7F).InAN(0xFE).LdMemFromA(0x9002);
    a.Im1().Ei().Halt().JrSelf(1);
    const std::vector<int16_t> all = TwoBuffersOf(rig, a);
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(z.Memory[0x9001], 0x3E);
    EXPECT_EQ(z.Memory[0x9002], 0xFF);
    // 221675 / 200 = 1108.375 Hz: 39.788 output frames per period.
    const auto [period, edges] = RisingEdges(all, 8192);
    EXPECT_NEAR(period, 44100.0 / 1108.375, 0.02);
    EXPECT_NEAR(edges, 2 * 16320 / (44100.0 / 1108.375), 2);
    for (size_t i = 0; i < all.size(); i += 2) {
        ASSERT_GE(all[i], 0);
        ASSERT_LE(all[i], 16383);
        ASSERT_LE(all[i + 1], 5461);
    }
}

TEST(MakeBuffer, CpcSongIsDetectedAndClockedAtOneMegahertz) {
    Rig rig;
    Asm a(0x100);
    a.CpcWrite(ToneFineA, 100).CpcWrite(Mixer, 0x3E).CpcWrite(VolumeA, 15);
    a.Im1().Ei().Halt().JrSelf(1);
    const std::vector<int16_t> all = TwoBuffersOf(rig, a);
    ASSERT_FALSE(HasFailure());
    const ChipState& c = rig.C();
    EXPECT_EQ(c.Machine.OutHandler, OutCpc);
    EXPECT_EQ(c.Machine.TicksPerTState, CpcTicksPerTState);
    EXPECT_EQ(c.Machine.TicksPerSample, CpcTicksPerSample);
    EXPECT_EQ(c.Registers.Values[ToneFineA], 100);
    EXPECT_EQ(c.Registers.Values[Mixer], 0x3E);
    EXPECT_EQ(c.Registers.Values[VolumeA], 15);
    EXPECT_EQ(c.Beeper.Level, 0);
    // 125000 / 200 = 625 Hz: 70.56 output frames per period.
    const auto [period, edges] = RisingEdges(all, 8192);
    EXPECT_NEAR(period, 44100.0 / 625, 0.05);
    EXPECT_GT(edges, 400);
}

TEST(MakeBuffer, StartPlaybackResetsChipAndProcessor) {
    Rig rig;
    LoadBusySpectrumProgram(rig.Z());
    MakeBuffer(rig.E());
    rig.Z().IFF1 = 1;
    rig.Z().IM = 2;
    StartPlayback(rig.E(), rig.Buffer2.data());
    EXPECT_EQ(rig.C().Machine.OutHandler, OutAuto);
    EXPECT_EQ(rig.C().Cursor.OutputBuffer, rig.Buffer2.data());
    EXPECT_EQ(rig.C().Registers.Values[VolumeA], 0);
    EXPECT_EQ(rig.Z().TStates, 0);
    EXPECT_EQ(rig.Z().IFF1, 0);
    EXPECT_EQ(rig.Z().IM, 0);
}
