// Whole instruction families against a model: for each opcode of the modelled
// families on every page, random register sets (some with the alternate bank
// swapped in) are run through the core and compared field by field with what
// the model says, so that a wrong operand, a wrong bank, a missed write, a
// stray write or a wrong flag all show.
#include "z80_reference.h"
#include "z80_state_diff.h"

#include <algorithm>
#include <random>
#include <vector>

namespace {

using namespace z80test;

enum Page { Main, DD, FD, CB, ED, DDCB, FDCB };

uint16_t Word(uint8_t high, uint8_t low) { return static_cast<uint16_t>(high << 8 | low); }

// Operands as opcodes number them: 0 B, 1 C, 2 D, 3 E, 4 H, 5 L, 6 the byte at
// `mem`, 7 A. With `x` given, 4 and 5 are that index register's halves.
uint8_t Get(Z80State& s, int r, uint16_t mem, const uint16_t* x) {
    RegisterBank& b = *s.Bank;
    switch (r) {
    case 0: return b.B;
    case 1: return b.C;
    case 2: return b.D;
    case 3: return b.E;
    case 4: return x ? *x >> 8 : b.H;
    case 5: return x ? *x & 0xFF : b.L;
    case 6: return s.Memory[mem];
    default: return s.AFRef->A;
    }
}

void Set(Z80State& s, int r, uint16_t mem, uint16_t* x, uint8_t v) {
    RegisterBank& b = *s.Bank;
    switch (r) {
    case 0: b.B = v; break;
    case 1: b.C = v; break;
    case 2: b.D = v; break;
    case 3: b.E = v; break;
    case 4: x ? void(*x = Word(v, *x & 0xFF)) : void(b.H = v); break;
    case 5: x ? void(*x = Word(*x >> 8, v)) : void(b.L = v); break;
    case 6: s.Memory[mem] = v; break;
    default: s.AFRef->A = v; break;
    }
}

uint16_t Pair(Z80State& s, int rr, uint16_t* x) {
    RegisterBank& b = *s.Bank;
    switch (rr) {
    case 0: return Word(b.B, b.C);
    case 1: return Word(b.D, b.E);
    case 2: return x ? *x : Word(b.H, b.L);
    default: return s.SP;
    }
}

void SetPair(Z80State& s, int rr, uint16_t* x, uint16_t v) {
    RegisterBank& b = *s.Bank;
    switch (rr) {
    case 0: b.B = v >> 8, b.C = v & 0xFF; break;
    case 1: b.D = v >> 8, b.E = v & 0xFF; break;
    case 2:
        if (x) {
            *x = v;
        } else {
            b.H = v >> 8, b.L = v & 0xFF;
        }
        break;
    default: s.SP = v; break;
    }
}

struct Code {
    uint8_t Bytes[5];
    int Length; // where PC must end; 0 when the opcode is not modelled
};

// Applies the modelled effect of `op` on `page` to `e` and returns the code
// to run. `d` is the displacement, `n` the immediate byte.
Code Model(Z80State& e, Page page, uint8_t op, uint8_t d, uint8_t n) {
    uint16_t* x = page == DD || page == DDCB ? &e.IX : page == FD || page == FDCB ? &e.IY : nullptr;
    const uint16_t hl = Word(e.Bank->H, e.Bank->L);
    const uint16_t indexed = x ? static_cast<uint16_t>(*x + static_cast<int8_t>(d)) : 0;
    const int hi = (op >> 3) & 7, lo = op & 7;
    uint8_t& f = e.AFRef->F;
    uint8_t& a = e.AFRef->A;

    if (page == CB || page == DDCB || page == FDCB) {
        const uint16_t mem = x ? indexed : hl;
        const uint8_t v = x ? e.Memory[mem] : Get(e, lo, mem, nullptr);
        uint8_t r = v;
        switch (op >> 6) {
        case 0: {
            const Result res = Shift(hi, v, f);
            r = res.V, f = res.F;
            break;
        }
        case 1: f = BitFlags(hi, v, f); break;
        case 2: r = static_cast<uint8_t>(v & ~(1 << hi)); break;
        default: r = static_cast<uint8_t>(v | 1 << hi); break;
        }
        if (op >> 6 != 1) {
            // The index forms write memory and also copy into a named register.
            if (x) e.Memory[mem] = r;
            if (!x || lo != 6) Set(e, lo, mem, nullptr, r);
        }
        RefreshIncrement(e);
        if (x) return {{uint8_t(page == DDCB ? 0xDD : 0xFD), 0xCB, d, op}, 4};
        return {{0xCB, op}, 2};
    }

    if (page == ED) {
        const int rr = hi >> 1;
        Result16 res;
        if ((op & 0xCF) == 0x42)
            res = Sbc16(hl, Pair(e, rr, nullptr), f);
        else if ((op & 0xCF) == 0x4A)
            res = Adc16(hl, Pair(e, rr, nullptr), f);
        else
            return {{}, 0};
        SetPair(e, 2, nullptr, res.V);
        f = res.F;
        RefreshIncrement(e);
        return {{0xED, op}, 2};
    }

    // Main and index pages. An index prefix turns H and L into the index
    // halves, or an operand (HL) into (X+d), in which case H and L stay H, L.
    const bool usesMemory = [&] {
        if (op >= 0x40 && op < 0x80) return hi == 6 || lo == 6;
        if (op >= 0x80 && op < 0xC0) return lo == 6;
        if ((op & 0xC6) == 0x04 || (op & 0xC7) == 0x06) return hi == 6; // INC, DEC, LD r,n
        return false;
    }();
    const uint16_t mem = x && usesMemory ? indexed : hl;
    uint16_t* halves = usesMemory ? nullptr : x;
    int length = 1;

    if (op >= 0x40 && op < 0x80 && op != 0x76) {
        Set(e, hi, mem, halves, Get(e, lo, mem, halves));
    } else if (op >= 0x80 && op < 0xC0) {
        const Result res = op == 0x9F ? SbcAA(f) : Alu(hi, a, Get(e, lo, mem, halves), f);
        a = res.V, f = res.F;
    } else if ((op & 0xC7) == 0xC6) {
        const Result res = Alu(hi, a, n, f);
        a = res.V, f = res.F;
        length = 2;
    } else if ((op & 0xC6) == 0x04) {
        const uint8_t v = Get(e, hi, mem, halves);
        const Result res = (op & 1) ? Dec8(v, f) : Inc8(v, f);
        Set(e, hi, mem, halves, res.V);
        f = res.F;
    } else if ((op & 0xC7) == 0x06) {
        Set(e, hi, mem, halves, n);
        length = 2;
    } else if ((op & 0xCF) == 0x09) { // ADD HL,rr / ADD X,rr
        const int rr = hi >> 1;
        const uint32_t sum = Pair(e, 2, x) + Pair(e, rr, x);
        SetPair(e, 2, x, static_cast<uint16_t>(sum));
        f = static_cast<uint8_t>((f & ~(FlagN | FlagC)) | (sum > 0xFFFF ? FlagC : 0));
    } else if ((op & 0xC7) == 0x03) { // INC rr / DEC rr, no flags
        const int rr = hi >> 1;
        SetPair(e, rr, x, static_cast<uint16_t>(Pair(e, rr, x) + ((op & 8) ? -1 : 1)));
    } else {
        return {{}, 0};
    }
    if (x && usesMemory) ++length; // the displacement
    if (!x) return {{op, n}, length};
    RefreshIncrement(e);
    if (usesMemory) return {{uint8_t(page == DD ? 0xDD : 0xFD), op, d, n}, length + 1};
    return {{uint8_t(page == DD ? 0xDD : 0xFD), op, n}, length + 1};
}

void Randomize(Z80State& s, std::mt19937& rng) {
    auto byte = [&] { return static_cast<uint8_t>(rng()); };
    for (RegisterBank* b : {&s.BankStore1, &s.BankStore2})
        *b = {byte(), byte(), byte(), byte(), byte(), byte()};
    s.AFStore1 = {byte(), byte()};
    s.AFStore2 = {byte(), byte()};
    s.ResetReferences();
    if (rng() & 1) std::swap(s.Bank, s.AltBank);
    if (rng() & 1) std::swap(s.AFRef, s.AltAFRef);
    s.Bank->H = static_cast<uint8_t>(0x80 | (byte() & 0x3F)); // HL in 0x8000..0xBFFF
    s.IX = static_cast<uint16_t>(0x4000 + (rng() & 0x1FFF));
    s.IY = static_cast<uint16_t>(0x6000 + (rng() & 0x1FFF));
    s.SP = static_cast<uint16_t>(rng());
    s.R = byte();
    s.RBit7 = s.R & 0x80;
    s.I = byte();
}

// Runs every modelled opcode of `page` in random states; returns how many
// opcodes the model covers.
int CheckPage(Page page) {
    std::mt19937 rng(1234 + page);
    Machine m;
    auto want = std::make_unique<Z80State>();
    int modelled = 0;
    for (int op = 0; op < 256; ++op) {
        for (int round = 0; round < 12; ++round) {
            Randomize(m.S, rng);
            const uint8_t d = static_cast<uint8_t>(rng()), n = static_cast<uint8_t>(rng());
            // The operands in memory; the rest keeps what earlier rounds left.
            m.S.Memory[m.HL()] = static_cast<uint8_t>(rng());
            m.S.Memory[static_cast<uint16_t>(m.S.IX + static_cast<int8_t>(d))] =
                static_cast<uint8_t>(rng());
            m.S.Memory[static_cast<uint16_t>(m.S.IY + static_cast<int8_t>(d))] =
                static_cast<uint8_t>(rng());
            *want = m.S;
            const Code code = Model(*want, page, static_cast<uint8_t>(op), d, n);
            if (code.Length == 0) break;
            modelled += round == 0;
            for (int i = 0; i < 5; ++i) m.S.Memory[i] = want->Memory[i] = code.Bytes[i];
            m.S.PC = 0;
            want->PC = static_cast<uint16_t>(code.Length);
            ExecuteInstruction(m.S);
            const std::string diff = Diff(m.S, *want);
            if (!diff.empty()) {
                ADD_FAILURE() << "page " << page << " opcode " << std::hex << op << ":" << diff;
                break;
            }
        }
    }
    return modelled;
}

TEST(Families, UnprefixedLoadsAluIncDecAnd16BitArithmetic) {
    // 63 LD r,r' + 64 ALU r + 8 ALU n + 16 INC/DEC r + 8 LD r,n + 4 ADD HL + 8 INC/DEC rr
    EXPECT_EQ(CheckPage(Main), 171);
}

TEST(Families, IndexPagesUseHalvesOrIndexedMemory) {
    EXPECT_EQ(CheckPage(DD), 171);
    EXPECT_EQ(CheckPage(FD), 171);
}

TEST(Families, CBPageEveryOpcode) { EXPECT_EQ(CheckPage(CB), 256); }

TEST(Families, IndexCBPageEveryOpcodeWithRegisterCopy) {
    EXPECT_EQ(CheckPage(DDCB), 256);
    EXPECT_EQ(CheckPage(FDCB), 256);
}

TEST(Families, AdcSbcHL) { EXPECT_EQ(CheckPage(ED), 8); }

// Every entry of the five public tables, called the way the prefix steps call
// it, does exactly what the step does for the same bytes.
TEST(Families, PublicTableEntriesBehaveAsTheStep) {
    std::mt19937 rng(99);
    Machine viaStep, direct;
    Z80State& a = viaStep.S;
    Z80State& b = direct.S;
    for (Page page : {Main, CB, ED, DD, FD, DDCB}) {
        for (int op = 0; op < 256; ++op) {
            for (int round = 0; round < 4; ++round) {
                Randomize(a, rng);
                a.IFF1 = rng() & 1;
                const auto byte = [&] { return static_cast<uint8_t>(rng()); };
                const uint8_t o = static_cast<uint8_t>(op), d = byte();
                for (int i = 0; i < 8; ++i) a.Memory[i] = byte();
                std::vector<uint8_t> code;
                switch (page) {
                case Main: code = {o}; break;
                case CB: code = {0xCB, o}; break;
                case ED: code = {0xED, o}; break;
                case DD: code = {0xDD, o}; break;
                case FD: code = {0xFD, o}; break;
                default: code = {0xDD, 0xCB, d, o}; break;
                }
                std::copy(code.begin(), code.end(), a.Memory);
                a.PC = 0;
                b = a;
                const int32_t want = ExecuteInstruction(a);
                b.PC = static_cast<uint16_t>(code.size());
                if (page != Main) RefreshIncrement(b);
                int32_t got = 0;
                switch (page) {
                case Main: got = Tables.MainTable[op](b); break;
                case CB: got = Tables.CBTable[op](b); break;
                case ED: got = Tables.EDTable[op](b); break;
                case DD: got = Tables.IndexTable[op](b, b.IX); break;
                case FD: got = Tables.IndexTable[op](b, b.IY); break;
                default:
                    got = Tables.IndexCBTable[op](b, static_cast<uint16_t>(b.IX + int8_t(d)));
                    break;
                }
                const std::string diff = Diff(b, a);
                ASSERT_TRUE(got == want && diff.empty())
                    << "page " << page << " opcode " << std::hex << op << ": T " << std::dec << got
                    << " (step " << want << ")" << diff;
            }
        }
    }
}

} // namespace
