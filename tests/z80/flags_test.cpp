// Flag results of the 8-bit arithmetic, logic, increment, decrement, NEG, DAA,
// accumulator and CB rotates over every operand value and every incoming F,
// compared with the plain statement of the rules in z80_reference.h.
#include "z80_reference.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace z80test;

// Collects the first few differences so that one failing rule does not print
// a million lines.
class Mismatches {
  public:
    void Check(bool ok, const char* what, int a, int b, int f, Result got, Result want) {
        ++checked_;
        if (ok || list_.size() >= 8) {
            failed_ += ok ? 0 : 1;
            return;
        }
        ++failed_;
        char line[160];
        std::snprintf(line, sizeof line, "%s a=%02X s=%02X f=%02X: got %02X/%02X, want %02X/%02X\n",
                      what, a, b, f, got.V, got.F, want.V, want.F);
        list_ += line;
    }
    ~Mismatches() {
        EXPECT_GT(checked_, 0);
        EXPECT_EQ(failed_, 0) << list_;
    }

  private:
    std::string list_;
    long checked_ = 0, failed_ = 0;
};

// F values that put every bit in both states and the carry in both states.
constexpr uint8_t FlagPatterns[] = {0x00, 0x01, 0xFE, 0xFF, 0x28, 0xD7};

// Executes `op` (a one-byte opcode at address 0, or CB op) with A, B and F set.
Result RunAB(Machine& m, std::initializer_list<uint8_t> code, uint8_t a, uint8_t b, uint8_t f,
             bool resultInB) {
    m.AF().A = a;
    m.AF().F = f;
    m.Reg().B = b;
    m.Load(0, code);
    ExecuteInstruction(m.S);
    return {resultInB ? m.Reg().B : m.AF().A, m.AF().F};
}

const char* const AluNames[] = {"ADD", "ADC", "SUB", "SBC", "AND", "XOR", "OR", "CP"};

TEST(Flags, AluOverAllOperandPairs) {
    Machine m;
    for (int op = 0; op < 8; ++op) {
        Mismatches mm;
        const uint8_t opcode = static_cast<uint8_t>(0x80 + op * 8); // op A,B
        for (int a = 0; a < 256; ++a)
            for (int s = 0; s < 256; ++s)
                for (uint8_t f : FlagPatterns) {
                    const Result got = RunAB(m, {opcode}, a, s, f, false);
                    const Result want = Alu(op, a, s, f);
                    mm.Check(got.V == want.V && got.F == want.F && m.Reg().B == s, AluNames[op], a,
                             s, f, got, want);
                }
    }
}

TEST(Flags, SbcAWithItselfIsZeroMinusCarry) {
    Mismatches mm;
    Machine m;
    for (int a = 0; a < 256; ++a)
        for (int f = 0; f < 256; ++f) {
            const Result got = RunAB(m, {0x9F}, a, 0, f, false);
            const Result want = SbcAA(f);
            mm.Check(got.V == want.V && got.F == want.F, "SBC A,A", a, a, f, got, want);
        }
}

TEST(Flags, IncDecNegDaaOverAllValuesAndFlags) {
    Machine m;
    struct Unary {
        const char* Name;
        uint8_t Opcode[2];
        int Length;
        Result (*Want)(uint8_t v, uint8_t f);
    };
    const Unary ops[] = {
        {"INC A", {0x3C}, 1, Inc8},
        {"DEC A", {0x3D}, 1, Dec8},
        {"NEG", {0xED, 0x44}, 2, [](uint8_t v, uint8_t) { return Sub8(0, v); }},
        {"DAA", {0x27}, 1, Daa},
    };
    for (const Unary& u : ops) {
        Mismatches mm;
        for (int v = 0; v < 256; ++v)
            for (int f = 0; f < 256; ++f) {
                m.AF().A = v;
                m.AF().F = f;
                m.S.PC = 0;
                m.S.Memory[0] = u.Opcode[0];
                m.S.Memory[1] = u.Opcode[1];
                ExecuteInstruction(m.S);
                const Result got{m.AF().A, m.AF().F};
                const Result want = u.Want(v, f);
                mm.Check(got.V == want.V && got.F == want.F && m.S.PC == u.Length, u.Name, v, 0, f,
                         got, want);
            }
    }
}

TEST(Flags, AccumulatorRotatesAndFlagOperations) {
    // RLCA, RRCA, RLA, RRA rotate as RLC, RRC, RL, RR but keep S, Z, bits
    // 5 and 3 and P/V; CPL, SCF and CCF touch only the bits they name.
    Machine m;
    struct Op {
        const char* Name;
        uint8_t Opcode;
        Result (*Want)(uint8_t a, uint8_t f);
    };
    auto rotate = [](int kind, uint8_t a, uint8_t f) {
        const Result r = Shift(kind, a, f);
        const uint8_t kept = f & (FlagS | FlagZ | Flag5 | Flag3 | FlagPV);
        return Result{r.V, uint8_t(kept | (r.F & FlagC))};
    };
    const Op ops[] = {
        {"RLCA", 0x07, nullptr},
        {"RRCA", 0x0F, nullptr},
        {"RLA", 0x17, nullptr},
        {"RRA", 0x1F, nullptr},
        {"CPL", 0x2F,
         [](uint8_t a, uint8_t f) {
             return Result{uint8_t(~a), uint8_t(f | FlagH | FlagN)};
         }},
        {"SCF", 0x37,
         [](uint8_t a, uint8_t f) {
             return Result{a, uint8_t((f & ~(FlagH | FlagN)) | FlagC)};
         }},
        {"CCF", 0x3F,
         [](uint8_t a, uint8_t f) {
             return Result{a, uint8_t((f & ~(FlagN | FlagC)) | (~f & FlagC))};
         }},
    };
    for (int i = 0; i < 7; ++i) {
        Mismatches mm;
        for (int a = 0; a < 256; ++a)
            for (int f = 0; f < 256; ++f) {
                const Result got = RunAB(m, {ops[i].Opcode}, a, 0, f, false);
                const Result want = i < 4 ? rotate(i, a, f) : ops[i].Want(a, f);
                mm.Check(got.V == want.V && got.F == want.F, ops[i].Name, a, 0, f, got, want);
            }
    }
}

TEST(Flags, CBShiftsAndBitTestsOverAllValues) {
    Machine m;
    const char* const names[] = {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SLL", "SRL"};
    for (int kind = 0; kind < 8; ++kind) {
        Mismatches mm;
        for (int v = 0; v < 256; ++v)
            for (int f = 0; f < 256; ++f) {
                const uint8_t op = static_cast<uint8_t>(kind * 8); // on B
                const Result got = RunAB(m, {0xCB, op}, 0x5A, v, f, true);
                const Result want = Shift(kind, v, f);
                mm.Check(got.V == want.V && got.F == want.F && m.AF().A == 0x5A, names[kind], v, 0,
                         f, got, want);
            }
    }
    Mismatches mm;
    for (int bit = 0; bit < 8; ++bit)
        for (int v = 0; v < 256; ++v)
            for (uint8_t f : FlagPatterns) {
                const uint8_t op = static_cast<uint8_t>(0x40 + bit * 8); // BIT bit,B
                const Result got = RunAB(m, {0xCB, op}, 0, v, f, true);
                const Result want{uint8_t(v), BitFlags(bit, v, f)};
                mm.Check(got.V == want.V && got.F == want.F, "BIT", bit, v, f, got, want);
            }
}

} // namespace
