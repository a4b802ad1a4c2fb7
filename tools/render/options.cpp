// zirrafon-render's command line (see options.h).
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string_view>
#include <strings.h>

namespace {

constexpr double MaxSeconds = 6 * 3600; // keeps the WAV data below 4 GiB

const char* const HelpText =
    "Usage: zirrafon-render [options] FILE|FOLDER...\n"
    "Renders songs of .ay, .aym, .ym, .vtx and .psg files and of .pt3 and .pt2\n"
    "tracker modules to 16-bit stereo WAV at 44,100 Hz. A folder stands for the\n"
    "song files in it and its subfolders (by extension, hidden ones left out);\n"
    "their outputs keep that tree, starting with a folder of the folder's own\n"
    "name, so songs of one name in different folders never meet.\n"
    "\n"
    "  -o, --output PATH   a .wav file when one song is rendered (.flac, .ogg, .opus or\n"
    "                      .mp3: that format), a folder (made when missing) when\n"
    "                      several are; '-' writes the one song to standard output\n"
    "                      (WAV only). Without it the files go to the current\n"
    "                      directory as STEM.wav, or STEM-NN.wav (NN = song number)\n"
    "                      with --all-songs; STEM is the song file's name without\n"
    "                      its extension. A .ym or .psg file gets the song's\n"
    "                      register dump instead: the chip's registers at every\n"
    "                      frame end (uncompressed YM6 with the texts, or PSG)\n"
    "  -f, --format NAME   wav, flac, ogg (Vorbis), opus (48 kHz) or mp3 (default: by\n"
    "                      the extension of -o, else wav); all but WAV carry the\n"
    "                      song's tags: title (the song's name, else the file's\n"
    "                      title), artist, album (the file's title), track number\n"
    "                      and count, comment (the file's misc text), and the\n"
    "                      program. FLAC holds exactly the WAV's samples\n"
    "  -s, --song N        the song to render, counted from 1 (default: the file's\n"
    "                      first song)\n"
    "      --all-songs     render every song of each file\n"
    "  -t, --seconds S     length (default: the song's length from the .ay header\n"
    "                      when it gives one, a register stream's frames, a\n"
    "                      module's length to its end, else 180)\n"
    "      --fade S        fade out linearly over the last S seconds (default: the\n"
    "                      header's fade length when the header gives a length, else 0)\n"
    "      --start S       write the song from S seconds on: the same samples a render\n"
    "                      from the start has there (length and fade still count from\n"
    "                      the song's start; a start at or past its end is refused)\n"
    "      --mute LIST     leave voices out of the mix: a comma-separated list of A, B,\n"
    "                      C (the chip's channels) and beeper; the others sound exactly\n"
    "                      as they do with every voice in\n"
    "      --silence S     end a song whose file gives no length once its output has\n"
    "                      stayed unchanged for S seconds (the player's rule for\n"
    "                      playlist songs; default 5, 0: off)\n"
    "  -m, --chip NAME     AYMONO YMMONO AYABC YMABC AYACB YMACB AYBAC YMBAC AYBCA\n"
    "                      YMBCA AYCAB YMCAB AYCBA YMCBA (any letter case; default AYABC)\n"
    "  -b, --beeper LEVEL  beeper level 0..32768 (default 16384)\n"
    "  -v, --volume V      volume 0..39 (default 39)\n"
    "  -j, --jobs N        songs rendered at once, one thread each (default 1)\n"
    "      --stems         also write each voice of each song on its own, as mono\n"
    "                      WAV files named like the song's WAV with -A, -B, -C (the\n"
    "                      chip's channels) or -beeper added (not for .ym, .vtx and\n"
    "                      .psg files, which drive no beeper): STEM-A.wav ... or\n"
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
    "      --progress      show the progress (songs, seconds of sound, speed) and a\n"
    "                      closing summary also when standard error is no terminal\n"
    "                      (on a terminal they are always shown)\n"
    "  -h, --help          this text\n"
    "      --version       print the version\n"
    "\n"
    "A WAV file is replaced only by a song rendered completely: a song that fails\n"
    "or is interrupted leaves an existing file as it was. Devices, FIFOs and\n"
    "standard output are written directly.\n"
    "\n"
    "Exit status: 0 all went well, 1 a file was refused or a song failed,\n"
    "2 wrong usage, or two songs would write the same file (nothing is written).\n";

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

// Seconds, 0 or more, given to option `what`; a usage error otherwise.
double SecondsOrRefuse(const char* what, const char* text) {
    double seconds = 0;
    if (!ParseSeconds(text, 0, seconds))
        throw UsageError{std::string(what) + " must be a number of seconds, 0 or more: " + text};
    return seconds;
}

} // namespace

Options ParseOptions(int argc, char** argv) {
    enum {
        AllSongs = 256,
        Fade,
        Start,
        Mute,
        Info,
        Json,
        Bench,
        Stems,
        StemsOnly,
        Version,
        Progress,
        Silence
    };
    static const option longOptions[] = {{"output", required_argument, nullptr, 'o'},
                                         {"song", required_argument, nullptr, 's'},
                                         {"all-songs", no_argument, nullptr, AllSongs},
                                         {"seconds", required_argument, nullptr, 't'},
                                         {"fade", required_argument, nullptr, Fade},
                                         {"start", required_argument, nullptr, Start},
                                         {"mute", required_argument, nullptr, Mute},
                                         {"silence", required_argument, nullptr, Silence},
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
                                         {"progress", no_argument, nullptr, Progress},
                                         {"format", required_argument, nullptr, 'f'},
                                         {nullptr, 0, nullptr, 0}};
    Options o;
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, ":o:f:s:t:m:b:v:j:h", longOptions, nullptr);
        if (c == -1) break;
        double seconds = 0;
        switch (c) {
        case 'o': o.Output = optarg; break;
        case 'f':
            o.Format = OutputFormatByName(optarg);
            if (!o.Format)
                throw UsageError{"format must be wav, flac, ogg, opus or mp3: " +
                                 std::string(optarg)};
            break;
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
        case Silence: o.Silence = SecondsOrRefuse("silence", optarg); break;
        case Fade: o.Fade = SecondsOrRefuse("fade", optarg); break;
        case Start: o.Start = SecondsOrRefuse("start", optarg); break;
        case Mute:
            if (!ParseVoices(optarg, o.MutedVoices))
                throw UsageError{"voices to mute are a list of A, B, C and beeper: " +
                                 std::string(optarg)};
            break;
        case 'm':
            o.Settings.Mode = ChipModeByName(optarg);
            if (o.Settings.Mode < 0) throw UsageError{"unknown chip: " + std::string(optarg)};
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
        case Progress: o.Progress = true; break;
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
    if (o.Output && *o.Output != "-" && o.Format) {
        const std::optional<OutputFormat> named = OutputFormatOfPath(*o.Output);
        if (named && named != o.Format)
            throw UsageError{"--format and the extension of " + *o.Output + " disagree"};
    }
    if (o.Output && *o.Output == "-" && o.Format && *o.Format != OutputFormat::Wav)
        throw UsageError{"standard output takes WAV only"};
    return o;
}
