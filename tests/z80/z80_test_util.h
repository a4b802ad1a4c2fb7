// Shared helpers of the Z80 tests: a machine with recording ports, byte loading
// and a pass that mirrors the frame loop (refresh count, interrupt window,
// instruction step, frame wrap).
#pragma once

#include "z80/z80.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace z80test {

struct PortCall {
    uint16_t port;
    uint8_t value;
    bool operator==(const PortCall&) const = default;
};

// Records every OUT and IN; IN answers `InValue`.
class RecordingPorts final : public Z80Ports {
  public:
    void Out(uint16_t port, uint8_t value) override { Outs.push_back({port, value}); }
    uint8_t In(uint16_t port) override {
        Ins.push_back(port);
        return InValue;
    }
    std::vector<PortCall> Outs;
    std::vector<uint16_t> Ins;
    uint8_t InValue = 0xFF;
};

// One processor with its ports; the state lives on the heap (it holds 64 KiB).
struct Machine {
    std::unique_ptr<Z80State> State = std::make_unique<Z80State>();
    Z80State& S = *State;
    RecordingPorts Ports;

    Machine() { S.Ports = &Ports; }

    RegisterBank& Reg() { return *S.Bank; }
    AFPair& AF() { return *S.AFRef; }
    uint16_t BC() const { return static_cast<uint16_t>(S.Bank->B << 8 | S.Bank->C); }
    uint16_t DE() const { return static_cast<uint16_t>(S.Bank->D << 8 | S.Bank->E); }
    uint16_t HL() const { return static_cast<uint16_t>(S.Bank->H << 8 | S.Bank->L); }
    void SetBC(uint16_t v) { S.Bank->B = v >> 8, S.Bank->C = v & 0xFF; }
    void SetDE(uint16_t v) { S.Bank->D = v >> 8, S.Bank->E = v & 0xFF; }
    void SetHL(uint16_t v) { S.Bank->H = v >> 8, S.Bank->L = v & 0xFF; }

    // Puts bytes at `address` and makes it the next instruction.
    void Load(uint16_t address, std::initializer_list<uint8_t> bytes) {
        S.PC = address;
        for (uint8_t b : bytes) S.Memory[address++] = b;
    }

    // One instruction step as the frame loop runs it, without the interrupt
    // check: refresh increment, EIDelay cleared, T-states returned (not added).
    int32_t Step() {
        RefreshIncrement(S);
        S.EIDelay = 0;
        return ExecuteInstruction(S);
    }

    // One full pass of the frame loop as far as the processor is concerned.
    // Returns the T-states the pass added; `accepted` tells whether it was an
    // interrupt.
    int32_t Pass(bool* accepted = nullptr) {
        RefreshIncrement(S);
        int32_t t;
        const bool interrupt = S.IFF1 && !S.EIDelay && S.TStates < InterruptWindow;
        if (interrupt) {
            t = AcceptInterrupt(S);
        } else {
            S.EIDelay = 0;
            t = ExecuteInstruction(S);
        }
        if (accepted) *accepted = interrupt;
        S.TStates += t;
        if (S.TStates >= FrameTStates) S.TStates -= FrameTStates;
        return t;
    }
};

inline uint8_t Parity(uint8_t v) {
    int ones = 0;
    for (int i = 0; i < 8; ++i) ones += (v >> i) & 1;
    return ones % 2 == 0 ? FlagPV : 0;
}

inline uint8_t SignZero(uint8_t v) { return (v & FlagS) | (v == 0 ? FlagZ : 0); }

} // namespace z80test
