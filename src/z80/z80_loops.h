// The loops the fast runner (z80_run.cpp) takes whole rounds of in one step,
// leaving the processor exactly as their passes would: delay loops that touch
// neither memory nor ports (beeper players' waits between two OUTs, the
// commonest multiplication loop), and idle loops around an IN (game code
// waiting for a key while its interrupt plays the music). The recognisers
// look at the code in memory; the runner asks them only where the opcode and
// the time allow a loop.
//
// Private to the z80 library.
#pragma once

#include "z80/z80_core.h"

#include <cstdint>

namespace z80core {

// The opcodes that can open a delay loop: DJNZ e, DEC r (not (HL)) and DEC
// rr (BC, DE, HL). The runner checks for a loop after these alone.
constexpr bool OpensDelayLoop(int op) {
    return op == 0x10 || ((op & 0xC7) == 0x05 && op != 0x35) || op == 0x0B || op == 0x1B ||
           op == 0x2B;
}

inline uint8_t* RegisterByte(Z80State& s, int field) {
    switch (field) {
    case 0: return &s.Bank->B;
    case 1: return &s.Bank->C;
    case 2: return &s.Bank->D;
    case 3: return &s.Bank->E;
    case 4: return &s.Bank->H;
    case 5: return &s.Bank->L;
    default: return &s.AFRef->A;
    }
}

// Whole rounds of the delay loop that the instruction `op` at pc - 1 opens,
// its pass begun at `t` (see RunDelayLoop in z80_loops.cpp), or else that one
// instruction as the table step runs it.
int32_t DelayLoopOrStep(Z80State& s, uint8_t op, uint16_t pc, int32_t t);

// True for an IN r,(C) after the ED prefix.
constexpr bool IsInputC(uint8_t op2) { return (op2 & 0xC7) == 0x40; }

// The IN at pc - 1 (opcode `op`, IN A,(n) or the ED prefix of IN r,(C)),
// then, when it closes an idle round, that round pass by pass and all but
// the last whole rounds before the frame end at once. Called with TStates and
// R current; leaves them current and returns 0 (everything is in TStates).
int32_t InputOrIdleLoop(Z80State& s, uint8_t op, uint16_t pc);

// ADD A,r with r one of C, D, E, H, L: what a DJNZ back to it repeats in a
// multiplication by repeated addition, which adds the same value every round.
constexpr bool IsAddOfOther(uint8_t op) { return static_cast<uint8_t>(op - 0x81) < 5; }

// The cheap test in front of RunDelayLoop, made on every DJNZ, DEC r and
// DEC rr: DJNZ and DEC r open a loop only when they branch back to
// themselves (DJNZ also to the instruction before it), DEC rr only when
// LD A,r, OR r and an NZ branch follow; a
// counter that this pass brings to 0 opens none (DEC r and DEC rr are taken
// as counters at 1 too, which costs only a missed round). The loop's next pass
// begins at least 4 T-states on: past the window, or with interrupts off, no
// pass of the loop can take the interrupt.
template <int Op> inline bool MayOpenDelayLoop(const Z80State& s, uint16_t pc, int32_t t) {
    const uint8_t next = s.Memory[pc];
    bool shape;
    if constexpr (Op == 0x10) {
        // DJNZ $ or DJNZ $-1 (which TightLoopRounds runs only after ADD A,r).
        shape = static_cast<uint8_t>(next + 3) <= 1 && s.Bank->B != 1;
    } else if constexpr ((Op & 0x0F) == 0x0B) {
        const uint8_t branch = s.Memory[static_cast<uint16_t>(pc + 2)];
        shape = (next & 0xF8) == 0x78 && (branch == 0x20 || branch == 0xC2);
    } else {
        shape = (next == 0x20 && s.Memory[static_cast<uint16_t>(pc + 1)] == 0xFD) ||
                (next == 0xC2 && ReadWord(s, static_cast<uint16_t>(pc + 1)) == pc - 1);
    }
    return shape && (!s.IFF1 || t >= InterruptWindow - 4);
}

// DJNZ $, DJNZ back to an ADD A,r just before it, and DEC r / JR NZ,$-1,
// the commonest delay and multiplication loops, without the recogniser:
// whole rounds of the loop whose instruction at `pc` - 1 has begun its pass
// at `t` (its refresh counted; MayOpenDelayLoop has said yes), run at once,
// each round from that instruction back to it, as stepping would run them.
// Returns their T-states with `r` advanced by the passes after this one, or
// 0 with nothing changed when no round can run so (the counter at 1, or the
// frame end too near). The division is only needed when the frame end cuts
// the rounds.
template <int Op> inline int32_t TightLoopRounds(Z80State& s, int32_t t, uint32_t& r, uint16_t pc) {
    constexpr bool djnz = Op == 0x10;
    const bool adds = djnz && s.Memory[pc] == 0xFD; // DJNZ to ADD A,r / DJNZ
    if (adds && !IsAddOfOther(s.Memory[static_cast<uint16_t>(pc - 2)])) return 0;
    const int32_t passes = djnz && !adds ? 1 : 2;
    const int32_t perRound = djnz ? (adds ? 13 + 4 : 13) : 4 + 12;
    uint8_t& counter = djnz ? s.Bank->B : *RegisterByte(s, (Op >> 3) & 7);
    int32_t rounds = (counter - 1) & 0xFF; // a counter at 0 runs 256 rounds
    if (t + rounds * perRound > FrameTStates - 1) rounds = (FrameTStates - 1 - t) / perRound;
    if (rounds <= 0) return 0;
    counter = static_cast<uint8_t>(counter - rounds);
    if constexpr (!djnz) {
        uint8_t& f = s.AFRef->F;
        f = static_cast<uint8_t>((f & FlagC) | DecTable[counter]);
    } else if (adds) {
        // A grows by the register's value each round; F is that of the last
        // addition.
        AFPair& af = *s.AFRef;
        const unsigned v = *RegisterByte(s, s.Memory[static_cast<uint16_t>(pc - 2)] & 7);
        const unsigned before = (af.A + static_cast<unsigned>(rounds - 1) * v) & 0xFF;
        af.A = static_cast<uint8_t>(before + v);
        af.F = AddFlags(before, v, before + v);
    }
    r += static_cast<uint32_t>(passes * rounds - 1);
    return perRound * rounds;
}

// True for the opcodes whose loops TightLoopRounds runs: DJNZ and DEC r
// followed by JR NZ,$-1 (DEC r followed by JP NZ goes to RunDelayLoop).
template <int Op> constexpr bool HasTightLoop() { return Op == 0x10 || (Op & 0xC7) == 0x05; }

} // namespace z80core
