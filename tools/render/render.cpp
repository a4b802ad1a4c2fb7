// zirrafon-render: opening song files and rendering one song to 16-bit stereo
// PCM, sample for sample as the player's two-buffer cycle makes it. Every song
// renders on its own engine from a freshly opened file, so the result does not
// depend on which songs were rendered before it (the player, by contrast,
// keeps an AYM file's memory image from one song to the next).
#include "render.h"

#include <algorithm>
#include <bit>
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

void MakeWavHeader(uint8_t header[44], uint64_t frames) {
    const uint32_t dataBytes = static_cast<uint32_t>(frames * 4);
    std::memcpy(header, "RIFF", 4);
    PutLE(header + 4, 36 + dataBytes, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLE(header + 16, 16, 4);             // format chunk size
    PutLE(header + 20, 1, 2);              // PCM
    PutLE(header + 22, 2, 2);              // channels
    PutLE(header + 24, SampleRate, 4);     // frames per second
    PutLE(header + 28, SampleRate * 4, 4); // bytes per second
    PutLE(header + 32, 4, 2);              // bytes per frame
    PutLE(header + 34, 16, 2);             // bits per sample
    std::memcpy(header + 36, "data", 4);
    PutLE(header + 40, dataBytes, 4);
}

namespace {

// Where --bench sends the WAV: written like any output, then discarded.
struct DiscardedSink {
    std::FILE* File = std::fopen("/dev/null", "wb");
    ~DiscardedSink() {
        if (File) std::fclose(File);
    }
};

// The output's bytes of `frames` stereo frames of the buffer, in place:
// 16-bit little-endian, the frames from `fadeStart` on faded linearly (full
// level at the fade's start, down to 1/fadeFrames on the song's last frame).
// `first` is the song's frame at the start of the buffer.
void ToOutputBytes(int16_t* buffer, uint64_t frames, uint64_t first, uint64_t fadeStart,
                   uint64_t fadeFrames, uint64_t songFrames) {
    for (uint64_t f = fadeStart > first ? fadeStart - first : 0; f < frames; ++f) {
        const auto left = static_cast<int64_t>(songFrames - (first + f));
        for (int side = 0; side < 2; ++side) {
            int16_t& v = buffer[2 * f + side];
            v = static_cast<int16_t>(static_cast<int64_t>(v) * left /
                                     static_cast<int64_t>(fadeFrames));
        }
    }
    if constexpr (std::endian::native == std::endian::big) {
        for (uint64_t i = 0; i < 2 * frames; ++i) {
            const auto u = static_cast<uint16_t>(buffer[i]);
            buffer[i] = static_cast<int16_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
        }
    }
}

} // namespace

RenderOutcome RenderSong(const RenderJob& job, const RenderSettings& settings,
                         const std::function<void(uint64_t frames)>& progress) {
    const double cpuStart = ThreadCpuSeconds();
    DiscardedSink discarded;
    std::FILE* const output = job.Output ? job.Output : discarded.File;
    if (!output) throw SongIOError(std::string("/dev/null: ") + std::strerror(errno));
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

    const auto write = [output](const void* data, size_t bytes) {
        if (std::fwrite(data, 1, bytes, output) != bytes) throw SongIOError(std::strerror(errno));
    };
    if (file->Kind == SongKind::AYM)
        LoadAYMSong(file->List, *engine, job.Song);
    else
        LoadAYSong(file->List, *engine, job.Song);

    uint8_t header[44];
    MakeWavHeader(header, job.Frames);
    write(header, sizeof header);

    std::vector<int16_t> buffer(BufferValues);
    StartPlayback(*engine, buffer.data());

    const uint64_t fadeStart = job.Frames - std::min(job.FadeFrames, job.Frames);
    for (uint64_t done = 0; done < job.Frames;) {
        engine->Chip.OutputBuffer = buffer.data();
        MakeBuffer(*engine);
        const uint64_t n = std::min<uint64_t>(BufferValues / 2, job.Frames - done);
        // MakeBuffer writes every value of the buffer, so the bytes may be
        // made in place.
        ToOutputBytes(buffer.data(), n, done, fadeStart, job.FadeFrames, job.Frames);
        write(buffer.data(), n * 4);
        done += n;
        if (progress) progress(n);
    }
    if (std::fflush(output) != 0) throw SongIOError(std::strerror(errno));
    RenderOutcome outcome;
    outcome.CpuSeconds = ThreadCpuSeconds() - cpuStart;
    const OutHandlerFn handler = engine->Chip.OutHandler;
    outcome.Machine = handler == &OutSpectrum ? "spectrum" : handler == &OutCpc ? "cpc" : "none";
    return outcome;
}
