// zirrafon-render through its real binary: WAV output, song choice, listing,
// exit codes, samples equal to a direct rendering with the engine, outputs
// that survive every failure, and the voices rendered apart.
#include "../formats/song_files.h"
#include "../formats/stream_writer.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string Tool = ZIRRAFON_BINARY_DIR "/zirrafon-render";
const std::string Songs = ZIRRAFON_TESTDATA_DIR "/ay/";

struct ToolRun {
    int Status = -1;
    std::string Out, Err;
};

// Runs the tool in `dir` with `args` (already shell-quoted where needed),
// after the shell words `prefix` ("umask 077;", "timeout -s INT 1", ...).
ToolRun RunTool(const TempDir& dir, const std::string& args, const std::string& prefix = "") {
    const std::string command = "cd '" + dir.Path("") + "' && " + prefix + " '" + Tool + "' " +
                                args + " > '" + dir.Path("stdout") + "' 2> '" + dir.Path("stderr") +
                                "'";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes out = ReadFileBytes(dir.Path("stdout")), err = ReadFileBytes(dir.Path("stderr"));
    run.Out.assign(out.begin(), out.end());
    run.Err.assign(err.begin(), err.end());
    return run;
}

uint32_t LE32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

std::vector<int16_t> Samples(const Bytes& wav) {
    std::vector<int16_t> s((wav.size() - 44) / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
    return s;
}

// The header of 16-bit PCM at 44,100 Hz with `channels` and `frames`, and
// nothing after the data.
void ExpectWavHeader(const Bytes& wav, uint32_t channels, uint32_t frames,
                     const std::string& name) {
    ASSERT_GE(wav.size(), 44u) << name;
    const uint32_t data = frames * 2 * channels;
    EXPECT_EQ(wav.size(), 44u + data) << name;
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF") << name;
    EXPECT_EQ(LE32(wav, 4), 36 + data) << name;
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ") << name;
    EXPECT_EQ(LE32(wav, 16), 16u) << name;
    EXPECT_EQ(LE32(wav, 20), 1u | channels << 16) << name; // PCM
    EXPECT_EQ(LE32(wav, 24), 44100u) << name;
    EXPECT_EQ(LE32(wav, 28), 44100u * 2 * channels) << name;
    EXPECT_EQ(LE32(wav, 32), 2 * channels | 16u << 16) << name; // bytes per frame, 16 bits
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data") << name;
    EXPECT_EQ(LE32(wav, 40), data) << name;
}

// `samples` (interleaved `channels`) with the tool's linear fade over the
// last `fade` of `frames` frames.
std::vector<int16_t> Faded(std::vector<int16_t> samples, size_t channels, size_t frames,
                           size_t fade) {
    for (size_t frame = frames - fade; frame < frames; ++frame)
        for (size_t i = channels * frame; i < channels * (frame + 1); ++i)
            samples[i] = int16_t(samples[i] * int64_t(frames - frame) / int64_t(fade));
    return samples;
}

// A minimal JSON syntax check: value := object | array | string | number | literal.
bool SkipJson(const std::string& s, size_t& i);
void SkipSpace(const std::string& s, size_t& i) {
    while (i < s.size() && std::strchr(" \t\r\n", s[i])) ++i;
}
bool SkipJsonString(const std::string& s, size_t& i) {
    if (s[i] != '"') return false;
    for (++i; i < s.size(); ++i) {
        if (s[i] == '\\')
            ++i;
        else if (s[i] == '"')
            return ++i, true;
        else if (static_cast<unsigned char>(s[i]) < 0x20)
            return false;
    }
    return false;
}
bool SkipJson(const std::string& s, size_t& i) {
    SkipSpace(s, i);
    if (i >= s.size()) return false;
    const char open = s[i];
    if (open == '{' || open == '[') {
        const char close = open == '{' ? '}' : ']';
        SkipSpace(s, ++i);
        if (i < s.size() && s[i] == close) return ++i, true;
        for (;;) {
            if (open == '{') {
                SkipSpace(s, i);
                if (!SkipJsonString(s, i)) return false;
                SkipSpace(s, i);
                if (i >= s.size() || s[i++] != ':') return false;
            }
            if (!SkipJson(s, i)) return false;
            SkipSpace(s, i);
            if (i >= s.size()) return false;
            if (s[i] == close) return ++i, true;
            if (s[i++] != ',') return false;
        }
    }
    if (open == '"') return SkipJsonString(s, i);
    const size_t start = i;
    while (i < s.size() && std::strchr("+-.0123456789eEtruefalsn", s[i])) ++i;
    return i > start;
}
bool IsJson(const std::string& s) {
    size_t i = 0;
    if (!SkipJson(s, i)) return false;
    SkipSpace(s, i);
    return i == s.size();
}

TEST(RenderTool, WritesTheEngineSamplesAsWav) {
    TempDir dir;
    const ToolRun run = RunTool(dir, "-t 2 --fade 0 -o one.wav '" + Songs + "Exolon.AY'");
    ASSERT_EQ(run.Status, 0) << run.Err;
    const Bytes wav = ReadFileBytes(dir.Path("one.wav"));
    ExpectWavHeader(wav, 2, 88200, "one.wav");
    EXPECT_EQ(Samples(wav), RenderDirect(Songs + "Exolon.AY", 0, 88200));

    // Another song, another chip, a fade over the last second, to standard output.
    const ToolRun song =
        RunTool(dir, "--song 3 -t 1.5 --fade 1 -m ymacb -o - '" + Songs + "Exolon.AY'");
    ASSERT_EQ(song.Status, 0) << song.Err;
    EXPECT_EQ(Samples(Bytes(song.Out.begin(), song.Out.end())),
              Faded(RenderDirect(Songs + "Exolon.AY", 2, 66150, 5), 2, 66150, 44100));
}

TEST(RenderTool, NamesFilesAfterTheSongAndRendersInParallelAlike) {
    TempDir dir;
    const std::string file = "'" + Songs + "Alien8.AY'";
    ASSERT_EQ(RunTool(dir, "-t 0.5 --all-songs " + file).Status, 0);
    // Off a terminal nothing but errors goes to standard error, unless asked.
    const auto quiet = RunTool(dir, "-t 0.5 --all-songs -j 2 -o folder " + file);
    ASSERT_EQ(quiet.Status, 0);
    EXPECT_EQ(quiet.Err, "");
    const auto told = RunTool(dir, "-t 0.5 --all-songs --progress -o told/ " + file);
    EXPECT_NE(told.Err.find("zirrafon-render: 5 files written, 2.5 s of sound in"),
              std::string::npos)
        << told.Err;
    // Several songs never make a folder named like one WAV file.
    EXPECT_EQ(RunTool(dir, "-t 0.5 --all-songs -o out.WAV " + file).Status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out.WAV")));
    for (int song = 1; song <= 5; ++song) {
        const std::string name = "Alien8-0" + std::to_string(song) + ".wav";
        const Bytes one = ReadFileBytes(dir.Path(name));
        EXPECT_EQ(one.size(), 44u + 22050 * 4) << name;
        EXPECT_EQ(one, ReadFileBytes(dir.Path("folder/" + name))) << name;
    }
    // A folder: the song files in its tree (hidden ones and other files left
    // out), the tree kept under the output folder, so that songs of one name
    // in different folders stay apart; without -o, under the current folder.
    for (const char* sub : {"Coll/A", "Coll/B/deep", "Coll/.hidden"})
        std::filesystem::create_directories(dir.Path(sub));
    std::filesystem::copy_file(Songs + "Exolon.AY", dir.Path("Coll/A/X.ay"));
    std::filesystem::copy_file(Songs + "Renegade.ay", dir.Path("Coll/B/deep/X.ay"));
    std::filesystem::copy_file(Songs + "Alien8.AY", dir.Path("Coll/.hidden/Y.ay"));
    dir.Write("Coll/B/notes.txt", Bytes{'x'});
    ASSERT_EQ(RunTool(dir, "-t 0.5 --fade 0 -s 1 -o tree Coll/").Status, 0);
    ASSERT_EQ(RunTool(dir, "-t 0.5 --fade 0 -s 1 Coll").Status, 0);
    for (const auto& [out, song] : {std::pair{"tree/Coll/A/X.wav", "Exolon.AY"},
                                    {"tree/Coll/B/deep/X.wav", "Renegade.ay"},
                                    {"Coll/A/X.wav", "Exolon.AY"}}) {
        const Bytes wav = ReadFileBytes(dir.Path(out));
        ASSERT_EQ(wav.size(), 44u + 22050 * 4) << out;
        EXPECT_EQ(Samples(wav), RenderDirect(Songs + song, 0, 22050)) << out;
    }
    size_t written = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path("tree")))
        written += entry.is_regular_file();
    EXPECT_EQ(written, 2u);
    std::filesystem::create_directories(dir.Path("empty"));
    const ToolRun empty = RunTool(dir, "-t 0.5 empty");
    EXPECT_EQ(empty.Status, 1);
    EXPECT_NE(empty.Err.find("empty: no song files in this folder"), std::string::npos);

    // Without -t: the header's length (Alien8 #2: 175 frames = 3.5 s).
    ASSERT_EQ(RunTool(dir, "-s 2 " + file).Status, 0);
    EXPECT_EQ(ReadFileBytes(dir.Path("Alien8.wav")).size(), 44u + 154350 * 4);

    // Silent songs: one without a length ends after 5 s of unchanged output
    // (unless the rule is off), one with a length (12 s) keeps all of it.
    AYFilePlan silent;
    for (const uint16_t length : {0, 600})
        silent.Songs.push_back({"quiet", 0, 0, 0, 0x8000, 0, length, 0, {{0x8000, 1, {0xC9}}}});
    dir.Write("quiet.ay", BuildAY(silent));
    for (const auto& [args, frames] : {std::pair{"-s 1", 220500u},
                                       {"-s 1 --silence 0 -t 7", 308700u},
                                       {"-s 1 --silence 2", 88200u},
                                       {"-s 2", 529200u}}) {
        ASSERT_EQ(RunTool(dir, std::string(args) + " -o q.wav quiet.ay").Status, 0) << args;
        ExpectWavHeader(ReadFileBytes(dir.Path("q.wav")), 2, frames, args);
    }
}

TEST(RenderTool, RefusesBadFilesAndBadUsage) {
    TempDir dir;
    dir.Write("text.ay", Bytes(40, 'x'));
    const ToolRun bad = RunTool(dir, "-t 1 text.ay '" + Songs + "Alien8.AY'");
    EXPECT_EQ(bad.Status, 1);
    EXPECT_NE(bad.Err.find("text.ay: Not .AY file"), std::string::npos) << bad.Err;
    EXPECT_EQ(ReadFileBytes(dir.Path("Alien8.wav")).size(),
              44u + 44100 * 4); // the good one still renders

    const ToolRun missing = RunTool(dir, "--info nothing.aym");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("nothing.aym: File not found"), std::string::npos) << missing.Err;
    const ToolRun noSong = RunTool(dir, "-s 6 -t 1 '" + Songs + "Alien8.AY'");
    EXPECT_EQ(noSong.Status, 1);
    EXPECT_NE(noSong.Err.find("Alien8.AY: no song 6"), std::string::npos) << noSong.Err;
    // A start past the song's end (Alien8 #2: 3.5 s) writes nothing.
    const ToolRun late = RunTool(dir, "-s 2 --start 3.5 -o late.wav '" + Songs + "Alien8.AY'");
    EXPECT_EQ(late.Status, 1);
    EXPECT_NE(late.Err.find("--start 3.50 s is past the song's end (3.50 s)"), std::string::npos)
        << late.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("late.wav")));

    // Wrong usage, and runs in which two songs would write one file (or one
    // would write over a song file): refused before anything is written.
    std::filesystem::create_directories(dir.Path("a"));
    std::filesystem::create_directories(dir.Path("b"));
    for (const auto& [link, song] : {std::pair{"a/X.ay", "Exolon.AY"},
                                     {"b/X.ay", "Renegade.ay"},
                                     {"Y.ay", "Exolon.AY"},
                                     {"Y-A.ay", "Renegade.ay"},
                                     {"Alien8.AY", "Alien8.AY"},
                                     {"Alien8-01.ay", "2BY_OLEG.ay"}})
        std::filesystem::create_symlink(Songs + song, dir.Path(link));
    ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    const struct {
        const char* Args;
        const char* Says;
    } refusals[] = {
        {"", "no song file given"},
        {"--frobnicate x.ay", "unknown option"},
        {"-m AYXYZ x.ay", "unknown chip"},
        {"-v 40 x.ay", "volume"},
        {"-b 32769 x.ay", "beeper level"},
        {"-t 0 x.ay", "length"},
        {"-t abc x.ay", "length"},
        {"-s", "option needs a value"},
        {"--info --bench x.ay", "exclude each other"},
        {"--stems --bench x.ay", "--stems has no use"},
        {"--stems -o - Y.ay", "--stems writes files"},
        {"--stems -o fifo Y.ay", "fifo: the voices are named after the output file"},
        {"-t 1 a/X.ay b/X.ay", "a/X.ay #1 and b/X.ay #1 would both write X.wav"},
        {"-t 1 -j 2 -o out a/X.ay b/X.ay", "would both write out/X.wav"},
        {"-t 1 --all-songs -o out Alien8.AY Alien8-01.ay",
         "Alien8.AY #1 and Alien8-01.ay #1 would both write out/Alien8-01.wav"},
        {"-t 1 --stems Y.ay Y-A.ay", "Y.ay #1 and Y-A.ay #1 would both write Y-A.wav"},
        {"-t 1 -o a/../Y.ay Y.ay", "Y.ay #1 would write over the song file Y.ay"},
    };
    const auto listing = [&dir] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path("")))
            if (entry.path().filename() != "stdout" && entry.path().filename() != "stderr")
                names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    for (const auto& [args, says] : refusals) {
        const ToolRun run = RunTool(dir, args);
        EXPECT_EQ(run.Status, 2) << args;
        EXPECT_NE(run.Err.find(says), std::string::npos) << args << "\n" << run.Err;
    }
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(std::filesystem::read_symlink(dir.Path("Y.ay")), Songs + "Exolon.AY");

    const ToolRun help = RunTool(dir, "--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: zirrafon-render"), std::string::npos);
    EXPECT_NE(help.Out.find("--stems"), std::string::npos);
    EXPECT_NE(help.Out.find("--version"), std::string::npos);
    const ToolRun version = RunTool(dir, "--version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, "zirrafon-render " ZIRRAFON_VERSION "\n");
}

TEST(RenderTool, ListsSongsAsTextAndJsonAndBenchmarks) {
    TempDir dir;
    const std::string file = "'" + Songs + "Exolon.AY'";
    const ToolRun json = RunTool(dir, "--info --json " + file + " missing.ay");
    EXPECT_EQ(json.Status, 1);
    EXPECT_TRUE(IsJson(json.Out)) << json.Out;
    EXPECT_NE(json.Out.find("\"songCount\": 20"), std::string::npos);
    EXPECT_NE(json.Out.find("\"name\": \"Exolon - SFX 17 (AY)\""), std::string::npos);
    EXPECT_NE(json.Out.find("\"error\": \"File not found\""), std::string::npos);
    EXPECT_FALSE(IsJson("[{\"a\": 1,}]")); // the checker itself refuses broken text

    const ToolRun text = RunTool(dir, "--info " + file);
    EXPECT_EQ(text.Status, 0);
    EXPECT_NE(text.Out.find("Author: Nick Jones"), std::string::npos) << text.Out;

    // A register stream cut short lists the frames it plays and says why.
    YMPlan cut;
    cut.Version = "YM5!";
    cut.Frames.assign(100, StreamFrame(16, 1));
    Bytes ym = MakeYM(cut);
    ym.resize(ym.size() - 30); // "End!" and 26 bytes of the last register's column
    dir.Write("cut.ym", ym);
    const char* const warning = "Stream cut short: 74 of 100 frames";
    const ToolRun warned = RunTool(dir, "--info cut.ym");
    EXPECT_EQ(warned.Status, 0) << warned.Err;
    EXPECT_NE(warned.Out.find(std::string("Warning: ") + warning), std::string::npos) << warned.Out;
    const ToolRun warnedJson = RunTool(dir, "--info --json cut.ym");
    EXPECT_TRUE(IsJson(warnedJson.Out)) << warnedJson.Out;
    EXPECT_NE(warnedJson.Out.find(std::string("\"warning\": \"") + warning + "\""),
              std::string::npos)
        << warnedJson.Out;

    // Tracker modules: what made them and how they play, and a note for one
    // that makes its player read outside its bytes.
    const std::string pt = ZIRRAFON_TESTDATA_DIR "/pt3/";
    const ToolRun modules = RunTool(dir, "--info --json '" + pt + "winky.pt3' '" + pt +
                                             "13.pt2' '" + pt + "WeBberTS.pt3'");
    EXPECT_EQ(modules.Status, 0);
    EXPECT_TRUE(IsJson(modules.Out)) << modules.Out;
    for (const char* member :
         {"\"type\": \"pt3\"", "\"tracker\": \"Vortex Tracker II\"", "\"version\": \"3.6\"",
          "\"noteTable\": 2", "\"tempo\": 5", "\"positions\": 5", "\"patterns\": 5",
          "\"readsOutsideModule\": true", "\"length\": 28.00", "\"type\": \"pt2\"",
          "\"version\": \"2\"", "\"noteTable\": null", "\"length\": 38.40", "\"version\": \"3.7\"",
          "\"chips\": 2", "\"patterns\": 48"})
        EXPECT_NE(modules.Out.find(member), std::string::npos) << member << "\n" << modules.Out;
    const ToolRun moduleText = RunTool(dir, "--info '" + pt + "winky.pt3'");
    EXPECT_NE(moduleText.Out.find("Note: the module makes its player read bytes outside it"),
              std::string::npos)
        << moduleText.Out;

    const ToolRun bench = RunTool(dir, "--bench -t 1 -s 1 " + file);
    EXPECT_EQ(bench.Status, 0) << bench.Err;
    EXPECT_NE(bench.Out.find("Exolon.AY #1: "), std::string::npos) << bench.Out;
    EXPECT_NE(bench.Out.find("x real time, spectrum"), std::string::npos) << bench.Out;
}

// The compressed outputs: FLAC holds exactly the WAV's samples; Vorbis,
// Opus (at 48 kHz) and MP3 last the song's length; each carries the song's
// tags as a tag library reads them. --all-songs names them as WAV files are
// named, with their own extension.
TEST(RenderTool, WritesCompressedFormatsWithTags) {
    TempDir dir;
    const std::string alien = "'" + Songs + "Alien8.AY'";
    ASSERT_EQ(RunTool(dir, "-s 2 -o song.wav " + alien).Status, 0);
    const std::vector<int16_t> wav = Samples(ReadFileBytes(dir.Path("song.wav")));
    const struct {
        const char* Args;
        const char* File;
        int Rate;
        const char* Program; // the tag that names the program
    } cases[] = {
        {"-s 2 -o song.flac", "song.flac", 44100, "SOFTWARE"},
        {"-s 2 -o song.ogg", "song.ogg", 44100, "SOFTWARE"},
        {"-s 2 -f opus -o song.opus", "song.opus", 48000, "ENCODER"},
        {"-s 2 -o song.MP3", "song.MP3", 44100, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const ToolRun run = RunTool(dir, std::string(c.Args) + " " + alien);
        ASSERT_EQ(run.Status, 0) << run.Err;
        SF_INFO info{};
        SNDFILE* file = sf_open(dir.Path(c.File).c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<int16_t> samples(static_cast<size_t>(info.frames) * 2);
        EXPECT_EQ(sf_readf_short(file, samples.data(), info.frames), info.frames);
        sf_close(file);
        EXPECT_EQ(info.samplerate, c.Rate);
        EXPECT_EQ(info.channels, 2);
        // Alien8 #2 lasts 175 frames of 1/50 s: 3.5 s.
        EXPECT_NEAR(double(info.frames) / info.samplerate, 3.5, 0.05);
        if (std::string(c.File).ends_with(".flac")) {
            EXPECT_EQ(samples, wav);
        } else if (c.Rate == 44100 && samples.size() == wav.size()) {
            // Lossy, but the song's sound: little of it lost, nothing added.
            double error = 0, power = 0;
            for (size_t i = 0; i < wav.size(); ++i) {
                error += std::pow(double(samples[i]) - wav[i], 2);
                power += std::pow(double(wav[i]), 2);
            }
            EXPECT_LT(error / power, 0.05);
        }

        const TagLib::FileRef tagged(dir.Path(c.File).c_str());
        ASSERT_FALSE(tagged.isNull());
        EXPECT_NEAR(tagged.audioProperties()->lengthInMilliseconds(), 3500, 50);
        const TagLib::PropertyMap tags = tagged.file()->properties();
        const auto tag = [&tags](const char* name) {
            return tags.contains(name) ? tags[name].toString().to8Bit(true) : std::string();
        };
        EXPECT_EQ(tag("TITLE"), "Alien 8 - Start Game (Beeper)");
        EXPECT_EQ(tag("ALBUM"), "Alien8");
        EXPECT_EQ(tag("ARTIST"), "Unknown");
        EXPECT_EQ(tag("COMMENT"), "(c) 1985 Ultimate");
        EXPECT_EQ(tag("TRACKNUMBER"), "2/5");
        if (c.Program) {
            EXPECT_TRUE(tag(c.Program).starts_with("Zirrafon ")) << tag(c.Program);
        }
    }

    // Every song of a file, named as WAV files are; WAV to a pipe only.
    ASSERT_EQ(RunTool(dir, "--all-songs -t 0.5 -f flac -o all " + alien).Status, 0);
    for (int song = 1; song <= 5; ++song)
        EXPECT_TRUE(
            std::filesystem::exists(dir.Path("all/Alien8-0" + std::to_string(song) + ".flac")));
    EXPECT_EQ(RunTool(dir, "-f ogg -o - " + alien).Status, 2);
    EXPECT_EQ(RunTool(dir, "-f ogg -o x.mp3 " + alien).Status, 2);
}

// Whatever stands at the output path survives a song that fails, a write that
// fails and a stop by signal: an existing file byte for byte, a device as the
// device it was. Only a song rendered completely replaces a regular file, with
// the permissions it had; devices are written, never replaced.
TEST(RenderTool, NeverDestroysAnOutput) {
    enum class Target { None, File, NullDevice, FullDevice };
    const std::string exolon = "'" + Songs + "Exolon.AY'";
    const std::string beeper = "'" + Songs + "Beeper_Demo_part_1.ay'"; // slowest: 6 s for -t 3600
    const struct {
        const char* What;
        Target Before;
        std::string Prefix, Args; // the tool's arguments after "-o out"
        int Status;
        const char* Says;
    } cases[] = {
        {"truncated song over a file", Target::File, "", "-t 2 bad.ay", 1,
         "bad.ay #1: Read beyond end of file"},
        {"truncated song to a device", Target::NullDevice, "", "-t 2 bad.ay", 1,
         "bad.ay #1: Read beyond end of file"},
        {"truncated song, no file yet", Target::None, "", "-t 2 bad.ay", 1,
         "Read beyond end of file"},
        {"full device", Target::FullDevice, "", "-t 2 " + exolon, 1, "No space left on device"},
        {"temporary files past the size limit", Target::File, "ulimit -f 64;",
         "-t 2 --stems " + exolon, 1, "File too large"},
        {"SIGINT", Target::File, "timeout --preserve-status -s INT 0.5",
         "-t 3600 --stems " + beeper, 128 + SIGINT, "interrupted"},
        {"SIGTERM", Target::NullDevice, "timeout --preserve-status -s TERM 0.5",
         "-t 3600 " + beeper, 128 + SIGTERM, "interrupted"},
        {"song over a file", Target::File, "umask 077;", "-t 1 --stems " + exolon, 0, ""},
        {"song to a new file", Target::None, "umask 027;", "-t 1 " + exolon, 0, ""},
        {"song to a device", Target::NullDevice, "", "-t 1 " + exolon, 0, ""},
    };
    const bool root = ::geteuid() == 0;
    const Bytes old = {'k', 'e', 'e', 'p'};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const bool device = c.Before == Target::NullDevice || c.Before == Target::FullDevice;
        if (!root && c.Before == Target::NullDevice) continue; // needs mknod
        TempDir dir;
        // Cut at 3000 bytes, the song list reads, song 1's blocks run past the end.
        Bytes truncated = ReadFileBytes(Songs + "Exolon.AY");
        truncated.resize(3000);
        dir.Write("bad.ay", truncated);
        // A private node (root only), or else the system's full device.
        std::string out = dir.Path("out");
        const dev_t number = makedev(1, c.Before == Target::FullDevice ? 7 : 3);
        if (device && root)
            ASSERT_EQ(::mknod(out.c_str(), S_IFCHR | 0666, number), 0);
        else if (device)
            out = "/dev/full";
        if (c.Before == Target::File) {
            dir.Write("out", old);
            ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
        }

        const ToolRun run = RunTool(dir, "-o '" + out + "' " + c.Args, c.Prefix);
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
        struct stat st {};
        const bool exists = ::stat(out.c_str(), &st) == 0;
        if (device) {
            EXPECT_TRUE(exists);
            EXPECT_TRUE(S_ISCHR(st.st_mode));
            EXPECT_EQ(st.st_rdev, number);
        } else if (c.Status != 0) {
            EXPECT_EQ(exists, c.Before == Target::File);
            if (exists) {
                EXPECT_EQ(ReadFileBytes(out), old);
                EXPECT_EQ(st.st_mode & 0777, 0640u);
            }
        } else {
            EXPECT_EQ(ReadFileBytes(out).size(), 44u + 44100 * 4);
            // An existing file keeps its mode; a new one gets 0666 less the umask.
            EXPECT_EQ(st.st_mode & 0777, 0640u);
        }
        // No temporary file is left, and a failed song adds no voice files.
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path(""))) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(name[0], '.') << name;
            if (c.Status != 0) {
                EXPECT_EQ(name.find("out-"), std::string::npos) << name;
            }
        }
    }
}

// The voices apart: the mix is the same as without them; each voice file is
// mono, as long as the mix and faded alike; the voices that sound are the
// song's; and the four add up to the chip's mono mix within the rounding of
// the frame average. With voices muted, the mono mix is the sum of the
// others within the same bound; rendered from a point of the song on
// (--start), the mix and the voices are those of the render from the start,
// cut there.
//
// The bound: a frame's value is its ticks' sum divided by their count and
// truncated. The channels' sums are never negative (truncation floors them),
// the beeper's never positive (truncation raises it), so with X the exact mean
// of the mono mix the voices add up to S in (X - 3, X + 1), while the mix M is
// in (X - 1, X] for X >= 0 and [X, X + 1) for X < 0: -3 <= S - M <= 1. Within
// the fade, value * k / fade truncates once more per file in the same
// directions: -6 <= S - M <= 2.
TEST(RenderTool, RendersTheVoicesApart) {
    TempDir dir;
    const struct {
        const char* File;
        int Song;
        const char* Chip;
        int Mode;
        const char* Sounding; // voices that are heard, of "ABCb"
        const char* Mute;     // for --mute
        double Start;         // for --start, in seconds
    } songs[] = {
        {"Exolon.AY", 1, "ayacb", 4, "ABC", "A", 0.5},
        {"BigInJapan.ay", 1, "ymmono", 1, "ABC", "c,B", 1.2},
        {"Renegade.ay", 1, "ymbca", 9, "BC", "C,beeper", 0.37},
        {"AcousticDreams.ay", 10, "aymono", 0, "BC", "A,B,C", 1.6},
        {"Beeper_Demo_part_1.ay", 1, "ymcab", 11, "b", "Beeper", 0.9},
    };
    constexpr size_t Frames = 88200, Fade = 22050;
    const char* const voices[] = {"A", "B", "C", "beeper"};
    for (const auto& song : songs) {
        SCOPED_TRACE(song.File);
        const std::string file = Songs + song.File;
        const ToolRun run =
            RunTool(dir, "--stems -t 2 --fade 0.5 -o mix.wav -s " + std::to_string(song.Song) +
                             " -m " + song.Chip + " '" + file + "'");
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(Samples(ReadFileBytes(dir.Path("mix.wav"))),
                  Faded(RenderDirect(file, song.Song - 1, Frames, song.Mode), 2, Frames, Fade));
        const std::vector<int16_t> mono =
            Faded(RenderDirect(file, song.Song - 1, Frames, song.Mode & 1), 2, Frames, Fade);
        const auto start = static_cast<size_t>(std::llround(song.Start * 44100));
        const ToolRun part =
            RunTool(dir, "--stems --mute " + std::string(song.Mute) + " --start " +
                             std::to_string(song.Start) + " -t 2 --fade 0.5 -o part.wav -s " +
                             std::to_string(song.Song) + " -m " + ChipModeNames[song.Mode & 1] +
                             " '" + file + "'");
        ASSERT_EQ(part.Status, 0) << part.Err;
        const std::vector<int16_t> muted = Samples(ReadFileBytes(dir.Path("part.wav")));
        ASSERT_EQ(muted.size(), 2 * (Frames - start));
        std::vector<int32_t> sum(Frames), unmuted(Frames);
        for (int v = 0; v < 4; ++v) {
            const std::string name = std::string("mix-") + voices[v] + ".wav";
            const Bytes wav = ReadFileBytes(dir.Path(name));
            ExpectWavHeader(wav, 1, Frames, name);
            const std::vector<int16_t> samples = Samples(wav);
            ASSERT_EQ(samples.size(), Frames);
            bool isMuted = false;
            std::istringstream names(song.Mute);
            for (std::string muted; std::getline(names, muted, ',');)
                isMuted |= strcasecmp(muted.c_str(), voices[v]) == 0;
            bool heard = false;
            for (size_t f = 0; f < Frames; ++f) {
                sum[f] += samples[f];
                unmuted[f] += isMuted ? 0 : samples[f];
                heard |= samples[f] != 0;
            }
            EXPECT_EQ(heard, std::strchr(song.Sounding, "ABCb"[v]) != nullptr) << name;
            // A muted voice is silent on its own too; the others are as they were.
            const std::vector<int16_t> cut =
                Samples(ReadFileBytes(dir.Path(std::string("part-") + voices[v] + ".wav")));
            ASSERT_EQ(cut.size(), Frames - start) << name;
            EXPECT_TRUE(isMuted
                            ? std::all_of(cut.begin(), cut.end(), [](int16_t x) { return x == 0; })
                            : std::equal(cut.begin(), cut.end(), samples.begin() + start))
                << name;
        }
        for (size_t f = 0; f < Frames; ++f) {
            const int32_t over = sum[f] - mono[2 * f];
            const bool fading = f >= Frames - Fade;
            ASSERT_GE(over, fading ? -6 : -3) << f;
            ASSERT_LE(over, fading ? 2 : 1) << f;
            if (f < start) continue;
            const int32_t mutedOver = unmuted[f] - muted[2 * (f - start)];
            ASSERT_GE(mutedOver, fading ? -6 : -3) << "muted " << f;
            ASSERT_LE(mutedOver, fading ? 2 : 1) << "muted " << f;
        }
    }

    // A register stream drives no beeper: no beeper voice for it.
    YMPlan ym;
    ym.Frames.assign(50, StreamFrame{1, 2, 3, 4, 5, 6, 7, 0x38, 15, 15, 15, 0, 0, 0xFF, 0, 0});
    dir.Write("tones.ym", MakeYM(ym));
    ASSERT_EQ(RunTool(dir, "--stems-only -o tones.wav tones.ym").Status, 0);
    for (const char* voice : voices)
        EXPECT_EQ(std::filesystem::exists(dir.Path(std::string("tones-") + voice + ".wav")),
                  std::string(voice) != "beeper")
            << voice;

    // Without the mix, named as the mix would be under --all-songs.
    ASSERT_EQ(
        RunTool(dir, "--stems-only --all-songs -t 0.5 -o all '" + Songs + "Alien8.AY'").Status, 0);
    std::vector<std::string> names, expected;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path("all")))
        names.push_back(entry.path().filename().string());
    for (int song = 1; song <= 5; ++song)
        for (const char* voice : voices) {
            const std::string name = "Alien8-0" + std::to_string(song) + "-" + voice + ".wav";
            expected.push_back(name);
            ExpectWavHeader(ReadFileBytes(dir.Path("all/" + name)), 1, 22050, name);
        }
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

} // namespace
