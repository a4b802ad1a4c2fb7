// The step as the frame loop drives it: interrupt acceptance and its window,
// the delay after EI, HALT, repeating block instructions, prefix chains and
// the refresh count across all of them; and the runner of a processor alone
// (RunPassesUntil) against the same passes one by one.
#include "z80_state_diff.h"
#include "z80_test_util.h"

namespace {

using z80test::Machine;

TEST(Interrupts, InstructionAfterEIRunsBeforeTheInterrupt) {
    for (int32_t start : {0, 10}) {
        Machine m;
        m.S.SP = 0x8000;
        m.S.TStates = start;
        m.Load(0x1000, {0xFB, 0x00, 0x00}); // EI; NOP
        bool accepted = true;
        m.Pass(&accepted);
        EXPECT_FALSE(accepted);
        EXPECT_EQ(m.S.EIDelay, 1);
        m.Pass(&accepted);
        EXPECT_FALSE(accepted) << "NOP at T=" << start + 4 << " must run first";
        EXPECT_EQ(m.S.TStates, start + 8);
        m.Pass(&accepted);
        EXPECT_TRUE(accepted);
        EXPECT_EQ(m.S.TStates, start + 8 + 12); // accepted at T = start + 8
        EXPECT_EQ(ReadWord(m.S, 0x7FFE), 0x1002);
        EXPECT_EQ(m.S.PC, 0x0038);
        EXPECT_EQ(m.S.IFF1, 0);
    }
}

TEST(Interrupts, WindowIsTheFirst21TStates) {
    for (int32_t t : {0, 20, 21, 69887}) {
        Machine m;
        m.S.IFF1 = 1;
        m.S.TStates = t;
        m.Load(0x1000, {0x00});
        bool accepted;
        m.Pass(&accepted);
        EXPECT_EQ(accepted, t < 21) << t;
    }
}

TEST(Interrupts, AcceptanceByMode) {
    struct Case {
        int32_t Mode;
        uint8_t I;
        uint16_t VectorAt;
        uint16_t WantPC;
        int32_t WantT;
    };
    const Case cases[] = {
        {0, 0x3F, 0, 0x0038, 12},
        {1, 0x3F, 0, 0x0038, 12},
        {2, 0x3F, 0x3FFF, 0x4321, 18},
        {2, 0x3B, 0x3BFF, 0x4321, 18},
    };
    for (const Case& c : cases) {
        Machine m;
        m.S.IM = c.Mode;
        m.S.I = c.I;
        m.S.IFF1 = 1;
        m.S.EIDelay = 1; // acceptance leaves it alone
        m.S.SP = 0x8000;
        m.S.PC = 0x1234;
        if (c.VectorAt) WriteWord(m.S, c.VectorAt, 0x4321);
        EXPECT_EQ(AcceptInterrupt(m.S), c.WantT);
        EXPECT_EQ(m.S.PC, c.WantPC) << "IM " << c.Mode;
        EXPECT_EQ(m.S.SP, 0x7FFE);
        EXPECT_EQ(ReadWord(m.S, 0x7FFE), 0x1234);
        EXPECT_EQ(m.S.IFF1, 0);
        EXPECT_EQ(m.S.EIDelay, 1);
    }
    // The vector at 0xFFFF takes its high byte from the mirror byte, and a
    // push at SP = 0x0001 puts its high byte there.
    Machine m;
    m.S.IM = 2;
    m.S.I = 0xFF;
    m.S.Memory[0xFFFF] = 0x21;
    m.S.MirrorByte() = 0x43;
    m.S.Memory[0x0000] = 0x99;
    m.S.SP = 0x8000;
    AcceptInterrupt(m.S);
    EXPECT_EQ(m.S.PC, 0x4321);
    m.S.SP = 0x0001;
    m.S.PC = 0xABCD;
    AcceptInterrupt(m.S);
    EXPECT_EQ(m.S.Memory[0xFFFF], 0xCD);
    EXPECT_EQ(m.S.MirrorByte(), 0xAB);
    EXPECT_EQ(m.S.Memory[0x0000], 0x99);
}

TEST(Halt, WithInterruptsEnabledRunsToTheFrameEnd) {
    struct Case {
        int32_t T, Want, TAfter;
    };
    const Case cases[] = {
        {1000, 68888, 0}, // already a multiple of 4
        {1001, 68888, 1}, // 68887 raised to a multiple of 4
        {10, 4, 14},      // the window is still ahead: t = 14 < 21
        {16, 4, 20},      // t = 20
        {17, 69872, 1},   // t = 21 is past the window
        {69867, 24, 3},   // distance 21 raised to 24
        {69884, 4, 0},    // t = 69888 wraps to 0
        {69886, 4, 2},    // t wraps to 2
    };
    for (const Case& c : cases) {
        Machine m;
        m.S.IFF1 = 1;
        m.S.EIDelay = 1; // the HALT runs; its pass clears the delay
        m.S.SP = 0x8000;
        m.S.TStates = c.T;
        m.Load(0x1000, {0x76});
        EXPECT_EQ(m.Pass(), c.Want) << "T=" << c.T;
        EXPECT_EQ(m.S.TStates, c.TAfter) << "T=" << c.T;
        EXPECT_EQ(m.S.PC, 0x1001);
        bool accepted;
        m.Pass(&accepted); // the interrupt pushes the address after the HALT
        EXPECT_TRUE(accepted) << "T=" << c.T;
        EXPECT_EQ(ReadWord(m.S, m.S.SP), 0x1001);
    }
}

TEST(Halt, WithInterruptsDisabledStaysForever) {
    Machine m;
    m.S.R = 0x70;
    m.Load(0x1000, {0xF3, 0x76}); // DI; HALT
    m.Pass();
    for (int i = 1; i <= 100; ++i) {
        EXPECT_EQ(m.Pass(), 4);
        ASSERT_EQ(m.S.PC, 0x1001);
    }
    EXPECT_EQ(m.S.TStates, 4 + 400);
    EXPECT_EQ(m.S.R, (0x70 + 101) & 0x7F);
    // DD 76 is a HALT as well, 4 more T-states per pass.
    m.Load(0x2000, {0xDD, 0x76});
    EXPECT_EQ(m.Pass(), 8);
    EXPECT_EQ(m.S.PC, 0x2001);
    EXPECT_EQ(m.Pass(), 4); // PC stays on the HALT, so it is the plain HALT now
}

TEST(BlockRepeat, LdirRepeatsOncePerPassAndLetsTheInterruptIn) {
    Machine m;
    Z80State& s = m.S;
    s.SP = 0x8000;
    s.IFF1 = 1;
    s.IM = 1;
    s.R = 0;
    s.TStates = FrameTStates - 21 - 5; // the frame ends during the second pass
    m.SetBC(3);
    m.SetHL(0x4000);
    m.SetDE(0x5000);
    s.Memory[0x4000] = 1, s.Memory[0x4001] = 2, s.Memory[0x4002] = 3;
    s.Memory[0x0038] = 0xC9; // RET
    m.Load(0x1000, {0xED, 0xB0});
    EXPECT_EQ(m.Pass(), 21);
    EXPECT_EQ(s.PC, 0x1000);
    EXPECT_EQ(s.R, 2);
    EXPECT_EQ(m.Pass(), 21);
    EXPECT_EQ(s.R, 4);
    EXPECT_EQ(s.TStates, 16);
    bool accepted;
    m.Pass(&accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(ReadWord(s, s.SP), 0x1000); // back onto the LDIR
    m.Pass();                             // RET
    EXPECT_EQ(m.Pass(), 16);
    EXPECT_EQ(s.PC, 0x1002);
    EXPECT_EQ(s.R, 8);
    EXPECT_EQ(m.BC(), 0);
    EXPECT_EQ(s.Memory[0x5000], 1);
    EXPECT_EQ(s.Memory[0x5001], 2);
    EXPECT_EQ(s.Memory[0x5002], 3);
    EXPECT_EQ(s.Memory[0x5003], 0);
}

TEST(PrefixChains, DDDDKeepsTheInterruptOut) {
    // EI; DD DD 21 34 12: the dropped DD sets the delay again, so the pass
    // after it still runs an instruction although T is inside the window.
    Machine m;
    m.S.SP = 0x8000;
    m.Load(0x1000, {0xFB, 0xDD, 0xDD, 0x21, 0x34, 0x12});
    m.Pass();
    bool accepted;
    EXPECT_EQ(m.Pass(&accepted), 4);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(m.S.EIDelay, 1);
    EXPECT_EQ(m.S.PC, 0x1002);
    EXPECT_EQ(m.Pass(&accepted), 14);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(m.S.IX, 0x1234);
    EXPECT_EQ(m.S.TStates, 22);
}

TEST(PrefixChains, DroppedPrefixThenTheInstruction) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
        uint16_t IX, IY; // after both passes
        int32_t Second;  // T-states of the second pass
    };
    const Case cases[] = {
        {"FD DD 21", {0xFD, 0xDD, 0x21, 0x34, 0x12}, 0x1234, 0x0000, 14},
        {"DD FD 21", {0xDD, 0xFD, 0x21, 0x34, 0x12}, 0x0000, 0x1234, 14},
        {"FD FD 21", {0xFD, 0xFD, 0x21, 0x34, 0x12}, 0x0000, 0x1234, 14},
        {"DD ED 44", {0xDD, 0xED, 0x44}, 0x0000, 0x0000, 8},
    };
    for (const Case& c : cases) {
        Machine m;
        m.AF().A = 1;
        m.Load(0x1000, c.Code);
        EXPECT_EQ(m.Pass(), 4) << c.Name;
        EXPECT_EQ(m.S.PC, 0x1001) << c.Name;
        EXPECT_EQ(m.Pass(), c.Second) << c.Name;
        EXPECT_EQ(m.S.IX, c.IX) << c.Name;
        EXPECT_EQ(m.S.IY, c.IY) << c.Name;
    }
    // DD FD and DD ED leave no delay: an interrupt may come in between.
    for (uint8_t second : {0xFD, 0xED}) {
        Machine m;
        m.S.SP = 0x8000;
        m.S.IFF1 = 1;
        m.S.EIDelay = 1;
        m.Load(0x1000, {0xDD, second, 0x00});
        m.Pass();
        bool accepted;
        m.Pass(&accepted);
        EXPECT_TRUE(accepted) << std::hex << int(second);
        EXPECT_EQ(ReadWord(m.S, 0x7FFE), 0x1001);
    }
}

TEST(PrefixChains, DDEDB0RunsLdirAfterTheDroppedPrefix) {
    Machine m;
    m.SetBC(1);
    m.SetHL(0x4000);
    m.SetDE(0x5000);
    m.S.Memory[0x4000] = 0xAA;
    m.Load(0x1000, {0xDD, 0xED, 0xB0});
    EXPECT_EQ(m.Pass(), 4);
    EXPECT_EQ(m.Pass(), 16);
    EXPECT_EQ(m.S.Memory[0x5000], 0xAA);
    EXPECT_EQ(m.S.PC, 0x1003);
}

// The refresh count: one per pass, one more per CB, ED, DD or FD prefix,
// none for the index-CB step, and a dropped DD before DD counted once.
TEST(Refresh, CountsAcrossPrefixesRepeatsHaltAndInterrupts) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
        int Passes;
        int Want;
        uint8_t IFF1 = 0;
        int32_t T = 100;
    };
    const Case cases[] = {
        {"NOP", {0x00}, 1, 1},
        {"CB 00", {0xCB, 0x00}, 1, 2},
        {"ED 44", {0xED, 0x44}, 1, 2},
        {"ED 00", {0xED, 0x00}, 1, 2},
        {"DD 21", {0xDD, 0x21, 0, 0}, 1, 2},
        {"DD 00", {0xDD, 0x00}, 1, 2},
        {"DD CB d 06", {0xDD, 0xCB, 5, 0x06}, 1, 2},
        {"FD CB d C6", {0xFD, 0xCB, 5, 0xC6}, 1, 2},
        {"DD DD 21", {0xDD, 0xDD, 0x21, 0, 0}, 2, 3},
        {"DD DD DD 21", {0xDD, 0xDD, 0xDD, 0x21, 0, 0}, 3, 4},
        {"FD DD 21", {0xFD, 0xDD, 0x21, 0, 0}, 2, 3},
        {"DD FD 21", {0xDD, 0xFD, 0x21, 0, 0}, 2, 4},
        {"DD ED 44", {0xDD, 0xED, 0x44}, 2, 4},
        {"LDIR x3", {0xED, 0xB0}, 3, 6},
        {"DI HALT x5", {0x76}, 5, 5},
        {"HALT to the frame end", {0x76}, 1, 1, 1, 1000},
        {"interrupt", {0x00}, 1, 1, 1, 0},
    };
    for (const Case& c : cases) {
        Machine m;
        m.S.R = 0xF0;
        m.S.RBit7 = 0x80;
        m.S.IFF1 = c.IFF1;
        m.S.TStates = c.T;
        m.S.SP = 0x8000;
        m.SetBC(3);
        m.Load(0x1000, c.Code);
        for (int i = 0; i < c.Passes; ++i) m.Pass();
        EXPECT_EQ(m.S.R, 0x80 | ((0xF0 + c.Want) & 0x7F)) << c.Name;
    }
}

TEST(Refresh, LoadRKeepsBit7ApartFromTheCount) {
    struct Case {
        uint8_t A, AfterNextPass;
    };
    for (const Case c : {Case{0x7F, 0x00}, Case{0xFF, 0x80}, Case{0x80, 0x81}}) {
        Machine m;
        m.AF().A = c.A;
        m.Load(0x1000, {0xED, 0x4F, 0x00}); // LD R,A; NOP
        m.Pass();
        EXPECT_EQ(m.S.R, c.A);
        EXPECT_EQ(m.S.RBit7, c.A & 0x80);
        m.Pass();
        EXPECT_EQ(m.S.R, c.AfterNextPass) << std::hex << int(c.A);
    }
    // LD A,R sees both of its own increments.
    Machine m;
    m.S.R = 0x90;
    m.S.RBit7 = 0x80;
    m.Load(0x1000, {0xED, 0x5F});
    m.Pass();
    EXPECT_EQ(m.AF().A, 0x92);
}

// RunPassesUntil keeps PC, R, EIDelay and the T-state count in locals and
// hands them over around prefixes, port instructions and HALT; it must leave
// the processor and the ports exactly as passes one by one do, take no
// interrupt even with IFF1 set inside the window, and stop at a frame end
// and before either address (but run the pass at which it starts).
TEST(RunPassesUntil, RunsAsPassByPassWithoutInterrupts) {
    constexpr uint16_t Call = 0x2000, Exit = 0x0000;
    Machine run, byPasses;
    for (Machine* m : {&run, &byPasses}) {
        Z80State& z = m->S;
        z.SP = 0xF000;
        z.IY = 0x9000;
        z.TStates = FrameTStates - 40; // a frame end, then the window, with IFF1 set
        m->Load(Call, {0xC9});         // RET
        m->Load(0x0100, {
                            0xFB,                               // EI
                            0x3E, 0x85, 0xED, 0x4F,             // LD A,0x85; LD R,A
                            0xDD, 0xDD, 0x21, 0x34, 0x12,       // DD DD LD IX,nn
                            0xFD, 0xCB, 0x01, 0x06,             // RLC (IY+1)
                            0xCB, 0x07, 0xED, 0x5F,             // RLC A; LD A,R
                            0x01, 0xFE, 0x00,                   // LD BC,0x00FE
                            0xED, 0x79, 0xED, 0x78,             // OUT (C),A; IN A,(C)
                            0xD3, 0xFE, 0xDB, 0xFE,             // OUT (n),A; IN A,(n)
                            0x06, 0x20, 0x10, 0xFE,             // LD B,0x20; DJNZ $
                            0x76,                               // HALT: on to the frame end
                            0xCD, 0x00, 0x20,                   // CALL Call
                            0x21, 0x00, 0x30, 0x11, 0x00, 0x40, // LD HL,..; LD DE,..
                            0x01, 0x10, 0x00, 0xED, 0xB0,       // LD BC,16; LDIR
                            0xC3, 0x00, 0x00,                   // JP Exit
                        });
    }
    int stops = 0;
    while (run.S.PC != Exit && stops < 100) {
        ++stops;
        RunPassesUntil(run.S, Call, Exit);
        do {
            byPasses.S.TStates += byPasses.Step();
        } while (byPasses.S.TStates < FrameTStates && byPasses.S.PC != Call &&
                 byPasses.S.PC != Exit);
        ASSERT_EQ(z80test::Diff(run.S, byPasses.S), "") << "stop " << stops;
        for (Machine* m : {&run, &byPasses})
            if (m->S.TStates >= FrameTStates) m->S.TStates -= FrameTStates;
    }
    EXPECT_EQ(stops, 4); // the frame end, Call, the HALT's frame end, Exit
    EXPECT_EQ(run.Ports.Outs, byPasses.Ports.Outs);
    EXPECT_EQ(run.Ports.Ins, byPasses.Ports.Ins);
    EXPECT_EQ(run.S.IFF1, 1);
}

} // namespace
