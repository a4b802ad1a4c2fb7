// zirrafon-render: renders songs of ".ay" and ".aym" files to WAV files without
// a window or an audio device, lists their texts and songs, or measures how
// fast they render. The samples are the player's own (see render.cpp); the
// song length, the fade and the choice of songs are this tool's additions.
#include "output.h"
#include "render.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <getopt.h>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double MaxSeconds = 6 * 3600; // keeps the WAV data below 4 GiB

const char* const HelpText =
    "Usage: zirrafon-render [options] FILE...\n"
    "Renders songs of .ay and .aym files to 16-bit stereo WAV at 44,100 Hz.\n"
    "\n"
    "  -o, --output PATH   a .wav file when one song is rendered, a folder (made when\n"
    "                      missing) when several are; '-' writes the one song to\n"
    "                      standard output. Without it the files go to the current\n"
    "                      directory as STEM.wav, or STEM-NN.wav (NN = song number)\n"
    "                      with --all-songs; STEM is the song file's name without\n"
    "                      its extension.\n"
    "  -s, --song N        the song to render, counted from 1 (default: the file's\n"
    "                      first song)\n"
    "      --all-songs     render every song of each file\n"
    "  -t, --seconds S     length (default: the song's length from the .ay header\n"
    "                      when it gives one, else 180)\n"
    "      --fade S        fade out linearly over the last S seconds (default: the\n"
    "                      header's fade length when the header gives a length, else 0)\n"
    "      --start S       write the song from S seconds on: the same samples a render\n"
    "                      from the start has there (length and fade still count from\n"
    "                      the song's start; nothing is left at or past its end)\n"
    "      --mute LIST     leave voices out of the mix: a comma-separated list of A, B,\n"
    "                      C (the chip's channels) and beeper; the others sound exactly\n"
    "                      as they do with every voice in\n"
    "  -m, --chip NAME     AYMONO YMMONO AYABC YMABC AYACB YMACB AYBAC YMBAC AYBCA\n"
    "                      YMBCA AYCAB YMCAB AYCBA YMCBA (any letter case; default AYABC)\n"
    "  -b, --beeper LEVEL  beeper level 0..32768 (default 16384)\n"
    "  -v, --volume V      volume 0..39 (default 39)\n"
    "  -j, --jobs N        songs rendered at once, one thread each (default 1)\n"
    "      --stems         also write each voice of each song on its own, as mono\n"
    "                      WAV files named like the song's WAV with -A, -B, -C (the\n"
    "                      chip's channels) or -beeper added: STEM-A.wav ... or\n"
    "                      STEM-NN-A.wav ... with --all-songs, FILE-A.wav ... with\n"
    "                      -o FILE.wav. Each voice has the level it has in the mix\n"
    "                      of the chip's mono mode (AYMONO or YMMONO), and the\n"
    "                      mix's length and fade\n"
    "      --stems-only    the same voice files, without the mix\n"
    "      --info          print the texts and the song list instead of rendering\n"
    "      --json          with --info: as JSON\n"
    "      --bench         render each song as usual but write its WAV to /dev/null;\n"
    "                      print per song the seconds of sound per CPU second of the\n"
    "                      whole song (opening, emulating, writing) and the machine\n"
    "                      its code drove (spectrum, cpc or none)\n"
    "  -h, --help          this text\n"
    "      --version       print the version\n"
    "\n"
    "A WAV file is replaced only by a song rendered completely: a song that fails\n"
    "or is interrupted leaves an existing file as it was. Devices, FIFOs and\n"
    "standard output are written directly.\n"
    "\n"
    "Exit status: 0 all went well, 1 a file was refused or a song failed,\n"
    "2 wrong usage, or two songs would write the same file (nothing is written).\n";

struct Options {
    std::optional<std::string> Output;
    int Song = 0; // 1-based; 0 = the file's first song
    bool AllSongs = false;
    bool Stems = false, Mix = true; // the voices apart; the mix
    std::optional<double> Seconds, Fade;
    double Start = 0; // seconds into the song
    RenderSettings Settings;
    int Jobs = 1;
    bool Info = false, Json = false, Bench = false;
    std::vector<std::string> Files;
};

struct UsageError {
    std::string Text;
};

bool ParseInt(const char* text, long low, long high, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

// A comma-separated list of voice names (letter case ignored), as a set of
// `Voice`s.
bool ParseVoices(const char* text, unsigned& out) {
    unsigned voices = 0;
    std::string_view rest = text;
    for (;;) {
        const size_t comma = rest.find(',');
        const std::string_view name = rest.substr(0, comma);
        int v = 0;
        while (v < VoiceCount && !(name.size() == std::strlen(VoiceNames[v]) &&
                                   ::strncasecmp(name.data(), VoiceNames[v], name.size()) == 0))
            ++v;
        if (v == VoiceCount) return false;
        voices |= 1u << v;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    out = voices;
    return true;
}

bool ParseSeconds(const char* text, double low, double& out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v) || v < low || v > MaxSeconds)
        return false;
    out = v;
    return true;
}

Options ParseOptions(int argc, char** argv) {
    enum { AllSongs = 256, Fade, Start, Mute, Info, Json, Bench, Stems, StemsOnly, Version };
    static const option longOptions[] = {{"output", required_argument, nullptr, 'o'},
                                         {"song", required_argument, nullptr, 's'},
                                         {"all-songs", no_argument, nullptr, AllSongs},
                                         {"seconds", required_argument, nullptr, 't'},
                                         {"fade", required_argument, nullptr, Fade},
                                         {"start", required_argument, nullptr, Start},
                                         {"mute", required_argument, nullptr, Mute},
                                         {"chip", required_argument, nullptr, 'm'},
                                         {"beeper", required_argument, nullptr, 'b'},
                                         {"volume", required_argument, nullptr, 'v'},
                                         {"jobs", required_argument, nullptr, 'j'},
                                         {"info", no_argument, nullptr, Info},
                                         {"json", no_argument, nullptr, Json},
                                         {"bench", no_argument, nullptr, Bench},
                                         {"help", no_argument, nullptr, 'h'},
                                         {"stems", no_argument, nullptr, Stems},
                                         {"stems-only", no_argument, nullptr, StemsOnly},
                                         {"version", no_argument, nullptr, Version},
                                         {nullptr, 0, nullptr, 0}};
    Options o;
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, ":o:s:t:m:b:v:j:h", longOptions, nullptr);
        if (c == -1) break;
        double seconds = 0;
        switch (c) {
        case 'o': o.Output = optarg; break;
        case 's':
            if (!ParseInt(optarg, 1, 256, o.Song))
                throw UsageError{"song number must be 1..256: " + std::string(optarg)};
            break;
        case AllSongs: o.AllSongs = true; break;
        case 't':
            if (!ParseSeconds(optarg, 0, seconds) || seconds <= 0)
                throw UsageError{"length must be a number of seconds above 0 and at most " +
                                 std::to_string(static_cast<int>(MaxSeconds)) + ": " + optarg};
            o.Seconds = seconds;
            break;
        case Fade:
            if (!ParseSeconds(optarg, 0, seconds))
                throw UsageError{"fade must be a number of seconds, 0 or more: " +
                                 std::string(optarg)};
            o.Fade = seconds;
            break;
        case Start:
            if (!ParseSeconds(optarg, 0, o.Start))
                throw UsageError{"start must be a number of seconds, 0 or more: " +
                                 std::string(optarg)};
            break;
        case Mute:
            if (!ParseVoices(optarg, o.Settings.MutedVoices))
                throw UsageError{"voices to mute are a list of A, B, C and beeper: " +
                                 std::string(optarg)};
            break;
        case 'm':
            o.Settings.ChipMode = ChipModeByName(optarg);
            if (o.Settings.ChipMode < 0) throw UsageError{"unknown chip: " + std::string(optarg)};
            break;
        case 'b':
            if (!ParseInt(optarg, 0, 32768, o.Settings.BeeperSetting))
                throw UsageError{"beeper level must be 0..32768: " + std::string(optarg)};
            break;
        case 'v':
            if (!ParseInt(optarg, 0, VolumeSteps, o.Settings.Volume))
                throw UsageError{"volume must be 0..39: " + std::string(optarg)};
            break;
        case 'j':
            if (!ParseInt(optarg, 1, 256, o.Jobs))
                throw UsageError{"jobs must be 1..256: " + std::string(optarg)};
            break;
        case Info: o.Info = true; break;
        case Json: o.Json = true; break;
        case Bench: o.Bench = true; break;
        case Stems: o.Stems = true; break;
        case StemsOnly: o.Stems = true, o.Mix = false; break;
        case 'h': std::fputs(HelpText, stdout); std::exit(0);
        case Version: std::puts("zirrafon-render " ZIRRAFON_VERSION); std::exit(0);
        case ':': throw UsageError{"option needs a value: " + std::string(argv[optind - 1])};
        default: throw UsageError{"unknown option: " + std::string(argv[optind - 1])};
        }
    }
    for (int i = optind; i < argc; ++i) o.Files.emplace_back(argv[i]);
    if (o.Files.empty()) throw UsageError{"no song file given"};
    if (o.Json) o.Info = true;
    if (o.Info && o.Bench) throw UsageError{"--info and --bench exclude each other"};
    if (o.Output && (o.Info || o.Bench))
        throw UsageError{"--output has no use with --info or --bench"};
    if (o.Song != 0 && o.AllSongs) throw UsageError{"--song and --all-songs exclude each other"};
    if (o.Stems && (o.Info || o.Bench))
        throw UsageError{"--stems has no use with --info or --bench"};
    if (o.Stems && o.Output && *o.Output == "-")
        throw UsageError{"--stems writes files; it cannot go with --output -"};
    return o;
}

std::string Stem(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A regular file, or a name not taken yet.
bool IsFileName(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

std::string WithoutWav(const std::string& path) {
    const size_t n = path.size();
    if (n > 4 && path[n - 5] != '/' && strcasecmp(path.c_str() + n - 4, ".wav") == 0)
        return path.substr(0, n - 4);
    return path;
}

// The file a path names, for comparing paths: absolute, with ".", ".." and
// symbolic links resolved as far as the path exists.
std::string FileKey(const std::string& path) {
    std::error_code error;
    std::filesystem::path key = std::filesystem::absolute(path, error);
    if (!error) key = std::filesystem::weakly_canonical(key, error);
    return error ? path : key.string();
}

// --- listing ---------------------------------------------------------------------

// JSON text of the file's bytes: UTF-8 passes through; bytes of any other code
// page are taken as Latin-1, so the output always parses.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        size_t len = c < 0x80             ? 1
                     : (c & 0xE0) == 0xC0 ? 2
                     : (c & 0xF0) == 0xE0 ? 3
                     : (c & 0xF8) == 0xF0 ? 4
                                          : 0;
        bool valid = len > 1 && i + len <= n && c >= 0xC2 && c <= 0xF4;
        for (size_t k = 1; valid && k < len; ++k) valid = (s[i + k] & 0xC0) == 0x80;
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
        } else if (valid) {
            out.append(text, i, len);
            i += len;
        } else {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out + "\"";
}

const char* KindName(SongKind kind) { return kind == SongKind::AYM ? "aym" : "ay"; }

void PrintInfo(const SongSession& file, const std::string& fileName) {
    const SongList& list = file.List;
    std::printf("File: %s\nType: %s\n", fileName.c_str(),
                file.Kind() == SongKind::AYM ? "AYM" : "AY");
    if (file.Kind() == SongKind::AYM) std::printf("Name: %s\n", list.SongNameText.c_str());
    std::printf("Author: %s\n", list.AuthorText.c_str());
    if (file.Kind() == SongKind::AY) std::printf("Misc: %s\n", list.MiscText.c_str());
    std::printf("Songs: %d, first %d\n", list.SongCount, list.FirstSong + 1);
    for (int i = 0; i < list.SongCount; ++i) {
        std::printf("%4d  %s", i + 1, file.SongTitle(i).c_str());
        const double length = file.SongSeconds(i), fade = file.FadeSeconds(i);
        if (length > 0 || fade > 0) std::printf("  [length %.2f s, fade %.2f s]", length, fade);
        std::printf("\n");
    }
}

std::string JsonInfo(const SongSession& file, const std::string& fileName) {
    const SongList& list = file.List;
    std::string out = "{\"file\": " + JsonString(fileName) + ", \"type\": \"" +
                      KindName(file.Kind()) + "\", \"title\": " + JsonString(list.SongNameText) +
                      ", \"author\": " + JsonString(list.AuthorText) +
                      ", \"misc\": " + JsonString(list.MiscText) +
                      ", \"songCount\": " + std::to_string(list.SongCount) +
                      ", \"firstSong\": " + std::to_string(list.FirstSong + 1) + ", \"songs\": [";
    for (int i = 0; i < list.SongCount; ++i) {
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, ", \"length\": %.2f, \"fade\": %.2f}",
                      file.SongSeconds(i), file.FadeSeconds(i));
        out += (i ? ", " : "") + std::string("{\"number\": ") + std::to_string(i + 1) +
               ", \"name\": " + JsonString(file.SongTitle(i)) + numbers;
    }
    return out + "]}";
}

// --- rendering ---------------------------------------------------------------------

struct Task {
    RenderJob Job;
    std::string Label;                  // "FILE #N" for messages and the bench
    std::string OutputPath;             // the mix; empty for none, "-" for standard output
    std::string VoicePaths[VoiceCount]; // empty without --stems
    double Seconds = 0;
    // Filled by the worker
    RenderOutcome Outcome;
    std::string Error;
};

// Progress on a terminal: one line on stderr, redrawn by the main thread.
class ProgressBar {
  public:
    explicit ProgressBar(uint64_t total) : total_(std::max<uint64_t>(total, 1)) {}
    void Add(uint64_t frames) { done_ += frames; }
    void Draw() const {
        const double part = std::min(1.0, static_cast<double>(done_) / static_cast<double>(total_));
        const int width = 40, filled = static_cast<int>(part * width);
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), static_cast<int>(part * 100));
        std::fflush(stderr);
    }
    static void Clear() { std::fputs("\r\033[K", stderr); }

  private:
    std::atomic<uint64_t> done_{0};
    uint64_t total_;
};

// Two songs that would write one file, or a song that would write over one of
// the song files: each said on stderr. Run before anything is written, so that
// no song of a refused run costs a file.
bool OutputsCollide(const std::vector<Task>& tasks, const std::vector<std::string>& files) {
    struct Writer {
        std::string Label; // empty for a song file
        std::string Path;
    };
    std::map<std::string, Writer> taken;
    for (const std::string& file : files) {
        std::error_code error;
        if (std::filesystem::exists(file, error)) taken.emplace(FileKey(file), Writer{"", file});
    }
    bool collide = false;
    for (const Task& t : tasks) {
        std::vector<std::string> paths(std::begin(t.VoicePaths), std::end(t.VoicePaths));
        paths.push_back(t.OutputPath);
        for (const std::string& path : paths) {
            if (path.empty() || path == "-") continue;
            const auto [at, added] = taken.emplace(FileKey(path), Writer{t.Label, path});
            if (added) continue;
            collide = true;
            const Writer& first = at->second;
            if (first.Label.empty())
                std::fprintf(stderr, "zirrafon-render: %s would write over the song file %s\n",
                             t.Label.c_str(), first.Path.c_str());
            else if (first.Path == path)
                std::fprintf(stderr, "zirrafon-render: %s and %s would both write %s\n",
                             first.Label.c_str(), t.Label.c_str(), path.c_str());
            else
                std::fprintf(stderr, "zirrafon-render: %s and %s would both write %s (as %s)\n",
                             first.Label.c_str(), t.Label.c_str(), first.Path.c_str(),
                             path.c_str());
        }
    }
    return collide;
}

void RunTask(Task& task, const RenderSettings& settings, ProgressBar* bar) {
    if (StopSignal()) {
        task.Error = "interrupted";
        return;
    }
    // Outside the try, so that a failure can tell which file it hit; the
    // ones not committed remove their temporary files as they go.
    std::optional<OutputFile> mix, voices[VoiceCount];
    try {
        if (!task.OutputPath.empty()) task.Job.Output = mix.emplace(task.OutputPath).Stream();
        for (int v = 0; v < VoiceCount; ++v)
            if (!task.VoicePaths[v].empty())
                task.Job.Voices[v] = voices[v].emplace(task.VoicePaths[v]).Stream();
        task.Outcome = RenderSong(task.Job, settings, [bar](uint64_t n) {
            if (bar) bar->Add(n);
            if (StopSignal()) throw std::runtime_error("interrupted");
        });
        // Only a song rendered completely replaces its files.
        if (mix) mix->Commit();
        for (std::optional<OutputFile>& voice : voices)
            if (voice) voice->Commit();
    } catch (const std::exception& e) {
        task.Error = e.what();
        // A failed write says which of the song's files it was.
        const OutputFile* failed = mix && mix->Failed() ? &*mix : nullptr;
        for (const std::optional<OutputFile>& voice : voices)
            if (!failed && voice && voice->Failed()) failed = &*voice;
        if (failed) task.Error = failed->Path() + ": " + task.Error;
    }
}

void RunTasks(std::vector<Task>& tasks, const Options& o) {
    uint64_t total = 0;
    for (const Task& t : tasks) total += t.Job.Frames - std::min(t.Job.StartFrame, t.Job.Frames);
    std::unique_ptr<ProgressBar> bar;
    if (::isatty(STDERR_FILENO)) bar = std::make_unique<ProgressBar>(total);

    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    size_t running = std::min<size_t>(static_cast<size_t>(o.Jobs), tasks.size());
    std::vector<std::thread> workers;
    for (size_t w = running; w > 0; --w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < tasks.size();) RunTask(tasks[i], o.Settings, bar.get());
            std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
        });
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            if (bar) bar->Draw();
            // After a stop signal, a worker may wait in a write to a FIFO or
            // a pipe that nobody reads: it is woken until it has given up.
            if (StopSignal())
                for (std::thread& t : workers) NudgeThread(t.native_handle());
            finished.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
    for (std::thread& t : workers) t.join();
    if (bar) ProgressBar::Clear();
}

int Run(const Options& o) {
    int status = 0;
    const auto refuse = [&status](const std::string& file, const std::string& text) {
        std::fprintf(stderr, "zirrafon-render: %s: %s\n", file.c_str(), text.c_str());
        status = 1;
    };

    if (o.Info) {
        std::vector<std::string> json;
        for (const std::string& name : o.Files) {
            try {
                const auto file = OpenSongFile(name);
                if (o.Json)
                    json.push_back(JsonInfo(*file, name));
                else
                    PrintInfo(*file, name);
            } catch (const std::exception& e) {
                refuse(name, e.what());
                if (o.Json)
                    json.push_back("{\"file\": " + JsonString(name) +
                                   ", \"error\": " + JsonString(e.what()) + "}");
            }
        }
        if (o.Json) {
            std::printf("[");
            for (size_t i = 0; i < json.size(); ++i)
                std::printf("%s\n%s", i ? "," : "", json[i].c_str());
            std::printf("\n]\n");
        }
        return status;
    }

    // One WAV file, or a folder of them?
    bool several = o.Files.size() > 1;
    std::vector<std::unique_ptr<SongSession>> opened;
    for (const std::string& name : o.Files) {
        try {
            opened.push_back(OpenSongFile(name));
            if (o.AllSongs && opened.back()->List.SongCount > 1) several = true;
        } catch (const std::exception& e) {
            refuse(name, e.what());
            opened.push_back(nullptr);
        }
    }
    std::string folder;
    if (o.Output && !o.Bench) {
        if (several) {
            if (*o.Output == "-") {
                std::fprintf(stderr,
                             "zirrafon-render: several songs cannot go to standard output\n");
                return 2;
            }
            folder = *o.Output; // made once the outputs are known not to collide
        } else if (IsFolder(*o.Output)) {
            folder = *o.Output;
        } else if (o.Stems && !IsFileName(*o.Output)) {
            std::fprintf(stderr,
                         "zirrafon-render: %s: the voices are named after the output file; "
                         "this is no file or folder\n",
                         o.Output->c_str());
            return 2;
        }
    }

    std::vector<Task> tasks;
    for (size_t f = 0; f < o.Files.size(); ++f) {
        if (!opened[f]) continue;
        const SongSession& file = *opened[f];
        const int count = file.List.SongCount;
        std::vector<int> songs;
        if (o.AllSongs) {
            for (int i = 0; i < count; ++i) songs.push_back(i);
        } else if (o.Song > count) {
            refuse(o.Files[f], "no song " + std::to_string(o.Song) + " (the file has " +
                                   std::to_string(count) + ")");
            continue;
        } else {
            songs.push_back(o.Song ? o.Song - 1 : file.List.FirstSong);
        }
        for (int song : songs) {
            Task t;
            t.Job.FileName = o.Files[f];
            t.Job.Song = song;
            const SongTiming timing = file.RenderTiming(song, o.Seconds, o.Fade);
            t.Seconds = static_cast<double>(timing.Frames) / SampleRate;
            t.Job.Frames = timing.Frames;
            t.Job.FadeFrames = timing.FadeFrames;
            t.Job.StartFrame = static_cast<uint64_t>(std::llround(o.Start * SampleRate));
            t.Label = o.Files[f] + " #" + std::to_string(song + 1);
            if (!o.Bench) {
                char suffix[16] = "";
                if (o.AllSongs && count > 1)
                    std::snprintf(suffix, sizeof suffix, "-%02d", song + 1);
                // The mix's name without ".wav"; a voice's adds "-A" and so on.
                const bool named = o.Output && folder.empty();
                const std::string base = named ? WithoutWav(*o.Output)
                                         : folder.empty()
                                             ? Stem(o.Files[f]) + suffix
                                             : folder + "/" + Stem(o.Files[f]) + suffix;
                if (o.Mix) t.OutputPath = named ? *o.Output : base + ".wav";
                if (o.Stems)
                    for (int v = 0; v < VoiceCount; ++v)
                        t.VoicePaths[v] = base + "-" + VoiceNames[v] + ".wav";
            }
            tasks.push_back(std::move(t));
        }
    }
    opened.clear();

    if (OutputsCollide(tasks, o.Files)) return 2;
    if (several && !folder.empty() && !IsFolder(folder) && ::mkdir(folder.c_str(), 0777) != 0) {
        std::fprintf(stderr, "zirrafon-render: %s: %s\n", folder.c_str(), std::strerror(errno));
        return 1;
    }
    RunTasks(tasks, o);
    if (StopSignal()) return 1; // said once, by main

    std::vector<const Task*> measured;
    for (const Task& t : tasks) {
        if (!t.Error.empty()) {
            refuse(t.Label, t.Error);
            continue;
        }
        if (o.Bench) {
            std::printf("%s: %.1fx real time, %s\n", t.Label.c_str(),
                        t.Seconds / std::max(t.Outcome.CpuSeconds, 1e-9), t.Outcome.Machine);
            measured.push_back(&t);
        }
    }
    if (o.Bench && !measured.empty()) {
        const auto speed = [](const Task* t) {
            return t->Seconds / std::max(t->Outcome.CpuSeconds, 1e-9);
        };
        std::sort(measured.begin(), measured.end(),
                  [&](const Task* a, const Task* b) { return speed(a) < speed(b); });
        const size_t n = measured.size();
        const double median = n % 2 ? speed(measured[n / 2])
                                    : (speed(measured[n / 2 - 1]) + speed(measured[n / 2])) / 2;
        std::printf("%zu songs: median %.1fx real time, slowest %.1fx (%s)\n", n, median,
                    speed(measured[0]), measured[0]->Label.c_str());
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    PrepareOutputs();
    try {
        const int status = Run(ParseOptions(argc, argv));
        if (StopSignal()) {
            std::fprintf(stderr, "zirrafon-render: interrupted; unfinished songs "
                                 "replaced no files\n");
            DieOfStopSignal();
        }
        return status;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "zirrafon-render: %s\nTry 'zirrafon-render --help'.\n",
                     e.Text.c_str());
        return 2;
    }
}
