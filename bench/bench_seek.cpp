// Cost of a seek as the player makes it: the song is mapped ahead (its
// snapshots taken on the worker thread), then `SongStream::Seek` to a frame
// and the first buffer from there, which is what must be done before the
// device can play the new place. Also the cost of mapping a whole song and
// the snapshots' memory (counters "map_s" and "snapshot_MB").
//
// Songs: the longest song with a length in the shared test data (2BY_OLEG,
// 284 s), and a beeper song without a length mapped for 20 minutes, the
// longest demo tunes users play.
#include "songs/session.h"
#include "songs/song_stream.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace {

constexpr uint64_t Second = 44100;
const std::string Songs = ZIRRAFON_TESTDATA_DIR "/ay/";

struct Mapped {
    std::unique_ptr<SongSession> Session;
    std::unique_ptr<SongStream> Stream;
    double MapSeconds = 0;
};

// The song started and mapped as the player maps it.
bool Map(Mapped& m, const std::string& file, uint64_t frames, benchmark::State& state) {
    if (!std::filesystem::exists(file)) {
        state.SkipWithError(("missing " + file).c_str());
        return false;
    }
    m.Session = OpenSongFile(file);
    SetChipAndChannels(m.Session->Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
    m.Stream = std::make_unique<SongStream>(*m.Session);
    m.Stream->MapSongsAhead(true);
    const auto start = std::chrono::steady_clock::now();
    m.Stream->Start(0, SongTiming{frames, 0});
    m.Stream->Snapshots()->WaitMapped();
    m.MapSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return true;
}

// Seeks to `to` seconds (from wherever the last iteration left the stream)
// and makes the first buffer there.
void Seek(benchmark::State& state, const std::string& file, uint64_t songSeconds, double to) {
    Mapped m;
    if (!Map(m, file, songSeconds * Second, state)) return;
    for (auto _ : state) {
        m.Stream->Seek(static_cast<uint64_t>(to * Second));
        benchmark::DoNotOptimize(m.Stream->Take(BufferValues / 2).data());
    }
    state.counters["map_s"] = m.MapSeconds;
    state.counters["snapshot_MB"] =
        static_cast<double>(m.Stream->Snapshots()->MemoryBytes()) / (1 << 20);
}

} // namespace

BENCHMARK_CAPTURE(Seek, Oleg_to_5s, Songs + "2BY_OLEG.ay", 284, 5.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Seek, Oleg_to_142s, Songs + "2BY_OLEG.ay", 284, 142.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Seek, Oleg_to_264s, Songs + "2BY_OLEG.ay", 284, 264.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Seek, BeeperDemo20min_to_1190s, Songs + "Beeper_Demo_part_1.ay", 1200, 1190.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Seek, BeeperDemo20min_to_600s, Songs + "Beeper_Demo_part_1.ay", 1200, 600.0)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
