// Shared pieces of the instruction handlers: register and memory access, the
// flag rules and the 8-bit arithmetic, logic and shift operations.
//
// Flag rules of this core (not those of a real Z80): bits 5 and 3 of F are
// never copied from a result. The arithmetic rules (Inc, Dec, Add, Sub) clear
// them; the logic and shift rules (And, Or, Shift) keep them; Add16 keeps
// everything but N and C. ADC and SBC fold the carry into the operand before
// the flags are computed, so H and P/V come from a two-operand sum.
//
// Private to the z80 library: only the handler pages include it.
#pragma once

#include "z80/z80.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "register pairs are read as host words: the host must be little-endian");

// Every one of the 1280 handlers must stay a function of its own, even where
// two opcodes compile to the same code (the undefined ED opcodes, the prefix
// chains): the dispatch tables promise a different handler per entry.
#if defined(__GNUC__) && !defined(__clang__)
#define Z80_HANDLER __attribute__((no_icf))
#else
#define Z80_HANDLER
#endif

namespace z80core {

// What a handler looks at or changes of the processor besides its registers,
// memory and PC, as bits. The fast runner (z80_run.cpp) keeps R, the T-state
// count and EIDelay in locals between instructions; each page states here,
// beside its handlers, which of them need those stored first, and the runner
// checks its way of taking every opcode against that at compile time.
enum HandlerUse : unsigned {
    UsesNothing = 0,
    UsesTStates = 1u << 0, // reads the T-state count (HALT)
    UsesR = 1u << 1,       // reads, sets or counts R (LD A,R; LD R,A; a prefix's second fetch)
    SetsEIDelay = 1u << 2, // holds off the interrupt for a pass (EI, DD after DD or FD)
    UsesPorts = 1u << 3,   // calls the ports, which see the processor as it stands
};

// ---- the step's own dispatch ---------------------------------------------------
// The ED and DD/FD pages once more, as the prefix steps call them: entry n
// performs exactly what entry n of EDTable or IndexTable performs, but also
// takes PC (the address after the opcode, which s.PC holds too) as an
// argument, so that PC need not make a round trip through memory between the
// prefix and the instruction. See MainStepTable in z80.h.
using EDStepHandler = int32_t (*)(Z80State&, uint16_t pc);
using IndexStepHandler = int32_t (*)(Z80State&, uint16_t& index, uint16_t pc);
extern const std::array<EDStepHandler, 256> EDStepTable;
extern const std::array<IndexStepHandler, 256> IndexStepTable;

// ---- flag tables ---------------------------------------------------------
// Computed at compile time from the definitions of the flags: S is bit 7 of
// the value, Z is set for 0, P/V (parity) is set for an even number of 1 bits.
// IncTable and DecTable hold the whole F of IncFlags/DecFlags apart from C,
// indexed by the result: INC half-carries exactly when the result's low nibble
// is 0 and overflows exactly into 0x80; DEC half-borrows exactly when the
// result's low nibble is 0xF and overflows exactly into 0x7F.

constexpr uint8_t SignZero(int v) {
    return static_cast<uint8_t>((v & FlagS) | (v == 0 ? FlagZ : 0));
}

constexpr uint8_t Parity(int v) {
    return (std::popcount(static_cast<unsigned>(v)) & 1) == 0 ? FlagPV : 0;
}

template <typename F> constexpr std::array<uint8_t, 256> MakeTable(F f) {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) t[v] = f(v);
    return t;
}

inline constexpr std::array<uint8_t, 256> SZTable = MakeTable([](int v) { return SignZero(v); });

inline constexpr std::array<uint8_t, 256> SZPTable =
    MakeTable([](int v) { return static_cast<uint8_t>(SignZero(v) | Parity(v)); });

inline constexpr std::array<uint8_t, 256> IncTable = MakeTable([](int r) {
    return static_cast<uint8_t>(SignZero(r) | ((r & 0x0F) == 0 ? FlagH : 0) |
                                (r == 0x80 ? FlagPV : 0));
});

inline constexpr std::array<uint8_t, 256> DecTable = MakeTable([](int r) {
    return static_cast<uint8_t>(SignZero(r) | ((r & 0x0F) == 0x0F ? FlagH : 0) |
                                (r == 0x7F ? FlagPV : 0) | FlagN);
});

// Bits that the rules keep from the old F.
constexpr uint8_t KeepBits53 = Flag5 | Flag3;
constexpr uint8_t KeepForRotateA = FlagS | FlagZ | Flag5 | Flag3 | FlagPV;
constexpr uint8_t KeepForBit = FlagS | Flag5 | Flag3 | FlagPV | FlagC;

// ---- registers -------------------------------------------------------------

inline uint8_t& A(Z80State& s) { return s.AFRef->A; }
inline uint8_t& F(Z80State& s) { return s.AFRef->F; }

// The 8-bit register named by an operand field: 0 B, 1 C, 2 D, 3 E, 4 H, 5 L,
// 7 A (6 is the memory operand and is handled by the caller).
template <int R> inline uint8_t& Reg(Z80State& s) {
    static_assert(R >= 0 && R <= 7 && R != 6);
    if constexpr (R == 0)
        return s.Bank->B;
    else if constexpr (R == 1)
        return s.Bank->C;
    else if constexpr (R == 2)
        return s.Bank->D;
    else if constexpr (R == 3)
        return s.Bank->E;
    else if constexpr (R == 4)
        return s.Bank->H;
    else if constexpr (R == 5)
        return s.Bank->L;
    else
        return s.AFRef->A;
}

// Register pairs, each stored low byte first: the bytes of a RegisterBank are
// HL at offset 0, DE at 2, BC at 4; those of an AFPair are AF.
template <std::size_t Offset, typename Record> inline uint16_t LoadPair(const Record* r) {
    uint16_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(r) + Offset, 2);
    return v;
}
template <std::size_t Offset, typename Record> inline void StorePair(Record* r, uint16_t v) {
    std::memcpy(reinterpret_cast<uint8_t*>(r) + Offset, &v, 2);
}
static_assert(offsetof(RegisterBank, L) == 0 && offsetof(RegisterBank, H) == 1 &&
              offsetof(RegisterBank, E) == 2 && offsetof(RegisterBank, D) == 3 &&
              offsetof(RegisterBank, C) == 4 && offsetof(RegisterBank, B) == 5 &&
              offsetof(AFPair, F) == 0 && offsetof(AFPair, A) == 1);

inline uint16_t HL(const Z80State& s) { return LoadPair<0>(s.Bank); }
inline uint16_t DE(const Z80State& s) { return LoadPair<2>(s.Bank); }
inline uint16_t BC(const Z80State& s) { return LoadPair<4>(s.Bank); }
inline void SetHL(Z80State& s, uint16_t v) { StorePair<0>(s.Bank, v); }
inline void SetDE(Z80State& s, uint16_t v) { StorePair<2>(s.Bank, v); }
inline void SetBC(Z80State& s, uint16_t v) { StorePair<4>(s.Bank, v); }

// The pair named by a 2-bit field: 0 BC, 1 DE, 2 HL, 3 SP.
template <int P> inline uint16_t Pair(const Z80State& s) {
    if constexpr (P == 0)
        return BC(s);
    else if constexpr (P == 1)
        return DE(s);
    else if constexpr (P == 2)
        return HL(s);
    else
        return s.SP;
}
template <int P> inline void SetPair(Z80State& s, uint16_t v) {
    if constexpr (P == 0)
        SetBC(s, v);
    else if constexpr (P == 1)
        SetDE(s, v);
    else if constexpr (P == 2)
        SetHL(s, v);
    else
        s.SP = v;
}

inline uint16_t AF(const Z80State& s) { return LoadPair<0>(s.AFRef); }
inline void SetAF(Z80State& s, uint16_t v) { StorePair<0>(s.AFRef, v); }

// ---- stack -------------------------------------------------------------------

inline void Push(Z80State& s, uint16_t v) {
    s.SP = static_cast<uint16_t>(s.SP - 2);
    WriteWord(s, s.SP, v);
}
inline uint16_t Pop(Z80State& s) {
    const uint16_t v = ReadWord(s, s.SP);
    s.SP = static_cast<uint16_t>(s.SP + 2);
    return v;
}

// Condition field: 0 NZ, 1 Z, 2 NC, 3 C, 4 PO, 5 PE, 6 P, 7 M.
template <int Cc> inline bool Condition(const Z80State& s) {
    constexpr uint8_t masks[4] = {FlagZ, FlagC, FlagPV, FlagS};
    const bool set = (s.AFRef->F & masks[Cc >> 1]) != 0;
    return (Cc & 1) ? set : !set;
}

// ---- ports -------------------------------------------------------------------
// A state without devices behaves like a machine with nothing on its ports:
// writes go nowhere and reads see the idle bus (0xFF).

inline void PortOut(Z80State& s, uint16_t port, uint8_t value) {
    if (s.Ports) s.Ports->Out(port, value);
}
inline uint8_t PortIn(Z80State& s, uint16_t port) { return s.Ports ? s.Ports->In(port) : 0xFF; }

// ---- flag rules and 8-bit operations -------------------------------------------

// AddFlags of a + b = r (r unreduced, up to 9 bits).
inline uint8_t AddFlags(unsigned a, unsigned b, unsigned r) {
    return static_cast<uint8_t>(SZTable[r & 0xFF] | ((a ^ b ^ r) & FlagH) |
                                (((a ^ r) & (b ^ r) & 0x80) >> 5) | ((r >> 8) & FlagC));
}
// SubFlags of a - b = r (r unreduced, computed in unsigned arithmetic).
inline uint8_t SubFlags(unsigned a, unsigned b, unsigned r) {
    return static_cast<uint8_t>(SZTable[r & 0xFF] | ((a ^ b ^ r) & FlagH) |
                                (((a ^ b) & (a ^ r) & 0x80) >> 5) | FlagN | ((r >> 8) & FlagC));
}

inline void AddA(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    const unsigned a = af.A, r = a + v;
    af.A = static_cast<uint8_t>(r);
    af.F = AddFlags(a, v, r);
}
inline void SubA(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    const unsigned a = af.A, r = a - v;
    af.A = static_cast<uint8_t>(r);
    af.F = SubFlags(a, v, r);
}
// The carry is folded into the operand first: (v + C) mod 256.
inline void AdcA(Z80State& s, uint8_t v) {
    AddA(s, static_cast<uint8_t>(v + (s.AFRef->F & FlagC)));
}
inline void SbcA(Z80State& s, uint8_t v) {
    SubA(s, static_cast<uint8_t>(v + (s.AFRef->F & FlagC)));
}
inline void AndA(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    af.A &= v;
    af.F = static_cast<uint8_t>((af.F & KeepBits53) | SZPTable[af.A] | FlagH);
}
inline void XorA(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    af.A ^= v;
    af.F = static_cast<uint8_t>((af.F & KeepBits53) | SZPTable[af.A]);
}
inline void OrA(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    af.A |= v;
    af.F = static_cast<uint8_t>((af.F & KeepBits53) | SZPTable[af.A]);
}
inline void CpA(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    const unsigned a = af.A;
    af.F = SubFlags(a, v, a - v);
}

// The ALU operation of field y: ADD, ADC, SUB, SBC, AND, XOR, OR, CP.
template <int Y> inline void Alu(Z80State& s, uint8_t v) {
    if constexpr (Y == 0)
        AddA(s, v);
    else if constexpr (Y == 1)
        AdcA(s, v);
    else if constexpr (Y == 2)
        SubA(s, v);
    else if constexpr (Y == 3)
        SbcA(s, v);
    else if constexpr (Y == 4)
        AndA(s, v);
    else if constexpr (Y == 5)
        XorA(s, v);
    else if constexpr (Y == 6)
        OrA(s, v);
    else
        CpA(s, v);
}

inline uint8_t Inc8(Z80State& s, uint8_t v) {
    const auto r = static_cast<uint8_t>(v + 1);
    AFPair& af = *s.AFRef;
    af.F = static_cast<uint8_t>((af.F & FlagC) | IncTable[r]);
    return r;
}
inline uint8_t Dec8(Z80State& s, uint8_t v) {
    const auto r = static_cast<uint8_t>(v - 1);
    AFPair& af = *s.AFRef;
    af.F = static_cast<uint8_t>((af.F & FlagC) | DecTable[r]);
    return r;
}

// Add16Flags: only N (cleared) and C change.
inline uint16_t Add16(Z80State& s, uint16_t a, uint16_t b) {
    const unsigned r = static_cast<unsigned>(a) + b;
    AFPair& af = *s.AFRef;
    af.F = static_cast<uint8_t>((af.F & ~(FlagN | FlagC)) | (r >> 16));
    return static_cast<uint16_t>(r);
}

// CB-page rotate or shift of field y (RLC, RRC, RL, RR, SLA, SRA, SLL, SRL)
// with ShiftFlags; returns the result.
template <int Y> inline uint8_t Shift(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    unsigned r, c;
    if constexpr (Y == 0)
        r = (v << 1) | (v >> 7), c = v >> 7;
    else if constexpr (Y == 1)
        r = (v >> 1) | (v << 7), c = v & 1;
    else if constexpr (Y == 2)
        r = (v << 1) | (af.F & FlagC), c = v >> 7;
    else if constexpr (Y == 3)
        r = (v >> 1) | ((af.F & FlagC) << 7), c = v & 1;
    else if constexpr (Y == 4)
        r = v << 1, c = v >> 7;
    else if constexpr (Y == 5)
        r = (v >> 1) | (v & 0x80), c = v & 1;
    else if constexpr (Y == 6)
        r = (v << 1) | 1, c = v >> 7;
    else
        r = v >> 1, c = v & 1;
    const auto result = static_cast<uint8_t>(r);
    af.F = static_cast<uint8_t>((af.F & KeepBits53) | SZPTable[result] | c);
    return result;
}

// BIT b: Z from the tested bit, H set, N cleared, everything else kept.
template <int B> inline void Bit(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    af.F = static_cast<uint8_t>((af.F & KeepForBit) | FlagH | ((v >> B) & 1 ? 0 : FlagZ));
}

} // namespace z80core
