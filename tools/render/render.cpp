// zirrafon-render: opening song files and rendering one song to 16-bit stereo
// PCM, sample for sample as the player's two-buffer cycle makes it. Every song
// renders on its own engine from a freshly opened file, so the result does not
// depend on which songs were rendered before it (the player, by contrast,
// keeps an AYM file's memory image from one song to the next).
#include "render.h"

#include "stems.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void PutLE(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

void MakeWavHeader(uint8_t header[44], uint64_t frames, int channels) {
    const uint32_t frameBytes = 2 * static_cast<uint32_t>(channels);
    const uint32_t dataBytes = static_cast<uint32_t>(frames * frameBytes);
    std::memcpy(header, "RIFF", 4);
    PutLE(header + 4, 36 + dataBytes, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLE(header + 16, 16, 4);                      // format chunk size
    PutLE(header + 20, 1, 2);                       // PCM
    PutLE(header + 22, channels, 2);                // channels
    PutLE(header + 24, SampleRate, 4);              // frames per second
    PutLE(header + 28, SampleRate * frameBytes, 4); // bytes per second
    PutLE(header + 32, frameBytes, 2);              // bytes per frame
    PutLE(header + 34, 16, 2);                      // bits per sample
    std::memcpy(header + 36, "data", 4);
    PutLE(header + 40, dataBytes, 4);
}

RenderOutcome RenderSong(const RenderJob& job, const RenderSettings& settings,
                         const std::function<void(uint64_t frames)>& progress) {
    // The file was listed before; open it again so that this song starts from
    // exactly the state the player has after opening a file.
    std::unique_ptr<SongSession> file = OpenSongFile(job.FileName);
    SoundEngine* engine = file->Engine.get();
    engine->Chip.BeeperSetting = settings.BeeperSetting;
    SetChipAndChannels(engine->Chip, settings.ChipMode, settings.Volume);

    const auto write = [&job](const void* data, size_t bytes) {
        if (job.Output && std::fwrite(data, 1, bytes, job.Output) != bytes)
            throw SongIOError(std::strerror(errno));
    };
    file->LoadSong(job.Song);

    uint8_t header[44];
    MakeWavHeader(header, job.Frames);
    write(header, sizeof header);

    std::vector<int16_t> buffer(BufferValues);
    std::vector<uint8_t> bytes(BufferValues * 2);
    const double cpuStart = ThreadCpuSeconds();
    file->StartPlayback(buffer.data());
    std::unique_ptr<VoiceSplitter> voices;
    if (std::any_of(std::begin(job.Voices), std::end(job.Voices), [](std::FILE* f) { return f; }))
        voices = std::make_unique<VoiceSplitter>(*engine, settings, job);

    const uint64_t fadeStart = job.Frames - std::min(job.FadeFrames, job.Frames);
    for (uint64_t done = 0; done < job.Frames;) {
        if (voices) {
            engine->Chip.OutputBuffer = buffer.data();
            voices->MakeBuffer();
        } else {
            file->FillBuffer(buffer.data());
        }
        const uint64_t n = std::min<uint64_t>(BufferValues / 2, job.Frames - done);
        if (job.Output) {
            for (uint64_t f = 0; f < n; ++f) {
                const uint64_t frame = done + f;
                for (int side = 0; side < 2; ++side) {
                    int32_t v = buffer[2 * f + side];
                    // Linear fade: full level at its start, down to 1/FadeFrames
                    // on the last frame.
                    if (frame >= fadeStart)
                        v = static_cast<int32_t>(static_cast<int64_t>(v) *
                                                 static_cast<int64_t>(job.Frames - frame) /
                                                 static_cast<int64_t>(job.FadeFrames));
                    bytes[4 * f + 2 * side] = static_cast<uint8_t>(v);
                    bytes[4 * f + 2 * side + 1] =
                        static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
                }
            }
            write(bytes.data(), n * 4);
        }
        if (voices) voices->Write(done, n);
        done += n;
        if (progress) progress(n);
    }
    RenderOutcome outcome;
    outcome.CpuSeconds = ThreadCpuSeconds() - cpuStart;
    outcome.Machine = file->MachineName();
    if (job.Output && std::fflush(job.Output) != 0) throw SongIOError(std::strerror(errno));
    return outcome;
}
