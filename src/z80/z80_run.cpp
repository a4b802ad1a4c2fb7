// The frame loop's passes run back to back: the refresh count, then either
// the interrupt or one instruction, with the unprefixed page dispatched
// through a table of labels (a GCC and Clang extension) whose targets are the
// page's handler bodies themselves. Each is the same body (MainBodyPC) that
// MainStepTable's entry runs, so an instruction does exactly what the table
// step does; what is saved is the call and return of every instruction, the
// round trips of PC, R and the T-state count through memory, and one shared
// jump for all opcodes. Delay loops that touch neither memory nor ports, and
// idle loops around an IN, run whole rounds in one step, leaving the
// processor exactly as their passes would (see RunDelayLoop and
// InputOrIdleLoop).
//
// The same runner, instantiated once more without interrupts and without
// those one-step loops, and stopping before the instruction at either of two
// addresses, runs a processor that is alone (RunPassesUntil: CP/M programs
// between their system calls).
#include "z80/z80_index_page.h"
#include "z80/z80_main_page.h"

#include <algorithm>
#include <array>
#include <cstdint>

#if defined(__GNUC__)
#define Z80_FLATTEN __attribute__((flatten))
#else
#define Z80_FLATTEN
#endif
#if defined(__GNUC__)
#define Z80_NOINLINE __attribute__((noinline))
#else
#define Z80_NOINLINE
#endif

using namespace z80core;

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

uint8_t* RegisterByte(Z80State& s, int field) {
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

// Whole rounds of the delay loop that the instruction `op` opens, or else
// that one instruction as the table step runs it.
Z80_NOINLINE int32_t DelayLoopOrStep(Z80State& s, uint8_t op, uint16_t pc, int32_t t) {
    if (const int32_t rounds = RunDelayLoop(s, static_cast<uint16_t>(pc - 1), t)) return rounds;
    return MainStepTable[op](s, pc);
}

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
constexpr bool IsInputC(uint8_t op2) { return (op2 & 0xC7) == 0x40; }

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

// The IN at pc - 1 (opcode `op`, IN A,(n) or the ED prefix of IN r,(C)),
// then, when it closes an idle round, that round pass by pass and all but
// the last whole rounds before the frame end at once. Called with TStates and
// R current; leaves them current and returns 0 (everything is in TStates).
Z80_NOINLINE int32_t InputOrIdleLoop(Z80State& s, uint8_t op, uint16_t pc) {
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

// How the runner takes each opcode after ED: on its locals, on its locals
// with them stored first (the port instructions), or through the state as a
// whole (LD A,R and LD R,A, which look at R).
enum : uint8_t { EDOnLocals, EDPort, EDThroughState };
constexpr std::array<uint8_t, 256> EDPageKinds = [] {
    std::array<uint8_t, 256> kinds{};
    for (int op = 0; op < 256; ++op) {
        const bool inOut = op >= 0x40 && op < 0x80 && (op & 6) == 0; // IN r,(C) / OUT (C),r
        const bool block = op >= 0xA0 && (op & 0xE6) == 0xA2;        // INI, OUTI, ... OTDR
        kinds[static_cast<size_t>(op)] = op == 0x4F || op == 0x5F ? EDThroughState
                                         : inOut || block         ? EDPort
                                                                  : EDOnLocals;
    }
    return kinds;
}();

// The opcodes after DD or FD whose index form the runner takes on its locals
// (see `indexPage` in Passes): every index form but the prefix chains.
constexpr std::array<bool, 256> IndexFormOnLocals = [] {
    std::array<bool, 256> on{};
    for (int op = 0; op < 256; ++op)
        on[static_cast<size_t>(op)] = HasIndexForm(op) && op != 0xDD && op != 0xFD && op != 0xED;
    return on;
}();

// True for the opcodes whose loops TightLoopRounds runs: DJNZ and DEC r
// followed by JR NZ,$-1 (DEC r followed by JP NZ goes to RunDelayLoop).
template <int Op> constexpr bool HasTightLoop() { return Op == 0x10 || (Op & 0xC7) == 0x05; }

// What ends a run of passes besides the frame end. The frame loop's runs take
// interrupts and stop once the watched count reaches its limit; the lone
// processor's (a program with no devices around it) take none and stop before
// the instruction at either of two addresses. Each is a separate instantiation
// of Passes, so the frame loop's pays nothing for the other's test.
struct WatchStop {
    static constexpr bool Interrupts = true; // also: delay and idle loops in one step
    const uint16_t& Watch;
    uint16_t Limit;
    bool Reached() const { return Watch >= Limit; }
    static bool At(uint16_t) { return false; }
};
struct AddressStop {
    static constexpr bool Interrupts = false;
    uint16_t First, Second;
    static bool Reached() { return false; }
    bool At(uint16_t pc) const { return pc == First || pc == Second; }
};

// The refresh register, the T-state counter, EIDelay and PC live in locals
// here, so that no pass waits for the previous one's store of them to reach
// memory (PC above all: every instruction's fetch depends on it). They are
// stored before anything that looks at them in the state: the instructions
// that read TStates (HALT), the port instructions, the prefix steps that
// still go through the state (the unprefixed instructions after DD or FD,
// the prefix chains, LD A,R and LD R,A), the delay and idle loops, interrupt
// acceptance (PC), and when the run stops; afterwards they are read back, as
// those prefix steps count R themselves and LD R,A sets it. The other prefixed
// instructions run on the locals: their pages look at neither R, the T-state
// count nor EIDelay, the second opcode's fetch counts in the local R, and PC
// goes through the state for the page's step alone (the CB page's handlers
// not even that). A port call changes nothing of the processor (see
// Z80Ports), so after a port instruction nothing is read back. EI, the one
// unprefixed instruction that sets EIDelay, sets the local. OUT is the only
// instruction that advances `watch`, and it is a port instruction, so the
// watch is looked at after those alone.
//
// Without interrupts there are no delay or idle loops in one step either:
// their rounds could pass over a stop address unseen.
template <typename Stop> Z80_FLATTEN inline void Passes(Z80State& s, const Stop stopWhen) {
    // Where each opcode's pass continues. Every pass ends with a dispatch of
    // its own (Z80_NEXT) rather than one shared jump, so that the processor
    // running us predicts each from the instruction before it.
    static void* const Dispatch[256] = {
        &&L_0x00, &&L_0x01, &&L_0x02, &&L_0x03, &&L_0x04, &&L_0x05, &&L_0x06, &&L_0x07, &&L_0x08,
        &&L_0x09, &&L_0x0A, &&L_0x0B, &&L_0x0C, &&L_0x0D, &&L_0x0E, &&L_0x0F, &&L_0x10, &&L_0x11,
        &&L_0x12, &&L_0x13, &&L_0x14, &&L_0x15, &&L_0x16, &&L_0x17, &&L_0x18, &&L_0x19, &&L_0x1A,
        &&L_0x1B, &&L_0x1C, &&L_0x1D, &&L_0x1E, &&L_0x1F, &&L_0x20, &&L_0x21, &&L_0x22, &&L_0x23,
        &&L_0x24, &&L_0x25, &&L_0x26, &&L_0x27, &&L_0x28, &&L_0x29, &&L_0x2A, &&L_0x2B, &&L_0x2C,
        &&L_0x2D, &&L_0x2E, &&L_0x2F, &&L_0x30, &&L_0x31, &&L_0x32, &&L_0x33, &&L_0x34, &&L_0x35,
        &&L_0x36, &&L_0x37, &&L_0x38, &&L_0x39, &&L_0x3A, &&L_0x3B, &&L_0x3C, &&L_0x3D, &&L_0x3E,
        &&L_0x3F, &&L_0x40, &&L_0x41, &&L_0x42, &&L_0x43, &&L_0x44, &&L_0x45, &&L_0x46, &&L_0x47,
        &&L_0x48, &&L_0x49, &&L_0x4A, &&L_0x4B, &&L_0x4C, &&L_0x4D, &&L_0x4E, &&L_0x4F, &&L_0x50,
        &&L_0x51, &&L_0x52, &&L_0x53, &&L_0x54, &&L_0x55, &&L_0x56, &&L_0x57, &&L_0x58, &&L_0x59,
        &&L_0x5A, &&L_0x5B, &&L_0x5C, &&L_0x5D, &&L_0x5E, &&L_0x5F, &&L_0x60, &&L_0x61, &&L_0x62,
        &&L_0x63, &&L_0x64, &&L_0x65, &&L_0x66, &&L_0x67, &&L_0x68, &&L_0x69, &&L_0x6A, &&L_0x6B,
        &&L_0x6C, &&L_0x6D, &&L_0x6E, &&L_0x6F, &&L_0x70, &&L_0x71, &&L_0x72, &&L_0x73, &&L_0x74,
        &&L_0x75, &&L_0x76, &&L_0x77, &&L_0x78, &&L_0x79, &&L_0x7A, &&L_0x7B, &&L_0x7C, &&L_0x7D,
        &&L_0x7E, &&L_0x7F, &&L_0x80, &&L_0x81, &&L_0x82, &&L_0x83, &&L_0x84, &&L_0x85, &&L_0x86,
        &&L_0x87, &&L_0x88, &&L_0x89, &&L_0x8A, &&L_0x8B, &&L_0x8C, &&L_0x8D, &&L_0x8E, &&L_0x8F,
        &&L_0x90, &&L_0x91, &&L_0x92, &&L_0x93, &&L_0x94, &&L_0x95, &&L_0x96, &&L_0x97, &&L_0x98,
        &&L_0x99, &&L_0x9A, &&L_0x9B, &&L_0x9C, &&L_0x9D, &&L_0x9E, &&L_0x9F, &&L_0xA0, &&L_0xA1,
        &&L_0xA2, &&L_0xA3, &&L_0xA4, &&L_0xA5, &&L_0xA6, &&L_0xA7, &&L_0xA8, &&L_0xA9, &&L_0xAA,
        &&L_0xAB, &&L_0xAC, &&L_0xAD, &&L_0xAE, &&L_0xAF, &&L_0xB0, &&L_0xB1, &&L_0xB2, &&L_0xB3,
        &&L_0xB4, &&L_0xB5, &&L_0xB6, &&L_0xB7, &&L_0xB8, &&L_0xB9, &&L_0xBA, &&L_0xBB, &&L_0xBC,
        &&L_0xBD, &&L_0xBE, &&L_0xBF, &&L_0xC0, &&L_0xC1, &&L_0xC2, &&L_0xC3, &&L_0xC4, &&L_0xC5,
        &&L_0xC6, &&L_0xC7, &&L_0xC8, &&L_0xC9, &&L_0xCA, &&L_0xCB, &&L_0xCC, &&L_0xCD, &&L_0xCE,
        &&L_0xCF, &&L_0xD0, &&L_0xD1, &&L_0xD2, &&L_0xD3, &&L_0xD4, &&L_0xD5, &&L_0xD6, &&L_0xD7,
        &&L_0xD8, &&L_0xD9, &&L_0xDA, &&L_0xDB, &&L_0xDC, &&L_0xDD, &&L_0xDE, &&L_0xDF, &&L_0xE0,
        &&L_0xE1, &&L_0xE2, &&L_0xE3, &&L_0xE4, &&L_0xE5, &&L_0xE6, &&L_0xE7, &&L_0xE8, &&L_0xE9,
        &&L_0xEA, &&L_0xEB, &&L_0xEC, &&L_0xED, &&L_0xEE, &&L_0xEF, &&L_0xF0, &&L_0xF1, &&L_0xF2,
        &&L_0xF3, &&L_0xF4, &&L_0xF5, &&L_0xF6, &&L_0xF7, &&L_0xF8, &&L_0xF9, &&L_0xFA, &&L_0xFB,
        &&L_0xFC, &&L_0xFD, &&L_0xFE, &&L_0xFF,
    };
    int32_t t = s.TStates;
    uint16_t* index = &s.IX; // the index register of the DD or FD prefix being run
    uint32_t r = s.R;        // the refresh count; bits 0-6 are R's
    uint8_t rBit7 = s.RBit7; // bit 7 of R
    uint8_t ei = s.EIDelay;  // EIDelay
    uint16_t pc = s.PC;
    uint8_t op;
    // The frame end, or at once when the watch is already reached (one pass).
    const int32_t stopAt = stopWhen.Reached() ? INT32_MIN : FrameTStates;
    // Passes that begin below this need no look at the interrupt or the stop:
    // the frame end while the interrupt window is past (T-states only grow in
    // a run, so it does not open again before the frame end), else at once.
    int32_t plain = Stop::Interrupts && t < InterruptWindow ? INT32_MIN : stopAt;

    // An instruction's start: its opcode fetched and dispatched.
#define Z80_FETCH                                                                                  \
    ei = 0;                                                                                        \
    op = s.Memory[pc];                                                                             \
    pc = static_cast<uint16_t>(pc + 1);                                                            \
    goto* Dispatch[op];
    // The start of a pass: the refresh count, then the interrupt or the
    // instruction at PC.
#define Z80_PASS                                                                                   \
    ++r;                                                                                           \
    if (Stop::Interrupts && t < InterruptWindow && s.IFF1 && !ei) goto interrupt;                  \
    Z80_FETCH
    // The end of a pass: the next pass, which past the interrupt window is
    // one without its look at the interrupt; else `look` stops after the
    // frame end or starts the next pass as Z80_PASS.
#define Z80_NEXT                                                                                   \
    if (t >= plain || stopWhen.At(pc)) goto look;                                                  \
    ++r;                                                                                           \
    Z80_FETCH

    Z80_PASS
#define Z80_CASE(n)                                                                                \
    L_##n : t += MainBodyPC<n>(s, pc);                                                             \
    Z80_NEXT
#define Z80_LOOP(n)                                                                                \
    L_##n : if (Stop::Interrupts && MayOpenDelayLoop<n>(s, pc, t)) {                               \
        if constexpr (HasTightLoop<n>()) {                                                         \
            if (s.Memory[pc] != 0xC2) {                                                            \
                if (const int32_t d = TightLoopRounds<n>(s, t, r, pc)) {                           \
                    t += d;                                                                        \
                    pc = static_cast<uint16_t>(pc - 1);                                            \
                    Z80_NEXT                                                                       \
                }                                                                                  \
                goto plainStep##n;                                                                 \
            }                                                                                      \
        }                                                                                          \
        goto delayLoop;                                                                            \
    }                                                                                              \
    plainStep##n : __attribute__((unused));                                                        \
    t += MainBodyPC<n>(s, pc);                                                                     \
    Z80_NEXT
#define Z80_STORE                                                                                  \
    s.TStates = t;                                                                                 \
    s.R = static_cast<uint8_t>((r & 0x7F) | rBit7);                                                \
    s.EIDelay = ei
#define Z80_RELOAD(n)                                                                              \
    L_##n : Z80_STORE;                                                                             \
    t = MainBody<n>(s, pc);                                                                        \
    goto reload;
    Z80_CASE(0x00)
    Z80_CASE(0x01)
    Z80_CASE(0x02)
    Z80_CASE(0x03)
    Z80_CASE(0x04)
    Z80_LOOP(0x05)
    Z80_CASE(0x06)
    Z80_CASE(0x07)
    Z80_CASE(0x08)
    Z80_CASE(0x09)
    Z80_CASE(0x0A)
    Z80_LOOP(0x0B)
    Z80_CASE(0x0C)
    Z80_LOOP(0x0D)
    Z80_CASE(0x0E)
    Z80_CASE(0x0F)
    Z80_LOOP(0x10)
    Z80_CASE(0x11)
    Z80_CASE(0x12)
    Z80_CASE(0x13)
    Z80_CASE(0x14)
    Z80_LOOP(0x15)
    Z80_CASE(0x16)
    Z80_CASE(0x17)
    Z80_CASE(0x18)
    Z80_CASE(0x19)
    Z80_CASE(0x1A)
    Z80_LOOP(0x1B)
    Z80_CASE(0x1C)
    Z80_LOOP(0x1D)
    Z80_CASE(0x1E)
    Z80_CASE(0x1F)
    Z80_CASE(0x20)
    Z80_CASE(0x21)
    Z80_CASE(0x22)
    Z80_CASE(0x23)
    Z80_CASE(0x24)
    Z80_LOOP(0x25)
    Z80_CASE(0x26)
    Z80_CASE(0x27)
    Z80_CASE(0x28)
    Z80_CASE(0x29)
    Z80_CASE(0x2A)
    Z80_LOOP(0x2B)
    Z80_CASE(0x2C)
    Z80_LOOP(0x2D)
    Z80_CASE(0x2E)
    Z80_CASE(0x2F)
    Z80_CASE(0x30)
    Z80_CASE(0x31)
    Z80_CASE(0x32)
    Z80_CASE(0x33)
    Z80_CASE(0x34)
    Z80_CASE(0x35)
    Z80_CASE(0x36)
    Z80_CASE(0x37)
    Z80_CASE(0x38)
    Z80_CASE(0x39)
    Z80_CASE(0x3A)
    Z80_CASE(0x3B)
    Z80_CASE(0x3C)
    Z80_LOOP(0x3D)
    Z80_CASE(0x3E)
    Z80_CASE(0x3F)
    Z80_CASE(0x40)
    Z80_CASE(0x41)
    Z80_CASE(0x42)
    Z80_CASE(0x43)
    Z80_CASE(0x44)
    Z80_CASE(0x45)
    Z80_CASE(0x46)
    Z80_CASE(0x47)
    Z80_CASE(0x48)
    Z80_CASE(0x49)
    Z80_CASE(0x4A)
    Z80_CASE(0x4B)
    Z80_CASE(0x4C)
    Z80_CASE(0x4D)
    Z80_CASE(0x4E)
    Z80_CASE(0x4F)
    Z80_CASE(0x50)
    Z80_CASE(0x51)
    Z80_CASE(0x52)
    Z80_CASE(0x53)
    Z80_CASE(0x54)
    Z80_CASE(0x55)
    Z80_CASE(0x56)
    Z80_CASE(0x57)
    Z80_CASE(0x58)
    Z80_CASE(0x59)
    Z80_CASE(0x5A)
    Z80_CASE(0x5B)
    Z80_CASE(0x5C)
    Z80_CASE(0x5D)
    Z80_CASE(0x5E)
    Z80_CASE(0x5F)
    Z80_CASE(0x60)
    Z80_CASE(0x61)
    Z80_CASE(0x62)
    Z80_CASE(0x63)
    Z80_CASE(0x64)
    Z80_CASE(0x65)
    Z80_CASE(0x66)
    Z80_CASE(0x67)
    Z80_CASE(0x68)
    Z80_CASE(0x69)
    Z80_CASE(0x6A)
    Z80_CASE(0x6B)
    Z80_CASE(0x6C)
    Z80_CASE(0x6D)
    Z80_CASE(0x6E)
    Z80_CASE(0x6F)
    Z80_CASE(0x70)
    Z80_CASE(0x71)
    Z80_CASE(0x72)
    Z80_CASE(0x73)
    Z80_CASE(0x74)
    Z80_CASE(0x75)
    Z80_RELOAD(0x76) // HALT reads TStates
    Z80_CASE(0x77)
    Z80_CASE(0x78)
    Z80_CASE(0x79)
    Z80_CASE(0x7A)
    Z80_CASE(0x7B)
    Z80_CASE(0x7C)
    Z80_CASE(0x7D)
    Z80_CASE(0x7E)
    Z80_CASE(0x7F)
    Z80_CASE(0x80)
    Z80_CASE(0x81)
    Z80_CASE(0x82)
    Z80_CASE(0x83)
    Z80_CASE(0x84)
    Z80_CASE(0x85)
    Z80_CASE(0x86)
    Z80_CASE(0x87)
    Z80_CASE(0x88)
    Z80_CASE(0x89)
    Z80_CASE(0x8A)
    Z80_CASE(0x8B)
    Z80_CASE(0x8C)
    Z80_CASE(0x8D)
    Z80_CASE(0x8E)
    Z80_CASE(0x8F)
    Z80_CASE(0x90)
    Z80_CASE(0x91)
    Z80_CASE(0x92)
    Z80_CASE(0x93)
    Z80_CASE(0x94)
    Z80_CASE(0x95)
    Z80_CASE(0x96)
    Z80_CASE(0x97)
    Z80_CASE(0x98)
    Z80_CASE(0x99)
    Z80_CASE(0x9A)
    Z80_CASE(0x9B)
    Z80_CASE(0x9C)
    Z80_CASE(0x9D)
    Z80_CASE(0x9E)
    Z80_CASE(0x9F)
    Z80_CASE(0xA0)
    Z80_CASE(0xA1)
    Z80_CASE(0xA2)
    Z80_CASE(0xA3)
    Z80_CASE(0xA4)
    Z80_CASE(0xA5)
    Z80_CASE(0xA6)
    Z80_CASE(0xA7)
    Z80_CASE(0xA8)
    Z80_CASE(0xA9)
    Z80_CASE(0xAA)
    Z80_CASE(0xAB)
    Z80_CASE(0xAC)
    Z80_CASE(0xAD)
    Z80_CASE(0xAE)
    Z80_CASE(0xAF)
    Z80_CASE(0xB0)
    Z80_CASE(0xB1)
    Z80_CASE(0xB2)
    Z80_CASE(0xB3)
    Z80_CASE(0xB4)
    Z80_CASE(0xB5)
    Z80_CASE(0xB6)
    Z80_CASE(0xB7)
    Z80_CASE(0xB8)
    Z80_CASE(0xB9)
    Z80_CASE(0xBA)
    Z80_CASE(0xBB)
    Z80_CASE(0xBC)
    Z80_CASE(0xBD)
    Z80_CASE(0xBE)
    Z80_CASE(0xBF)
    Z80_CASE(0xC0)
    Z80_CASE(0xC1)
    Z80_CASE(0xC2)
    Z80_CASE(0xC3)
    Z80_CASE(0xC4)
    Z80_CASE(0xC5)
    Z80_CASE(0xC6)
    Z80_CASE(0xC7)
    Z80_CASE(0xC8)
    Z80_CASE(0xC9)
    Z80_CASE(0xCA)
    // The CB page, whose handlers look at neither PC, R, the T-state count nor
    // EIDelay: the second opcode's fetch counts in the local R, and nothing
    // goes through the state.
L_0xCB : {
    const uint8_t op2 = s.Memory[pc];
    pc = static_cast<uint16_t>(pc + 1);
    ++r;
    t += Tables.CBTable[op2](s);
    Z80_NEXT
}
    Z80_CASE(0xCC)
    Z80_CASE(0xCD)
    Z80_CASE(0xCE)
    Z80_CASE(0xCF)
    Z80_CASE(0xD0)
    Z80_CASE(0xD1)
    Z80_CASE(0xD2)
    // OUT (n),A, the beeper players' instruction: the port call sees TStates,
    // R, EIDelay and PC as they stand and changes nothing of the processor,
    // so nothing is read back.
L_0xD3 : {
    const uint8_t n = s.Memory[pc];
    const uint8_t a = s.AFRef->A;
    pc = static_cast<uint16_t>(pc + 1);
    s.PC = pc;
    Z80_STORE;
    PortOut(s, static_cast<uint16_t>((a << 8) | n), a);
    t += 12;
    if (stopWhen.Reached()) goto stop;
    Z80_NEXT
}
    Z80_CASE(0xD4)
    Z80_CASE(0xD5)
    Z80_CASE(0xD6)
    Z80_CASE(0xD7)
    Z80_CASE(0xD8)
    Z80_CASE(0xD9)
    Z80_CASE(0xDA)
L_0xDB:
    goto input;
    Z80_CASE(0xDC)
L_0xDD:
    index = &s.IX;
    goto indexPage;
    Z80_CASE(0xDE)
    Z80_CASE(0xDF)
    Z80_CASE(0xE0)
    Z80_CASE(0xE1)
    Z80_CASE(0xE2)
    Z80_CASE(0xE3)
    Z80_CASE(0xE4)
    Z80_CASE(0xE5)
    Z80_CASE(0xE6)
    Z80_CASE(0xE7)
    Z80_CASE(0xE8)
    Z80_CASE(0xE9)
    Z80_CASE(0xEA)
    Z80_CASE(0xEB)
    Z80_CASE(0xEC)
L_0xED : {
    // As the DD and FD pages, on the locals: every instruction of the page
    // but IN r,(C) (the idle loops' way in) and LD A,R and LD R,A (which
    // look at R). A port instruction sees the state stored as it stands, and
    // a port call changes nothing of the processor, so nothing is read back;
    // the watch is looked at after those alone.
    const uint8_t op2 = s.Memory[pc];
    if (IsInputC(op2)) goto input;
    const uint8_t kind = EDPageKinds[op2];
    if (kind == EDThroughState) {
        Z80_STORE;
        t = MainBody<0xED>(s, pc);
        goto reload;
    }
    const auto next = static_cast<uint16_t>(pc + 1);
    s.PC = next;
    ++r;
    if (kind == EDPort) {
        Z80_STORE;
        t += EDStepTable[op2](s, next);
        pc = s.PC;
        if (stopWhen.Reached()) goto stop;
        Z80_NEXT
    }
    t += EDStepTable[op2](s, next);
    pc = s.PC;
    Z80_NEXT
}
    Z80_CASE(0xEE)
    Z80_CASE(0xEF)
    Z80_CASE(0xF0)
    Z80_CASE(0xF1)
    Z80_CASE(0xF2)
    Z80_CASE(0xF3)
    Z80_CASE(0xF4)
    Z80_CASE(0xF5)
    Z80_CASE(0xF6)
    Z80_CASE(0xF7)
    Z80_CASE(0xF8)
    Z80_CASE(0xF9)
    Z80_CASE(0xFA)
L_0xFB: // EI, which holds off the interrupt for one pass
    t += MainBodyPC<0xFB>(s, pc);
    ei = 1;
    Z80_NEXT
    Z80_CASE(0xFC)
L_0xFD:
    index = &s.IY;
    goto indexPage;
    Z80_CASE(0xFE)
    Z80_CASE(0xFF)
#undef Z80_RELOAD
#undef Z80_LOOP
#undef Z80_CASE

indexPage : {
    // The index forms that look at neither the T-state count, R nor EIDelay
    // and make no port access run on the locals: PC goes through the state
    // only for the page's step, which takes its operands after `next` and
    // leaves the next instruction's address there; the second opcode's fetch
    // counts in the local R. The others (the unprefixed instructions after a
    // prefix and the prefix chains) take the prefix step as a whole.
    const uint8_t op2 = s.Memory[pc];
    if (!IndexFormOnLocals[op2]) {
        Z80_STORE;
        t = index == &s.IX ? MainBody<0xDD>(s, pc) : MainBody<0xFD>(s, pc);
        goto reload;
    }
    const auto next = static_cast<uint16_t>(pc + 1);
    s.PC = next;
    ++r;
    t += IndexStepTable[op2](s, *index, next);
    pc = s.PC;
    Z80_NEXT
}
reload:
    // After an instruction that ran with TStates, R, EIDelay and PC in the state.
    pc = s.PC;
    t += s.TStates;
    r = s.R;
    rBit7 = s.RBit7;
    ei = s.EIDelay;
    if (stopWhen.Reached()) goto stop;
    Z80_NEXT
input:
    s.PC = pc;
    Z80_STORE;
    if constexpr (Stop::Interrupts)
        t = InputOrIdleLoop(s, op, pc);
    else
        t = MainStepTable[op](s, pc);
    goto reload;
delayLoop:
    // One place for the rare call, so that the hot handlers keep their
    // registers across none.
    s.PC = pc;
    s.R = static_cast<uint8_t>((r & 0x7F) | rBit7);
    t += DelayLoopOrStep(s, op, pc, t);
    pc = s.PC;
    r = s.R;
    Z80_NEXT
interrupt:
    s.PC = pc;
    t += AcceptInterrupt(s);
    pc = s.PC;
    Z80_NEXT
look:
    if (t >= stopAt || stopWhen.At(pc)) goto stop;
    if (t >= InterruptWindow) plain = stopAt;
    Z80_PASS
stop:
    s.PC = pc;
    Z80_STORE;
#undef Z80_STORE
#undef Z80_NEXT
#undef Z80_PASS
#undef Z80_FETCH
}

} // namespace

Z80_FLATTEN void RunPasses(Z80State& s, const uint16_t& watch, uint16_t limit) {
    Passes(s, WatchStop{watch, limit});
}

Z80_FLATTEN void RunPassesUntil(Z80State& s, uint16_t first, uint16_t second) {
    Passes(s, AddressStop{first, second});
}
