// Rendering one song to 16-bit stereo PCM in a WAV file (see render.h),
// sample for sample as the player's two-buffer cycle makes it. Every song
// renders on its own engine from a freshly opened file, so the result does not
// depend on which songs were rendered before it (the player, by contrast,
// keeps an AYM file's memory image from one song to the next).
#include "render/render.h"

#include "render/stems.h"

#include "songs/song_stream.h"

#include <algorithm>
#include <bit>
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
    PutLE(header + 24, OutputRate, 4);              // frames per second
    PutLE(header + 28, OutputRate * frameBytes, 4); // bytes per second
    PutLE(header + 32, frameBytes, 2);              // bytes per frame
    PutLE(header + 34, 16, 2);                      // bits per sample
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

// The output's bytes of `values` 16-bit values of the buffer, in place:
// little-endian.
void ToOutputBytes(int16_t* buffer, uint32_t values) {
    if constexpr (std::endian::native == std::endian::big) {
        for (uint32_t i = 0; i < values; ++i) {
            const auto u = static_cast<uint16_t>(buffer[i]);
            buffer[i] = static_cast<int16_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
        }
    }
}

// A register dump of the song's frames that end within the job's length, taken
// at every frame end of the same run that would make its sound.
template <typename Write> void WriteDump(SongSession& file, const RenderJob& job, Write write) {
    std::vector<int16_t> buffer(BufferValues);
    file.StartPlayback(buffer.data());
    RegisterRecorder recorder(*file.Engine);
    for (uint64_t done = 0; done < job.Frames; done += BufferValues / 2)
        file.FillBuffer(buffer.data(), &recorder);
    const RegisterStream* stream = file.List.Stream.get();
    const uint32_t rate = stream ? stream->FrameRate : 50;
    const uint32_t clock = stream                                        ? stream->ChipClock
                           : std::strcmp(file.MachineName(), "cpc") == 0 ? 1000000
                                                                         : SpectrumChipClock;
    std::vector<uint8_t> frames = recorder.Frames();
    frames.resize(
        std::min<size_t>(frames.size(), job.Frames * rate / OutputRate * StreamRegisters));
    const SongList& list = file.List;
    const std::vector<uint8_t> bytes =
        job.Dump == DumpFormat::YM
            ? WriteYM6(frames, clock, rate, 0,
                       {file.SongTitle(job.Song), list.AuthorText, list.MiscText})
            : WritePSG(frames);
    write(bytes.data(), bytes.size());
}

} // namespace

SongTags TagsOf(const SongSession& session, const std::string& fileName, int index) {
    const SongList& list = session.List;
    SongTags tags;
    // An AY file has no title of its own (the one shown is its first song's).
    if (list.Kind != SongKind::AY) tags.Album = list.SongNameText;
    if (tags.Album.empty()) {
        const size_t slash = fileName.rfind('/');
        tags.Album = fileName.substr(slash == std::string::npos ? 0 : slash + 1);
        const size_t dot = tags.Album.rfind('.');
        if (dot != std::string::npos && dot > 0) tags.Album.erase(dot);
    }
    tags.Title = session.SongTitle(index);
    if (tags.Title.empty()) tags.Title = tags.Album;
    tags.Artist = list.AuthorText;
    tags.Comment = list.MiscText;
    tags.Track = index + 1;
    tags.TrackCount = list.SongCount;
    return tags;
}

RenderOutcome RenderSong(const RenderJob& job, const ChipSettings& settings,
                         const std::function<void(uint64_t frames)>& progress) {
    const double cpuStart = ThreadCpuSeconds();
    DiscardedSink discarded;
    std::FILE* const output = job.Output ? job.Output : discarded.File;
    if (!output) throw SongIOError(std::string("/dev/null: ") + std::strerror(errno));
    // The file was listed before; open it again so that this song starts from
    // exactly the state the player has after opening a file.
    std::unique_ptr<SongSession> file = OpenSongFile(job.FileName);
    SoundEngine* engine = file->Engine.get();
    engine->Chip.Mix.MutedVoices = static_cast<uint8_t>(job.MutedVoices & AllVoices);
    ApplyChipSettings(engine->Chip, settings);

    const auto write = [output](const void* data, size_t bytes) {
        if (std::fwrite(data, 1, bytes, output) != bytes) throw SongIOError(std::strerror(errno));
    };
    if (job.Dump != DumpFormat::None) {
        file->LoadSong(job.Song);
        WriteDump(*file, job, write);
        RenderOutcome outcome;
        outcome.CpuSeconds = ThreadCpuSeconds() - cpuStart;
        outcome.Machine = file->MachineName();
        return outcome;
    }
    SongStream stream(*file);
    stream.Start(job.Song, SongTiming{job.Frames, std::min(job.FadeFrames, job.Frames)},
                 job.SilenceFrames);

    // Before the voices are split: they start from the machine there.
    if (job.StartFrame) stream.Seek(job.StartFrame);
    const uint64_t frames = job.Frames - std::min(job.StartFrame, job.Frames);

    uint8_t header[44];
    std::unique_ptr<Encoder> encoder;
    if (job.Format == OutputFormat::Wav) {
        MakeWavHeader(header, frames);
        write(header, sizeof header);
    } else {
        encoder =
            std::make_unique<Encoder>(output, job.Format, TagsOf(*file, job.FileName, job.Song));
    }

    std::unique_ptr<VoiceSplitter> voices;
    if (std::any_of(std::begin(job.Voices), std::end(job.Voices), [](std::FILE* f) { return f; })) {
        voices = std::make_unique<VoiceSplitter>(*engine, settings, job,
                                                 file->List.Stream ? &file->Streamer : nullptr);
        stream.SetBufferMaker([&voices](int16_t* buffer) { voices->MakeBuffer(buffer); });
    }

    std::vector<int16_t> buffer(BufferValues);
    constexpr uint64_t BufferFrames = BufferValues / 2;
    while (stream.Frames() < job.Frames && !stream.Ended()) {
        const uint64_t first = stream.Frames();
        // The rest of the song's buffer that holds `first` (all of it but
        // after a seek), so that every fill is one buffer the frame loop made
        // and the voices' buffers line up with it.
        const auto offset = static_cast<uint32_t>(first % BufferFrames);
        const uint32_t values = stream.Fill(buffer.data(), BufferValues - 2 * offset);
        if (encoder) {
            encoder->Write(buffer.data(), values / 2);
        } else {
            // The stream makes every value it hands out, so the bytes may be
            // made in place.
            ToOutputBytes(buffer.data(), values);
            write(buffer.data(), values * sizeof(int16_t));
        }
        if (voices) voices->Write(first, values / 2, stream.Timing(), offset);
        if (progress) progress(values / 2);
    }
    if (encoder) encoder->Finish();
    if (!encoder && stream.Frames() < job.Frames && std::fseek(output, 0, SEEK_SET) == 0) {
        MakeWavHeader(header, stream.Frames() - std::min(job.StartFrame, stream.Frames()));
        write(header, sizeof header);
        std::fseek(output, 0, SEEK_END);
    }
    if (std::fflush(output) != 0) throw SongIOError(std::strerror(errno));
    RenderOutcome outcome;
    outcome.CpuSeconds = ThreadCpuSeconds() - cpuStart;
    outcome.Machine = file->MachineName();
    return outcome;
}
