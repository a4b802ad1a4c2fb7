// Handlers of the DD/FD page (IndexTable, one table for both prefixes: each
// handler gets the index register X, IX after DD and IY after FD) and of the
// DD CB / FD CB page (IndexCBTable, each handler gets the address X + d).
//
// Supported index forms are the documented ones plus the undocumented forms on
// the halves XH and XL. Any other opcode after DD or FD runs the unprefixed
// instruction, X taking no part, for 4 T more. A DD, FD or ED after the prefix
// drops the prefix as a 4-T no-operation and lets the second byte start the
// next instruction (DD also blocks the interrupt check in between and takes
// back one refresh count). Differences from the Zilog manual: DD/FD D3 takes
// 16 T, and BIT on the DD CB / FD CB page takes 23 T like the rest of it.
//
// Private to the z80 library.
#pragma once

#include "z80/z80_main_page.h"

namespace z80core {

inline uint8_t High(uint16_t x) { return static_cast<uint8_t>(x >> 8); }
inline uint8_t Low(uint16_t x) { return static_cast<uint8_t>(x); }
inline void SetHigh(uint16_t& x, uint8_t v) { x = static_cast<uint16_t>((x & 0x00FF) | (v << 8)); }
inline void SetLow(uint16_t& x, uint8_t v) { x = static_cast<uint16_t>((x & 0xFF00) | v); }

// Operand field read with H and L meaning XH and XL.
template <int R> inline uint8_t IndexReg(Z80State& s, uint16_t x) {
    if constexpr (R == 4)
        return High(x);
    else if constexpr (R == 5)
        return Low(x);
    else
        return Reg<R>(s);
}
template <int R> inline void SetIndexReg(Z80State& s, uint16_t& x, uint8_t v) {
    if constexpr (R == 4)
        SetHigh(x, v);
    else if constexpr (R == 5)
        SetLow(x, v);
    else
        Reg<R>(s) = v;
}

// X + d for the displacement byte at pc; PC moves past it.
inline uint16_t Displaced(Z80State& s, uint16_t x, uint16_t pc) {
    const auto d = static_cast<int8_t>(s.Memory[pc]);
    s.PC = static_cast<uint16_t>(pc + 1);
    return static_cast<uint16_t>(x + d);
}

// Which opcodes after DD/FD have an index form of their own (the prefix steps
// CB, DD, ED, FD included); all others run the unprefixed handler + 4 T.
constexpr bool HasIndexForm(int op) {
    constexpr uint8_t listed[] = {
        0x09, 0x19, 0x29, 0x39,             // ADD X,rr
        0x21, 0x22, 0x2A, 0x23, 0x2B,       // LD X,nn; LD (nn),X; LD X,(nn); INC X; DEC X
        0x24, 0x2C, 0x25, 0x2D, 0x26, 0x2E, // INC, DEC, LD n on XH and XL
        0x34, 0x35, 0x36,                   // INC, DEC, LD n on (X+d)
        0xE1, 0xE5, 0xE3, 0xE9, 0xF9,       // POP X, PUSH X, EX (SP),X, JP (X), LD SP,X
        0xCB, 0xDD, 0xED, 0xFD,             // index-CB step and prefix chains
    };
    for (const uint8_t listedOp : listed)
        if (listedOp == op) return true;
    const int x = op >> 6, y = (op >> 3) & 7, z = op & 7;
    if (x == 1 && op != 0x76) {
        // LD r,r' with H/L/(HL) on either side.
        return y == 4 || y == 5 || z == 4 || z == 5 || y == 6 || z == 6;
    }
    if (x == 2) return z == 4 || z == 5 || z == 6; // ALU with XH, XL, (X+d)
    return false;
}

// The instruction DD Op or FD Op on index register x; `pc` is the address
// after Op and s.PC holds it.
template <int Op> inline int32_t IndexBody(Z80State& s, uint16_t& x, uint16_t pc) {
    constexpr int y = (Op >> 3) & 7, z = Op & 7, p = y >> 1;
    uint8_t* const mem = s.Memory;

    if constexpr (!HasIndexForm(Op)) {
        return MainBody<Op>(s, pc) + 4;
    } else if constexpr (Op == 0xCB) {
        // Index-CB step: displacement, then opcode; no refresh count of its own.
        const auto address = static_cast<uint16_t>(x + static_cast<int8_t>(mem[pc]));
        const uint8_t op = mem[static_cast<uint16_t>(pc + 1)];
        s.PC = static_cast<uint16_t>(pc + 2);
        return Tables.IndexCBTable[op](s, address);
    } else if constexpr (Op == 0xDD) {
        // DD DD / FD DD: the second DD is fetched again with no interrupt check
        // in between, and counts once in R.
        s.EIDelay = 1;
        s.PC = static_cast<uint16_t>(pc - 1);
        s.R = static_cast<uint8_t>(((s.R - 1) & 0x7F) | s.RBit7);
        return 4;
    } else if constexpr (Op == 0xFD || Op == 0xED) {
        // DD FD, FD FD, DD ED, FD ED: the first prefix is dropped.
        s.PC = static_cast<uint16_t>(pc - 1);
        return 4;
    } else if constexpr ((Op & 0xCF) == 0x09) { // ADD X,rr (rr = BC, DE, X, SP)
        const uint16_t v = p == 2 ? x : Pair<p>(s);
        x = Add16(s, x, v);
        return 15;
    } else if constexpr (Op == 0x21) {
        x = ReadWord(s, pc);
        s.PC = static_cast<uint16_t>(pc + 2);
        return 14;
    } else if constexpr (Op == 0x22) {
        const uint16_t nn = ReadWord(s, pc);
        s.PC = static_cast<uint16_t>(pc + 2);
        WriteWord(s, nn, x);
        return 20;
    } else if constexpr (Op == 0x2A) {
        const uint16_t nn = ReadWord(s, pc);
        s.PC = static_cast<uint16_t>(pc + 2);
        x = ReadWord(s, nn);
        return 20;
    } else if constexpr (Op == 0x23) {
        x = static_cast<uint16_t>(x + 1);
        return 10;
    } else if constexpr (Op == 0x2B) {
        x = static_cast<uint16_t>(x - 1);
        return 10;
    } else if constexpr (Op == 0x24 || Op == 0x2C) { // INC XH / XL
        SetIndexReg<y>(s, x, Inc8(s, IndexReg<y>(s, x)));
        return 8;
    } else if constexpr (Op == 0x25 || Op == 0x2D) { // DEC XH / XL
        SetIndexReg<y>(s, x, Dec8(s, IndexReg<y>(s, x)));
        return 8;
    } else if constexpr (Op == 0x26 || Op == 0x2E) { // LD XH,n / LD XL,n
        const uint8_t n = mem[pc];
        s.PC = static_cast<uint16_t>(pc + 1);
        SetIndexReg<y>(s, x, n);
        return 11;
    } else if constexpr (Op == 0x34 || Op == 0x35) { // INC/DEC (X+d)
        uint8_t& m = mem[Displaced(s, x, pc)];
        m = (Op == 0x34) ? Inc8(s, m) : Dec8(s, m);
        return 23;
    } else if constexpr (Op == 0x36) { // LD (X+d),n: d precedes n
        const uint16_t a = Displaced(s, x, pc);
        mem[a] = mem[static_cast<uint16_t>(pc + 1)];
        s.PC = static_cast<uint16_t>(pc + 2);
        return 19;
    } else if constexpr ((Op >> 6) == 1) {
        if constexpr (z == 6) { // LD r,(X+d): H and L are the main registers
            Reg<y>(s) = mem[Displaced(s, x, pc)];
            return 19;
        } else if constexpr (y == 6) { // LD (X+d),r
            mem[Displaced(s, x, pc)] = Reg<z>(s);
            return 19;
        } else { // LD with XH/XL on either side (LD XH,XH and LD XL,XL do nothing)
            SetIndexReg<y>(s, x, IndexReg<z>(s, x));
            return 8;
        }
    } else if constexpr ((Op >> 6) == 2) {
        if constexpr (z == 6) {
            Alu<y>(s, mem[Displaced(s, x, pc)]);
            return 19;
        } else {
            Alu<y>(s, IndexReg<z>(s, x));
            return 8;
        }
    } else if constexpr (Op == 0xE1) {
        x = Pop(s);
        return 14;
    } else if constexpr (Op == 0xE5) {
        Push(s, x);
        return 15;
    } else if constexpr (Op == 0xE3) { // EX (SP),X
        const uint16_t v = ReadWord(s, s.SP);
        WriteWord(s, s.SP, x);
        x = v;
        return 23;
    } else if constexpr (Op == 0xE9) {
        s.PC = x;
        return 8;
    } else {
        static_assert(Op == 0xF9);
        s.SP = x;
        return 10;
    }
}

// What the handler of DD Op or FD Op uses of the processor (see HandlerUse):
// an opcode without an index form runs as the unprefixed one.
constexpr unsigned IndexPageUses(int op) {
    if (!HasIndexForm(op)) return MainPageUses(op);
    if (op == 0xDD) return SetsEIDelay | UsesR; // fetched again, counted once
    return UsesNothing;
}

// The handler of IndexTable entry Op.
template <int Op> Z80_HANDLER int32_t IndexOp(Z80State& s, uint16_t& x) {
    return IndexBody<Op>(s, x, s.PC);
}

// DD CB d op / FD CB d op on the byte at the address; a rotate, shift, RES or
// SET also copies its result into the register of the low three bits (none
// for 6). BIT ignores the low three bits. All take 23 T.
template <int Op> Z80_HANDLER int32_t IndexCBOp(Z80State& s, uint16_t address) {
    constexpr int x = Op >> 6, y = (Op >> 3) & 7, z = Op & 7;
    uint8_t& m = s.Memory[address];
    if constexpr (x == 1) {
        Bit<y>(s, m);
    } else {
        uint8_t r;
        if constexpr (x == 0)
            r = Shift<y>(s, m);
        else if constexpr (x == 2)
            r = static_cast<uint8_t>(m & ~(1u << y));
        else
            r = static_cast<uint8_t>(m | (1u << y));
        m = r;
        if constexpr (z != 6) Reg<z>(s) = r;
    }
    return 23;
}

} // namespace z80core
