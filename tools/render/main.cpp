// zirrafon-render: renders songs of ".ay", ".aym" and register-stream files
// (".ym", ".vtx", ".psg") to WAV files or register dumps without
// a window or an audio device, lists their texts and songs, or measures how
// fast they render. The samples are the player's own (src/render); the song
// length, the fade and the choice of songs are this tool's additions. Here:
// which songs go to which files, and the report of a run; the options, the
// listing, the job pool and the progress line have units of their own.
#include "info.h"
#include "job_pool.h"
#include "options.h"
#include "render/output.h"
#include "songs/silence.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <strings.h>
#include <sys/stat.h>

namespace {

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

// The path without the extension of an output format (".wav", ".flac" ...).
std::string WithoutWav(const std::string& path) {
    if (const std::optional<OutputFormat> format = OutputFormatOfPath(path))
        return path.substr(0, path.size() - std::strlen(OutputExtension(*format)));
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

// A song file to render, and for one found in a folder argument, the folder
// its outputs go to under the output folder: the tree from the folder
// argument down, so that songs of one name in different folders stay apart.
struct Input {
    std::string Path;
    std::string Mirror; // empty for a file named on the command line
};

// The song files in `folder` and below, by extension, folders before files,
// each by name without regard to case (then exactly); hidden entries and
// folders met a second time (through links) are passed over.
void AddFolder(const std::filesystem::path& folder, const std::string& mirror,
               std::vector<Input>& out, std::set<std::string>& seen, int depth) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(folder, error);
    if (error || !seen.insert(canonical.string()).second || depth > 64) return;
    struct Entry {
        std::string Name;
        bool Folder;
    };
    std::vector<Entry> entries;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code kindError;
        const bool isFolder = it->is_directory(kindError);
        if (isFolder || SongKindByExtension(name) != SongKind::Unknown)
            entries.push_back({name, isFolder});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.Folder != b.Folder) return a.Folder;
        const int c = strcasecmp(a.Name.c_str(), b.Name.c_str());
        return c != 0 ? c < 0 : a.Name < b.Name;
    });
    for (const Entry& e : entries) {
        const std::string path = (folder / e.Name).string();
        if (e.Folder)
            AddFolder(path, mirror.empty() ? e.Name : mirror + "/" + e.Name, out, seen, depth + 1);
        else
            out.push_back({path, mirror});
    }
}

// The arguments with every folder replaced by the song files in it. A folder
// keeps its own name under the output folder ("." and ".." put their songs
// straight in); one without song files is said and counts as a failure.
std::vector<Input> ExpandFolders(const std::vector<std::string>& arguments, int& status) {
    std::vector<Input> inputs;
    for (const std::string& argument : arguments) {
        if (!IsFolder(argument)) {
            inputs.push_back({argument, ""});
            continue;
        }
        std::string name = std::filesystem::path(argument).lexically_normal().filename().string();
        if (name.empty()) // "dir/", normalised to "dir/": the name before the slash
            name = std::filesystem::path(argument)
                       .lexically_normal()
                       .parent_path()
                       .filename()
                       .string();
        if (name == "." || name == "..") name.clear();
        std::set<std::string> seen;
        const size_t before = inputs.size();
        AddFolder(argument, name, inputs, seen, 0);
        if (inputs.size() == before) {
            std::fprintf(stderr, "zirrafon-render: %s: no song files in this folder\n",
                         argument.c_str());
            status = 1;
        }
    }
    return inputs;
}

std::vector<std::string> Paths(const std::vector<Input>& inputs) {
    std::vector<std::string> paths;
    for (const Input& i : inputs) paths.push_back(i.Path);
    return paths;
}

// Makes the folders the outputs go into; false (said) when one cannot be made.
bool MakeFolders(const std::set<std::string>& folders) {
    for (const std::string& folder : folders) {
        std::error_code error;
        if (IsFolder(folder)) continue;
        std::filesystem::create_directories(folder, error);
        if (error) {
            std::fprintf(stderr, "zirrafon-render: %s: %s\n", folder.c_str(),
                         error.message().c_str());
            return false;
        }
    }
    return true;
}

int Run(const Options& o) {
    int status = 0;
    const auto refuse = [&status](const std::string& file, const std::string& text) {
        std::fprintf(stderr, "zirrafon-render: %s: %s\n", file.c_str(), text.c_str());
        status = 1;
    };

    const bool folderGiven = std::any_of(o.Files.begin(), o.Files.end(), IsFolder);
    const std::vector<Input> inputs = ExpandFolders(o.Files, status);
    const std::vector<std::string> files = Paths(inputs);
    if (o.Info) return std::max(PrintSongLists(files, o.Json), status);

    // One WAV file, or a folder of them?
    bool several = files.size() > 1 || folderGiven;
    std::vector<std::unique_ptr<SongSession>> opened;
    for (const std::string& name : files) {
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
            // A name that says "one WAV file" cannot take several songs; the
            // folder made under it would surprise whoever typed it.
            if (!IsFolder(*o.Output) && WithoutWav(*o.Output) != *o.Output) {
                std::fprintf(stderr,
                             "zirrafon-render: %s: several songs go to a folder; name an "
                             "existing folder, or one to make without .wav\n",
                             o.Output->c_str());
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
    std::set<std::string> outputFolders; // made once the outputs are known not to collide
    for (size_t f = 0; f < files.size(); ++f) {
        if (!opened[f]) continue;
        const SongSession& file = *opened[f];
        const int count = file.List.SongCount;
        std::vector<int> songs;
        if (o.AllSongs) {
            for (int i = 0; i < count; ++i) songs.push_back(i);
        } else if (o.Song > count) {
            refuse(files[f], "no song " + std::to_string(o.Song) + " (the file has " +
                                 std::to_string(count) + ")");
            continue;
        } else {
            songs.push_back(o.Song ? o.Song - 1 : file.List.FirstSong);
        }
        for (int song : songs) {
            Task t;
            t.Job.FileName = files[f];
            t.Job.Song = song;
            const SongTiming timing = file.RenderTiming(song, o.Seconds, o.Fade);
            t.Seconds = static_cast<double>(timing.Frames) / OutputRate;
            t.Job.Frames = timing.Frames;
            t.Job.FadeFrames = timing.FadeFrames;
            t.Job.StartFrame = static_cast<uint64_t>(std::llround(o.Start * OutputRate));
            t.Job.MutedVoices = o.MutedVoices;
            t.Job.SilenceFrames = file.SilenceLimit(song, o.Silence);
            t.Label = files[f] + " #" + std::to_string(song + 1);
            if (t.Job.StartFrame >= timing.Frames) {
                char text[96];
                std::snprintf(text, sizeof text, "--start %.2f s is past the song's end (%.2f s)",
                              o.Start, t.Seconds);
                refuse(t.Label, text);
                continue;
            }
            if (!o.Bench) {
                char suffix[16] = "";
                if (o.AllSongs && count > 1)
                    std::snprintf(suffix, sizeof suffix, "-%02d", song + 1);
                // The mix's name without ".wav"; a voice's adds "-A" and so on.
                const bool named = o.Output && folder.empty();
                // A song found in a folder keeps the tree it was found in.
                std::string place = folder.empty() ? "" : folder + "/";
                if (!inputs[f].Mirror.empty()) place += inputs[f].Mirror + "/";
                if (!named && !place.empty())
                    outputFolders.insert(place.substr(0, place.size() - 1));
                const std::string base =
                    named ? WithoutWav(*o.Output) : place + Stem(files[f]) + suffix;
                // The format --format names, else the one -o's name asks for.
                const std::optional<OutputFormat> asked =
                    named && *o.Output != "-" ? OutputFormatOfPath(*o.Output) : std::nullopt;
                t.Job.Format = o.Format ? *o.Format : asked ? *asked : OutputFormat::Wav;
                if (o.Mix) t.OutputPath = named ? *o.Output : base + OutputExtension(t.Job.Format);
                // "-o X.ym" or "-o X.psg": the song's registers instead of its sound.
                if (named) {
                    const std::string ext = SongFileExtension(*o.Output);
                    if (ext == ".ym") t.Job.Dump = DumpFormat::YM;
                    if (ext == ".psg") t.Job.Dump = DumpFormat::PSG;
                }
                // A register stream drives no beeper: it has no beeper voice.
                if (o.Stems)
                    for (int v = 0; v < VoiceCount; ++v)
                        if (v != VoiceBeeper || !file.List.Stream)
                            t.VoicePaths[v] = base + "-" + VoiceNames[v] + ".wav";
            }
            tasks.push_back(std::move(t));
        }
    }
    opened.clear();

    if (OutputsCollide(tasks, files)) return 2;
    if (!MakeFolders(outputFolders)) return 1;
    RunTasks(tasks, o.Settings, o.Jobs, o.Progress && !o.Bench, !o.Bench);
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
