// Cost of one refill of the player's wave output: what `OnBufferPlayed` does when the
// device hands a buffer back, i.e. one `MakeBuffer` of 32,640 values
// (0.370 s of sound) continuing a song where the previous buffer ended.
// The refill runs on the GUI thread, so this is the time the window is busy
// per buffer; it must stay far below the 370 ms the other buffer plays.
//
// Each run covers the first minute of the song (160 buffers after the two of
// the start), as a player would hear it; a song left running for an hour may
// long have fallen silent, which would flatter the figure.
//
// Songs: the three songs of the demo file (Spectrum chip music, CPC chip
// music, beeper), the demo AYM file, and a real beeper song from the shared
// test data when it is there.
#include "chip/chip.h"
#include "songs/session.h"
#include "songs/song_stream.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

void Refill(benchmark::State& state, const std::string& file, int song) {
    if (!std::filesystem::exists(file)) {
        state.SkipWithError(("missing " + file).c_str());
        return;
    }
    SongSession session;
    const auto ignore = [](const std::string&) {};
    if (!session.Open(file, SongKindByExtension(file), ignore)) {
        state.SkipWithError("file refused");
        return;
    }
    SetChipAndChannels(session.Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
    SongStream stream(session);
    stream.Start(song);
    std::vector<int16_t> buffer1(BufferValues), buffer2(BufferValues);
    // The two buffers of the start, then the steady refills alternate.
    stream.Fill(buffer1.data(), BufferValues);
    stream.Fill(buffer2.data(), BufferValues);
    bool first = true;
    for (auto _ : state) {
        int16_t* buffer = (first ? buffer1 : buffer2).data();
        stream.Fill(buffer, BufferValues);
        benchmark::DoNotOptimize(buffer[BufferValues - 1]);
        first = !first;
    }
    state.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * BufferValues / (2.0 * 44100),
                           benchmark::Counter::kIsRate);
}

const std::string Demo = ZIRRAFON_SOURCE_DIR "/assets/demo/";
const std::string Shared = ZIRRAFON_TESTDATA_DIR "/ay/";

BENCHMARK_CAPTURE(Refill, demo_ay_song1_spectrum, Demo + "demo.ay", 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(160)
    ->Repetitions(5);
BENCHMARK_CAPTURE(Refill, demo_ay_song2_cpc, Demo + "demo.ay", 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(160)
    ->Repetitions(5);
BENCHMARK_CAPTURE(Refill, demo_ay_song3_beeper, Demo + "demo.ay", 2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(160)
    ->Repetitions(5);
BENCHMARK_CAPTURE(Refill, demo_aym, Demo + "demo.aym", 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(160)
    ->Repetitions(5);
BENCHMARK_CAPTURE(Refill, beeper_demo_part_1, Shared + "Beeper_Demo_part_1.ay", 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(160)
    ->Repetitions(5);
BENCHMARK_CAPTURE(Refill, exolon, Shared + "Exolon.AY", 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(160)
    ->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
