// zirrafon-render through its real binary: WAV output, song choice, listing,
// exit codes, and samples equal to a direct rendering with the engine.
#include "song_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/wait.h>

namespace {

const std::string Tool = ZIRRAFON_BINARY_DIR "/zirrafon-render";
const std::string Songs = ZIRRAFON_TESTDATA_DIR "/ay/";

struct ToolRun {
    int Status = -1;
    std::string Out, Err;
};

// Runs the tool in `dir` with `args` (already shell-quoted where needed).
ToolRun RunTool(const TempDir& dir, const std::string& args) {
    const std::string command = "cd '" + dir.Path("") + "' && '" + Tool + "' " + args + " > '" +
                                dir.Path("stdout") + "' 2> '" + dir.Path("stderr") + "'";
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
    ASSERT_EQ(wav.size(), 44u + 88200 * 4);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(LE32(wav, 4), wav.size() - 8);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(LE32(wav, 16), 16u);
    EXPECT_EQ(LE32(wav, 20), 1u | 2u << 16); // PCM, two channels
    EXPECT_EQ(LE32(wav, 24), 44100u);
    EXPECT_EQ(LE32(wav, 28), 44100u * 4);
    EXPECT_EQ(LE32(wav, 32), 4u | 16u << 16); // 4 bytes per frame, 16 bits
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(LE32(wav, 40), 88200u * 4);
    EXPECT_EQ(Samples(wav), RenderDirect(Songs + "Exolon.AY", 0, 88200));

    // Another song, another chip, a fade over the last second, to standard output.
    const ToolRun song =
        RunTool(dir, "--song 3 -t 1.5 --fade 1 -m ymacb -o - '" + Songs + "Exolon.AY'");
    ASSERT_EQ(song.Status, 0) << song.Err;
    const std::vector<int16_t> faded = Samples(Bytes(song.Out.begin(), song.Out.end()));
    const std::vector<int16_t> direct = RenderDirect(Songs + "Exolon.AY", 2, 66150, 5);
    ASSERT_EQ(faded.size(), direct.size());
    for (size_t frame = 0; frame < 66150; ++frame)
        for (int side = 0; side < 2; ++side) {
            const size_t i = 2 * frame + side;
            const int expected =
                frame < 22050 ? direct[i] : int(direct[i] * int64_t(66150 - frame) / 44100);
            ASSERT_EQ(faded[i], expected) << frame;
        }
}

TEST(RenderTool, NamesFilesAfterTheSongAndRendersInParallelAlike) {
    TempDir dir;
    const std::string file = "'" + Songs + "Alien8.AY'";
    ASSERT_EQ(RunTool(dir, "-t 0.5 --all-songs " + file).Status, 0);
    ASSERT_EQ(RunTool(dir, "-t 0.5 --all-songs -j 2 -o folder " + file).Status, 0);
    for (int song = 1; song <= 5; ++song) {
        const std::string name = "Alien8-0" + std::to_string(song) + ".wav";
        const Bytes one = ReadFileBytes(dir.Path(name));
        EXPECT_EQ(one.size(), 44u + 22050 * 4) << name;
        EXPECT_EQ(one, ReadFileBytes(dir.Path("folder/" + name))) << name;
    }
    // Without -t: the header's length (Alien8 #2: 175 frames = 3.5 s).
    ASSERT_EQ(RunTool(dir, "-s 2 " + file).Status, 0);
    EXPECT_EQ(ReadFileBytes(dir.Path("Alien8.wav")).size(), 44u + 154350 * 4);
}

TEST(RenderTool, RefusesBadFilesAndBadUsage) {
    TempDir dir;
    dir.Write("text.ay", Bytes(40, 'x'));
    const ToolRun bad = RunTool(dir, "-t 1 text.ay '" + Songs + "Alien8.AY'");
    EXPECT_EQ(bad.Status, 1);
    EXPECT_NE(bad.Err.find("text.ay: Not .AY file"), std::string::npos) << bad.Err;
    EXPECT_EQ(ReadFileBytes(dir.Path("Alien8.wav")).size(),
              44u + 44100 * 4); // the good one still renders

    AYFilePlan beyond;
    beyond.Songs.resize(1);
    beyond.Songs[0].Blocks = {{0x8000, 2, {1, 2}, 3}}; // its data would start past the end
    dir.Write("beyond.ay", BuildAY(beyond));
    const ToolRun start = RunTool(dir, "-t 1 beyond.ay");
    EXPECT_EQ(start.Status, 1);
    EXPECT_NE(start.Err.find("beyond.ay #1: Read beyond end of file"), std::string::npos)
        << start.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("beyond.wav")));

    const ToolRun missing = RunTool(dir, "--info nothing.aym");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("nothing.aym: File not found"), std::string::npos) << missing.Err;
    const ToolRun noSong = RunTool(dir, "-s 6 -t 1 '" + Songs + "Alien8.AY'");
    EXPECT_EQ(noSong.Status, 1);
    EXPECT_NE(noSong.Err.find("Alien8.AY: no song 6"), std::string::npos) << noSong.Err;

    for (const char* args :
         {"", "--frobnicate x.ay", "-m AYXYZ x.ay", "-v 40 x.ay", "-b 32769 x.ay", "-t 0 x.ay",
          "-t abc x.ay", "-s", "--info --bench x.ay"})
        EXPECT_EQ(RunTool(dir, args).Status, 2) << args;
    const ToolRun help = RunTool(dir, "--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: zirrafon-render"), std::string::npos);
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

    const ToolRun bench = RunTool(dir, "--bench -t 1 -s 1 " + file);
    EXPECT_EQ(bench.Status, 0) << bench.Err;
    EXPECT_NE(bench.Out.find("Exolon.AY #1: "), std::string::npos) << bench.Out;
    EXPECT_NE(bench.Out.find("x real time, spectrum"), std::string::npos) << bench.Out;
}

} // namespace
