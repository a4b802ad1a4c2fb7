// Handlers of the ED page (EDTable).
//
// Where this page knowingly differs from the Zilog manual (on purpose: song
// player code was tuned against this behaviour):
// - IN r,(C) leaves F alone; ED 70 reads no port and changes nothing (12 T);
//   ED 71 writes nothing (8 T).
// - The NEG and RETN mirrors (ED 4C, 54, ... and ED 55, 5D, ...) are 8-T
//   no-operations; RETN and RETI leave IFF1 alone (there is no IFF2), and
//   LD A,I / LD A,R copy IFF1 into P/V.
// - RLD and RRD clear the upper four bits of A and leave F alone.
// - INI, IND, INIR, INDR do nothing for 16 T; OUTI, OUTD, OTIR, OTDR put BC
//   on the port before B is decremented and set only Z and N.
// - ADC HL and SBC HL fold the carry into the operand first; H is the carry
//   between bits 3 and 4 of the low byte.
// - Every opcode not listed is an 8-T no-operation.
// Repeating block instructions do one iteration per step: PC goes back onto
// the ED prefix (21 T) until the last iteration (16 T).
//
// Private to the z80 library.
#pragma once

#include "z80/z80_core.h"

namespace z80core {

// 16-bit ADC HL,v and SBC HL,v with the carry folded into v.
inline void AdcHL(Z80State& s, uint16_t v) {
    AFPair& af = *s.AFRef;
    const unsigned hl = HL(s);
    const unsigned t = static_cast<uint16_t>(v + (af.F & FlagC));
    const unsigned r = hl + t;
    SetHL(s, static_cast<uint16_t>(r));
    af.F = static_cast<uint8_t>(((r >> 8) & FlagS) | ((r & 0xFFFF) == 0 ? FlagZ : 0) |
                                ((hl ^ t ^ r) & FlagH) | (((hl ^ r) & (t ^ r) & 0x8000) >> 13) |
                                ((r >> 16) & FlagC));
}
inline void SbcHL(Z80State& s, uint16_t v) {
    AFPair& af = *s.AFRef;
    const unsigned hl = HL(s);
    const unsigned t = static_cast<uint16_t>(v + (af.F & FlagC));
    const unsigned r = hl - t;
    SetHL(s, static_cast<uint16_t>(r));
    af.F = static_cast<uint8_t>(((r >> 8) & FlagS) | ((r & 0xFFFF) == 0 ? FlagZ : 0) |
                                ((hl ^ t ^ r) & FlagH) | (((hl ^ t) & (hl ^ r) & 0x8000) >> 13) |
                                FlagN | ((r >> 16) & FlagC));
}

// LD A,I and LD A,R: S, bit 5 and bit 3 copied from the value, P/V := IFF1.
inline void LoadAFromSpecial(Z80State& s, uint8_t v) {
    AFPair& af = *s.AFRef;
    af.A = v;
    af.F = static_cast<uint8_t>((v & (FlagS | Flag5 | Flag3)) | (v == 0 ? FlagZ : 0) |
                                (s.IFF1 ? FlagPV : 0) | (af.F & FlagC));
}

// One iteration of LDI/LDD (Step +1 or -1); returns whether BC is not 0.
template <int Step> inline bool BlockLoad(Z80State& s) {
    const uint16_t hl = HL(s), de = DE(s);
    const auto bc = static_cast<uint16_t>(BC(s) - 1);
    s.Memory[de] = s.Memory[hl];
    SetHL(s, static_cast<uint16_t>(hl + Step));
    SetDE(s, static_cast<uint16_t>(de + Step));
    SetBC(s, bc);
    AFPair& af = *s.AFRef;
    af.F = static_cast<uint8_t>((af.F & (FlagS | FlagZ | Flag5 | Flag3 | FlagC)) |
                                (bc != 0 ? FlagPV : 0));
    return bc != 0;
}

// One iteration of CPI/CPD; returns whether a CPIR/CPDR goes on (BC not 0
// and no match).
template <int Step> inline bool BlockCompare(Z80State& s) {
    const uint16_t hl = HL(s);
    const auto bc = static_cast<uint16_t>(BC(s) - 1);
    AFPair& af = *s.AFRef;
    const unsigned a = af.A, v = s.Memory[hl];
    const unsigned r = a - v;
    SetHL(s, static_cast<uint16_t>(hl + Step));
    SetBC(s, bc);
    af.F = static_cast<uint8_t>((af.F & (Flag5 | Flag3 | FlagC)) | SZTable[r & 0xFF] |
                                ((a ^ v ^ r) & FlagH) | FlagN | (bc != 0 ? FlagPV : 0));
    return bc != 0 && (r & 0xFF) != 0;
}

// One iteration of OUTI/OUTD: the port is BC before B is decremented.
// Returns whether B is not 0.
template <int Step> inline bool BlockOut(Z80State& s) {
    const uint16_t hl = HL(s);
    PortOut(s, BC(s), s.Memory[hl]);
    SetHL(s, static_cast<uint16_t>(hl + Step));
    const auto b = static_cast<uint8_t>(s.Bank->B - 1);
    s.Bank->B = b;
    AFPair& af = *s.AFRef;
    af.F = static_cast<uint8_t>((af.F & ~FlagZ) | FlagN | (b == 0 ? FlagZ : 0));
    return b != 0;
}

// The instruction ED Op; `pc` is the address after Op and s.PC holds it.
template <int Op> inline int32_t EDBody(Z80State& s, uint16_t pc) {
    constexpr int y = (Op >> 3) & 7, z = Op & 7, p = y >> 1, q = y & 1;

    if constexpr (Op >= 0x40 && Op < 0x80) {
        if constexpr (z == 0) {
            if constexpr (y != 6) Reg<y>(s) = PortIn(s, BC(s)); // IN r,(C); ED 70 does nothing
            return 12;
        } else if constexpr (z == 1) {
            if constexpr (y == 6)
                return 8; // ED 71 outputs nothing
            else {
                PortOut(s, BC(s), Reg<y>(s));
                return 12;
            }
        } else if constexpr (z == 2) {
            if constexpr (q == 0)
                SbcHL(s, Pair<p>(s));
            else
                AdcHL(s, Pair<p>(s));
            return 15;
        } else if constexpr (z == 3) {
            const uint16_t nn = ReadWord(s, pc);
            s.PC = static_cast<uint16_t>(pc + 2);
            if constexpr (q == 0)
                WriteWord(s, nn, Pair<p>(s)); // LD (nn),rr
            else
                SetPair<p>(s, ReadWord(s, nn)); // LD rr,(nn)
            return 20;
        } else if constexpr (z == 4) {
            if constexpr (Op == 0x44) { // NEG
                AFPair& af = *s.AFRef;
                const unsigned a = af.A, r = 0u - a;
                af.A = static_cast<uint8_t>(r);
                af.F = SubFlags(0, a, r);
            }
            return 8;
        } else if constexpr (z == 5) {
            if constexpr (Op == 0x45 || Op == 0x4D) { // RETN, RETI: IFF1 untouched
                s.PC = Pop(s);
                return 14;
            }
            return 8;
        } else if constexpr (z == 6) { // IM 0, 0, 1, 2 by y mod 4
            constexpr int32_t modes[4] = {0, 0, 1, 2};
            s.IM = modes[y & 3];
            return 8;
        } else {
            if constexpr (y == 0)
                s.I = A(s);              // LD I,A
            else if constexpr (y == 1) { // LD R,A
                s.R = A(s);
                s.RBit7 = static_cast<uint8_t>(A(s) & 0x80);
            } else if constexpr (y == 2)
                LoadAFromSpecial(s, s.I);
            else if constexpr (y == 3)
                LoadAFromSpecial(s, s.R);
            else if constexpr (y == 4) { // RRD
                uint8_t& m = s.Memory[HL(s)];
                const uint8_t t = m;
                m = static_cast<uint8_t>(((A(s) & 0x0F) << 4) | (t >> 4));
                A(s) = static_cast<uint8_t>(t & 0x0F);
                return 18;
            } else if constexpr (y == 5) { // RLD
                uint8_t& m = s.Memory[HL(s)];
                const uint8_t t = m;
                m = static_cast<uint8_t>((t << 4) | (A(s) & 0x0F));
                A(s) = static_cast<uint8_t>(t >> 4);
                return 18;
            } else
                return 8; // ED 77, ED 7F
            return 9;
        }
    } else if constexpr (Op >= 0xA0 && Op < 0xC0 && z < 4) {
        constexpr int step = (y & 1) ? -1 : 1;
        constexpr bool repeats = y >= 6;
        if constexpr (z == 2)
            return 16; // INI, IND, INIR, INDR: nothing
        else {
            bool more;
            if constexpr (z == 0)
                more = BlockLoad<step>(s);
            else if constexpr (z == 1)
                more = BlockCompare<step>(s);
            else
                more = BlockOut<step>(s);
            if constexpr (repeats) {
                if (more) {
                    s.PC = static_cast<uint16_t>(pc - 2);
                    return 21;
                }
            } else {
                (void)more;
            }
            return 16;
        }
    } else {
        return 8; // not an instruction: a no-operation of 8 T
    }
}

// What the handler of ED Op uses of the processor (see HandlerUse).
constexpr unsigned EDPageUses(int op) {
    const int y = (op >> 3) & 7, z = op & 7;
    if (op >= 0x40 && op < 0x80) {
        if ((z == 0 || z == 1) && y != 6) return UsesPorts; // IN r,(C) and OUT (C),r
        if (z == 7 && (y == 1 || y == 3)) return UsesR;     // LD R,A and LD A,R
        return UsesNothing;
    }
    if (op >= 0xA0 && op < 0xC0 && z == 3) return UsesPorts; // OUTI, OUTD, OTIR, OTDR
    return UsesNothing;
}

// The handler of EDTable entry Op.
template <int Op> Z80_HANDLER int32_t EDOp(Z80State& s) { return EDBody<Op>(s, s.PC); }

} // namespace z80core
