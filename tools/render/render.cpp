// zirrafon-render: opening song files and rendering one song to 16-bit stereo
// PCM, sample for sample as the player's two-buffer cycle makes it. Every song
// renders on its own engine from a freshly opened file, so the result does not
// depend on which songs were rendered before it (the player, by contrast,
// keeps an AYM file's memory image from one song to the next).
#include "render.h"

#include "stems.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <strings.h>
#include <vector>

// Same order as the player's chip list: even = AY-3-8910, odd = YM2149F,
// mode div 2 = layout.
const char* const ChipModeNames[14] = {"AYMONO", "YMMONO", "AYABC", "YMABC", "AYACB",
                                       "YMACB",  "AYBAC",  "YMBAC", "AYBCA", "YMBCA",
                                       "AYCAB",  "YMCAB",  "AYCBA", "YMCBA"};

int ChipModeByName(const std::string& name) {
    for (int i = 0; i < 14; ++i)
        if (strcasecmp(name.c_str(), ChipModeNames[i]) == 0) return i;
    return -1;
}

SongKind KindOfFile(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        std::string ext = fileName.substr(dot);
        while (!ext.empty() && static_cast<unsigned char>(ext.back()) <= ' ') ext.pop_back();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".ay") return SongKind::AY;
        if (ext == ".aym") return SongKind::AYM;
    }
    SongFileHandle file;
    try {
        file.Open(fileName);
    } catch (const SongIOError&) {
        return SongKind::AY; // let the reader report the file-system error
    }
    char id[4]{};
    const size_t n = file.ReadUpTo(0, id, sizeof id);
    if (n >= 4 && std::memcmp(id, "ZXAY", 4) == 0) return SongKind::AY;
    if (n >= 3 && std::memcmp(id, "AYM", 3) == 0) return SongKind::AYM;
    return SongKind::Unknown;
}

std::unique_ptr<OpenedSongFile> OpenSongFile(const std::string& fileName) {
    auto file = std::make_unique<OpenedSongFile>();
    file->Kind = KindOfFile(fileName);
    std::string refusal;
    const FormatErrorSink sink = [&refusal](const std::string& text) { refusal = text; };
    bool accepted = false;
    switch (file->Kind) {
    case SongKind::AY: accepted = OpenAYFile(file->List, fileName, sink); break;
    case SongKind::AYM:
        file->Engine = std::make_unique<SoundEngine>();
        accepted = OpenAYMFile(file->List, fileName, sink, *file->Engine);
        break;
    case SongKind::Unknown: refusal = "Not an .ay or .aym file"; break;
    }
    if (!accepted) throw std::runtime_error(refusal);
    return file;
}

double HeaderSongSeconds(const OpenedSongFile& file, int song) {
    if (file.Kind != SongKind::AY) return 0;
    return file.List.Songs.at(static_cast<size_t>(song)).SongLength / 50.0;
}

double HeaderFadeSeconds(const OpenedSongFile& file, int song) {
    if (file.Kind != SongKind::AY) return 0;
    return file.List.Songs.at(static_cast<size_t>(song)).FadeLength / 50.0;
}

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
    std::unique_ptr<OpenedSongFile> file = OpenSongFile(job.FileName);
    std::unique_ptr<SoundEngine> owned;
    SoundEngine* engine = file->Engine.get();
    if (!engine) {
        owned = std::make_unique<SoundEngine>();
        engine = owned.get();
    }
    engine->Chip.BeeperSetting = settings.BeeperSetting;
    SetChipAndChannels(engine->Chip, settings.ChipMode, settings.Volume);

    const auto write = [&job](const void* data, size_t bytes) {
        if (job.Output && std::fwrite(data, 1, bytes, job.Output) != bytes)
            throw SongIOError(std::strerror(errno));
    };
    if (file->Kind == SongKind::AYM)
        LoadAYMSong(file->List, *engine, job.Song);
    else
        LoadAYSong(file->List, *engine, job.Song);

    uint8_t header[44];
    MakeWavHeader(header, job.Frames);
    write(header, sizeof header);

    std::vector<int16_t> buffer(BufferValues);
    std::vector<uint8_t> bytes(BufferValues * 2);
    const double cpuStart = ThreadCpuSeconds();
    StartPlayback(*engine, buffer.data());
    std::unique_ptr<VoiceSplitter> voices;
    if (std::any_of(std::begin(job.Voices), std::end(job.Voices), [](std::FILE* f) { return f; }))
        voices = std::make_unique<VoiceSplitter>(*engine, settings, job);

    const uint64_t fadeStart = job.Frames - std::min(job.FadeFrames, job.Frames);
    for (uint64_t done = 0; done < job.Frames;) {
        engine->Chip.OutputBuffer = buffer.data();
        if (voices)
            voices->MakeBuffer();
        else
            MakeBuffer(*engine);
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
    const OutHandlerFn handler = engine->Chip.OutHandler;
    outcome.Machine = handler == &OutSpectrum ? "spectrum" : handler == &OutCpc ? "cpc" : "none";
    if (job.Output && std::fflush(job.Output) != 0) throw SongIOError(std::strerror(errno));
    return outcome;
}
