// Field-by-field comparison of two processor states, so that a test can say
// "exactly this changed and nothing else".
#pragma once

#include "z80/z80.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace z80test {

inline std::string Diff(const Z80State& got, const Z80State& want) {
    std::string out;
    auto field = [&](const char* name, long g, long w) {
        if (g == w) return;
        char line[96];
        std::snprintf(line, sizeof line, " %s=%lX(want %lX)", name, g, w);
        out += line;
    };
    auto bank = [&](const char* name, const RegisterBank& g, const RegisterBank& w) {
        const std::string n = name;
        field((n + ".B").c_str(), g.B, w.B);
        field((n + ".C").c_str(), g.C, w.C);
        field((n + ".D").c_str(), g.D, w.D);
        field((n + ".E").c_str(), g.E, w.E);
        field((n + ".H").c_str(), g.H, w.H);
        field((n + ".L").c_str(), g.L, w.L);
    };
    field("TStates", got.TStates, want.TStates);
    field("PC", got.PC, want.PC);
    field("SP", got.SP, want.SP);
    field("IX", got.IX, want.IX);
    field("IY", got.IY, want.IY);
    field("R", got.R, want.R);
    field("I", got.I, want.I);
    field("IFF1", got.IFF1, want.IFF1);
    field("EIDelay", got.EIDelay, want.EIDelay);
    field("IM", got.IM, want.IM);
    field("RBit7", got.RBit7, want.RBit7);
    field("Bank is store 1", got.Bank == &got.BankStore1, want.Bank == &want.BankStore1);
    field("AltBank is store 1", got.AltBank == &got.BankStore1, want.AltBank == &want.BankStore1);
    field("AFRef is store 1", got.AFRef == &got.AFStore1, want.AFRef == &want.AFStore1);
    field("AltAFRef is store 1", got.AltAFRef == &got.AFStore1, want.AltAFRef == &want.AFStore1);
    bank("Bank1", got.BankStore1, want.BankStore1);
    bank("Bank2", got.BankStore2, want.BankStore2);
    field("AF1.A", got.AFStore1.A, want.AFStore1.A);
    field("AF1.F", got.AFStore1.F, want.AFStore1.F);
    field("AF2.A", got.AFStore2.A, want.AFStore2.A);
    field("AF2.F", got.AFStore2.F, want.AFStore2.F);
    int shown = 0;
    if (std::memcmp(got.Memory, want.Memory, sizeof got.Memory) == 0) return out;
    for (long a = 0; a <= 0x10000; ++a)
        if (got.Memory[a] != want.Memory[a] && shown++ < 4) {
            char name[16];
            std::snprintf(name, sizeof name, "mem[%lX]", a);
            field(name, got.Memory[a], want.Memory[a]);
        }
    return out;
}

} // namespace z80test
