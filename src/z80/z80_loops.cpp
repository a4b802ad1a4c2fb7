// The recognisers of the loops that run whole rounds in one step (see
// z80_loops.h).
#include "z80/z80_loops.h"

#include "z80/z80_main_page.h"

#include <algorithm>
#include <cstdint>

namespace z80core {

namespace {

// ---- delay loops in one step -------------------------------------------------
// Beeper players wait between two OUTs in loops that touch neither memory nor
// ports: DJNZ $, DEC r / JR NZ (or JP NZ) back to the DEC, DEC rr / LD A,hi /
// OR lo / JR NZ (or JP NZ), and two such counter blocks that jump to each
// other. Nothing outside the processor can see their passes, so whole rounds
// of them run at once, up to the last round that ends before the frame end
// and that leaves every counter above zero; the rounds near the frame end and
// the exit run pass by pass as usual. Rounds run at once only where no
// interrupt can come in between (interrupts off, or the window already past).

// One counter block: where its counter lives, what its passes do to F, and
// where its taken branch goes.
struct CounterBlock {
    uint8_t* Low = nullptr;   // the 8-bit counter, or the low byte of the pair
    uint8_t* High = nullptr;  // the high byte of the pair (DEC rr blocks)
    uint8_t* Copy = nullptr;  // the byte the block loads into A (DEC rr blocks)
    uint8_t* Other = nullptr; // the byte the block ORs into A (DEC rr blocks)
    uint8_t Reads = 0;        // register bytes read before written: bit n = operand field n
    uint8_t Writes = 0;       // register bytes written
    uint8_t KeepF = 0xFF;     // the bits of F that the block keeps
    int32_t Passes = 0;       // instructions per round
    int32_t TStates = 0;      // T-states per round, branch taken
    uint16_t Target = 0;      // where the taken branch goes
    bool Word = false;        // a DEC rr block
};

// The NZ branch that closes a block at `a`: JR NZ,e (12 T taken) or JP NZ,nn
// (10 T). Returns its taken T-states and sets `target`, or 0.
int32_t NZBranch(const Z80State& s, uint16_t a, uint16_t& target) {
    if (s.Memory[a] == 0x20) {
        target = static_cast<uint16_t>(a + 2 + static_cast<int8_t>(s.Memory[a + 1]));
        return 12;
    }
    if (s.Memory[a] == 0xC2) {
        target = ReadWord(s, static_cast<uint16_t>(a + 1));
        return 10;
    }
    return 0;
}

// Recognises the counter block at `a`. Blocks that would run past 0xFFFF are
// left to the step.
bool ReadBlock(Z80State& s, uint16_t a, CounterBlock& b) {
    if (a > 0xFFF0) return false;
    const uint8_t op = s.Memory[a];
    if (op == 0x10) { // DJNZ e
        b = CounterBlock{};
        b.Low = &s.Bank->B;
        b.Reads = b.Writes = 1 << 0;
        b.Passes = 1;
        b.TStates = 13;
        b.Target = static_cast<uint16_t>(a + 2 + static_cast<int8_t>(s.Memory[a + 1]));
        return true;
    }
    if ((op & 0xC7) == 0x05 && op != 0x35) { // DEC r
        const int field = (op >> 3) & 7;
        uint16_t target = 0;
        const int32_t branch = NZBranch(s, static_cast<uint16_t>(a + 1), target);
        if (branch == 0) return false;
        b = CounterBlock{};
        b.Low = RegisterByte(s, field);
        b.Reads = b.Writes = static_cast<uint8_t>(1 << field);
        b.KeepF = FlagC;
        b.Passes = 2;
        b.TStates = 4 + branch;
        b.Target = target;
        return true;
    }
    if (op == 0x0B || op == 0x1B || op == 0x2B) { // DEC rr; LD A,hi; OR lo (or lo/hi)
        const int hi = (op >> 4) * 2, lo = hi + 1;
        const uint8_t ld = s.Memory[a + 1], orOp = s.Memory[a + 2];
        int copy;
        if (ld == 0x78 + hi && orOp == 0xB0 + lo)
            copy = hi;
        else if (ld == 0x78 + lo && orOp == 0xB0 + hi)
            copy = lo;
        else
            return false;
        uint16_t target = 0;
        const int32_t branch = NZBranch(s, static_cast<uint16_t>(a + 3), target);
        if (branch == 0) return false;
        b = CounterBlock{};
        b.Low = RegisterByte(s, lo);
        b.High = RegisterByte(s, hi);
        b.Copy = RegisterByte(s, copy);
        b.Other = RegisterByte(s, copy == hi ? lo : hi);
        b.Reads = static_cast<uint8_t>((1 << hi) | (1 << lo));
        b.Writes = static_cast<uint8_t>(b.Reads | (1 << 7)); // A is loaded before it is read
        b.KeepF = KeepBits53;
        b.Passes = 4;
        b.TStates = 14 + branch;
        b.Target = target;
        b.Word = true;
        return true;
    }
    return false;
}

// The counter's value, 0 counting as a full turn.
int32_t Count(const CounterBlock& b) {
    if (b.Word) {
        const int32_t v = *b.Low | (*b.High << 8);
        return v == 0 ? 0x10000 : v;
    }
    return *b.Low == 0 ? 0x100 : *b.Low;
}

// Runs `rounds` rounds of the block on its registers and F.
void RunRounds(Z80State& s, const CounterBlock& b, int32_t rounds) {
    uint8_t& f = s.AFRef->F;
    if (b.Word) {
        const auto v = static_cast<uint16_t>((*b.Low | (*b.High << 8)) - rounds);
        *b.Low = static_cast<uint8_t>(v);
        *b.High = static_cast<uint8_t>(v >> 8);
        s.AFRef->A = static_cast<uint8_t>(*b.Copy | *b.Other);
        f = static_cast<uint8_t>((f & b.KeepF) | SZPTable[s.AFRef->A]);
    } else {
        *b.Low = static_cast<uint8_t>(*b.Low - rounds);
        if (b.KeepF != 0xFF) f = static_cast<uint8_t>((f & b.KeepF) | DecTable[*b.Low]);
    }
}

// When the instruction at `a`, whose pass has begun at `t` (refresh counted,
// no interrupt taken, none possible in the passes that follow: see
// MayOpenDelayLoop), opens a delay loop, runs as many whole rounds as can run
// unseen and returns their T-states, with PC back at `a` and R advanced by
// the passes after this one. Otherwise returns 0 and changes nothing.
int32_t RunDelayLoop(Z80State& s, uint16_t a, int32_t t) {
    CounterBlock first, second;
    if (!ReadBlock(s, a, first)) return 0;
    int32_t passes = first.Passes, tRound = first.TStates;
    int32_t rounds = Count(first) - 1;
    const bool pair = first.Target != a;
    if (pair) {
        if (!ReadBlock(s, first.Target, second) || second.Target != a ||
            (first.Reads & second.Writes) != 0 || (second.Reads & first.Writes) != 0)
            return 0;
        passes += second.Passes;
        tRound += second.TStates;
        rounds = std::min(rounds, Count(second) - 1);
    }
    // Every round must end before the frame end (a division only when that
    // cuts the rounds).
    if (t + rounds * tRound > FrameTStates - 1) rounds = (FrameTStates - 1 - t) / tRound;
    if (rounds <= 0) return 0;
    RunRounds(s, first, rounds);
    if (pair) RunRounds(s, second, rounds);
    s.PC = a;
    s.R = static_cast<uint8_t>(((s.R + passes * rounds - 1) & 0x7F) | (s.R & 0x80));
    return tRound * rounds;
}

} // namespace

int32_t DelayLoopOrStep(Z80State& s, uint8_t op, uint16_t pc, int32_t t) {
    if (const int32_t rounds = RunDelayLoop(s, static_cast<uint16_t>(pc - 1), t)) return rounds;
    return MainStepTable[op](s, pc);
}

namespace {

// ---- idle loops around IN ---------------------------------------------------
// Game code often waits for a key while its interrupt plays the music: IN,
// test, jump back, over and over until the next interrupt. When a round of
// such a loop writes neither memory nor ports, does not look at R, and leaves
// every register as it found it, and the ports read the same whatever the
// time, every further round is that same round again: only the T-states and
// the refresh count move on. Such rounds run at once up to the last one that
// ends well before the frame end (no interrupt can come in between, as the
// window is past), and the rest run pass by pass as usual.
//
// The trigger is an IN reached again with the same registers as the IN
// before it; one round is then run pass by pass, each instruction checked
// before it runs, and only a round that meets the conditions is repeated.

constexpr int32_t IdleRoundPasses = 32; // the longest round looked at
constexpr int32_t LongestPass = 23;     // T-states of the longest instruction

void TakeRegisters(const Z80State& s, uint8_t (&out)[32]) {
    const RegisterBank* banks[2] = {&s.BankStore1, &s.BankStore2};
    int n = 0;
    for (const RegisterBank* b : banks) {
        out[n++] = b->B, out[n++] = b->C, out[n++] = b->D;
        out[n++] = b->E, out[n++] = b->H, out[n++] = b->L;
    }
    out[n++] = s.AFStore1.A, out[n++] = s.AFStore1.F;
    out[n++] = s.AFStore2.A, out[n++] = s.AFStore2.F;
    out[n++] = s.Bank == &s.BankStore1, out[n++] = s.AFRef == &s.AFStore1;
    for (const uint16_t w : {s.SP, s.IX, s.IY, s.PC}) {
        out[n++] = static_cast<uint8_t>(w);
        out[n++] = static_cast<uint8_t>(w >> 8);
    }
    out[n++] = s.I, out[n++] = s.IFF1, out[n++] = s.EIDelay;
    out[n++] = static_cast<uint8_t>(s.IM), out[n++] = s.RBit7;
    while (n < 32) out[n++] = 0;
}

// True for an IN r,(C) after the ED prefix.

// The instruction at `a` writes neither memory nor a port, does not touch R
// and does not halt. Index instructions are left out altogether.
bool ReadsOnly(const Z80State& s, uint16_t a) {
    const uint8_t op = s.Memory[a];
    const uint8_t op2 = s.Memory[static_cast<uint16_t>(a + 1)];
    switch (op) {
    case 0x02:
    case 0x12:
    case 0x22:
    case 0x32: // LD (rr),A / LD (nn),HL / LD (nn),A
    case 0x34:
    case 0x35:
    case 0x36: // INC/DEC/LD (HL)
    case 0x76:
    case 0xD3:
    case 0xE3: // HALT, OUT (n),A, EX (SP),HL
    case 0xDD:
    case 0xFD:
    case 0xCD: // index prefixes, CALL
        return false;
    case 0xCB: // BIT b,(HL) reads; the other (HL) forms write
        return (op2 & 7) != 6 || (op2 >> 6) == 1;
    case 0xED: return IsInputC(op2);
    default: break;
    }
    if (op >= 0x70 && op <= 0x77) return false; // LD (HL),r
    if ((op & 0xCF) == 0xC5) return false;      // PUSH
    if ((op & 0xC7) == 0xC4) return false;      // CALL cc
    if ((op & 0xC7) == 0xC7) return false;      // RST
    return true;
}

} // namespace

int32_t InputOrIdleLoop(Z80State& s, uint8_t op, uint16_t pc) {
    const auto at = static_cast<uint16_t>(pc - 1);
    s.TStates += MainStepTable[op](s, pc);
    if (s.Ports == nullptr || !s.Ports->SteadyInput()) return 0;
    uint8_t regs[32];
    TakeRegisters(s, regs);
    Z80State::InputProbe& probe = s.Probe;
    const bool again =
        probe.Valid && probe.Address == at && std::equal(regs, regs + 32, probe.Registers);
    probe.Valid = true;
    probe.Address = at;
    std::copy(regs, regs + 32, probe.Registers);
    // The round looked at must end before the frame end and start past the
    // interrupt window.
    if (!again || s.TStates < InterruptWindow ||
        s.TStates > FrameTStates - 1 - 2 * IdleRoundPasses * LongestPass)
        return 0;
    const int32_t start = s.TStates;
    const uint8_t r0 = s.R;
    for (int32_t n = 0; n < IdleRoundPasses; ++n) {
        const uint16_t a = s.PC;
        if (!ReadsOnly(s, a)) return 0;
        RefreshIncrement(s);
        s.EIDelay = 0;
        s.TStates += ExecuteInstruction(s);
        if (a != at) continue;
        uint8_t now[32];
        TakeRegisters(s, now);
        if (!std::equal(now, now + 32, regs)) return 0;
        const int32_t round = s.TStates - start;
        const int32_t rounds = (FrameTStates - 1 - s.TStates) / round - 1;
        if (rounds > 0) {
            const int32_t refreshes = (s.R - r0) & 0x7F;
            s.TStates += rounds * round;
            s.R = static_cast<uint8_t>(((s.R + rounds * refreshes) & 0x7F) | (s.R & 0x80));
        }
        return 0;
    }
    return 0;
}

} // namespace z80core
