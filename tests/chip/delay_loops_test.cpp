// RunPasses runs whole rounds of delay loops (DJNZ $, DEC r / JR NZ or JP NZ,
// DEC rr / LD A,r / OR r / JR NZ or JP NZ, and two counter blocks jumping to
// each other) in one step. These tests hold it to the pass-by-pass run:
// random starting states run through both, with the processor compared after
// every OUT and at every frame end, and the rendered samples of programs and
// of real beeper songs compared buffer by buffer.
//
// It also runs idle loops (rounds around an IN that write nothing and leave
// every register as they found it) up to near the frame end at once; random
// loops of that kind, and near misses, are held to the pass-by-pass run too.
// Whole buffers are held to the definition, with the settings changed
// between them.
#include "equivalence_runner.h"
#include "songs/session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

using chiptest::Rig;

namespace {

// Counts the processor's OUTs, so that a run can stop right after each one.
class CountingPorts : public Z80Ports {
  public:
    uint16_t Outs = 0;
    void Out(uint16_t, uint8_t) override { ++Outs; }
    uint8_t In(uint16_t) override { return 0xFF; }
};

// Ports whose input is steady, as the chip's is: what IN reads depends on
// the port and on the OUTs so far. Counts the INs.
class SteadyPorts : public Z80Ports {
  public:
    uint16_t Outs = 0;
    uint32_t Ins = 0;
    uint8_t Last = 0;
    bool Steady = true;
    void Out(uint16_t, uint8_t v) override { ++Outs, Last = v; }
    uint8_t In(uint16_t port) override {
        ++Ins;
        return static_cast<uint8_t>(0xFF ^ (port & 0x0100) ^ Last ^ (Outs * 37));
    }
    bool SteadyInput() const override { return Steady; }
};

// One pass as the frame loop makes it, without a chip behind it.
void Pass(Z80State& s) {
    RefreshIncrement(s);
    if (s.IFF1 && !s.EIDelay && s.TStates < InterruptWindow) {
        s.TStates += AcceptInterrupt(s);
    } else {
        s.EIDelay = 0;
        s.TStates += ExecuteInstruction(s);
    }
}

// Writes the loop (one of the recognised shapes, or a near miss) at `loop`,
// followed by code that makes the exit visible: LD A,R and the flags out to
// the beeper port, then fresh counters from `counts` and back to the loop.
struct Program {
    std::vector<uint8_t> Code;
    uint16_t Origin;
    uint16_t Here() const { return static_cast<uint16_t>(Origin + Code.size()); }
    void Put(std::initializer_list<uint8_t> b) {
        for (uint8_t v : b) Code.push_back(v);
    }
    void Word(uint16_t w) { Put({static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)}); }
};

void WriteExit(Program& p, std::mt19937& rng, uint16_t loop) {
    p.Put({0xF5, 0xE1, 0x7D, 0xD3, 0xFE}); // PUSH AF; POP HL; LD A,L; OUT (0xFE),A
    p.Put({0xED, 0x5F, 0xD3, 0xFE});       // LD A,R; OUT (0xFE),A
    auto count = [&rng]() -> uint16_t {
        switch (rng() % 4) {
        case 0: return static_cast<uint16_t>(rng() % 3);
        case 1: return static_cast<uint16_t>(rng() % 256);
        case 2: return static_cast<uint16_t>(rng() % 4000);
        default: return static_cast<uint16_t>(rng());
        }
    };
    p.Put({0x01}), p.Word(count());             // LD BC,nn
    p.Put({0x11}), p.Word(count());             // LD DE,nn
    p.Put({0x21}), p.Word(count());             // LD HL,nn
    p.Put({0x3E, static_cast<uint8_t>(rng())}); // LD A,n
    if (rng() % 2) p.Put({0x37});               // SCF: a carry for the loop to keep or clear
    p.Put({0xC3}), p.Word(loop);                // JP loop
}

// A block that counts down and branches back (NZ) to `to`, or JR/JP to be
// patched by the caller when `to` is not yet known. Returns the offset of the
// branch's operand.
size_t WriteBlock(Program& p, std::mt19937& rng, int kind, int reg, bool jp, uint16_t to) {
    if (kind == 0) { // DJNZ
        p.Put({0x10, 0});
        p.Code.back() = static_cast<uint8_t>(to - p.Here());
        return p.Code.size() - 1;
    }
    if (kind == 1) { // DEC r
        p.Put({static_cast<uint8_t>(0x05 | (reg << 3))});
    } else { // DEC rr; LD A,hi; OR lo (or the other way round)
        const int hi = reg * 2, lo = hi + 1;
        const bool swap = rng() % 2;
        p.Put({static_cast<uint8_t>(0x0B | (reg << 4)),
               static_cast<uint8_t>(0x78 + (swap ? lo : hi)),
               static_cast<uint8_t>(0xB0 + (swap ? hi : lo))});
    }
    if (jp) {
        p.Put({0xC2}), p.Word(to);
        return p.Code.size() - 2;
    }
    p.Put({0x20, 0});
    p.Code.back() = static_cast<uint8_t>(to - p.Here());
    return p.Code.size() - 1;
}

Program MakeProgram(std::mt19937& rng, uint16_t loop) {
    Program p{{}, loop};
    const int shape = static_cast<int>(rng() % 6);
    const bool jp = rng() % 2;
    const int reg8[] = {0, 1, 2, 3, 4, 5, 7};
    if (shape == 0) { // DJNZ $, or DJNZ back to ADD A,r (mostly r = C..L) or ADC A,r
        if (rng() % 2)
            p.Put({static_cast<uint8_t>(rng() % 3 ? 0x81 + rng() % 5 : 0x80 + rng() % 16)});
        WriteBlock(p, rng, 0, 0, false, loop);
    } else if (shape == 1) { // DEC r / JR NZ or JP NZ to itself
        WriteBlock(p, rng, 1, reg8[rng() % 7], jp, loop);
    } else if (shape == 2) { // DEC rr / LD A / OR / NZ to itself
        WriteBlock(p, rng, 2, static_cast<int>(rng() % 3), jp, loop);
    } else { // two blocks that jump to each other, with an exit after each
        const int first = shape == 3 ? 2 : static_cast<int>(rng() % 3);
        const int second = shape == 3 ? 2 : static_cast<int>(rng() % 3);
        const int r1 = first == 1 ? reg8[rng() % 7] : static_cast<int>(rng() % 3);
        const int r2 = second == 1 ? reg8[rng() % 7] : static_cast<int>(rng() % 3);
        // DJNZ reaches only 127 bytes on: keep the second block close.
        const size_t patch = WriteBlock(p, rng, first, r1, first != 0 && jp, loop);
        p.Put({0x18, 0x00}); // counted out: JR to the second exit, patched below
        const size_t toExit = p.Code.size() - 1;
        const uint16_t secondAt = p.Here();
        if (first != 0 && jp) {
            p.Code[patch] = static_cast<uint8_t>(secondAt);
            p.Code[patch + 1] = static_cast<uint8_t>(secondAt >> 8);
        } else {
            p.Code[patch] = static_cast<uint8_t>(secondAt - (loop + patch + 1));
        }
        WriteBlock(p, rng, second, r2, rng() % 2, loop);
        WriteExit(p, rng, loop);
        p.Code[toExit] = static_cast<uint8_t>(p.Here() - (loop + toExit + 1));
    }
    WriteExit(p, rng, loop);
    return p;
}

// A random starting state around the program: counters of every size, F, R
// with either bit 7, T-states near both ends of the frame, interrupts on or
// off, EI just run or not, IM 1 or IM 2 (both reach the same handler, which
// makes the interrupt visible on the beeper port).
void Prepare(Z80State& z, std::mt19937& rng, const Program& p) {
    for (size_t i = 0; i < p.Code.size(); ++i)
        z.Memory[static_cast<uint16_t>(p.Origin + i)] = p.Code[i];
    const uint8_t handler[] = {0xF5, 0xED, 0x5F, 0xD3, 0xFE, 0xF1, 0xFB, 0xC9};
    std::memcpy(&z.Memory[0x0038], handler, sizeof handler);
    if (rng() % 3 == 0) z.Memory[0x0038 + 6] = 0x00; // no EI: the interrupts stop
    z.I = 0x3B;
    z.Memory[0x3BFF] = 0x38;
    z.Memory[0x3C00] = 0x00;
    z.IM = rng() % 2 ? 1 : 2;
    z.SP = 0xF000;
    z.PC = p.Origin;
    auto small = [&rng]() { return static_cast<uint8_t>(rng() % 2 ? rng() % 3 : rng()); };
    z.Bank->B = small(), z.Bank->C = small(), z.Bank->D = small();
    z.Bank->E = small(), z.Bank->H = small(), z.Bank->L = small();
    z.AFRef->A = small();
    z.AFRef->F = static_cast<uint8_t>(rng());
    z.RBit7 = rng() % 2 ? 0x80 : 0;
    z.R = static_cast<uint8_t>((rng() & 0x7F) | z.RBit7);
    switch (rng() % 5) {
    case 0: z.TStates = static_cast<int32_t>(rng() % 30); break;
    case 1: z.TStates = InterruptWindow - 11 + static_cast<int32_t>(rng() % 11); break;
    case 2: z.TStates = FrameTStates - 1 - static_cast<int32_t>(rng() % 400); break;
    default: z.TStates = static_cast<int32_t>(rng() % FrameTStates);
    }
    z.IFF1 = rng() % 2;
    z.EIDelay = rng() % 2;
}

} // namespace

// Runs `start` through RunPasses and pass by pass, stopping after every OUT
// and at every frame end, and compares the whole processor at each stop.
template <typename Ports>
void ExpectSameStops(const Z80State& start, int stops, const std::string& what, Ports& fastPorts,
                     Ports& slowPorts) {
    auto fast = std::make_unique<Z80State>(start);
    auto slow = std::make_unique<Z80State>(start);
    fast->Ports = &fastPorts;
    slow->Ports = &slowPorts;
    for (int stop = 0; stop < stops; ++stop) {
        const auto limit = static_cast<uint16_t>(fastPorts.Outs + 1);
        RunPasses(*fast, fastPorts.Outs, limit);
        do Pass(*slow);
        while (slow->TStates < FrameTStates && slowPorts.Outs < limit);
        for (Z80State* z : {fast.get(), slow.get()})
            if (z->TStates >= FrameTStates) z->TStates -= FrameTStates;
        ASSERT_EQ(z80test::Diff(*slow, *fast), "") << what << " stop " << stop;
        ASSERT_EQ(slowPorts.Outs, fastPorts.Outs) << what << " stop " << stop;
    }
}

void ExpectSameStops(const Z80State& start, int stops, const std::string& what) {
    CountingPorts fastPorts, slowPorts;
    ExpectSameStops(start, stops, what, fastPorts, slowPorts);
}

TEST(DelayLoops, RandomStatesStopAfterEveryOutAsPassByPass) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 600; ++round) {
        auto start = std::make_unique<Z80State>();
        const Program p = MakeProgram(rng, static_cast<uint16_t>(0x4000 + rng() % 0xA000));
        Prepare(*start, rng, p);
        ExpectSameStops(*start, 40, "round " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
}

// A loop entered just before the interrupt window closes: the interrupt may
// still come between two of its passes, and must come at the same pass.
TEST(DelayLoops, LoopsEnteredAtTheWindowEdgeTakeTheInterruptInTime) {
    std::mt19937 rng(99);
    for (int shape = 0; shape < 60; ++shape) {
        const Program p = MakeProgram(rng, 0x8000);
        for (int t = 0; t < InterruptWindow + 4; ++t) {
            for (uint8_t eiDelay : {0, 1}) {
                auto start = std::make_unique<Z80State>();
                Prepare(*start, rng, p);
                start->TStates = t;
                start->IFF1 = 1;
                start->EIDelay = eiDelay;
                for (uint8_t* counter :
                     {&start->Bank->B, &start->Bank->C, &start->Bank->D, &start->Bank->E,
                      &start->Bank->H, &start->Bank->L, &start->AFRef->A})
                    *counter = 5;
                ExpectSameStops(*start, 3,
                                "shape " + std::to_string(shape) + " T " + std::to_string(t));
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Every shape with every counter at the edges of a round count (0 is a full
// turn, 1 ends the loop in this pass, 255 the longest 8-bit run short of 0),
// from the start of the frame and near its end: the folded rounds leave the
// registers, F, R and the T-states as stepping does.
TEST(DelayLoops, EdgeCountersLeaveTheStateOfStepping) {
    std::mt19937 rng(31);
    for (int shape = 0; shape < 48; ++shape) {
        const Program p = MakeProgram(rng, 0x8000);
        for (const uint8_t count : {0, 1, 2, 3, 255}) {
            for (const int32_t t : {InterruptWindow, FrameTStates - 3000, FrameTStates - 40}) {
                auto start = std::make_unique<Z80State>();
                Prepare(*start, rng, p);
                start->TStates = t;
                for (uint8_t* counter :
                     {&start->Bank->B, &start->Bank->C, &start->Bank->D, &start->Bank->E,
                      &start->Bank->H, &start->Bank->L, &start->AFRef->A})
                    *counter = count;
                ExpectSameStops(*start, 4,
                                "shape " + std::to_string(shape) + " count " +
                                    std::to_string(count) + " T " + std::to_string(t));
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST(DelayLoops, RandomProgramsRenderAsDefined) {
    std::mt19937 rng(7);
    for (int round = 0; round < 24; ++round) {
        chiptest::EquivalenceRunner run;
        run.Schedule = round;
        const Program p = MakeProgram(rng, static_cast<uint16_t>(0x8000 + rng() % 0x1000));
        const auto seed = static_cast<unsigned>(rng());
        run.Both([&](Rig& r) {
            std::mt19937 same(seed);
            Prepare(r.Z(), same, p);
        });
        ASSERT_TRUE(run.Play(3)) << "round " << round;
    }
}

// The beeper songs that spend their time in such loops, long enough to reach
// the loops of their later parts.
TEST(DelayLoops, BeeperSongsRenderAsDefined) {
    const struct {
        const char* File;
        int Song;
    } songs[] = {
        {ZIRRAFON_TESTDATA_DIR "/ay/Beeper_Demo_part_1.ay", 0},
        {ZIRRAFON_TESTDATA_DIR "/ay/TerraCresta.ay", 0},
        {ZIRRAFON_TESTDATA_DIR "/ay/Alien8.AY", 0},
        {ZIRRAFON_SOURCE_DIR "/assets/demo/demo.ay", 2},
    };
    for (const auto& song : songs) {
        SongSession opened;
        ASSERT_TRUE(opened.Open(song.File, SongKind::AY, [](const std::string&) {})) << song.File;
        chiptest::EquivalenceRunner run;
        run.Both([&](Rig& r) { StartSongOn(opened.List, r.E(), song.Song, r.Buffer1.data()); });
        ASSERT_TRUE(run.Play(40)) << song.File;
    }
}

namespace {

// A loop around an IN: the IN (IN A,(n) or IN r,(C)), a few instructions that
// only read, now and then one that writes, looks at R or leaves a register
// changed, and a branch back that the interrupt handler (INC E; OUT) may
// end, after which the program OUTs what it has and starts again.
Program MakeIdleLoop(std::mt19937& rng, uint16_t origin) {
    Program p{{}, origin};
    p.Put({0x01, 0xFE, static_cast<uint8_t>(rng() % 4 ? 0xFE : rng())}); // LD BC,port
    p.Put({0x1E, static_cast<uint8_t>(rng() % 3)});                      // LD E,n
    const uint16_t loop = p.Here();
    if (rng() % 2) p.Put({0xFB}); // EI
    if (rng() % 2)
        p.Put({0xDB, static_cast<uint8_t>(rng())}); // IN A,(n)
    else
        p.Put({0xED, static_cast<uint8_t>(0x40 | (rng() % 8) << 3)}); // IN r,(C)
    static const std::vector<std::vector<uint8_t>> reads = {
        {0xAF}, {0xF6, 0xE0}, {0xE6, 0x1F}, {0x3C},       {0xFE, 0x20}, {0x7B}, {0x3A, 0x00, 0x90},
        {0x7E}, {0xD9},       {0x08},       {0xCB, 0x46}, {0xCB, 0x47}, {0x00}, {0xB3},
        {0xF3}, {0xFB},
    };
    static const std::vector<std::vector<uint8_t>> misses = {
        {0x32, 0x00, 0x90}, // LD (nn),A
        {0x34},             // INC (HL)
        {0xED, 0x5F},       // LD A,R
        {0xD3, 0xFE},       // OUT (n),A
        {0xC5, 0xC1},       // PUSH BC; POP BC
        {0x1C},             // INC E
        {0xCB, 0x06},       // RLC (HL)
        {0xDD, 0x7E, 0x00}, // LD A,(IX+0)
    };
    const int n = static_cast<int>(rng() % 5);
    const int miss = rng() % 3 == 0 ? static_cast<int>(rng() % (n + 1)) : -1;
    for (int i = 0; i <= n; ++i) {
        const auto& op = i == miss ? misses[rng() % misses.size()] : reads[rng() % reads.size()];
        for (uint8_t b : op) p.Code.push_back(b);
    }
    p.Put({0x7B, 0xB7});                            // LD A,E; OR A
    const uint8_t branch = rng() % 3 ? 0x28 : 0x18; // JR Z or JR back
    p.Put({branch, static_cast<uint8_t>(loop - (p.Here() + 2))});
    p.Put({0xED, 0x5F, 0xD3, 0xFE, 0x1E, 0x00, 0xC3}); // LD A,R; OUT; LD E,0; JP loop
    p.Word(loop);
    return p;
}

} // namespace

TEST(IdleLoops, RandomLoopsStopAfterEveryOutAsPassByPass) {
    std::mt19937 rng(71207);
    uint32_t fastIns = 0, slowIns = 0;
    for (int round = 0; round < 400; ++round) {
        auto start = std::make_unique<Z80State>();
        const Program p = MakeIdleLoop(rng, static_cast<uint16_t>(0x4000 + rng() % 0xA000));
        Prepare(*start, rng, p);
        // The handler at 0x0038 ends the wait now and then: INC E before its OUT.
        const uint8_t handler[] = {0xF5, 0x1C, 0xED, 0x5F, 0xD3, 0xFE, 0xF1, 0xFB, 0xC9};
        std::memcpy(&start->Memory[0x0038], handler, sizeof handler);
        if (rng() % 2) start->Memory[0x0039] = 0x00; // or never: the loop runs on
        SteadyPorts fastPorts, slowPorts;
        ExpectSameStops(*start, 12, "round " + std::to_string(round), fastPorts, slowPorts);
        if (HasFatalFailure()) return;
        fastIns += fastPorts.Ins;
        slowIns += slowPorts.Ins;
    }
    // The loops that qualify (about a third of them) ran most of their rounds
    // at once.
    EXPECT_LT(fastIns * 2, slowIns);
}

// A key wait with no key pressed runs to the frame end either way; only
// ports that promise steady input let its rounds run at once.
TEST(IdleLoops, OnlySteadyInputSkipsRounds) {
    // EI; IN A,(0xFE); OR 0xE0; INC A; JR Z,loop
    const uint8_t wait[] = {0xFB, 0xDB, 0xFE, 0xF6, 0xE0, 0x3C, 0x28, 0xF8};
    SteadyPorts ports[2];
    ports[1].Steady = false;
    std::unique_ptr<Z80State> z[2];
    for (int i = 0; i < 2; ++i) {
        z[i] = std::make_unique<Z80State>();
        std::memcpy(&z[i]->Memory[0x8000], wait, sizeof wait);
        z[i]->PC = 0x8000;
        z[i]->TStates = 100;
        z[i]->Ports = &ports[i];
        RunPasses(*z[i], ports[i].Outs, 1);
    }
    EXPECT_GE(z[0]->TStates, FrameTStates);
    EXPECT_EQ(z80test::Diff(*z[1], *z[0]), "");
    EXPECT_LT(ports[0].Ins, 8u);
    EXPECT_GT(ports[1].Ins, 1500u);
}

// Two INs with the same registers do not make a loop idle when the round
// between them wrote memory: here the first round clears a flag, and the
// rounds after it take the other path, which counts in D.
TEST(IdleLoops, TheRoundAfterAWritingRoundIsCheckedOnItsOwn) {
    // loop: IN A,(0xFE); LD A,(0x9000); OR A; JR Z,p; XOR A; LD (0x9000),A;
    //       JR loop; p: INC D; JR loop
    const uint8_t code[] = {0xDB, 0xFE, 0x3A, 0x00, 0x90, 0xB7, 0x28, 0x06, 0xAF,
                            0x32, 0x00, 0x90, 0x18, 0xF2, 0x14, 0x18, 0xEF};
    auto fast = std::make_unique<Z80State>();
    std::memcpy(&fast->Memory[0x8000], code, sizeof code);
    fast->Memory[0x9000] = 1;
    fast->PC = 0x8000;
    fast->TStates = 100;
    fast->AFRef->F = 0x44; // as XOR A leaves it, so that the first two INs match
    auto slow = std::make_unique<Z80State>(*fast);
    SteadyPorts fastPorts, slowPorts;
    fast->Ports = &fastPorts;
    slow->Ports = &slowPorts;
    RunPasses(*fast, fastPorts.Outs, 1);
    do Pass(*slow);
    while (slow->TStates < FrameTStates);
    EXPECT_EQ(z80test::Diff(*slow, *fast), "");
    EXPECT_NE(fast->Bank->D, 0);
}
