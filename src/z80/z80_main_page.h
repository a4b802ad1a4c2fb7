// Handlers of the unprefixed opcodes (MainTable) and of the CB page (CBTable).
//
// Each handler is one instantiation of a template over its opcode; the opcode's
// fields (x = bits 7-6, y = bits 5-3, z = bits 2-0, p = y / 2, q = y mod 2)
// are decoded at compile time, so every instantiation is a short straight-line
// function that returns the instruction's T-states.
//
// Timings are the Zilog manual's, except OUT (n),A (12 T instead of 11), BIT
// b,(HL) (15 T instead of 12) and HALT, which with interrupts enabled runs on
// to the frame end in one step. Flags follow the rules of z80_core.h.
//
// Private to the z80 library.
#pragma once

#include "z80/z80_core.h"

namespace z80core {

// HALT. With interrupts disabled PC stays on the HALT and it runs again on
// the next pass. With them enabled the rest of the frame passes in one step,
// rounded up to whole 4-T-state steps, so that the frame ends and the
// interrupt comes at once; if 4 T-states already reach the interrupt window,
// only those are taken.
inline int32_t Halt(Z80State& s, uint16_t& pc) {
    if (!s.IFF1) {
        pc = static_cast<uint16_t>(pc - 1);
        return 4;
    }
    int32_t t = s.TStates + 4;
    if (t >= FrameTStates) t -= FrameTStates;
    if (t < InterruptWindow) return 4;
    const int32_t toFrameEnd = FrameTStates - s.TStates;
    return (toFrameEnd + 3) & ~3;
}

// DAA as this core defines it: the low correction decides H, the high
// correction (taken on the value before any correction) decides C; after a
// subtraction the low correction may also set C when it borrows.
inline void Daa(Z80State& s) {
    AFPair& af = *s.AFRef;
    const uint8_t old = af.A;
    const bool oldC = (af.F & FlagC) != 0;
    const bool lowFix = (old & 0x0F) > 9 || (af.F & FlagH) != 0;
    const bool highFix = old > 0x99 || oldC;
    unsigned a = old;
    uint8_t h = 0, c = 0;
    if (!(af.F & FlagN)) {
        if (lowFix) a += 6, h = FlagH;
        if (highFix) a += 0x60, c = FlagC;
    } else {
        if (lowFix) c = (oldC || old < 6) ? FlagC : 0, a -= 6, h = FlagH;
        if (highFix) a -= 0x60, c = FlagC;
    }
    af.A = static_cast<uint8_t>(a);
    af.F = static_cast<uint8_t>(SZPTable[af.A] | h | (af.F & FlagN) | c);
}

// The instruction of opcode Op, with PC in `pc` instead of s.PC: on entry
// the address after the opcode, on return the next instruction's. s.PC is
// neither read nor written, except around the prefix steps, which take it
// from s.PC and leave it there; so a loop that runs these bodies can keep PC
// in a register from one instruction to the next.
template <int Op> inline int32_t MainBodyPC(Z80State& s, uint16_t& pc) {
    constexpr int x = Op >> 6, y = (Op >> 3) & 7, z = Op & 7, p = y >> 1, q = y & 1;
    uint8_t* const mem = s.Memory;

    if constexpr (x == 1) {
        // LD r,r' / LD r,(HL) / LD (HL),r / HALT
        if constexpr (Op == 0x76)
            return Halt(s, pc);
        else if constexpr (y == 6) {
            mem[HL(s)] = Reg<z>(s);
            return 7;
        } else if constexpr (z == 6) {
            Reg<y>(s) = mem[HL(s)];
            return 7;
        } else {
            Reg<y>(s) = Reg<z>(s);
            return 4;
        }
    } else if constexpr (x == 2) {
        // ALU A,r / ALU A,(HL)
        if constexpr (Op == 0x9F) {
            // SBC A,A does not fold the carry: A := 0 - C.
            const unsigned c = s.AFRef->F & FlagC;
            const unsigned r = 0u - c;
            s.AFRef->A = static_cast<uint8_t>(r);
            s.AFRef->F = SubFlags(0, c, r);
            return 4;
        } else if constexpr (z == 6) {
            Alu<y>(s, mem[HL(s)]);
            return 7;
        } else {
            Alu<y>(s, Reg<z>(s));
            return 4;
        }
    } else if constexpr (x == 0) {
        if constexpr (z == 0) {
            if constexpr (y == 0)
                return 4;                // NOP
            else if constexpr (y == 1) { // EX AF,AF'
                AFPair* const t = s.AFRef;
                s.AFRef = s.AltAFRef;
                s.AltAFRef = t;
                return 4;
            } else if constexpr (y == 2) { // DJNZ e
                const auto d = static_cast<int8_t>(mem[pc]);
                if (--s.Bank->B != 0) {
                    pc = static_cast<uint16_t>(pc + 1 + d);
                    return 13;
                }
                pc = static_cast<uint16_t>(pc + 1);
                return 8;
            } else if constexpr (y == 3) { // JR e
                const auto d = static_cast<int8_t>(mem[pc]);
                pc = static_cast<uint16_t>(pc + 1 + d);
                return 12;
            } else { // JR cc,e
                const auto d = static_cast<int8_t>(mem[pc]);
                if (Condition<y - 4>(s)) {
                    pc = static_cast<uint16_t>(pc + 1 + d);
                    return 12;
                }
                pc = static_cast<uint16_t>(pc + 1);
                return 7;
            }
        } else if constexpr (z == 1) {
            if constexpr (q == 0) { // LD rr,nn
                const uint16_t nn = ReadWord(s, pc);
                pc = static_cast<uint16_t>(pc + 2);
                SetPair<p>(s, nn);
                return 10;
            } else { // ADD HL,rr
                SetHL(s, Add16(s, HL(s), Pair<p>(s)));
                return 11;
            }
        } else if constexpr (z == 2) {
            if constexpr (Op == 0x02)
                mem[BC(s)] = A(s); // LD (BC),A
            else if constexpr (Op == 0x0A)
                A(s) = mem[BC(s)];
            else if constexpr (Op == 0x12)
                mem[DE(s)] = A(s);
            else if constexpr (Op == 0x1A)
                A(s) = mem[DE(s)];
            else {
                const uint16_t nn = ReadWord(s, pc);
                pc = static_cast<uint16_t>(pc + 2);
                if constexpr (Op == 0x22) { // LD (nn),HL
                    WriteWord(s, nn, HL(s));
                    return 16;
                } else if constexpr (Op == 0x2A) { // LD HL,(nn)
                    SetHL(s, ReadWord(s, nn));
                    return 16;
                } else if constexpr (Op == 0x32) { // LD (nn),A
                    mem[nn] = A(s);
                    return 13;
                } else { // LD A,(nn)
                    A(s) = mem[nn];
                    return 13;
                }
            }
            return 7;
        } else if constexpr (z == 3) { // INC rr / DEC rr
            SetPair<p>(s, static_cast<uint16_t>(Pair<p>(s) + (q == 0 ? 1 : -1)));
            return 6;
        } else if constexpr (z == 4 || z == 5) { // INC r / DEC r
            if constexpr (y == 6) {
                uint8_t& m = mem[HL(s)];
                m = (z == 4) ? Inc8(s, m) : Dec8(s, m);
                return 11;
            } else {
                uint8_t& r = Reg<y>(s);
                r = (z == 4) ? Inc8(s, r) : Dec8(s, r);
                return 4;
            }
        } else if constexpr (z == 6) { // LD r,n
            const uint8_t n = mem[pc];
            pc = static_cast<uint16_t>(pc + 1);
            if constexpr (y == 6) {
                mem[HL(s)] = n;
                return 10;
            } else {
                Reg<y>(s) = n;
                return 7;
            }
        } else { // z == 7: accumulator rotates, DAA, CPL, SCF, CCF
            AFPair& af = *s.AFRef;
            const unsigned a = af.A;
            if constexpr (y < 4) {
                unsigned r, c;
                if constexpr (y == 0)
                    r = (a << 1) | (a >> 7), c = a >> 7; // RLCA
                else if constexpr (y == 1)
                    r = (a >> 1) | (a << 7), c = a & 1; // RRCA
                else if constexpr (y == 2)
                    r = (a << 1) | (af.F & FlagC), c = a >> 7; // RLA
                else
                    r = (a >> 1) | ((af.F & FlagC) << 7), c = a & 1; // RRA
                af.A = static_cast<uint8_t>(r);
                af.F = static_cast<uint8_t>((af.F & KeepForRotateA) | c);
            } else if constexpr (y == 4) {
                Daa(s);
            } else if constexpr (y == 5) { // CPL
                af.A = static_cast<uint8_t>(~a);
                af.F |= FlagH | FlagN;
            } else if constexpr (y == 6) { // SCF
                af.F = static_cast<uint8_t>((af.F & ~(FlagH | FlagN)) | FlagC);
            } else { // CCF: H keeps its value
                af.F = static_cast<uint8_t>((af.F & ~FlagN) ^ FlagC);
            }
            return 4;
        }
    } else {                    // x == 3
        if constexpr (z == 0) { // RET cc
            if (Condition<y>(s)) {
                pc = Pop(s);
                return 11;
            }
            return 5;
        } else if constexpr (z == 1) {
            if constexpr (q == 0) { // POP rr (AF for p = 3, all eight bits of F)
                const uint16_t v = Pop(s);
                if constexpr (p == 3)
                    SetAF(s, v);
                else
                    SetPair<p>(s, v);
                return 10;
            } else if constexpr (p == 0) { // RET
                pc = Pop(s);
                return 10;
            } else if constexpr (p == 1) { // EXX
                RegisterBank* const t = s.Bank;
                s.Bank = s.AltBank;
                s.AltBank = t;
                return 4;
            } else if constexpr (p == 2) { // JP (HL)
                pc = HL(s);
                return 4;
            } else { // LD SP,HL
                s.SP = HL(s);
                return 6;
            }
        } else if constexpr (z == 2) { // JP cc,nn
            const uint16_t nn = ReadWord(s, pc);
            pc = Condition<y>(s) ? nn : static_cast<uint16_t>(pc + 2);
            return 10;
        } else if constexpr (z == 3) {
            if constexpr (y == 0) { // JP nn
                pc = ReadWord(s, pc);
                return 10;
            } else if constexpr (y == 1) { // CB prefix
                const uint8_t op = mem[pc];
                pc = static_cast<uint16_t>(pc + 1);
                RefreshIncrement(s);
                return Tables.CBTable[op](s);
            } else if constexpr (y == 2) { // OUT (n),A
                const uint8_t n = mem[pc];
                pc = static_cast<uint16_t>(pc + 1);
                const uint8_t a = A(s);
                PortOut(s, static_cast<uint16_t>((a << 8) | n), a);
                return 12;
            } else if constexpr (y == 3) { // IN A,(n)
                const uint8_t n = mem[pc];
                pc = static_cast<uint16_t>(pc + 1);
                A(s) = PortIn(s, static_cast<uint16_t>((A(s) << 8) | n));
                return 11;
            } else if constexpr (y == 4) { // EX (SP),HL
                const uint16_t v = ReadWord(s, s.SP);
                WriteWord(s, s.SP, HL(s));
                SetHL(s, v);
                return 19;
            } else if constexpr (y == 5) { // EX DE,HL
                const uint16_t de = DE(s);
                SetDE(s, HL(s));
                SetHL(s, de);
                return 4;
            } else if constexpr (y == 6) { // DI
                s.IFF1 = 0;
                return 4;
            } else { // EI: the next instruction runs before any interrupt
                s.IFF1 = 1;
                s.EIDelay = 1;
                return 4;
            }
        } else if constexpr (z == 4) { // CALL cc,nn
            const uint16_t nn = ReadWord(s, pc);
            const auto next = static_cast<uint16_t>(pc + 2);
            if (Condition<y>(s)) {
                Push(s, next);
                pc = nn;
                return 17;
            }
            pc = next;
            return 10;
        } else if constexpr (z == 5) {
            if constexpr (q == 0) { // PUSH rr (AF for p = 3)
                Push(s, p == 3 ? AF(s) : Pair<p>(s));
                return 11;
            } else if constexpr (p == 0) { // CALL nn
                const uint16_t nn = ReadWord(s, pc);
                Push(s, static_cast<uint16_t>(pc + 2));
                pc = nn;
                return 17;
            } else {
                // DD, ED, FD prefix: the next opcode selects the handler.
                const uint8_t op = mem[pc];
                const auto next = static_cast<uint16_t>(pc + 1);
                s.PC = next;
                RefreshIncrement(s);
                int32_t t;
                if constexpr (p == 1)
                    t = IndexStepTable[op](s, s.IX, next);
                else if constexpr (p == 2)
                    t = EDStepTable[op](s, next);
                else
                    t = IndexStepTable[op](s, s.IY, next);
                pc = s.PC;
                return t;
            }
        } else if constexpr (z == 6) { // ALU A,n
            const uint8_t n = mem[pc];
            pc = static_cast<uint16_t>(pc + 1);
            Alu<y>(s, n);
            return 7;
        } else { // RST
            Push(s, pc);
            pc = static_cast<uint16_t>(y * 8);
            return 11;
        }
    }
}

// What the handler of opcode Op uses of the processor (see HandlerUse).
constexpr unsigned MainPageUses(int op) {
    switch (op) {
    case 0x76: return UsesTStates; // HALT runs on to the frame end
    case 0xD3:                     // OUT (n),A
    case 0xDB: return UsesPorts;   // IN A,(n)
    case 0xFB: return SetsEIDelay; // EI
    case 0xCB:                     // the prefixes count their second opcode's fetch
    case 0xDD:
    case 0xED:
    case 0xFD: return UsesR;
    default: return UsesNothing;
    }
}

// The same with PC in s.PC as well: the handler of MainStepTable entry Op.
template <int Op> inline int32_t MainBody(Z80State& s, uint16_t pc) {
    const int32_t t = MainBodyPC<Op>(s, pc);
    s.PC = pc;
    return t;
}

// The handler of MainTable entry Op.
template <int Op> Z80_HANDLER int32_t MainOp(Z80State& s) { return MainBody<Op>(s, s.PC); }

// CB page: rotates and shifts, BIT, RES, SET on a register (8 T) or on the
// byte at HL (15 T, BIT included).
template <int Op> Z80_HANDLER int32_t CBOp(Z80State& s) {
    constexpr int x = Op >> 6, y = (Op >> 3) & 7, z = Op & 7;
    if constexpr (z == 6) {
        uint8_t& m = s.Memory[HL(s)];
        if constexpr (x == 0)
            m = Shift<y>(s, m);
        else if constexpr (x == 1)
            Bit<y>(s, m);
        else if constexpr (x == 2)
            m = static_cast<uint8_t>(m & ~(1u << y));
        else
            m = static_cast<uint8_t>(m | (1u << y));
        return 15;
    } else {
        uint8_t& r = Reg<z>(s);
        if constexpr (x == 0)
            r = Shift<y>(s, r);
        else if constexpr (x == 1)
            Bit<y>(s, r);
        else if constexpr (x == 2)
            r = static_cast<uint8_t>(r & ~(1u << y));
        else
            r = static_cast<uint8_t>(r | (1u << y));
        return 8;
    }
}

} // namespace z80core
