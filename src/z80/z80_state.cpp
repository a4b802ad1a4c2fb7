// Z80 state bookkeeping outside the instruction step: copying a state (a copy
// refers to its own register stores), interrupt acceptance and the reset at
// the start of playback.
//
// Interrupt acceptance is that of this core, not of a real Z80: modes 0 and 1
// both jump to 0x0038 in 12 T-states, mode 2 takes 18; there is no IFF2 and no
// HALT state to leave.
#include "z80/z80.h"

namespace {

// The store of `copy` that plays the role `ref` plays in `original`.
template <typename T> T* Rebase(T* ref, const T& originalStore1, T& copyStore1, T& copyStore2) {
    return ref == &originalStore1 ? &copyStore1 : &copyStore2;
}

} // namespace

Z80Processor::Z80Processor(const Z80Processor& other) { *this = other; }

Z80Processor& Z80Processor::operator=(const Z80Processor& other) {
    if (this == &other) return *this;
    TStates = other.TStates;
    SP = other.SP;
    PC = other.PC;
    R = other.R;
    I = other.I;
    IX = other.IX;
    IY = other.IY;
    BankStore1 = other.BankStore1;
    BankStore2 = other.BankStore2;
    AFStore1 = other.AFStore1;
    AFStore2 = other.AFStore2;
    Bank = Rebase(other.Bank, other.BankStore1, BankStore1, BankStore2);
    AltBank = Rebase(other.AltBank, other.BankStore1, BankStore1, BankStore2);
    AFRef = Rebase(other.AFRef, other.AFStore1, AFStore1, AFStore2);
    AltAFRef = Rebase(other.AltAFRef, other.AFStore1, AFStore1, AFStore2);
    IFF1 = other.IFF1;
    EIDelay = other.EIDelay;
    IM = other.IM;
    RBit7 = other.RBit7;
    Ports = other.Ports;
    return *this;
}

int32_t AcceptInterrupt(Z80State& s) {
    s.IFF1 = 0;
    s.SP = static_cast<uint16_t>(s.SP - 2);
    WriteWord(s, s.SP, s.PC);
    if (s.IM == 2) {
        // The data bus is taken to hold 0xFF: the vector is at I * 256 + 255.
        s.PC = ReadWord(s, static_cast<uint16_t>(s.I * 256 + 255));
        return 18;
    }
    s.PC = 0x0038;
    return 12;
}

void ResetForPlayback(Z80State& s) {
    s.TStates = 0;
    s.ResetReferences();
    s.IFF1 = 0;
    s.EIDelay = 0;
    s.IM = 0;
}
