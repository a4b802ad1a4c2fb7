// Sound chip engine throughput: whole buffers made by `MakeBuffer` for three
// small Z80 songs (a tone song with arpeggios, an envelope bass line, a
// noise-heavy drum part) and for the first song of each real ".ay" file in the
// shared test data, each with the fast renderer and with the tick-by-tick
// definition. Reports seconds of sound per second of CPU time ("x_realtime")
// and the time of one 370 ms buffer (the iteration time).
#include "chip/chip.h"
#include "songs/session.h"
#include "songs/song_stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Frame = std::vector<std::pair<uint8_t, uint8_t>>; // (register, value) writes

constexpr uint16_t SongPointer = 0x7FF0;
constexpr uint16_t SongStart = 0x8000;

// The IM 1 handler: writes one frame's (register, value) pairs through the
// Spectrum ports, a 0xFF ends the frame, a 0xFE after it the song.
const uint8_t Player[] = {
    0xF5, 0xC5, 0xE5,                           // PUSH AF; PUSH BC; PUSH HL
    0x2A, SongPointer & 0xFF, SongPointer >> 8, // LD HL,(SongPointer)
    0x01, 0xFD, 0xFF,                           // LD BC,0xFFFD
    // loop:
    0x7E, 0x23, 0xFE, 0xFF, 0x28, 12,   // LD A,(HL); INC HL; CP 0xFF; JR Z,done
    0xED, 0x79, 0x7E, 0x23,             // OUT (C),A; LD A,(HL); INC HL
    0x06, 0xBF, 0xED, 0x79, 0x06, 0xFF, // LD B,0xBF; OUT (C),A; LD B,0xFF
    0x18, static_cast<uint8_t>(-18),    // JR loop
    // done:
    0x7E, 0xFE, 0xFE, 0x20, 0x03,               // LD A,(HL); CP 0xFE; JR NZ,store
    0x21, SongStart & 0xFF, SongStart >> 8,     // LD HL,SongStart
    0x22, SongPointer & 0xFF, SongPointer >> 8, // store: LD (SongPointer),HL
    0xE1, 0xC1, 0xF1, 0xFB, 0xC9,               // POP HL; POP BC; POP AF; EI; RET
};

// DI; LD SP,0xF000; IM 1; EI; loop: HALT; JR loop
const uint8_t Main[] = {0xF3, 0x31, 0x00, 0xF0, 0xED, 0x56, 0xFB, 0x76, 0x18, 0xFD};

// Tone periods of one octave from middle C with the Spectrum's chip clock.
constexpr uint16_t Scale[8] = {424, 378, 337, 318, 283, 252, 225, 212};

void SetTone(Frame& f, int channel, uint16_t period) {
    f.push_back({static_cast<uint8_t>(2 * channel), static_cast<uint8_t>(period)});
    f.push_back({static_cast<uint8_t>(2 * channel + 1), static_cast<uint8_t>(period >> 8)});
}

// Melody on A (new note every 6 frames, decaying), bass on B, a per-frame
// arpeggio on C: tones only.
std::vector<Frame> ToneSong() {
    std::vector<Frame> song;
    for (int n = 0; n < 96; ++n) {
        Frame f;
        if (n == 0) f.push_back({7, 0x38});
        if (n % 6 == 0) SetTone(f, 0, Scale[(n / 6 * 3) % 8]);
        f.push_back({8, static_cast<uint8_t>(15 - (n % 6))});
        if (n % 12 == 0) SetTone(f, 1, static_cast<uint16_t>(2 * Scale[(n / 12) % 8]));
        f.push_back({9, 11});
        static constexpr int Arp[3] = {0, 2, 4};
        SetTone(f, 2, static_cast<uint16_t>(Scale[(Arp[n % 3] + n / 24) % 8] / 2));
        f.push_back({10, 9});
        song.push_back(f);
    }
    return song;
}

// A buzz bass on A (triangle envelope at a sixteenth of the tone period,
// restarted on every note), with a melody on B and a held tone on C.
std::vector<Frame> EnvelopeBassSong() {
    std::vector<Frame> song;
    for (int n = 0; n < 96; ++n) {
        Frame f;
        if (n == 0) f.push_back({7, 0x38});
        if (n % 6 == 0) {
            const uint16_t bass = static_cast<uint16_t>(2 * Scale[(n / 6 * 5) % 8]);
            SetTone(f, 0, bass);
            f.push_back({11, static_cast<uint8_t>(bass / 16)});
            f.push_back({12, 0});
            f.push_back({8, 0x10});
            f.push_back({13, (n / 6) % 2 ? 0x0A : 0x0C});
        }
        if (n % 3 == 0) SetTone(f, 1, Scale[(n / 3) % 8]);
        f.push_back({9, static_cast<uint8_t>(14 - (n % 3))});
        if (n == 0) SetTone(f, 2, 500);
        f.push_back({10, 8});
        song.push_back(f);
    }
    return song;
}

// Drums: noise on every channel with a new noise period every frame, short
// decays, and tones on B and C underneath.
std::vector<Frame> NoiseSong() {
    std::vector<Frame> song;
    for (int n = 0; n < 96; ++n) {
        Frame f;
        if (n == 0) f.push_back({7, 0x01});
        static constexpr uint8_t Periods[8] = {1, 3, 8, 1, 16, 2, 31, 5};
        f.push_back({6, Periods[n % 8]});
        f.push_back({8, static_cast<uint8_t>(15 - 2 * (n % 4))});
        if (n % 4 == 0) SetTone(f, 1, Scale[(n / 4) % 8]);
        f.push_back({9, 10});
        if (n % 8 == 0) SetTone(f, 2, static_cast<uint16_t>(Scale[(n / 8) % 8] / 2));
        f.push_back({10, static_cast<uint8_t>(12 - (n % 8))});
        song.push_back(f);
    }
    return song;
}

struct Machine {
    std::unique_ptr<SoundEngine> Engine = std::make_unique<SoundEngine>();
    std::vector<int16_t> Buffer = std::vector<int16_t>(BufferValues);

    Machine(const std::vector<Frame>& song, bool tickByTick) {
        Z80State& z = Engine->Z80;
        for (size_t i = 0; i < sizeof Player; ++i) z.Memory[0x38 + i] = Player[i];
        for (size_t i = 0; i < sizeof Main; ++i) z.Memory[0x100 + i] = Main[i];
        uint16_t a = SongStart;
        for (const Frame& f : song) {
            for (auto [reg, value] : f) {
                z.Memory[a++] = reg;
                z.Memory[a++] = value;
            }
            z.Memory[a++] = 0xFF;
        }
        z.Memory[a] = 0xFE;
        WriteWord(z, SongPointer, SongStart);
        StartPlayback(*Engine, Buffer.data());
        Engine->Chip.Beeper.Level = 0;
        Engine->Chip.TickByTick = tickByTick ? 1 : 0;
        z.PC = 0x100;
        MakeBuffer(*Engine); // past the start-up
    }
};

void Measure(benchmark::State& state, SoundEngine& engine) {
    for (auto _ : state) {
        MakeBuffer(engine);
        benchmark::DoNotOptimize(engine.Chip.Cursor.OutputBuffer);
        benchmark::ClobberMemory();
    }
    const double secondsPerBuffer = BufferValues / 2 / 44100.0;
    state.counters["x_realtime"] =
        benchmark::Counter(secondsPerBuffer, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(state.range(0) ? "tick by tick" : "fast");
}

void RunSong(benchmark::State& state, const std::vector<Frame>& song) {
    Machine m(song, state.range(0) != 0);
    Measure(state, *m.Engine);
}

void BM_ToneSong(benchmark::State& state) { RunSong(state, ToneSong()); }
void BM_EnvelopeBassSong(benchmark::State& state) { RunSong(state, EnvelopeBassSong()); }
void BM_NoiseSong(benchmark::State& state) { RunSong(state, NoiseSong()); }

BENCHMARK(BM_ToneSong)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EnvelopeBassSong)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NoiseSong)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The first song of a real file, measured after its first 10 seconds.
void RealSong(benchmark::State& state, const std::string& fileName) {
    SongSession session;
    std::string error;
    if (!session.Open(fileName, KindOfFile(fileName),
                      [&](const std::string& text) { error = text; })) {
        state.SkipWithError(error.c_str());
        return;
    }
    SoundEngine* engine = session.Engine.get();
    engine->Chip.TickByTick = state.range(0) ? 1 : 0;
    SongStream stream(session);
    stream.Start(0);
    std::vector<int16_t> buffer(BufferValues);
    for (int i = 0; i < 27; ++i) stream.Fill(buffer.data(), BufferValues);
    Measure(state, *engine);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ZIRRAFON_TESTDATA_DIR "/ay", ec))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        const std::string file = path.string();
        benchmark::RegisterBenchmark(("BM_RealSong/" + path.stem().string()).c_str(),
                                     [file](benchmark::State& state) { RealSong(state, file); })
            ->Arg(0)
            ->Arg(1)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
