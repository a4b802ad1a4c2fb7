// FLAC, Ogg Vorbis, Ogg Opus and MP3 outputs through libsndfile (see
// encoder.h). libsndfile writes to the rendering's own FILE* through its
// virtual I/O, so the output keeps the safe-output rules of output.h (a
// temporary file that only a complete song puts in the target's place).
#include "render/encoder.h"

#include "formats/song_file.h"

#include <sndfile.h>
#include <soxr.h>

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int InputRate = 44100;
constexpr int OpusRate = 48000; // the only rate Ogg Opus takes

struct Known {
    const char* Name;
    const char* Extension;
    OutputFormat Format;
    int SndFormat;
};
constexpr Known Formats[] = {
    {"wav", ".wav", OutputFormat::Wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"flac", ".flac", OutputFormat::Flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {"ogg", ".ogg", OutputFormat::Vorbis, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"opus", ".opus", OutputFormat::Opus, SF_FORMAT_OGG | SF_FORMAT_OPUS},
    {"mp3", ".mp3", OutputFormat::Mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
};

const Known& KnownOf(OutputFormat format) {
    for (const Known& k : Formats)
        if (k.Format == format) return k;
    return Formats[0];
}

// libsndfile's virtual I/O on a FILE*.
sf_count_t FileLength(void* handle) {
    struct stat st {};
    if (std::fflush(static_cast<std::FILE*>(handle)) != 0 ||
        ::fstat(::fileno(static_cast<std::FILE*>(handle)), &st) != 0)
        return -1;
    return st.st_size;
}
sf_count_t Seek(sf_count_t offset, int whence, void* handle) {
    auto* f = static_cast<std::FILE*>(handle);
    if (::fseeko(f, offset, whence) != 0) return -1;
    return ::ftello(f);
}
sf_count_t Read(void* ptr, sf_count_t count, void* handle) {
    return static_cast<sf_count_t>(
        std::fread(ptr, 1, static_cast<size_t>(count), static_cast<std::FILE*>(handle)));
}
sf_count_t Write(const void* ptr, sf_count_t count, void* handle) {
    return static_cast<sf_count_t>(
        std::fwrite(ptr, 1, static_cast<size_t>(count), static_cast<std::FILE*>(handle)));
}
sf_count_t Tell(void* handle) { return ::ftello(static_cast<std::FILE*>(handle)); }

SF_VIRTUAL_IO FileIO = {FileLength, Seek, Read, Write, Tell};

// UTF-8 as Latin-1, for the MP3 encoder's ID3 tags; other characters as "?".
std::string Latin1(const std::string& utf8) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    for (size_t i = 0, n = utf8.size(); i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < n) {
            const unsigned code = (c & 0x1Fu) << 6 | (s[i + 1] & 0x3Fu);
            out += code <= 0xFF ? static_cast<char>(code) : '?';
            i += 2;
        } else {
            out += '?';
            ++i;
            while (i < n && (s[i] & 0xC0) == 0x80) ++i;
        }
    }
    return out;
}

} // namespace

std::optional<OutputFormat> OutputFormatByName(std::string_view name) {
    for (const Known& k : Formats)
        if (name.size() == std::strlen(k.Name) &&
            ::strncasecmp(name.data(), k.Name, name.size()) == 0)
            return k.Format;
    return std::nullopt;
}

std::optional<OutputFormat> OutputFormatOfPath(std::string_view path) {
    for (const Known& k : Formats) {
        const size_t n = std::strlen(k.Extension);
        if (path.size() > n && path[path.size() - n - 1] != '/' &&
            ::strncasecmp(path.data() + path.size() - n, k.Extension, n) == 0)
            return k.Format;
    }
    return std::nullopt;
}

const char* OutputExtension(OutputFormat format) { return KnownOf(format).Extension; }

struct Encoder::Stream {
    SNDFILE* File = nullptr;
    soxr_t Resampler = nullptr; // Opus only
    bool Lossy = false;         // all but FLAC
    std::vector<int16_t> Resampled;
    std::vector<float> Floats;
    void Check(sf_count_t written, sf_count_t wanted) const {
        if (written != wanted) throw SongIOError(sf_strerror(File));
    }
    void Put(const int16_t* values, size_t frames) {
        if (!Lossy) {
            Check(sf_writef_short(File, values, static_cast<sf_count_t>(frames)),
                  static_cast<sf_count_t>(frames));
            return;
        }
        // The lossy encoders take floats: libsndfile 1.2.0's MP3 encoder
        // copies only half of each block of 16-bit values it is given.
        Floats.resize(2 * frames);
        for (size_t i = 0; i < 2 * frames; ++i) Floats[i] = values[i] / 32768.0f;
        Check(sf_writef_float(File, Floats.data(), static_cast<sf_count_t>(frames)),
              static_cast<sf_count_t>(frames));
    }
    // Runs `frames` frames through the resampler and writes what comes out;
    // with no values, drains the resampler's tail.
    void Resample(const int16_t* values, size_t frames) {
        const bool end = values == nullptr;
        for (;;) {
            Resampled.resize(2 * (frames * OpusRate / InputRate + 4096));
            size_t used = 0, made = 0;
            if (const soxr_error_t error =
                    soxr_process(Resampler, values, frames, &used, Resampled.data(),
                                 Resampled.size() / 2, &made))
                throw SongIOError(std::string("resampling: ") + error);
            if (made) Put(Resampled.data(), made);
            if (end) {
                if (made == 0) return;
                continue;
            }
            values += 2 * used;
            frames -= used;
            if (frames == 0 || (used == 0 && made == 0)) return;
        }
    }
    ~Stream() {
        if (Resampler) soxr_delete(Resampler);
        if (File) sf_close(File);
    }
};

Encoder::Encoder(std::FILE* output, OutputFormat format, const SongTags& tags)
    : State(std::make_unique<Stream>()) {
    SF_INFO info{};
    info.samplerate = format == OutputFormat::Opus ? OpusRate : InputRate;
    info.channels = 2;
    info.format = KnownOf(format).SndFormat;
    State->File = sf_open_virtual(&FileIO, SFM_WRITE, &info, output);
    if (!State->File) throw SongIOError(sf_strerror(nullptr));
    State->Lossy = format != OutputFormat::Flac;
    // Tags before the first samples: some formats write them at the start.
    const auto text = [&](const std::string& t) {
        return format == OutputFormat::Mp3 ? Latin1(SongTextUtf8(t)) : SongTextUtf8(t);
    };
    const auto set = [&](int which, const std::string& value) {
        if (!value.empty()) sf_set_string(State->File, which, value.c_str());
    };
    set(SF_STR_TITLE, text(tags.Title));
    set(SF_STR_ARTIST, text(tags.Artist));
    set(SF_STR_ALBUM, text(tags.Album));
    set(SF_STR_COMMENT, text(tags.Comment));
    if (tags.Track > 0) {
        char track[32];
        if (tags.TrackCount > 0)
            std::snprintf(track, sizeof track, "%d/%d", tags.Track, tags.TrackCount);
        else
            std::snprintf(track, sizeof track, "%d", tags.Track);
        set(SF_STR_TRACKNUMBER, track);
    }
    set(SF_STR_SOFTWARE, "Zirrafon " ZIRRAFON_VERSION);
    if (format == OutputFormat::Opus) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        State->Resampler = soxr_create(InputRate, OpusRate, 2, &error, &io, &quality, nullptr);
        if (!State->Resampler) throw SongIOError(std::string("resampling: ") + error);
    }
}

Encoder::~Encoder() = default;

void Encoder::Write(const int16_t* values, uint64_t frames) {
    if (State->Resampler)
        State->Resample(values, static_cast<size_t>(frames));
    else
        State->Put(values, static_cast<size_t>(frames));
}

void Encoder::Finish() {
    if (State->Resampler) State->Resample(nullptr, 0);
    const int error = sf_close(State->File);
    State->File = nullptr;
    if (error != 0) throw SongIOError(sf_error_number(error));
}
