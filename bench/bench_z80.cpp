// Z80 core speed: emulated T-states per second of host time.
//
// The load is a small music-player-like program written here in Z80 machine
// code: per "channel" it steps a note counter, fetches pattern bytes through
// IX-indexed pointers, looks notes up in a table, decays a volume, writes sound
// chip registers with OUT (C),r, and calls and returns; around the channels it
// runs a block move, 16-bit SBC in the alternate bank, DAA in the alternate
// AF, RLD, CB-page shifts and an IY-indexed BIT. Interrupts are on (IM 1) and
// an interrupt routine counts ticks, so acceptance and EI/RETI are part of the
// mix. There is no HALT: a HALT would skip the rest of a frame in one step and
// make the figure meaningless.
//
// A second benchmark runs the player code of the real songs in the shared test
// data.
//
// Each pass is the frame loop's: refresh increment, interrupt check in the
// first 21 T-states of a frame, otherwise EIDelay cleared and one instruction
// step, T-states wrapped at the frame length.
#include "songs/session.h"
#include "z80/z80.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Stands in for the sound chip: remembers what was written, answers 0xFF.
class FakePorts final : public Z80Ports {
  public:
    void Out(uint16_t port, uint8_t value) override { Sum = Sum * 31 + port + value; }
    uint8_t In(uint16_t) override { return 0xFF; }
    uint64_t Sum = 0;
};

// Just enough of an assembler to place bytes and resolve labels.
class Assembler {
  public:
    explicit Assembler(Z80State& s) : s_(s) {}

    void Org(uint16_t address) { pc_ = address; }
    void Label(const std::string& name) { labels_[name] = pc_; }
    void Bytes(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) s_.Memory[pc_++] = b;
    }
    // An opcode sequence followed by the 16-bit address of a label (+ offset).
    void Abs(std::initializer_list<uint8_t> op, const std::string& label, int offset = 0) {
        Bytes(op);
        fixups_.push_back({pc_, label, offset, false});
        pc_ = static_cast<uint16_t>(pc_ + 2);
    }
    // JR / JR cc / DJNZ to a label.
    void Rel(uint8_t op, const std::string& label) {
        Bytes({op});
        fixups_.push_back({pc_, label, 0, true});
        pc_ = static_cast<uint16_t>(pc_ + 1);
    }
    void Resolve() {
        for (const Fixup& f : fixups_) {
            const auto it = labels_.find(f.Label);
            if (it == labels_.end()) {
                std::fprintf(stderr, "bench_z80: unknown label %s\n", f.Label.c_str());
                std::abort();
            }
            const int target = it->second + f.Offset;
            if (f.Relative) {
                const int d = target - (f.At + 1);
                if (d < -128 || d > 127) {
                    std::fprintf(stderr, "bench_z80: jump to %s out of range\n", f.Label.c_str());
                    std::abort();
                }
                s_.Memory[f.At] = static_cast<uint8_t>(d);
            } else {
                WriteWord(s_, f.At, static_cast<uint16_t>(target));
            }
        }
    }

  private:
    struct Fixup {
        uint16_t At;
        std::string Label;
        int Offset;
        bool Relative;
    };
    Z80State& s_;
    uint16_t pc_ = 0;
    std::map<std::string, uint16_t> labels_;
    std::vector<Fixup> fixups_;
};

// Where the interrupt routine counts (the label "ticks" below).
constexpr uint16_t TicksAddress = 0xC000 + 3 * 8 + 8;

// Builds the player-like program and its data.
void LoadMixedProgram(Z80State& s) {
    Assembler a(s);
    // Start-up: interrupts in mode 1, then the main loop.
    a.Org(0x0000);
    a.Bytes({0xF3});             // DI
    a.Bytes({0x31, 0xF0, 0xFF}); // LD SP,0xFFF0
    a.Bytes({0xED, 0x56});       // IM 1
    a.Bytes({0xFB});             // EI
    a.Abs({0xC3}, "main");       // JP main

    // Interrupt routine: count ticks.
    a.Org(0x0038);
    a.Bytes({0xF5, 0xE5});       // PUSH AF; PUSH HL
    a.Abs({0x2A}, "ticks");      // LD HL,(ticks)
    a.Bytes({0x23});             // INC HL
    a.Abs({0x22}, "ticks");      // LD (ticks),HL
    a.Bytes({0xE1, 0xF1});       // POP HL; POP AF
    a.Bytes({0xFB, 0xED, 0x4D}); // EI; RETI

    a.Org(0x8000);
    a.Label("main");
    a.Abs({0xDD, 0x21}, "channels"); // LD IX,channels
    a.Abs({0xFD, 0x21}, "vars");     // LD IY,vars
    a.Bytes({0x06, 0x03});           // LD B,3
    a.Label("chan");
    a.Bytes({0xDD, 0x7E, 0x00});       // LD A,(IX+0)
    a.Bytes({0x3D});                   // DEC A
    a.Bytes({0xDD, 0x77, 0x00});       // LD (IX+0),A
    a.Rel(0x20, "keep");               // JR NZ,keep
    a.Bytes({0xDD, 0x6E, 0x01});       // LD L,(IX+1)
    a.Bytes({0xDD, 0x66, 0x02});       // LD H,(IX+2)
    a.Bytes({0x7E, 0x23});             // LD A,(HL); INC HL
    a.Bytes({0xDD, 0x75, 0x01});       // LD (IX+1),L
    a.Bytes({0xDD, 0x74, 0x02});       // LD (IX+2),H
    a.Bytes({0xE6, 0x1F, 0x87});       // AND 0x1F; ADD A,A
    a.Bytes({0x5F, 0x16, 0x00});       // LD E,A; LD D,0
    a.Bytes({0xE5});                   // PUSH HL
    a.Abs({0x21}, "freqs");            // LD HL,freqs
    a.Bytes({0x19, 0x5E, 0x23, 0x56}); // ADD HL,DE; LD E,(HL); INC HL; LD D,(HL)
    a.Bytes({0xE1});                   // POP HL
    a.Bytes({0xDD, 0x73, 0x03});       // LD (IX+3),E
    a.Bytes({0xDD, 0x72, 0x04});       // LD (IX+4),D
    a.Bytes({0xDD, 0x36, 0x00, 0x03}); // LD (IX+0),3
    a.Bytes({0xDD, 0x36, 0x05, 0x0F}); // LD (IX+5),15
    a.Label("keep");
    a.Bytes({0xDD, 0x7E, 0x05});       // LD A,(IX+5)
    a.Bytes({0xD6, 0x01, 0xCE, 0x00}); // SUB 1; ADC A,0
    a.Bytes({0xDD, 0x77, 0x05});       // LD (IX+5),A
    a.Bytes({0xFD, 0xCB, 0x00, 0x46}); // BIT 0,(IY+0)
    a.Rel(0x28, "novib");              // JR Z,novib
    a.Bytes({0xDD, 0x7E, 0x03});       // LD A,(IX+3)
    a.Bytes({0xEE, 0x01});             // XOR 1
    a.Bytes({0xDD, 0x77, 0x03});       // LD (IX+3),A
    a.Label("novib");
    a.Abs({0xCD}, "outregs");    // CALL outregs
    a.Bytes({0x11, 0x08, 0x00}); // LD DE,8
    a.Bytes({0xDD, 0x19});       // ADD IX,DE
    a.Rel(0x10, "chan");         // DJNZ chan
    // Block move, alternate registers, BCD and nibble work.
    a.Abs({0x21}, "buffer");           // LD HL,buffer
    a.Abs({0x11}, "buffer", 32);       // LD DE,buffer+32
    a.Bytes({0x01, 0x18, 0x00});       // LD BC,24
    a.Bytes({0xED, 0xB0});             // LDIR
    a.Bytes({0xD9});                   // EXX
    a.Abs({0x2A}, "vars", 2);          // LD HL,(vars+2)
    a.Bytes({0x01, 0x34, 0x12});       // LD BC,0x1234
    a.Bytes({0xB7, 0xED, 0x42});       // OR A; SBC HL,BC
    a.Abs({0x22}, "vars", 2);          // LD (vars+2),HL
    a.Bytes({0xD9, 0x08});             // EXX; EX AF,AF'
    a.Bytes({0xFD, 0x7E, 0x01});       // LD A,(IY+1)
    a.Bytes({0xC6, 0x01, 0x27});       // ADD A,1; DAA
    a.Bytes({0xFD, 0x77, 0x01});       // LD (IY+1),A
    a.Bytes({0x08});                   // EX AF,AF'
    a.Abs({0x21}, "vars", 4);          // LD HL,vars+4
    a.Bytes({0xED, 0x6F});             // RLD
    a.Bytes({0xFD, 0x34, 0x00});       // INC (IY+0)
    a.Bytes({0xCB, 0x3F, 0xCB, 0x19}); // SRL A; RR C
    a.Bytes({0xCB, 0x23, 0xB7});       // SLA E; OR A
    a.Abs({0xC3}, "main");             // JP main

    // Writes two chip registers of the channel at IX (register number at
    // IX+6, volume at IX+5) through the Spectrum ports.
    a.Label("outregs");
    a.Bytes({0xC5});                   // PUSH BC
    a.Bytes({0x01, 0xFD, 0xFF});       // LD BC,0xFFFD
    a.Bytes({0xDD, 0x7E, 0x06});       // LD A,(IX+6)
    a.Bytes({0xED, 0x79});             // OUT (C),A
    a.Bytes({0x06, 0xBF, 0xED, 0x59}); // LD B,0xBF; OUT (C),E
    a.Bytes({0xDD, 0x7E, 0x05});       // LD A,(IX+5)
    a.Bytes({0xE6, 0x0F});             // AND 0x0F
    a.Bytes({0x06, 0xFF, 0xED, 0x79}); // LD B,0xFF; OUT (C),A
    a.Bytes({0x06, 0xBF, 0xED, 0x51}); // LD B,0xBF; OUT (C),D
    a.Bytes({0xC1, 0xC9});             // POP BC; RET

    // Data: three channels of 8 bytes (counter, pattern pointer, period,
    // volume, register), variables, a note table, patterns and a buffer.
    a.Org(0xC000);
    a.Label("channels");
    for (int c = 0; c < 3; ++c) {
        a.Bytes({static_cast<uint8_t>(1 + c)});
        a.Abs({}, "pattern", 16 * c);
        a.Bytes({0, 0, 15, static_cast<uint8_t>(2 * c), 0});
    }
    a.Label("vars");
    a.Bytes({0, 0, 0x00, 0x80, 0x5A, 0, 0, 0});
    a.Label("ticks"); // TicksAddress
    a.Bytes({0, 0});
    a.Org(0xC100);
    a.Label("freqs");
    for (int n = 0; n < 32; ++n) {
        const int period = 3424 >> (n / 12);
        a.Bytes({static_cast<uint8_t>(period + n), static_cast<uint8_t>((period + n) >> 8)});
    }
    a.Org(0xC200);
    a.Label("pattern");
    // Patterns are long enough that the pointers wander through memory for a
    // while; the values there are note numbers modulo 32 either way.
    for (int i = 0; i < 0x1000; ++i) s.Memory[0xC200 + i] = static_cast<uint8_t>(i * 7 + (i >> 3));
    a.Org(0xE000);
    a.Label("buffer");
    a.Resolve();
}

// What one frame of emulation did.
struct FrameCount {
    int64_t TStates = 0; // all T-states, a HALT's jump to the frame end included
    int64_t Busy = 0;    // T-states of passes that ran real work (no HALT jump)
};

// The longest pass that is not a HALT running on to the frame end: DD CB
// instructions and the like take 23 T-states.
constexpr int32_t LongestInstruction = 23;

// Runs passes of the frame loop until one frame has ended.
FrameCount RunFrame(Z80State& s) {
    FrameCount count;
    for (;;) {
        RefreshIncrement(s);
        int32_t t;
        if (s.IFF1 && !s.EIDelay && s.TStates < InterruptWindow) {
            t = AcceptInterrupt(s);
        } else {
            s.EIDelay = 0;
            t = ExecuteInstruction(s);
        }
        count.TStates += t;
        count.Busy += t <= LongestInstruction ? t : 0;
        s.TStates += t;
        if (s.TStates >= FrameTStates) {
            s.TStates -= FrameTStates;
            return count;
        }
    }
}

// The mixed load, one frame per iteration through `frame`, which runs one
// frame of the processor and returns its T-states.
template <typename Frame> void MixedLoad(benchmark::State& state, Frame frame) {
    auto z80 = std::make_unique<Z80State>();
    FakePorts ports;
    z80->Ports = &ports;
    LoadMixedProgram(*z80);
    ResetForPlayback(*z80);
    // The program enables interrupts during its first frame; one more frame
    // and the interrupt routine has run at least once.
    RunFrame(*z80);
    RunFrame(*z80);
    const uint16_t ticksBefore = ReadWord(*z80, TicksAddress);
    int64_t tstates = 0;
    for (auto _ : state) tstates += frame(*z80);
    benchmark::DoNotOptimize(ports.Sum);
    if (ReadWord(*z80, TicksAddress) == ticksBefore && state.iterations() > 1)
        state.SkipWithError("the interrupt routine did not run");
    state.counters["T/s"] =
        benchmark::Counter(static_cast<double>(tstates), benchmark::Counter::kIsRate);
}

void BM_MixedLoad(benchmark::State& state) {
    MixedLoad(state, [](Z80State& z) { return static_cast<int64_t>(RunFrame(z).TStates); });
}
BENCHMARK(BM_MixedLoad);

// The same load through RunPasses, the frame loop's own runner (PC, R, EIDelay
// and the T-state counter in locals, every pass ending in its own dispatch).
void BM_MixedLoadRunPasses(benchmark::State& state) {
    MixedLoad(state, [](Z80State& z) {
        const uint16_t never = 0; // the watched count: no port call advances it here
        const int32_t before = z.TStates;
        RunPasses(z, never, 1);
        const int64_t t = z.TStates - before;
        z.TStates -= FrameTStates;
        return t;
    });
}
BENCHMARK(BM_MixedLoadRunPasses);

// The real player code of the songs in the shared test data: song 1 of every
// ".ay" file there, set up by the song start-up, then one frame of each song
// per iteration with the CPU alone (a fake port device instead of the sound
// chip). Players spend most of a frame in HALT, which this core skips in one
// step, so the figures are emulated frames per second and the T-states of the
// passes that ran real work ("busy") per second.
void BM_RealSongs(benchmark::State& state) {
    FakePorts ports;
    std::vector<std::unique_ptr<Z80State>> songs;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(ZIRRAFON_TESTDATA_DIR "/ay", error)) {
        SongSession session;
        SoundEngine* engine = session.Engine.get();
        try {
            if (!session.Open(entry.path().string(), SongKind::AY, [](const std::string&) {}))
                continue;
            session.LoadSong(0);
        } catch (const std::exception&) {
            continue;
        }
        auto z80 = std::make_unique<Z80State>(engine->Z80);
        z80->Ports = &ports;
        ResetForPlayback(*z80);
        for (int frame = 0; frame < 50; ++frame) RunFrame(*z80); // past the song's set-up
        songs.push_back(std::move(z80));
    }
    if (songs.empty()) {
        state.SkipWithError("no songs in " ZIRRAFON_TESTDATA_DIR "/ay");
        return;
    }
    int64_t frames = 0, busy = 0;
    for (auto _ : state) {
        for (auto& z80 : songs) busy += RunFrame(*z80).Busy;
        frames += static_cast<int64_t>(songs.size());
    }
    benchmark::DoNotOptimize(ports.Sum);
    state.counters["songs"] = static_cast<double>(songs.size());
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["busy T/s"] =
        benchmark::Counter(static_cast<double>(busy), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RealSongs);

} // namespace

BENCHMARK_MAIN();
