// A plain, slow statement of this core's flag rules, written from the rules
// themselves (not from the core) so that the tests can compare every result.
// Bits 5 and 3 are never taken from a result: cleared by the arithmetic
// rules, kept by the logic and shift rules.
#pragma once

#include "z80_test_util.h"

namespace z80test {

struct Result {
    uint8_t V; // the result value (A for the ALU, the operand for shifts)
    uint8_t F;
};

inline Result Add8(uint8_t a, uint8_t t) {
    const uint8_t r = static_cast<uint8_t>(a + t);
    uint8_t f = SignZero(r);
    if ((a & 0x0F) + (t & 0x0F) > 0x0F) f |= FlagH;
    if (((a ^ r) & (t ^ r) & 0x80) != 0) f |= FlagPV; // both operands differ in sign from r
    if (a + t > 0xFF) f |= FlagC;
    return {r, f};
}

inline Result Sub8(uint8_t a, uint8_t t) {
    const uint8_t r = static_cast<uint8_t>(a - t);
    uint8_t f = SignZero(r) | FlagN;
    if ((a & 0x0F) < (t & 0x0F)) f |= FlagH;
    if (((a ^ t) & (a ^ r) & 0x80) != 0) f |= FlagPV;
    if (a < t) f |= FlagC;
    return {r, f};
}

// The eight ALU operations in opcode order: ADD ADC SUB SBC AND XOR OR CP.
// ADC and SBC fold the carry into the operand first. SBC A,A (opcode 9F) is
// not this rule; see SbcAA.
inline Result Alu(int op, uint8_t a, uint8_t s, uint8_t f) {
    const uint8_t folded = static_cast<uint8_t>(s + (f & FlagC));
    const uint8_t kept = f & (Flag5 | Flag3);
    switch (op) {
    case 0: return Add8(a, s);
    case 1: return Add8(a, folded);
    case 2: return Sub8(a, s);
    case 3: return Sub8(a, folded);
    case 4: return {uint8_t(a & s), uint8_t(SignZero(a & s) | kept | FlagH | Parity(a & s))};
    case 5: return {uint8_t(a ^ s), uint8_t(SignZero(a ^ s) | kept | Parity(a ^ s))};
    case 6: return {uint8_t(a | s), uint8_t(SignZero(a | s) | kept | Parity(a | s))};
    default: return {a, Sub8(a, s).F};
    }
}

inline Result SbcAA(uint8_t f) { return Sub8(0, f & FlagC); }

inline Result Inc8(uint8_t v, uint8_t f) {
    const uint8_t r = static_cast<uint8_t>(v + 1);
    uint8_t out = SignZero(r) | (f & FlagC);
    if ((v & 0x0F) == 0x0F) out |= FlagH;
    if (v == 0x7F) out |= FlagPV;
    return {r, out};
}

inline Result Dec8(uint8_t v, uint8_t f) {
    const uint8_t r = static_cast<uint8_t>(v - 1);
    uint8_t out = SignZero(r) | FlagN | (f & FlagC);
    if ((v & 0x0F) == 0) out |= FlagH;
    if (v == 0x80) out |= FlagPV;
    return {r, out};
}

inline Result Daa(uint8_t a, uint8_t f) {
    const uint8_t old = a;
    const bool oldC = f & FlagC;
    bool h = f & FlagH, c;
    if (!(f & FlagN)) {
        h = (a & 0x0F) > 9 || h;
        if (h) a = static_cast<uint8_t>(a + 6);
        c = old > 0x99 || oldC;
        if (c) a = static_cast<uint8_t>(a + 0x60);
    } else {
        c = false;
        h = (a & 0x0F) > 9 || h;
        if (h) {
            c = oldC || a < 6;
            a = static_cast<uint8_t>(a - 6);
        }
        if (old > 0x99 || oldC) {
            a = static_cast<uint8_t>(a - 0x60);
            c = true;
        }
    }
    return {a, uint8_t(SignZero(a) | Parity(a) | (f & FlagN) | (h ? FlagH : 0) | (c ? FlagC : 0))};
}

// CB rotates and shifts in opcode order: RLC RRC RL RR SLA SRA SLL SRL.
inline Result Shift(int kind, uint8_t v, uint8_t f) {
    const int cin = f & FlagC;
    int r = 0, c = 0;
    switch (kind) {
    case 0: r = v << 1 | v >> 7, c = v >> 7; break;
    case 1: r = v >> 1 | v << 7, c = v & 1; break;
    case 2: r = v << 1 | cin, c = v >> 7; break;
    case 3: r = v >> 1 | cin << 7, c = v & 1; break;
    case 4: r = v << 1, c = v >> 7; break;
    case 5: r = v >> 1 | (v & 0x80), c = v & 1; break;
    case 6: r = v << 1 | 1, c = v >> 7; break;
    default: r = v >> 1, c = v & 1; break;
    }
    const uint8_t res = static_cast<uint8_t>(r);
    return {res, uint8_t(SignZero(res) | (f & (Flag5 | Flag3)) | Parity(res) | c)};
}

inline uint8_t BitFlags(int bit, uint8_t v, uint8_t f) {
    const uint8_t kept = f & (FlagS | Flag5 | Flag3 | FlagPV | FlagC);
    return kept | FlagH | (((v >> bit) & 1) != 0 ? 0 : FlagZ);
}

// ADC HL / SBC HL: the 16-bit AddFlags and SubFlags; H from bits 3 to 4.
struct Result16 {
    uint16_t V;
    uint8_t F;
};

inline Result16 Adc16(uint16_t hl, uint16_t rr, uint8_t f) {
    const uint16_t t = static_cast<uint16_t>(rr + (f & FlagC));
    const uint16_t r = static_cast<uint16_t>(hl + t);
    uint8_t out = (r >> 8 & FlagS) | (r == 0 ? FlagZ : 0);
    if ((hl & 0x0F) + (t & 0x0F) > 0x0F) out |= FlagH;
    if (((hl ^ r) & (t ^ r) & 0x8000) != 0) out |= FlagPV;
    if (hl + t > 0xFFFF) out |= FlagC;
    return {r, out};
}

inline Result16 Sbc16(uint16_t hl, uint16_t rr, uint8_t f) {
    const uint16_t t = static_cast<uint16_t>(rr + (f & FlagC));
    const uint16_t r = static_cast<uint16_t>(hl - t);
    uint8_t out = (r >> 8 & FlagS) | (r == 0 ? FlagZ : 0) | FlagN;
    if ((hl & 0x0F) < (t & 0x0F)) out |= FlagH;
    if (((hl ^ t) & (hl ^ r) & 0x8000) != 0) out |= FlagPV;
    if (hl < t) out |= FlagC;
    return {r, out};
}

} // namespace z80test
