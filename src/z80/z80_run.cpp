// The frame loop's passes run back to back: the refresh count, then either
// the interrupt or one instruction, with the unprefixed page dispatched
// through a table of labels (a GCC and Clang extension) whose targets are the
// page's handler bodies themselves. Each is the same body (MainBodyPC) that
// MainStepTable's entry runs, so an instruction does exactly what the table
// step does; what is saved is the call and return of every instruction, the
// round trips of PC, R and the T-state count through memory, and one shared
// jump for all opcodes. Delay loops that touch neither memory nor ports, and
// idle loops around an IN, run whole rounds in one step, leaving the
// processor exactly as their passes would (z80_loops.h).
//
// The same runner, instantiated once more without interrupts and without
// those one-step loops, and stopping before the instruction at either of two
// addresses, runs a processor that is alone (RunPassesUntil: CP/M programs
// between their system calls).
#include "z80/z80_ed_page.h"
#include "z80/z80_index_page.h"
#include "z80/z80_loops.h"
#include "z80/z80_main_page.h"

#include <array>
#include <cstdint>

#if defined(__GNUC__)
#define Z80_FLATTEN __attribute__((flatten))
#else
#define Z80_FLATTEN
#endif

using namespace z80core;

namespace {

// ---- how each opcode is taken -----------------------------------------------------
// The refresh register, the T-state counter, EIDelay and PC live in locals
// in the runner, so that no pass waits for the previous one's store of them
// to reach memory (PC above all: every instruction's fetch depends on it).
// Every opcode of each page is taken in one of these ways, declared once per
// opcode below and checked at compile time against what its handler uses
// (HandlerUse, stated beside the handlers).
enum class Way : uint8_t {
    Local, // on the locals: the handler uses none of them
    Loop,  // on the locals, after a look for a delay loop that the opcode opens
    State, // through the state: the locals stored first and read back after
    Port,  // ED page: the locals stored first; nothing read back, as a port
           // call changes nothing of the processor (see Z80Ports)
    Input, // IN: the idle loops' way in (through the state)
    Own,   // unprefixed page: a body of its own in the runner
};

// The unprefixed page, row by row (high nibble 0 to F). Own: CB runs its page
// on the locals (its handlers look at neither PC, R, the T-state count nor
// EIDelay), OUT (n),A calls the port with the locals stored, DD, ED and FD go
// to their pages, EI sets the local EIDelay.
// clang-format off
#define Z80_MAIN_PAGE(X)                                                                          \
    Z80_ROW(X, 0x0, Local,  Local,  Local,  Local,  Local,  Loop,   Local,  Local,                \
                    Local,  Local,  Local,  Loop,   Local,  Loop,   Local,  Local)                \
    Z80_ROW(X, 0x1, Loop,   Local,  Local,  Local,  Local,  Loop,   Local,  Local,                \
                    Local,  Local,  Local,  Loop,   Local,  Loop,   Local,  Local)                \
    Z80_ROW(X, 0x2, Local,  Local,  Local,  Local,  Local,  Loop,   Local,  Local,                \
                    Local,  Local,  Local,  Loop,   Local,  Loop,   Local,  Local)                \
    Z80_ROW(X, 0x3, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Loop,   Local,  Local)                \
    Z80_ROW(X, 0x4, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0x5, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0x6, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0x7, Local,  Local,  Local,  Local,  Local,  Local,  State,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0x8, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0x9, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0xA, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0xB, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0xC, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Own,    Local,  Local,  Local,  Local)                \
    Z80_ROW(X, 0xD, Local,  Local,  Local,  Own,    Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Input,  Local,  Own,    Local,  Local)                \
    Z80_ROW(X, 0xE, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Local,  Local,  Own,    Local,  Local)                \
    Z80_ROW(X, 0xF, Local,  Local,  Local,  Local,  Local,  Local,  Local,  Local,                \
                    Local,  Local,  Local,  Own,    Local,  Own,    Local,  Local)
#define Z80_ROW(X, h, w0, w1, w2, w3, w4, w5, w6, w7, w8, w9, wA, wB, wC, wD, wE, wF)              \
    X(h##0, w0) X(h##1, w1) X(h##2, w2) X(h##3, w3) X(h##4, w4) X(h##5, w5) X(h##6, w6)            \
    X(h##7, w7) X(h##8, w8) X(h##9, w9) X(h##A, wA) X(h##B, wB) X(h##C, wC) X(h##D, wD)            \
    X(h##E, wE) X(h##F, wF)
// clang-format on

#define Z80_WAY_OF(n, way) Way::way,
#define Z80_OPCODE_OF(n, way) n,
constexpr Way MainWays[] = {Z80_MAIN_PAGE(Z80_WAY_OF)};
constexpr int MainOrder[] = {Z80_MAIN_PAGE(Z80_OPCODE_OF)};
#undef Z80_OPCODE_OF
#undef Z80_WAY_OF

// The DD and FD pages: every index form on the locals, PC going through the
// state for the page's step alone; the unprefixed instructions after a
// prefix and the prefix chains take the prefix step as a whole.
constexpr Way IndexWay(int op) {
    return HasIndexForm(op) && op != 0xDD && op != 0xFD && op != 0xED ? Way::Local : Way::State;
}

// The ED page: IN r,(C) as the idle loops' way in, the other port
// instructions (OUT (C),r and the block outputs and inputs) with the locals
// stored, LD A,R and LD R,A through the state, the rest on the locals.
constexpr Way EDWay(int op) {
    if (IsInputC(static_cast<uint8_t>(op))) return Way::Input;
    if (op == 0x4F || op == 0x5F) return Way::State;
    const bool inOut = op >= 0x40 && op < 0x80 && (op & 6) == 0; // IN r,(C) / OUT (C),r
    const bool block = op >= 0xA0 && (op & 0xE6) == 0xA2;        // INI, OUTI, ... OTDR
    return inOut || block ? Way::Port : Way::Local;
}

template <Way (*WayOf)(int)> constexpr std::array<Way, 256> WayTable() {
    std::array<Way, 256> ways{};
    for (int op = 0; op < 256; ++op) ways[static_cast<size_t>(op)] = WayOf(op);
    return ways;
}
constexpr std::array<Way, 256> IndexWays = WayTable<IndexWay>();
constexpr std::array<Way, 256> EDWays = WayTable<EDWay>();

// A way fits a handler when the runner stores what the handler uses: nothing
// runs on the locals that uses them, a port way makes port calls alone, and
// only what needs it goes through the state or a body of its own; the delay
// loops are looked for after exactly the opcodes that can open one.
constexpr bool Fits(Way way, unsigned uses, bool opensLoop) {
    switch (way) {
    case Way::Local: return uses == UsesNothing && !opensLoop;
    case Way::Loop: return uses == UsesNothing && opensLoop;
    case Way::Port:
    case Way::Input: return (uses & ~UsesPorts) == 0;
    case Way::State:
    case Way::Own: return true;
    }
    return false;
}
constexpr bool EveryWayFits() {
    if (std::size(MainWays) != 256) return false;
    for (int op = 0; op < 256; ++op) {
        const auto i = static_cast<size_t>(op);
        if (MainOrder[i] != op || !Fits(MainWays[i], MainPageUses(op), OpensDelayLoop(op)))
            return false;
        if ((MainWays[i] == Way::State || MainWays[i] == Way::Own) && MainPageUses(op) == 0)
            return false;
        if (!Fits(IndexWays[i], IndexPageUses(op), false) ||
            !Fits(EDWays[i], EDPageUses(op), false))
            return false;
        if (EDWays[i] == Way::State && !(EDPageUses(op) & UsesR)) return false;
        if (EDWays[i] == Way::Input && !IsInputC(static_cast<uint8_t>(op))) return false;
    }
    return MainWays[0xDB] == Way::Input;
}
static_assert(EveryWayFits(), "an opcode is taken in a way that does not fit its handler");

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

// The runner. The locals are stored before anything that looks at them in
// the state: the opcodes taken through the state (HALT, which reads TStates;
// the unprefixed instructions after DD or FD and the prefix chains; LD A,R
// and LD R,A), the port instructions, the delay and idle loops, interrupt
// acceptance (PC), and when the run stops; afterwards they are read back, as
// the prefix steps count R themselves and LD R,A sets it. The prefixed
// instructions taken on the locals count their second opcode's fetch in the
// local R, and PC goes through the state for the page's step alone. OUT is
// the only instruction that advances `watch`, and it is a port instruction,
// so the watch is looked at after those alone.
//
// Without interrupts there are no delay or idle loops in one step either:
// their rounds could pass over a stop address unseen.
template <typename Stop> Z80_FLATTEN inline void Passes(Z80State& s, const Stop stopWhen) {
    // Where each opcode's pass continues. Every pass ends with a dispatch of
    // its own (Z80_NEXT) rather than one shared jump, so that the processor
    // running us predicts each from the instruction before it.
#define Z80_TARGET(n, way) &&L_##n,
    static void* const Dispatch[256] = {Z80_MAIN_PAGE(Z80_TARGET)};
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
#define Z80_STORE                                                                                  \
    s.TStates = t;                                                                                 \
    s.R = static_cast<uint8_t>((r & 0x7F) | rBit7);                                                \
    s.EIDelay = ei

    Z80_PASS

    // The bodies of the unprefixed page, by the way each opcode is taken.
#define Z80_BODY(n, way) Z80_BODY_##way(n)
#define Z80_BODY_Local(n)                                                                          \
    L_##n : t += MainBodyPC<n>(s, pc);                                                             \
    Z80_NEXT
    // A loop opener: DJNZ $ and DEC r / JR NZ,$-1 in TightLoopRounds, the
    // other shapes in the recogniser (delayLoop), else the plain step.
#define Z80_BODY_Loop(n)                                                                           \
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
#define Z80_BODY_State(n)                                                                          \
    L_##n : Z80_STORE;                                                                             \
    t = MainBody<n>(s, pc);                                                                        \
    goto reload;
    // IN A,(n) goes on to `input`, shared with IN r,(C). (The table pointing
    // at `input` itself saves the jump but costs the compiler's allocation of
    // the locals: the passes of a beeper player take 9% more instructions.)
#define Z80_BODY_Input(n) L_##n : goto input;
#define Z80_BODY_Own(n)
    Z80_MAIN_PAGE(Z80_BODY)

L_0xCB : {
    // The CB page: the second opcode's fetch counts in the local R, and
    // nothing goes through the state.
    const uint8_t op2 = s.Memory[pc];
    pc = static_cast<uint16_t>(pc + 1);
    ++r;
    t += Tables.CBTable[op2](s);
    Z80_NEXT
}
L_0xD3 : {
    // OUT (n),A, the beeper players' instruction: the port call sees TStates,
    // R, EIDelay and PC as they stand and changes nothing of the processor,
    // so nothing is read back.
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
L_0xDD:
    index = &s.IX;
    goto indexPage;
L_0xFD:
    index = &s.IY;
    goto indexPage;
L_0xFB: // EI, which holds off the interrupt for one pass
    t += MainBodyPC<0xFB>(s, pc);
    ei = 1;
    Z80_NEXT
L_0xED : {
    const uint8_t op2 = s.Memory[pc];
    const Way way = EDWays[op2];
    if (way == Way::Input) goto input;
    if (way == Way::State) {
        Z80_STORE;
        t = MainBody<0xED>(s, pc);
        goto reload;
    }
    const auto next = static_cast<uint16_t>(pc + 1);
    s.PC = next;
    ++r;
    if (way == Way::Port) {
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
indexPage : {
    const uint8_t op2 = s.Memory[pc];
    if (IndexWays[op2] != Way::Local) {
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
#undef Z80_BODY_Own
#undef Z80_BODY_Input
#undef Z80_BODY_State
#undef Z80_BODY_Loop
#undef Z80_BODY_Local
#undef Z80_BODY
#undef Z80_STORE
#undef Z80_NEXT
#undef Z80_PASS
#undef Z80_FETCH
#undef Z80_TARGET
}

} // namespace

Z80_FLATTEN void RunPasses(Z80State& s, const uint16_t& watch, uint16_t limit) {
    Passes(s, WatchStop{watch, limit});
}

Z80_FLATTEN void RunPassesUntil(Z80State& s, uint16_t first, uint16_t second) {
    Passes(s, AddressStop{first, second});
}
