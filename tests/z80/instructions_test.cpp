// Single instructions whose effect is easy to get wrong: the worked cases of
// the flag rules, DAA, NEG, LD A,I/R, 16-bit ADC/SBC, RLD/RRD, the block
// instructions, the ED entries that do nothing, the index halves and the
// index-CB forms, and the control-flow family.
#include "z80_reference.h"
#include "z80_state_diff.h"

namespace {

using namespace z80test;

int32_t Exec(Machine& m, std::initializer_list<uint8_t> code) {
    m.Load(0x1000, code);
    return ExecuteInstruction(m.S);
}

TEST(WorkedCases, EightBitFlagRules) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
        uint8_t A, B, F, WantA, WantF;
    };
    const Case cases[] = {
        {"ADD A,B", {0x80}, 0x7F, 0x01, 0x28, 0x80, 0x94},
        {"ADC A,B folds C into 0xFF", {0x88}, 0x10, 0xFF, 0x29, 0x10, 0x00},
        {"SBC A,B folds C into 0xFF", {0x98}, 0x10, 0xFF, 0x01, 0x10, 0x02},
        {"SBC A,A with C", {0x9F}, 0x10, 0x00, 0x01, 0xFF, 0x93},
        {"SBC A,A without C", {0x9F}, 0x10, 0x00, 0x00, 0x00, 0x42},
        {"SBC A,n with n = A = 0xFF folds", {0xDE, 0xFF}, 0xFF, 0x00, 0x01, 0xFF, 0x82},
        {"CP n equal", {0xFE, 0x40}, 0x40, 0x00, 0x00, 0x40, 0x42},
        {"CP n does not copy bits 5, 3", {0xFE, 0x28}, 0x28, 0x00, 0x00, 0x28, 0x42},
        {"AND n giving 0", {0xE6, 0x0F}, 0xF0, 0x00, 0xFF, 0x00, 0x7C},
        {"XOR A", {0xAF}, 0x5A, 0x00, 0xFF, 0x00, 0x6C},
        {"INC A from 0xFF", {0x3C}, 0xFF, 0x00, 0x01, 0x00, 0x51},
        {"DEC B from 0x80", {0x05}, 0x00, 0x80, 0x00, 0x00, 0x16},
        {"DAA to 0x15", {0x27}, 0x0F, 0x00, 0x00, 0x15, 0x10},
        {"DAA to 0x00", {0x27}, 0x9A, 0x00, 0x00, 0x00, 0x55},
        {"DAA after subtraction", {0x27}, 0x03, 0x00, 0x12, 0xFD, 0x93},
        {"CCF with C, H clear", {0x3F}, 0x00, 0x00, 0x03, 0x00, 0x00},
        {"CCF keeps H", {0x3F}, 0x00, 0x00, 0x10, 0x00, 0x11},
        {"SCF", {0x37}, 0x00, 0x00, 0xFF, 0x00, 0xED},
        {"RLC B", {0xCB, 0x00}, 0x00, 0x80, 0x00, 0x00, 0x01},
        {"RL A", {0xCB, 0x17}, 0x80, 0x00, 0x00, 0x00, 0x45},
        {"SLL B", {0xCB, 0x30}, 0x00, 0x80, 0x00, 0x00, 0x01},
        {"BIT 7,H", {0xCB, 0x7C}, 0x00, 0x00, 0x00, 0x00, 0x10},
        {"NEG 0x80", {0xED, 0x44}, 0x80, 0x00, 0x00, 0x80, 0x87},
        {"NEG 0", {0xED, 0x44}, 0x00, 0x00, 0x00, 0x00, 0x42},
    };
    for (const Case& c : cases) {
        Machine m;
        m.AF() = {c.F, c.A};
        m.Reg().B = c.B;
        m.Reg().H = 0x80;
        Exec(m, c.Code);
        EXPECT_EQ(m.AF().A, c.WantA) << c.Name;
        EXPECT_EQ(m.AF().F, c.WantF) << c.Name;
    }
}

TEST(WorkedCases, SixteenBitArithmetic) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
        uint16_t HL, Operand;
        uint8_t F;
        uint16_t WantHL;
        uint8_t WantF;
    };
    const Case cases[] = {
        {"SBC HL,DE", {0xED, 0x52}, 0x0010, 0x0001, 0x00, 0x000F, 0x12},
        {"ADC HL,BC overflow", {0xED, 0x4A}, 0x7FFF, 0x0000, 0x01, 0x8000, 0x94},
        {"ADC HL,BC folds C into 0xFFFF", {0xED, 0x4A}, 0x1234, 0xFFFF, 0x29, 0x1234, 0x00},
        {"SBC HL,BC to zero", {0xED, 0x42}, 0x1234, 0x1233, 0x01, 0x0000, 0x42},
        {"ADD HL,DE keeps H", {0x19}, 0x0FFF, 0x0001, 0xC4, 0x1000, 0xC4},
        {"ADD HL,DE carries", {0x19}, 0xFFFF, 0x0001, 0xFB, 0x0000, 0xF9},
    };
    for (const Case& c : cases) {
        Machine m;
        m.AF().F = c.F;
        m.SetHL(c.HL);
        m.SetBC(c.Operand);
        m.SetDE(c.Operand);
        EXPECT_EQ(Exec(m, c.Code), c.Code.size() == 1 ? 11 : 15) << c.Name;
        EXPECT_EQ(m.HL(), c.WantHL) << c.Name;
        EXPECT_EQ(m.AF().F, c.WantF) << c.Name;
    }
    // ADD IX,BC wrapping: only N and C change.
    Machine m;
    m.S.IX = 0xFFFF;
    m.SetBC(1);
    m.AF().F = 0x50; // Z and H set beforehand
    EXPECT_EQ(Exec(m, {0xDD, 0x09}), 15);
    EXPECT_EQ(m.S.IX, 0);
    EXPECT_EQ(m.AF().F, 0x51);
}

TEST(EDPage, LoadAFromIAndR) {
    Machine m;
    m.S.IFF1 = 1;
    m.S.I = 0;
    m.AF() = {0x01, 0x77};
    Exec(m, {0xED, 0x57}); // LD A,I
    EXPECT_EQ(m.AF().A, 0);
    EXPECT_EQ(m.AF().F, 0x45);

    Machine r;
    r.S.R = 0xA6; // two increments before the read give 0xA8
    r.S.RBit7 = 0x80;
    r.AF().F = 0xFF;
    r.Load(0x1000, {0xED, 0x5F}); // LD A,R
    r.Step();
    EXPECT_EQ(r.AF().A, 0xA8);
    EXPECT_EQ(r.AF().F, 0xA9); // S, 5, 3 from the value; Z, H, N, P/V (IFF1 = 0) clear; C kept
}

TEST(EDPage, RldRrdClearTheUpperNibbleOfAAndKeepF) {
    for (uint8_t op : {0x6F, 0x67}) {
        Machine m;
        m.AF() = {0xD7, 0x12};
        m.SetHL(0x4000);
        m.S.Memory[0x4000] = 0x34;
        EXPECT_EQ(Exec(m, {0xED, op}), 18);
        EXPECT_EQ(m.S.Memory[0x4000], op == 0x6F ? 0x42 : 0x23);
        EXPECT_EQ(m.AF().A, op == 0x6F ? 0x03 : 0x04);
        EXPECT_EQ(m.AF().F, 0xD7);
    }
}

TEST(EDPage, InterruptModesReturnsAndLoadI) {
    const struct {
        uint8_t Op;
        int32_t Mode;
    } modes[] = {{0x46, 0}, {0x4E, 0}, {0x66, 0}, {0x6E, 0},
                 {0x56, 1}, {0x76, 1}, {0x5E, 2}, {0x7E, 2}};
    for (const auto& c : modes) {
        Machine m;
        m.S.IM = 3; // neither of the three, so that IM 0 shows too
        Exec(m, {0xED, c.Op});
        EXPECT_EQ(m.S.IM, c.Mode) << std::hex << int(c.Op);
    }
    // RETN and RETI pop PC and leave IFF1 as it is.
    for (uint8_t op : {0x45, 0x4D})
        for (uint8_t iff : {0, 1}) {
            Machine m;
            m.S.IFF1 = iff;
            m.S.SP = 0x8000;
            WriteWord(m.S, 0x8000, 0x4321);
            EXPECT_EQ(Exec(m, {0xED, op}), 14);
            EXPECT_EQ(m.S.PC, 0x4321);
            EXPECT_EQ(m.S.SP, 0x8002);
            EXPECT_EQ(m.S.IFF1, iff);
        }
    Machine m;
    m.AF().A = 0x3B;
    Exec(m, {0xED, 0x47});
    EXPECT_EQ(m.S.I, 0x3B);
}

// Every ED opcode that is not an instruction here changes nothing but PC and
// R, among them the manual's NEG, RETN and IN/OUT copies.
TEST(EDPage, EntriesThatDoNothing) {
    auto isNothing = [](int op) {
        if (op < 0x40 || (op >= 0x80 && op < 0xA0) || op >= 0xC0) return true;
        if (op >= 0xA0) return (op & 0x04) != 0; // A4-A7, AC-AF, B4-B7, BC-BF
        const int lo = op & 7;
        if (lo == 4) return op != 0x44;               // NEG copies
        if (lo == 5) return op != 0x45 && op != 0x4D; // RETN copies
        return op == 0x77 || op == 0x7F || op == 0x70 || op == 0x71;
    };
    int checked = 0;
    for (int op = 0; op < 256; ++op) {
        if (!isNothing(op)) continue;
        Machine m;
        m.AF() = {0xA5, 0x5A};
        m.SetBC(0x0102), m.SetDE(0x0304), m.SetHL(0x0506);
        m.S.SP = 0x8000, m.S.IX = 0x1111, m.S.IY = 0x2222, m.S.I = 0x33, m.S.IM = 1;
        m.Load(0x1000, {0xED, static_cast<uint8_t>(op)});
        auto want = std::make_unique<Z80State>(m.S);
        want->PC = 0x1002;
        RefreshIncrement(*want);
        EXPECT_EQ(ExecuteInstruction(m.S), op == 0x70 ? 12 : 8) << std::hex << op;
        EXPECT_EQ(Diff(m.S, *want), "") << "ED " << std::hex << op;
        EXPECT_TRUE(m.Ports.Outs.empty() && m.Ports.Ins.empty()) << std::hex << op;
        ++checked;
    }
    // 0x00-0x3F, 0x80-0x9F, 0xC0-0xFF, 16 in A0-BF, 7 + 6 copies, 70, 71, 77, 7F
    EXPECT_EQ(checked, 64 + 32 + 64 + 16 + 13 + 4);
}

TEST(BlockInstructions, LdiLddFlagsAndDirection) {
    for (uint8_t op : {0xA0, 0xA8}) {
        for (uint16_t bc : {1, 2}) {
            Machine m;
            m.AF().F = 0xFF & ~FlagPV;
            m.SetHL(0x4000), m.SetDE(0x5000), m.SetBC(bc);
            m.S.Memory[0x4000] = 0x99;
            EXPECT_EQ(Exec(m, {0xED, op}), 16);
            const int step = op == 0xA0 ? 1 : -1;
            EXPECT_EQ(m.S.Memory[0x5000], 0x99);
            EXPECT_EQ(m.HL(), 0x4000 + step);
            EXPECT_EQ(m.DE(), 0x5000 + step);
            EXPECT_EQ(m.BC(), bc - 1);
            // H, N cleared, P/V = (BC != 0), everything else kept.
            EXPECT_EQ(m.AF().F, 0xE9 | (bc == 2 ? FlagPV : 0)) << std::hex << int(op);
        }
    }
}

TEST(BlockInstructions, LdirWithBCZeroCopies65536Bytes) {
    Machine m;
    m.SetHL(0x4000), m.SetDE(0x4000), m.SetBC(0);
    m.Load(0x1000, {0xED, 0xB0});
    long passes = 0;
    while (m.S.PC == 0x1000 && passes < 70000) {
        const int32_t t = ExecuteInstruction(m.S);
        ++passes;
        ASSERT_EQ(t, m.S.PC == 0x1000 ? 21 : 16);
    }
    EXPECT_EQ(passes, 65536);
    EXPECT_EQ(m.BC(), 0);
    EXPECT_EQ(m.HL(), 0x4000);
    EXPECT_EQ(m.DE(), 0x4000);
}

TEST(BlockInstructions, LddrCopiesDownwards) {
    Machine m;
    m.SetHL(0x4002), m.SetDE(0x5002), m.SetBC(3);
    m.S.Memory[0x4000] = 1, m.S.Memory[0x4001] = 2, m.S.Memory[0x4002] = 3;
    m.Load(0x1000, {0xED, 0xB8});
    EXPECT_EQ(ExecuteInstruction(m.S), 21);
    EXPECT_EQ(m.S.PC, 0x1000);
    EXPECT_EQ(ExecuteInstruction(m.S), 21);
    EXPECT_EQ(ExecuteInstruction(m.S), 16);
    EXPECT_EQ(m.S.PC, 0x1002);
    EXPECT_EQ(m.S.Memory[0x5000], 1);
    EXPECT_EQ(m.S.Memory[0x5002], 3);
    EXPECT_EQ(m.HL(), 0x3FFF);
    EXPECT_EQ(m.DE(), 0x4FFF);
}

TEST(BlockInstructions, CompareRepeats) {
    {
        Machine m; // CPIR finds A at the first address
        m.AF() = {0x29, 0x42};
        m.SetHL(0x4000), m.SetBC(5);
        m.S.Memory[0x4000] = 0x42;
        EXPECT_EQ(Exec(m, {0xED, 0xB1}), 16);
        EXPECT_EQ(m.S.PC, 0x1002);
        EXPECT_EQ(m.AF().F, 0x29 | FlagZ | FlagPV | FlagN);
        EXPECT_EQ(m.HL(), 0x4001);
        EXPECT_EQ(m.BC(), 4);
    }
    for (uint8_t op : {0xB1, 0xB9}) { // CPIR, CPDR run BC down without a match
        Machine m;
        m.AF() = {0x29, 0x10};
        m.SetHL(0x4001), m.SetBC(3);
        const uint8_t bytes[] = {0x01, 0x01, 0x03, 0x03, 0x03}; // 0x3FFF..0x4003
        for (int i = 0; i < 5; ++i) m.S.Memory[0x3FFF + i] = bytes[i];
        m.Load(0x1000, {0xED, op});
        EXPECT_EQ(ExecuteInstruction(m.S), 21);
        EXPECT_EQ(ExecuteInstruction(m.S), 21);
        EXPECT_EQ(ExecuteInstruction(m.S), 16);
        EXPECT_EQ(m.S.PC, 0x1002);
        EXPECT_EQ(m.BC(), 0);
        EXPECT_EQ(m.HL(), op == 0xB1 ? 0x4004 : 0x3FFE);
        // Last compare 0x10 - 0x03 (CPIR) or 0x10 - 0x01 (CPDR): half borrow.
        EXPECT_EQ(m.AF().F, 0x29 | FlagH | FlagN) << std::hex << int(op);
    }
    {
        Machine m; // CPI with a negative difference: S and H from the compare, C kept
        m.AF() = {0x00, 0x00};
        m.SetHL(0x4000), m.SetBC(2);
        m.S.Memory[0x4000] = 0x01;
        Exec(m, {0xED, 0xA1});
        EXPECT_EQ(m.AF().F, FlagS | FlagH | FlagPV | FlagN);
    }
}

TEST(BlockInstructions, OutputRepeatsUseBBeforeTheDecrement) {
    {
        Machine m;
        m.AF().F = 0xFF & ~(FlagZ | FlagN);
        m.SetBC(0xC0FD), m.SetHL(0x4000);
        m.S.Memory[0x4000] = 0x5A;
        EXPECT_EQ(Exec(m, {0xED, 0xA3}), 16); // OUTI
        EXPECT_EQ(m.Ports.Outs.at(0), (PortCall{0xC0FD, 0x5A}));
        EXPECT_EQ(m.Reg().B, 0xBF);
        EXPECT_EQ(m.HL(), 0x4001);
        EXPECT_EQ(m.AF().F, 0xFF & ~FlagZ); // Z = (B = 0), N = 1, all else kept
    }
    {
        Machine m; // OTIR with B = 1: once, 16 T
        m.SetBC(0x01FD), m.SetHL(0x4000);
        EXPECT_EQ(Exec(m, {0xED, 0xB3}), 16);
        EXPECT_EQ(m.Ports.Outs.size(), 1u);
        EXPECT_EQ(m.AF().F, FlagZ | FlagN);
    }
    Machine m; // OTDR with B = 3
    m.SetBC(0x03FD), m.SetHL(0x4002);
    m.S.Memory[0x4000] = 1, m.S.Memory[0x4001] = 2, m.S.Memory[0x4002] = 3;
    m.Load(0x1000, {0xED, 0xBB});
    EXPECT_EQ(ExecuteInstruction(m.S), 21);
    EXPECT_EQ(ExecuteInstruction(m.S), 21);
    EXPECT_EQ(ExecuteInstruction(m.S), 16);
    const std::vector<PortCall> want = {{0x03FD, 3}, {0x02FD, 2}, {0x01FD, 1}};
    EXPECT_EQ(m.Ports.Outs, want);
    EXPECT_EQ(m.HL(), 0x3FFF);
    EXPECT_EQ(m.Reg().B, 0);
}

// (The half-register and (X+d) forms are swept in families_test.cpp.)
TEST(IndexPage, ForeignOpcodesAndIndexStackAndJumps) {
    {
        Machine m;
        m.S.IX = 0x1234;
        m.SetDE(0xAAAA), m.SetHL(0x5555);
        EXPECT_EQ(Exec(m, {0xDD, 0xEB}), 8); // EX DE,HL, IX takes no part
        EXPECT_EQ(m.DE(), 0x5555);
        EXPECT_EQ(m.HL(), 0xAAAA);
        EXPECT_EQ(m.S.IX, 0x1234);
    }
    {
        Machine m;
        m.AF() = {0x11, 0x22};
        EXPECT_EQ(Exec(m, {0xDD, 0x08}), 8); // EX AF,AF'
        EXPECT_EQ(m.S.AFRef, &m.S.AFStore2);
    }
    {
        Machine m; // PUSH IY, POP IX, EX (SP),IX, JP (IX), LD SP,IY
        m.S.SP = 0x8000;
        m.S.IY = 0xBEEF;
        EXPECT_EQ(Exec(m, {0xFD, 0xE5}), 15);
        EXPECT_EQ(Exec(m, {0xDD, 0xE1}), 14);
        EXPECT_EQ(m.S.IX, 0xBEEF);
        m.S.SP = 0x7000;
        WriteWord(m.S, 0x7000, 0x1357);
        EXPECT_EQ(Exec(m, {0xDD, 0xE3}), 23);
        EXPECT_EQ(m.S.IX, 0x1357);
        EXPECT_EQ(ReadWord(m.S, 0x7000), 0xBEEF);
        EXPECT_EQ(Exec(m, {0xFD, 0xF9}), 10);
        EXPECT_EQ(m.S.SP, 0xBEEF);
        EXPECT_EQ(Exec(m, {0xDD, 0xE9}), 8);
        EXPECT_EQ(m.S.PC, 0x1357);
    }
}

TEST(IndexCBPage, ResultGoesToMemoryAndTheNamedRegister) {
    {
        Machine m; // RLC (IX+5), and the same copied into B
        m.S.IX = 0x4000;
        m.S.Memory[0x4005] = 0x81;
        EXPECT_EQ(Exec(m, {0xDD, 0xCB, 0x05, 0x06}), 23);
        EXPECT_EQ(m.S.Memory[0x4005], 0x03);
        EXPECT_EQ(m.Reg().B, 0x00);
        EXPECT_EQ(Exec(m, {0xDD, 0xCB, 0x05, 0x00}), 23);
        EXPECT_EQ(m.S.Memory[0x4005], 0x06);
        EXPECT_EQ(m.Reg().B, 0x06);
        EXPECT_EQ(m.S.PC, 0x1004);
    }
    for (uint8_t op = 0x40; op <= 0x47; ++op) { // BIT 0,(IX-1), any low bits
        Machine m;
        m.S.IX = 0x4000;
        m.S.Memory[0x3FFF] = 0xFE;
        m.SetBC(0x1234);
        EXPECT_EQ(Exec(m, {0xDD, 0xCB, 0xFF, op}), 23);
        EXPECT_EQ(m.AF().F, FlagZ | FlagH) << std::hex << int(op);
        EXPECT_EQ(m.BC(), 0x1234);
        EXPECT_EQ(m.S.Memory[0x3FFF], 0xFE);
    }
    {
        Machine m; // SET 0,(IY) copied into B, then SET 7 copied into H
        m.S.IY = 0x4000;
        m.SetHL(0x1111);
        EXPECT_EQ(Exec(m, {0xFD, 0xCB, 0x00, 0xC0}), 23);
        EXPECT_EQ(m.S.Memory[0x4000], 0x01);
        EXPECT_EQ(m.Reg().B, 0x01);
        EXPECT_EQ(Exec(m, {0xFD, 0xCB, 0x00, 0xFC}), 23);
        EXPECT_EQ(m.S.Memory[0x4000], 0x81);
        EXPECT_EQ(m.HL(), 0x8111);
        EXPECT_EQ(m.S.IY, 0x4000);
    }
}

// Condition codes: NZ Z NC C PO PE P M test bits 6, 0, 2 and 7 of F.
bool Holds(int cc, uint8_t f) {
    static const uint8_t bits[] = {FlagZ, FlagC, FlagPV, FlagS};
    const bool set = (f & bits[cc >> 1]) != 0;
    return (cc & 1) ? set : !set;
}

TEST(ControlFlow, ConditionalJumpsCallsAndReturns) {
    for (int cc = 0; cc < 8; ++cc)
        for (int f : {0x00, 0xFF, 0x40, 0x01, 0x04, 0x80, 0xBE}) {
            const bool taken = Holds(cc, f);
            const uint8_t base = static_cast<uint8_t>(cc << 3);
            Machine m;
            m.S.SP = 0x8000;
            m.AF().F = f;
            Exec(m, {uint8_t(0xC2 | base), 0x00, 0x30}); // JP cc,0x3000
            EXPECT_EQ(m.S.PC, taken ? 0x3000 : 0x1003) << "JP " << cc << " F=" << int(f);
            EXPECT_EQ(Exec(m, {uint8_t(0xC4 | base), 0x00, 0x30}), taken ? 17 : 10); // CALL cc
            EXPECT_EQ(m.S.PC, taken ? 0x3000 : 0x1003);
            EXPECT_EQ(m.S.SP, taken ? 0x7FFE : 0x8000);
            if (taken) {
                EXPECT_EQ(ReadWord(m.S, 0x7FFE), 0x1003);
            }
            m.S.SP = 0x8000;
            WriteWord(m.S, 0x8000, 0x4444);
            EXPECT_EQ(Exec(m, {uint8_t(0xC0 | base)}), taken ? 11 : 5); // RET cc
            EXPECT_EQ(m.S.PC, taken ? 0x4444 : 0x1001);
            if (cc < 4) { // JR NZ, Z, NC, C
                Exec(m, {uint8_t(0x20 + (cc << 3)), 0x10});
                EXPECT_EQ(m.S.PC, taken ? 0x1012 : 0x1002);
            }
            EXPECT_EQ(m.AF().F, f);
        }
}

TEST(ControlFlow, JumpsRestartsAndLoops) {
    {
        Machine m; // JR -2 loops onto itself
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Exec(m, {0x18, 0xFE}), 12);
            EXPECT_EQ(m.S.PC, 0x1000);
        }
    }
    for (int p = 0; p < 8; ++p) { // RST p at 0x1234 pushes 0x1235
        Machine m;
        m.S.SP = 0x8000;
        m.Load(0x1234, {uint8_t(0xC7 | p << 3)});
        EXPECT_EQ(ExecuteInstruction(m.S), 11);
        EXPECT_EQ(m.S.PC, p * 8);
        EXPECT_EQ(ReadWord(m.S, 0x7FFE), 0x1235);
    }
    {
        Machine m; // DJNZ counts B down without touching F
        m.AF().F = 0xA5;
        m.Reg().B = 3;
        m.Load(0x1000, {0x10, 0xFE});
        EXPECT_EQ(ExecuteInstruction(m.S), 13);
        EXPECT_EQ(ExecuteInstruction(m.S), 13);
        EXPECT_EQ(ExecuteInstruction(m.S), 8);
        EXPECT_EQ(m.S.PC, 0x1002);
        EXPECT_EQ(m.Reg().B, 0);
        EXPECT_EQ(m.AF().F, 0xA5);
    }
    {
        Machine m; // JP (HL), JP nn, CALL nn, RET
        m.S.SP = 0x8000;
        m.SetHL(0x2345);
        EXPECT_EQ(Exec(m, {0xE9}), 4);
        EXPECT_EQ(m.S.PC, 0x2345);
        EXPECT_EQ(Exec(m, {0xC3, 0x78, 0x56}), 10);
        EXPECT_EQ(m.S.PC, 0x5678);
        EXPECT_EQ(Exec(m, {0xCD, 0x78, 0x56}), 17);
        EXPECT_EQ(ReadWord(m.S, 0x7FFE), 0x1003);
        EXPECT_EQ(Exec(m, {0xC9}), 10);
        EXPECT_EQ(m.S.PC, 0x1003);
        EXPECT_EQ(m.S.SP, 0x8000);
    }
}

TEST(Stack, PushPopEveryPairAndWholeF) {
    Machine m;
    m.S.SP = 0x8000;
    m.AF() = {0xD7, 0x12};
    m.SetBC(0x3456), m.SetDE(0x789A), m.SetHL(0xBCDE);
    Exec(m, {0xF5}); // PUSH AF
    Exec(m, {0xC5}); // PUSH BC
    Exec(m, {0xD5}); // PUSH DE
    Exec(m, {0xE5}); // PUSH HL
    EXPECT_EQ(ReadWord(m.S, 0x7FFE), 0x12D7);
    EXPECT_EQ(m.S.SP, 0x7FF8);
    Exec(m, {0xF1}); // POP AF takes HL's value, F whole
    Exec(m, {0xE1}); // POP HL
    Exec(m, {0xD1}); // POP DE
    Exec(m, {0xC1}); // POP BC
    EXPECT_EQ(m.AF().A, 0xBC);
    EXPECT_EQ(m.AF().F, 0xDE);
    EXPECT_EQ(m.HL(), 0x789A);
    EXPECT_EQ(m.DE(), 0x3456);
    EXPECT_EQ(m.BC(), 0x12D7);
    EXPECT_EQ(m.S.SP, 0x8000);
}

TEST(Loads, MemoryLoadsThroughPairsAndAddresses) {
    Machine m;
    m.AF().A = 0x5A;
    m.SetBC(0x4000), m.SetDE(0x4001);
    EXPECT_EQ(Exec(m, {0x02}), 7); // LD (BC),A
    m.AF().A = 0xA5;
    EXPECT_EQ(Exec(m, {0x12}), 7);              // LD (DE),A
    EXPECT_EQ(Exec(m, {0x32, 0x02, 0x40}), 13); // LD (nn),A
    EXPECT_EQ(Exec(m, {0x0A}), 7);              // LD A,(BC)
    EXPECT_EQ(m.AF().A, 0x5A);
    EXPECT_EQ(Exec(m, {0x3A, 0x02, 0x40}), 13); // LD A,(nn)
    EXPECT_EQ(m.AF().A, 0xA5);
    EXPECT_EQ(m.S.Memory[0x4001], 0xA5);
    EXPECT_EQ(Exec(m, {0x31, 0x34, 0x12}), 10); // LD SP,nn
    EXPECT_EQ(m.S.SP, 0x1234);
    m.SetHL(0x4321);
    EXPECT_EQ(Exec(m, {0xF9}), 6); // LD SP,HL
    EXPECT_EQ(m.S.SP, 0x4321);
    EXPECT_EQ(Exec(m, {0xED, 0x73, 0x00, 0x50}), 20); // LD (nn),SP
    EXPECT_EQ(ReadWord(m.S, 0x5000), 0x4321);
    EXPECT_EQ(Exec(m, {0xED, 0x5B, 0x00, 0x50}), 20); // LD DE,(nn)
    EXPECT_EQ(m.DE(), 0x4321);
}

TEST(Interrupts, EIAndDI) {
    Machine m;
    Exec(m, {0xFB});
    EXPECT_EQ(m.S.IFF1, 1);
    EXPECT_EQ(m.S.EIDelay, 1);
    m.S.EIDelay = 0;
    Exec(m, {0xF3});
    EXPECT_EQ(m.S.IFF1, 0);
    EXPECT_EQ(m.S.EIDelay, 0);
}

} // namespace
