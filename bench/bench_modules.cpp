// Cost of a tracker module against its own register dump: the whole song, from
// opening the file to its last sample, once from the module (the tracker
// engine makes the registers when the file opens, then the register player
// plays them) and once from the PSG dump of the same registers (read, then
// played the same way). The engine's own work is what the two differ by; it
// should stay within a few per cent.
//
// The dump is made here from the module, as `zirrafon-render -o X.psg` makes
// it: the registers recorded at every frame end of the song.
#include "songs/register_player.h"
#include "songs/session.h"
#include "songs/song_stream.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string Modules = ZIRRAFON_TESTDATA_DIR "/pt3/";

// Renders the file's song from its start to its length; the samples made.
uint64_t RenderWhole(const std::string& file) {
    SongSession session;
    if (!session.Open(file, KindOfFile(file), nullptr)) return 0;
    SetChipAndChannels(session.Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
    const SongTiming timing = session.FileTiming(0);
    SongStream stream(session);
    stream.Start(0, timing);
    std::vector<int16_t> buffer(BufferValues);
    uint64_t made = 0;
    for (uint32_t n; (n = stream.Fill(buffer.data(), BufferValues)) > 0;) {
        made += n;
        benchmark::DoNotOptimize(buffer[n - 1]);
        if (made >= 2 * timing.Frames) break;
    }
    return made;
}

// The module's register dump, written next to the system's temporary files.
std::string DumpOf(const std::string& module) {
    SongSession session;
    if (!session.Open(module, KindOfFile(module), nullptr)) return {};
    std::vector<int16_t> buffer(BufferValues);
    session.StartPlayback(buffer.data());
    RegisterRecorder recorder(*session.Engine);
    const uint32_t frames = session.SongFrames(0);
    while (recorder.FrameCount() < frames) session.FillBuffer(buffer.data(), &recorder);
    std::vector<uint8_t> registers = recorder.Frames();
    registers.resize(size_t{frames} * StreamRegisters);
    const std::vector<uint8_t> psg = WritePSG(registers);
    const std::string path = (std::filesystem::temp_directory_path() /
                              (std::filesystem::path(module).stem().string() + "-dump.psg"))
                                 .string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(psg.data()), std::streamsize(psg.size()));
    return path;
}

void Whole(benchmark::State& state, const std::string& module, bool fromDump) {
    if (!std::filesystem::exists(module)) {
        state.SkipWithError(("missing " + module).c_str());
        return;
    }
    const std::string file = fromDump ? DumpOf(module) : module;
    uint64_t samples = 0;
    for (auto _ : state) samples += RenderWhole(file);
    if (fromDump) std::filesystem::remove(file);
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(samples) / (2.0 * 44100),
                                                      benchmark::Counter::kIsRate);
}

// Each module and its dump side by side, one after the other.
#define MODULE(name, file)                                                                         \
    BENCHMARK_CAPTURE(Whole, name##_module, Modules + file, false)                                 \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->Repetitions(5);                                                                          \
    BENCHMARK_CAPTURE(Whole, name##_dump, Modules + file, true)                                    \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->Repetitions(5)

MODULE(megamix, "megamix.pt3");
MODULE(music, "music.pt3");
MODULE(pt2_4jour, "4jour-2.pt2");

} // namespace

BENCHMARK_MAIN();
