// libzirrafon (zirrafon/zirrafon.h): the C interface over the song session and
// the song stream. A handle keeps a private copy of its file's bytes in an
// anonymous memory file and opens it afresh for every song start, the way
// zirrafon-render opens a file per song: a song's samples then never depend
// on the songs played before it (an AYM file's memory image would otherwise
// carry over), and a file removed or rewritten after its open changes
// nothing. Every C++ exception stops at this boundary and becomes a status
// and the handle's error text.
#include "zirrafon/zirrafon.h"

#include "render/render.h"
#include "songs/session.h"
#include "songs/silence.h"
#include "songs/song_stream.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Files bigger than this are refused before they are read whole: no song file
// comes near it (a register stream unpacks to 16 MiB at most).
constexpr uint64_t MaxFileBytes = 64u << 20;
// Longest length zirrafon_set_length takes (a week), so that frame counts
// stay far from overflowing.
constexpr double MaxSeconds = 7 * 24 * 3600.0;

// A status with the handle's text for it.
struct Failure {
    int Status;
    std::string Text;
};

// An anonymous memory file holding a song file's bytes; the session opens it
// by its /proc name like any file.
class MemoryFile {
  public:
    explicit MemoryFile(const uint8_t* data, size_t size) {
        Fd = ::memfd_create("zirrafon-song", MFD_CLOEXEC);
        if (Fd < 0) throw SongIOError(std::strerror(errno));
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::write(Fd, data + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int error = errno;
                ::close(Fd);
                throw SongIOError(std::strerror(error));
            }
            done += static_cast<size_t>(n);
        }
        FilePath = "/proc/self/fd/" + std::to_string(Fd);
    }
    ~MemoryFile() { ::close(Fd); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const std::string& Path() const { return FilePath; }

  private:
    int Fd = -1;
    std::string FilePath;
};

zirrafon_kind KindCode(SongKind kind) {
    switch (kind) {
    case SongKind::AY: return ZIRRAFON_KIND_AY;
    case SongKind::AYM: return ZIRRAFON_KIND_AYM;
    case SongKind::YM: return ZIRRAFON_KIND_YM;
    case SongKind::VTX: return ZIRRAFON_KIND_VTX;
    case SongKind::PSG: return ZIRRAFON_KIND_PSG;
    case SongKind::PT3: return ZIRRAFON_KIND_PT3;
    case SongKind::PT2: return ZIRRAFON_KIND_PT2;
    default: return ZIRRAFON_KIND_UNKNOWN; // kinds this interface does not name yet
    }
}

} // namespace

struct zirrafon {
    std::string ErrorText;
    // The open file: its bytes, its kind, its listing session (songs and
    // texts), the texts as UTF-8.
    std::unique_ptr<MemoryFile> File;
    SongKind Kind = SongKind::Unknown;
    std::unique_ptr<SongSession> Listing;
    std::vector<std::string> Titles;
    std::string Author, Misc, Format;
    // The song playing: a session of its own, and its stream.
    std::unique_ptr<SongSession> Playing;
    std::unique_ptr<SongStream> Stream;
    // The rules and the chip, as set.
    bool Follow = true;
    std::optional<double> Seconds, Fade;
    double Silence = DefaultSilenceSeconds;
    ChipSettings Chip;
    unsigned Muted = 0;
    bool FastSeek = false;

    int Fail(const Failure& f) {
        ErrorText = f.Text;
        return f.Status;
    }

    // Runs `body`, turning what it throws into a status and the text.
    template <typename Body> int Guard(Body body) {
        try {
            ErrorText.clear();
            return body();
        } catch (const Failure& f) {
            return Fail(f);
        } catch (const SongIOError& e) {
            return Fail({ZIRRAFON_ERROR_IO, e.what()});
        } catch (const std::bad_alloc&) {
            return Fail({ZIRRAFON_ERROR_MEMORY, "Out of memory"});
        } catch (const std::exception& e) {
            return Fail({ZIRRAFON_ERROR_FORMAT, e.what()});
        }
    }

    void CloseFile() {
        Stream.reset();
        Playing.reset();
        Listing.reset();
        File.reset();
        Kind = SongKind::Unknown;
        Titles.clear();
        Author.clear();
        Misc.clear();
    }

    // A fresh session on the open file, with the chip as set.
    std::unique_ptr<SongSession> OpenSession() const {
        auto session = std::make_unique<SongSession>();
        std::string refusal = "Not an .ay, .aym, .ym, .vtx, .psg, .pt3 or .pt2 file";
        const FormatErrorSink sink = [&refusal](const std::string& text) { refusal = text; };
        if (!session->Open(File->Path(), Kind, sink)) throw Failure{ZIRRAFON_ERROR_FORMAT, refusal};
        session->Engine->Chip.Mix.MutedVoices = static_cast<uint8_t>(Muted & AllVoices);
        ApplyChipSettings(session->Engine->Chip, Chip, session->YMFile());
        return session;
    }

    int Open(const uint8_t* data, size_t size, SongKind byName) {
        CloseFile();
        const SongKind byContent = KindOfContent(data, size);
        File = std::make_unique<MemoryFile>(data, size);
        Kind = byContent != SongKind::Unknown ? byContent : byName;
        try {
            // A Pro Tracker 2 module has no signature: a file of no known
            // kind is tried as one, and refused as of no kind if it is not.
            if (Kind == SongKind::Unknown) {
                Kind = SongKind::PT2;
                try {
                    Listing = OpenSession();
                } catch (const Failure&) {
                    Kind = SongKind::Unknown;
                } catch (const SongIOError&) {
                    Kind = SongKind::Unknown;
                }
            }
            if (!Listing) Listing = OpenSession();
        } catch (...) {
            CloseFile();
            throw;
        }
        const SongSession& s = *Listing;
        for (int i = 0; i < s.List.SongCount; ++i) Titles.push_back(SongTextUtf8(s.SongTitle(i)));
        Author = SongTextUtf8(s.List.AuthorText);
        Misc = SongTextUtf8(s.List.MiscText);
        return ZIRRAFON_OK;
    }

    void CheckSong(int song) const {
        if (!Listing) throw Failure{ZIRRAFON_ERROR_SONG, "No file is open"};
        const int count = Listing->List.SongCount;
        if (song < 0 || song >= count)
            throw Failure{ZIRRAFON_ERROR_SONG, "no song " + std::to_string(song) +
                                                   " (the file has " + std::to_string(count) +
                                                   ", counted from 0)"};
    }

    // Where song `song` ends and fades under the rules.
    SongTiming Timing(const SongSession& s, int song) const {
        if (!Follow) return {};
        return s.RenderTiming(song, Seconds, Fade);
    }

    void ApplyChip() {
        if (!Playing) return;
        Playing->Engine->Chip.Mix.MutedVoices = static_cast<uint8_t>(Muted & AllVoices);
        ApplyChipSettings(Playing->Engine->Chip, Chip, Playing->YMFile());
    }
};

extern "C" {

ZIRRAFON_API unsigned zirrafon_version(void) { return ZIRRAFON_VERSION; }

ZIRRAFON_API const char* zirrafon_status_text(int status) {
    switch (status) {
    case ZIRRAFON_OK: return "no error";
    case ZIRRAFON_ERROR_ARGUMENT: return "invalid argument";
    case ZIRRAFON_ERROR_IO: return "the file cannot be read";
    case ZIRRAFON_ERROR_FORMAT: return "not a song file, or a damaged one";
    case ZIRRAFON_ERROR_SONG: return "no such song";
    case ZIRRAFON_ERROR_MEMORY: return "out of memory";
    default: return "unknown status";
    }
}

ZIRRAFON_API zirrafon_kind zirrafon_kind_of_content(const void* data, size_t size) {
    if (!data) return ZIRRAFON_KIND_UNKNOWN;
    return KindCode(KindOfContent(static_cast<const uint8_t*>(data), size));
}

ZIRRAFON_API const char* zirrafon_kind_name(int kind) {
    switch (kind) {
    case ZIRRAFON_KIND_AY: return "ay";
    case ZIRRAFON_KIND_AYM: return "aym";
    case ZIRRAFON_KIND_YM: return "ym";
    case ZIRRAFON_KIND_VTX: return "vtx";
    case ZIRRAFON_KIND_PSG: return "psg";
    case ZIRRAFON_KIND_PT3: return "pt3";
    case ZIRRAFON_KIND_PT2: return "pt2";
    default: return "";
    }
}

ZIRRAFON_API const char* zirrafon_voice_name(int voice) {
    return voice >= 0 && voice < VoiceCount ? VoiceNames[voice] : "";
}

ZIRRAFON_API zirrafon* zirrafon_create(void) { return new (std::nothrow) zirrafon; }

ZIRRAFON_API void zirrafon_destroy(zirrafon* z) { delete z; }

ZIRRAFON_API int zirrafon_open_file(zirrafon* z, const char* path) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (!path) {
        z->CloseFile();
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "No file name"});
    }
    return z->Guard([&] {
        z->CloseFile();
        // A FIFO would block the open until someone writes to it, a device
        // could be read forever: only regular files are song files.
        struct stat st {};
        if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            throw Failure{ZIRRAFON_ERROR_IO, "Not a regular file"};
        // Read whole with the texts the player gives a file's errors.
        SongFileHandle file;
        file.Open(path);
        if (file.Size() > MaxFileBytes) throw Failure{ZIRRAFON_ERROR_FORMAT, "File too large"};
        std::vector<uint8_t> bytes(file.Size());
        bytes.resize(file.ReadUpTo(0, bytes.data(), bytes.size()));
        return z->Open(bytes.data(), bytes.size(), SongKindByExtension(path));
    });
}

ZIRRAFON_API int zirrafon_open_memory(zirrafon* z, const void* data, size_t size) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (!data && size > 0) {
        z->CloseFile();
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "No data"});
    }
    return z->Guard([&] {
        if (size > MaxFileBytes) {
            z->CloseFile();
            throw Failure{ZIRRAFON_ERROR_FORMAT, "File too large"};
        }
        static const uint8_t none = 0;
        return z->Open(data ? static_cast<const uint8_t*>(data) : &none, size, SongKind::Unknown);
    });
}

ZIRRAFON_API const char* zirrafon_error_text(const zirrafon* z) {
    return z ? z->ErrorText.c_str() : "";
}

ZIRRAFON_API int zirrafon_get_file_info(zirrafon* z, zirrafon_file_info* info) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (!info) return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "No place for the file's facts"});
    return z->Guard([&] {
        if (!z->Listing) throw Failure{ZIRRAFON_ERROR_SONG, "No file is open"};
        const SongList& list = z->Listing->List;
        *info = zirrafon_file_info{};
        info->kind = KindCode(list.Kind);
        info->song_count = list.SongCount;
        info->first_song = z->Listing->StartingSong();
        info->author = z->Author.c_str();
        info->misc = z->Misc.c_str();
        if (const RegisterStream* stream = list.Stream.get()) {
            const bool module = list.Kind == SongKind::PT3 || list.Kind == SongKind::PT2;
            z->Format = module ? "PT" + stream->Version : stream->Version;
            info->format = z->Format.c_str();
            info->chip_clock = stream->ChipClock;
            info->frame_rate = stream->FrameRate;
            info->frame_count = stream->FrameCount;
            info->loop_frame = stream->LoopFrame;
            info->packed = stream->Packed ? 1 : 0;
        } else {
            info->format = list.Kind == SongKind::AYM ? "AYM" : "ZXAYEMUL";
            info->chip_clock = SpectrumChipClock;
            info->frame_rate = 50;
        }
        return ZIRRAFON_OK;
    });
}

ZIRRAFON_API int zirrafon_song_count(const zirrafon* z) {
    return z && z->Listing ? z->Listing->List.SongCount : 0;
}

ZIRRAFON_API int zirrafon_first_song(const zirrafon* z) {
    return z && z->Listing ? z->Listing->StartingSong() : 0;
}

ZIRRAFON_API int zirrafon_get_song_info(zirrafon* z, int song, zirrafon_song_info* info) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (!info) return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "No place for the song's facts"});
    return z->Guard([&] {
        z->CheckSong(song);
        const SongSession& s = *z->Listing;
        *info = zirrafon_song_info{};
        info->title = z->Titles[static_cast<size_t>(song)].c_str();
        info->author = z->Author.c_str();
        info->misc = z->Misc.c_str();
        const SongTiming file = s.FileTiming(song);
        info->length = file.Frames;
        info->fade = file.FadeFrames;
        const SongTiming play = z->Timing(s, song);
        info->play_length = play.Frames;
        info->play_fade = play.FadeFrames;
        return ZIRRAFON_OK;
    });
}

ZIRRAFON_API int zirrafon_set_follow_lengths(zirrafon* z, int follow) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    z->Follow = follow != 0;
    if (z->Stream) z->Stream->SetTiming(z->Timing(*z->Playing, z->Stream->Song()));
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_set_length(zirrafon* z, double seconds, double fadeSeconds) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (std::isnan(seconds) || seconds == 0 || seconds > MaxSeconds || std::isnan(fadeSeconds) ||
        fadeSeconds > MaxSeconds)
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT,
                        "A length is more than 0 and at most a week; negative keeps the rule"});
    z->Seconds = seconds < 0 ? std::nullopt : std::optional<double>(seconds);
    z->Fade = fadeSeconds < 0 ? std::nullopt : std::optional<double>(fadeSeconds);
    if (z->Stream) z->Stream->SetTiming(z->Timing(*z->Playing, z->Stream->Song()));
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_set_silence(zirrafon* z, double seconds) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (!(seconds >= 0 && seconds <= MaxSeconds))
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "Silence is 0 (off) to a week of seconds"});
    z->Silence = seconds;
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_set_chip(zirrafon* z, zirrafon_chip chip, zirrafon_layout layout) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    const int c = chip, l = layout;
    if (c < ZIRRAFON_CHIP_AY || c > ZIRRAFON_CHIP_FILE || l < ZIRRAFON_LAYOUT_MONO ||
        l > ZIRRAFON_LAYOUT_CBA)
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "No such chip or layout"});
    z->Chip.Mode = c == ZIRRAFON_CHIP_FILE ? FileChipModeBase + l : 2 * l + c;
    z->ApplyChip();
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_set_beeper(zirrafon* z, int level) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (level < 0 || level > ZIRRAFON_MAX_BEEPER)
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "The beeper level is 0..32768"});
    z->Chip.BeeperSetting = level;
    z->ApplyChip();
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_set_volume(zirrafon* z, int volume) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (volume < 0 || volume > ZIRRAFON_MAX_VOLUME)
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "The volume is 0..39"});
    z->Chip.Volume = volume;
    z->ApplyChip();
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_set_mute(zirrafon* z, unsigned mask) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (mask & ~AllVoices) return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "No such voice"});
    z->Muted = mask;
    z->ApplyChip();
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_start(zirrafon* z, int song) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    return z->Guard([&] {
        z->CheckSong(song);
        z->Stream.reset();
        z->Playing.reset();
        z->Playing = z->OpenSession();
        z->Stream = std::make_unique<SongStream>(*z->Playing);
        z->Stream->MapSongsAhead(z->FastSeek);
        const uint64_t silence = z->Follow ? z->Playing->SilenceLimit(song, z->Silence) : 0;
        try {
            z->Stream->Start(song, z->Timing(*z->Playing, song), silence);
        } catch (...) {
            z->Stream.reset();
            z->Playing.reset();
            throw;
        }
        return ZIRRAFON_OK;
    });
}

ZIRRAFON_API int zirrafon_render(zirrafon* z, int16_t* out, int frames) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    if (!out || frames < 0)
        return z->Fail({ZIRRAFON_ERROR_ARGUMENT, "No buffer, or a negative frame count"});
    return z->Guard([&] {
        if (!z->Stream) throw Failure{ZIRRAFON_ERROR_SONG, "No song is started"};
        // Whole buffers of the frame loop go straight to the caller's memory.
        const uint64_t values = 2 * static_cast<uint64_t>(frames);
        uint64_t filled = 0;
        while (filled < values) {
            const auto want =
                static_cast<uint32_t>(std::min<uint64_t>(BufferValues, values - filled));
            const uint32_t n = z->Stream->Fill(out + filled, want);
            if (n == 0) break;
            filled += n;
        }
        return static_cast<int>(filled / 2);
    });
}

ZIRRAFON_API int zirrafon_seek(zirrafon* z, uint64_t frame) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    return z->Guard([&] {
        if (!z->Stream) throw Failure{ZIRRAFON_ERROR_SONG, "No song is started"};
        z->Stream->Seek(frame);
        return ZIRRAFON_OK;
    });
}

ZIRRAFON_API int zirrafon_set_fast_seek(zirrafon* z, int fast) {
    if (!z) return ZIRRAFON_ERROR_ARGUMENT;
    z->FastSeek = fast != 0;
    return ZIRRAFON_OK;
}

ZIRRAFON_API int zirrafon_current_song(const zirrafon* z) {
    return z && z->Stream ? z->Stream->Song() : -1;
}

ZIRRAFON_API uint64_t zirrafon_position(const zirrafon* z) {
    return z && z->Stream ? z->Stream->Frames() : 0;
}

ZIRRAFON_API int zirrafon_ended(const zirrafon* z) {
    return z && z->Stream && z->Stream->Ended() ? 1 : 0;
}

} // extern "C"
