// Memory and port rules of the processor: word accesses at 0xFFFF meet the
// mirror byte, indexed addresses and the stack wrap, the exchanges swap
// references, and each I/O instruction passes its port and value.
#include "z80_test_util.h"

namespace {

using z80test::Machine;
using z80test::PortCall;

// Address 0x0000 and the mirror byte hold different values, so that a wrap to
// 0x0000 and the mirror can be told apart.
struct MirrorMachine : Machine {
    MirrorMachine() {
        S.Memory[0x0000] = 0x99;
        S.MirrorByte() = 0x12;
        S.Memory[0xFFFF] = 0x34;
    }
};

TEST(Memory, WordReadsAt0xFFFFTakeTheMirrorByte) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
        uint16_t (*Read)(Machine&);
    };
    const Case cases[] = {
        {"LD HL,(nn)", {0x2A, 0xFF, 0xFF}, [](Machine& m) { return m.HL(); }},
        {"LD BC,(nn)", {0xED, 0x4B, 0xFF, 0xFF}, [](Machine& m) { return m.BC(); }},
        {"LD SP,(nn)", {0xED, 0x7B, 0xFF, 0xFF}, [](Machine& m) { return m.S.SP; }},
        {"LD IX,(nn)", {0xDD, 0x2A, 0xFF, 0xFF}, [](Machine& m) { return m.S.IX; }},
        {"LD IY,(nn)", {0xFD, 0x2A, 0xFF, 0xFF}, [](Machine& m) { return m.S.IY; }},
    };
    for (const Case& c : cases) {
        MirrorMachine m;
        m.Load(0x1000, c.Code);
        ExecuteInstruction(m.S);
        EXPECT_EQ(c.Read(m), 0x1234) << c.Name;
    }
}

TEST(Memory, ImmediateWordAt0xFFFFTakesTheMirrorByte) {
    MirrorMachine m;
    m.Load(0xFFFE, {0x01}); // LD BC,nn with nn at 0xFFFF
    ExecuteInstruction(m.S);
    EXPECT_EQ(m.BC(), 0x1234);
    EXPECT_EQ(m.S.PC, 0x0001);
}

TEST(Memory, WordWritesAt0xFFFFGoToTheMirrorByte) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
    };
    const Case cases[] = {
        {"LD (nn),HL", {0x22, 0xFF, 0xFF}},
        {"LD (nn),BC", {0xED, 0x43, 0xFF, 0xFF}},
        {"LD (nn),IX", {0xDD, 0x22, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        MirrorMachine m;
        m.SetHL(0xABCD);
        m.SetBC(0xABCD);
        m.S.IX = 0xABCD;
        m.Load(0x1000, c.Code);
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.S.Memory[0xFFFF], 0xCD) << c.Name;
        EXPECT_EQ(m.S.MirrorByte(), 0xAB) << c.Name;
        EXPECT_EQ(m.S.Memory[0x0000], 0x99) << c.Name;
    }
    // LD A,(0x0000) afterwards sees the old byte, and a later write to 0x0000
    // leaves the mirror alone.
    MirrorMachine m;
    m.SetHL(0xABCD);
    m.Load(0x1000, {0x22, 0xFF, 0xFF, 0x3A, 0x00, 0x00, 0x32, 0x00, 0x00, 0x2A, 0xFF, 0xFF});
    ExecuteInstruction(m.S);
    ExecuteInstruction(m.S);
    EXPECT_EQ(m.AF().A, 0x99);
    m.AF().A = 0x55;
    ExecuteInstruction(m.S); // LD (0x0000),A
    ExecuteInstruction(m.S); // LD HL,(0xFFFF)
    EXPECT_EQ(m.S.Memory[0x0000], 0x55);
    EXPECT_EQ(m.HL(), 0xABCD);
}

TEST(Memory, StackWrapsAndMeetsTheMirrorByte) {
    {
        MirrorMachine m; // POP at SP = 0xFFFF
        m.S.SP = 0xFFFF;
        m.Load(0x1000, {0xC1});
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.BC(), 0x1234);
        EXPECT_EQ(m.S.SP, 0x0001);
    }
    {
        MirrorMachine m; // PUSH with SP = 0x0001 writes at 0xFFFF
        m.S.SP = 0x0001;
        m.SetDE(0xABCD);
        m.Load(0x1000, {0xD5});
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.S.SP, 0xFFFF);
        EXPECT_EQ(m.S.Memory[0xFFFF], 0xCD);
        EXPECT_EQ(m.S.MirrorByte(), 0xAB);
        EXPECT_EQ(m.S.Memory[0x0000], 0x99);
    }
    {
        MirrorMachine m; // CALL with SP = 0x0000 pushes at 0xFFFE
        m.S.SP = 0x0000;
        m.Load(0x1234, {0xCD, 0x00, 0x20});
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.S.SP, 0xFFFE);
        EXPECT_EQ(ReadWord(m.S, 0xFFFE), 0x1237);
        EXPECT_EQ(m.S.PC, 0x2000);
    }
    {
        MirrorMachine m; // EX (SP),HL at 0xFFFF swaps with the mirror byte
        m.S.SP = 0xFFFF;
        m.SetHL(0xABCD);
        m.Load(0x1000, {0xE3});
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.HL(), 0x1234);
        EXPECT_EQ(m.S.Memory[0xFFFF], 0xCD);
        EXPECT_EQ(m.S.MirrorByte(), 0xAB);
    }
}

TEST(Memory, IndexedAddressesWrap) {
    struct Case {
        uint8_t Prefix;
        uint16_t Index;
        uint8_t D;
        uint16_t Address;
    };
    const Case cases[] = {
        {0xDD, 0xFFF0, 0x20, 0x0010},
        {0xDD, 0x0005, 0xF6, 0xFFFB}, // d = -10
        {0xFD, 0xFFFF, 0x01, 0x0000},
        {0xFD, 0x0000, 0x80, 0xFF80}, // d = -128
    };
    for (const Case& c : cases) {
        Machine m;
        m.S.IX = m.S.IY = c.Index;
        m.S.Memory[c.Address] = 0x5A;
        m.Load(0x1000, {c.Prefix, 0x7E, c.D}); // LD A,(X+d)
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.AF().A, 0x5A) << std::hex << c.Index << " " << int(c.D);
        m.Load(0x1000, {c.Prefix, 0x36, c.D, 0xA5}); // LD (X+d),n
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.S.Memory[c.Address], 0xA5);
        m.Load(0x1000, {c.Prefix, 0xCB, c.D, 0xCE}); // SET 1,(X+d)
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.S.Memory[c.Address], 0xA7);
        m.Load(0x1000, {c.Prefix, 0xCB, c.D, 0x86}); // RES 0,(X+d)
        ExecuteInstruction(m.S);
        EXPECT_EQ(m.S.Memory[c.Address], 0xA6);
    }
}

TEST(Exchanges, ExxAndExAfSwapReferencesNotRegisters) {
    Machine m;
    Z80State& s = m.S;
    s.BankStore1 = {1, 2, 3, 4, 5, 6};
    s.BankStore2 = {11, 12, 13, 14, 15, 16};
    s.AFStore1 = {0x01, 0x02};
    s.AFStore2 = {0x11, 0x12};
    m.Load(0x1000, {0xD9, 0x08, 0x06, 0x77, 0xD9, 0x08, 0x00});
    ExecuteInstruction(s); // EXX
    EXPECT_EQ(s.Bank, &s.BankStore2);
    EXPECT_EQ(s.AltBank, &s.BankStore1);
    EXPECT_EQ(s.AFRef, &s.AFStore1); // EXX leaves AF alone
    ExecuteInstruction(s);           // EX AF,AF'
    EXPECT_EQ(s.AFRef, &s.AFStore2);
    EXPECT_EQ(s.AltAFRef, &s.AFStore1);
    EXPECT_EQ(s.Bank, &s.BankStore2); // EX AF,AF' leaves the bank alone
    ExecuteInstruction(s);            // LD B,0x77 goes to store 2
    EXPECT_EQ(s.BankStore2.B, 0x77);
    EXPECT_EQ(s.BankStore1.B, 6);
    ExecuteInstruction(s); // EXX
    ExecuteInstruction(s); // EX AF,AF'
    EXPECT_EQ(s.Bank, &s.BankStore1);
    EXPECT_EQ(s.AltBank, &s.BankStore2);
    EXPECT_EQ(s.AFRef, &s.AFStore1);
    EXPECT_EQ(s.AltAFRef, &s.AFStore2);
    EXPECT_EQ(s.AFStore2.A, 0x12);
    EXPECT_EQ(s.BankStore1.L, 1);
}

TEST(Exchanges, ACopyRefersToItsOwnStores) {
    Machine m;
    std::swap(m.S.Bank, m.S.AltBank);
    m.S.BankStore2.B = 0x42;
    auto copy = std::make_unique<Z80State>(m.S);
    EXPECT_EQ(copy->Bank, &copy->BankStore2);
    EXPECT_EQ(copy->AltBank, &copy->BankStore1);
    EXPECT_EQ(copy->AFRef, &copy->AFStore1);
    copy->Bank->B = 0x43;
    EXPECT_EQ(m.S.BankStore2.B, 0x42);
}

TEST(Exchanges, StartOfPlaybackMakesStore1TheMainSetAgain) {
    Machine m;
    Z80State& s = m.S;
    s.BankStore1.B = 1;
    m.Load(0x1000, {0xD9, 0x08, 0xFB, 0xED, 0x5E}); // EXX; EX AF,AF'; EI; IM 2
    for (int i = 0; i < 4; ++i) ExecuteInstruction(s);
    s.TStates = 1234;
    ResetForPlayback(s);
    EXPECT_EQ(s.Bank, &s.BankStore1);
    EXPECT_EQ(s.AltBank, &s.BankStore2);
    EXPECT_EQ(s.AFRef, &s.AFStore1);
    EXPECT_EQ(s.AltAFRef, &s.AFStore2);
    EXPECT_EQ(s.TStates, 0);
    EXPECT_EQ(s.IFF1, 0);
    EXPECT_EQ(s.EIDelay, 0);
    EXPECT_EQ(s.IM, 0);
    EXPECT_EQ(s.BankStore1.B, 1);
}

// The port and value of each output instruction; B is taken before OUTI and
// friends decrement it.
TEST(Ports, OutputInstructionsPassPortAndValue) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
        PortCall Want;
    };
    // A = 0xFF, BC = 0xC0FD, DE = 0x1122, HL = 0x4000 holding 0x77.
    const Case cases[] = {
        {"OUT (n),A", {0xD3, 0xFD}, {0xFFFD, 0xFF}},
        {"OUT (C),B", {0xED, 0x41}, {0xC0FD, 0xC0}},
        {"OUT (C),C", {0xED, 0x49}, {0xC0FD, 0xFD}},
        {"OUT (C),D", {0xED, 0x51}, {0xC0FD, 0x11}},
        {"OUT (C),E", {0xED, 0x59}, {0xC0FD, 0x22}},
        {"OUT (C),H", {0xED, 0x61}, {0xC0FD, 0x40}},
        {"OUT (C),L", {0xED, 0x69}, {0xC0FD, 0x00}},
        {"OUT (C),A", {0xED, 0x79}, {0xC0FD, 0xFF}},
        {"OUTI", {0xED, 0xA3}, {0xC0FD, 0x77}},
        {"OUTD", {0xED, 0xAB}, {0xC0FD, 0x77}},
        {"OTIR", {0xED, 0xB3}, {0xC0FD, 0x77}},
        {"OTDR", {0xED, 0xBB}, {0xC0FD, 0x77}},
        {"DD OUT (n),A", {0xDD, 0xD3, 0xFD}, {0xFFFD, 0xFF}},
    };
    for (const Case& c : cases) {
        Machine m;
        m.AF() = {0x00, 0xFF};
        m.SetBC(0xC0FD);
        m.SetDE(0x1122);
        m.SetHL(0x4000);
        m.S.Memory[0x4000] = 0x77;
        m.Load(0x1000, c.Code);
        ExecuteInstruction(m.S);
        ASSERT_EQ(m.Ports.Outs.size(), 1u) << c.Name;
        EXPECT_EQ(m.Ports.Outs[0], c.Want) << c.Name;
        EXPECT_TRUE(m.Ports.Ins.empty()) << c.Name;
        if (c.Code.size() == 2 && *c.Code.begin() == 0xED && (c.Code.begin()[1] & 0xA0) == 0xA0) {
            EXPECT_EQ(m.AF().F, FlagN) << c.Name; // the block forms set N, and Z from B
        } else {
            EXPECT_EQ(m.AF().F, 0x00) << c.Name;
        }
    }
}

TEST(Ports, InputInstructionsPassPortAndKeepF) {
    struct Case {
        const char* Name;
        std::initializer_list<uint8_t> Code;
        uint16_t Port;
        uint8_t* (*Dest)(Machine&);
    };
    const Case cases[] = {
        {"IN A,(n)", {0xDB, 0xFE}, 0x7FFE, [](Machine& m) { return &m.AF().A; }},
        {"IN B,(C)", {0xED, 0x40}, 0x12FE, [](Machine& m) { return &m.Reg().B; }},
        {"IN C,(C)", {0xED, 0x48}, 0x12FE, [](Machine& m) { return &m.Reg().C; }},
        {"IN D,(C)", {0xED, 0x50}, 0x12FE, [](Machine& m) { return &m.Reg().D; }},
        {"IN E,(C)", {0xED, 0x58}, 0x12FE, [](Machine& m) { return &m.Reg().E; }},
        {"IN H,(C)", {0xED, 0x60}, 0x12FE, [](Machine& m) { return &m.Reg().H; }},
        {"IN L,(C)", {0xED, 0x68}, 0x12FE, [](Machine& m) { return &m.Reg().L; }},
        {"IN A,(C)", {0xED, 0x78}, 0x12FE, [](Machine& m) { return &m.AF().A; }},
    };
    for (uint8_t flags : {0x00, 0xFF, 0x41}) {
        for (const Case& c : cases) {
            Machine m;
            m.AF() = {flags, 0x7F};
            m.SetBC(0x12FE);
            m.Ports.InValue = 0x00; // a zero input would set Z if F followed it
            m.Load(0x1000, c.Code);
            ExecuteInstruction(m.S);
            ASSERT_EQ(m.Ports.Ins.size(), 1u) << c.Name;
            EXPECT_EQ(m.Ports.Ins[0], c.Port) << c.Name;
            EXPECT_EQ(*c.Dest(m), 0x00) << c.Name;
            EXPECT_EQ(m.AF().F, flags) << c.Name;
            EXPECT_TRUE(m.Ports.Outs.empty()) << c.Name;
        }
    }
}

TEST(Ports, InstructionsThatTouchNoPort) {
    // ED 70 (IN (C)), ED 71 (OUT (C),0), INI, IND, INIR, INDR: no call and,
    // apart from PC and R, no change at all.
    for (uint8_t op : {0x70, 0x71, 0xA2, 0xAA, 0xB2, 0xBA}) {
        Machine m;
        m.AF() = {0x00, 0x55};
        m.SetBC(0x0102);
        m.SetHL(0x4000);
        m.S.Memory[0x4000] = 0x66;
        m.Load(0x1000, {0xED, op});
        ExecuteInstruction(m.S);
        EXPECT_TRUE(m.Ports.Outs.empty()) << std::hex << int(op);
        EXPECT_TRUE(m.Ports.Ins.empty()) << std::hex << int(op);
        EXPECT_EQ(m.S.PC, 0x1002) << std::hex << int(op);
        EXPECT_EQ(m.BC(), 0x0102);
        EXPECT_EQ(m.HL(), 0x4000);
        EXPECT_EQ(m.AF().A, 0x55);
        EXPECT_EQ(m.AF().F, 0x00);
        EXPECT_EQ(m.S.Memory[0x4000], 0x66);
    }
}

} // namespace
