// The emulated Z80 processor: register set, 64 KiB memory, interrupt state and
// the one-instruction step.
//
// What this core is, and where it knowingly differs from a real Z80:
// - There is no machine around it: no ROM, no paging, no contention, no video.
//   Devices are reached only through the two port calls of `Z80Ports`.
// - There is no IFF2: RETN/RETI leave `IFF1` alone and LD A,I / LD A,R copy
//   `IFF1` into P/V.
// - Bits 5 and 3 of F are never copied from a result; they are cleared or kept
//   as each flag rule says.
// - Several T-state counts and ED-page effects depart from the Zilog manual on
//   purpose (OUT (n),A is 12 T, BIT b,(HL) 15 T, DD/FD CB BIT 23 T, IN r,(C)
//   keeps F, RLD/RRD clear A's upper nibble, INI/IND/INIR/INDR do nothing, ...).
//   Song player code was tuned against exactly this behaviour, so it is kept.
// - A word access at 0xFFFF takes its high byte from `MirrorByte`, the byte
//   that follows memory, instead of wrapping to 0x0000.
#pragma once

#include <array>
#include <cstdint>

// The devices behind the Z80's IN and OUT instructions. The sound chip engine
// implements it; tests use a fake. The calls may look at the processor's
// state but never change it: the runner keeps what it has in registers across
// them.
class Z80Ports {
  public:
    virtual void Out(uint16_t port, uint8_t value) = 0;
    virtual uint8_t In(uint16_t port) = 0;
    // True when what IN reads depends only on the port and on what OUT wrote
    // before, not on time or on how often it is read. Then a loop that only
    // reads may run many rounds at once (see RunPasses).
    virtual bool SteadyInput() const { return false; }

  protected:
    ~Z80Ports() = default;
};

// BC, DE and HL of one bank, each pair low byte first: L, H, E, D, C, B.
struct RegisterBank {
    uint8_t L, H, E, D, C, B;
};

// F then A, so that the pair read as a little-endian word is AF.
struct AFPair {
    uint8_t F, A;
};

// Flag bits of F.
enum : uint8_t {
    FlagC = 0x01,
    FlagN = 0x02,
    FlagPV = 0x04,
    Flag3 = 0x08,
    FlagH = 0x10,
    Flag5 = 0x20,
    FlagZ = 0x40,
    FlagS = 0x80,
};

constexpr int32_t FrameTStates = 69888; // T-states per 50 Hz frame
constexpr int32_t InterruptWindow = 21; // the interrupt line is active for T < 21

// The processor without its memory: registers, interrupt state and the
// references to the register stores in use. A snapshot of a song's machine
// keeps this part whole and the memory its own way.
struct Z80Processor {
    int32_t TStates = 0; // T-states elapsed in the current frame
    RegisterBank* Bank;  // the bank of BC, DE, HL in use
    AFPair* AFRef;       // the A/F pair in use
    uint16_t SP = 0;
    uint16_t PC = 0;
    uint8_t R = 0; // refresh register, all 8 bits as LD A,R reads them
    uint8_t I = 0;
    uint16_t IX = 0;
    uint16_t IY = 0;
    RegisterBank BankStore1{}, BankStore2{};
    AFPair AFStore1{}, AFStore2{};
    RegisterBank* AltBank; // BC', DE', HL'
    AFPair* AltAFRef;      // AF'
    uint8_t IFF1 = 0;      // the only interrupt flip-flop
    uint8_t EIDelay = 0;   // skip the next interrupt check (set by EI and DD DD)
    int32_t IM = 0;
    uint8_t RBit7 = 0;         // bit 7 of R, untouched by the refresh count
    Z80Ports* Ports = nullptr; // where OUT and IN go

    // Where the last IN of RunPasses was and the registers it left: a loop
    // that comes back to the same IN with the same registers may be idle.
    // Only a hint for RunPasses; not part of the processor's state.
    struct InputProbe {
        uint16_t Address = 0;
        bool Valid = false;
        uint8_t Registers[32]{};
    } Probe;

    // Program start: the references point at store 1 (main) and store 2 (alt).
    Z80Processor() { ResetReferences(); }
    // A copy refers to its own stores, whichever way the original was swapped.
    Z80Processor(const Z80Processor& other);
    Z80Processor& operator=(const Z80Processor& other);

    void ResetReferences() {
        Bank = &BankStore1;
        AltBank = &BankStore2;
        AFRef = &AFStore1;
        AltAFRef = &AFStore2;
    }
};

struct Z80State : Z80Processor {
    // 64 KiB of RAM followed by `MirrorByte` (index 0x10000), so that a word
    // access at 0xFFFF needs no special case: its high byte is simply the next
    // array element.
    alignas(64) uint8_t Memory[0x10000 + 1]{};

    uint8_t& MirrorByte() { return Memory[0x10000]; }
    uint8_t MirrorByte() const { return Memory[0x10000]; }
};

// 16-bit memory access, little-endian; at 0xFFFF the high byte is `MirrorByte`.
inline uint16_t ReadWord(const Z80State& s, uint16_t a) {
    return static_cast<uint16_t>(s.Memory[a] | (s.Memory[a + 1] << 8));
}
inline void WriteWord(Z80State& s, uint16_t a, uint16_t v) {
    s.Memory[a] = static_cast<uint8_t>(v);
    s.Memory[a + 1] = static_cast<uint8_t>(v >> 8);
}

// R := ((R + 1) AND 0x7F) OR RBit7
inline void RefreshIncrement(Z80State& s) {
    s.R = static_cast<uint8_t>(((s.R + 1) & 0x7F) | s.RBit7);
}

// Handler signatures of the five dispatch pages.
using MainHandler = int32_t (*)(Z80State&);
using IndexHandler = int32_t (*)(Z80State&, uint16_t& index);
using IndexCBHandler = int32_t (*)(Z80State&, uint16_t address);

// The five dispatch tables, 1280 entries in this order, every entry a
// different handler.
struct DispatchTables {
    IndexCBHandler IndexCBTable[256];
    IndexHandler IndexTable[256];
    MainHandler CBTable[256];
    MainHandler EDTable[256];
    MainHandler MainTable[256];
};
extern const DispatchTables Tables;

// The unprefixed handlers once more, as the step calls them: entry n performs
// exactly what MainTable entry n performs (both are built from one definition),
// but also takes the PC after the opcode as an argument (s.PC holds it too).
// Passing it in a register spares every instruction a round trip of PC
// through memory between the step and the handler.
using MainStepHandler = int32_t (*)(Z80State&, uint16_t pc);
extern const std::array<MainStepHandler, 256> MainStepTable;

// Runs the instruction at PC (prefixes included) and returns its T-states:
// reads the opcode, PC := PC + 1, runs the handler of that opcode.
// Does not count the opcode fetch in R and does not add to TStates: the
// frame loop does both.
inline int32_t ExecuteInstruction(Z80State& s) {
    const uint8_t op = s.Memory[s.PC];
    const auto pc = static_cast<uint16_t>(s.PC + 1);
    s.PC = pc;
    return MainStepTable[op](s, pc);
}

// Passes of the frame loop back to back, each the refresh count and then
// either the interrupt (IFF1 set, EIDelay clear, TStates < InterruptWindow)
// or, after clearing EIDelay, one instruction (as ExecuteInstruction) whose
// T-states are added to TStates. Stops after the pass that brings TStates to
// FrameTStates or beyond (which it leaves for the caller to bring back) or
// after which `watch` is at least `limit` (a count that the port calls of the
// instructions advance; only OUT may). Runs at least one pass. Meanwhile PC,
// R, EIDelay and TStates in the state are current whenever something outside
// the unprefixed handlers can look at them (HALT, port calls, prefixed
// instructions, interrupt acceptance) and when it returns.
//
// Idle loops (a round that only reads ports and memory and leaves every
// register as it found it, when the ports' input is steady) run their rounds
// up to near the frame end at once; the processor is then exactly as those
// passes would leave it.
void RunPasses(Z80State& s, const uint16_t& watch, uint16_t limit);

// The same passes for a processor with nothing around it that interrupts:
// the refresh count, EIDelay cleared, one instruction, with no interrupt
// check (an EI changes nothing here) and every instruction run pass by pass.
// Stops after the pass that brings TStates to FrameTStates or beyond (left
// for the caller to bring back) or when PC reaches `first` or `second`,
// before that instruction runs; the first pass always runs, so a run may
// start at a stop address. Runs a CP/M program between its system calls.
void RunPassesUntil(Z80State& s, uint16_t first, uint16_t second);

// Interrupt acceptance: IFF1 := 0, push PC, then IM 2 takes the vector at
// I*256+255 (18 T), modes 0 and 1 jump to 0x0038 (12 T). Returns the T-states.
int32_t AcceptInterrupt(Z80State& s);

// Start of playback: T-states 0, store 1 main again, interrupts off, IM 0.
void ResetForPlayback(Z80State& s);
