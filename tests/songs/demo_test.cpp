// The project's own demo songs (assets/demo): the committed files are exactly
// what scripts/build-demo makes from the sources; they open with the expected
// songs; every song sounds, on the machine it was written for; the Amstrad CPC
// build of the tune plays the same pitches as the ZX Spectrum build; and the
// first buffers of every song still hash to the values in golden.txt.
//
// scripts/golden-demo rewrites golden.txt by running the golden test with
// ZIRRAFON_GOLDEN_OUT naming the file to write.
#include "songs/session.h"
#include "songs/song_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string DemoDir = ZIRRAFON_SOURCE_DIR "/assets/demo/";
constexpr int SampleRate = 44100;
constexpr int TenSecondBuffers = 28; // 28 x 16320 frames = 10.36 s
constexpr int GoldenBuffers = 4;

const char* const AyNames[3] = {"Zirrafon Theme (ZX Spectrum 128)", "Zirrafon Theme (Amstrad CPC)",
                                "Beeper Interlude (ZX Spectrum)"};

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zirrafon-demo-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// One song of a demo file, started and rendered the way the player does it
// (default chip mode, full volume, default beeper level).
struct DemoRender {
    SongSession Session;
    std::vector<int16_t> Samples;
};

std::unique_ptr<DemoRender> Render(const std::string& file, int song, int buffers) {
    auto r = std::make_unique<DemoRender>();
    std::string formatError;
    const FormatErrorSink sink = [&formatError](const std::string& text) { formatError = text; };
    const std::string path = DemoDir + file;
    if (!r->Session.Open(path, SongKindByExtension(path), sink))
        throw std::runtime_error(file + ": " + formatError);
    SetChipAndChannels(r->Session.Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
    SongStream stream(r->Session);
    stream.Start(song);
    r->Samples = stream.Take(static_cast<uint64_t>(buffers) * BufferValues / 2);
    return r;
}

// The four demo songs, each rendered (10 s) at most once for the tests below.
struct DemoSong {
    const char* File;
    int Song;
    const char* Label; // as in golden.txt
};
const DemoSong DemoSongs[4] = {
    {"demo.ay", 0, "demo.ay 1"},
    {"demo.ay", 1, "demo.ay 2"},
    {"demo.ay", 2, "demo.ay 3"},
    {"demo.aym", 0, "demo.aym 1"},
};

class DemoRenders : public ::testing::Test {
  protected:
    static void TearDownTestSuite() {
        for (auto& r : renders_) r.reset();
    }
    static const DemoRender& Song(int i) {
        if (!renders_[i])
            renders_[i] = Render(DemoSongs[i].File, DemoSongs[i].Song, TenSecondBuffers);
        return *renders_[i];
    }

  private:
    static inline std::unique_ptr<DemoRender> renders_[4];
};

// FNV-1a, 64 bits, over the samples as little-endian bytes.
uint64_t Fnv1a64(const int16_t* samples, size_t count) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = static_cast<uint16_t>(samples[i]);
        for (const uint8_t byte : {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}) {
            h ^= byte;
            h *= 0x100000001B3ull;
        }
    }
    return h;
}

// Energy of the mono mix at the frequency of every semitone from C3 to B6,
// for consecutive windows of 0.2 s (Goertzel filters); each window's profile
// is scaled to a sum of 1, so that only the distribution of pitches counts.
std::vector<double> PitchProfile(const std::vector<int16_t>& samples, int firstNote, int notes) {
    constexpr int Window = SampleRate / 5;
    const size_t frames = samples.size() / 2;
    std::vector<double> profile;
    for (size_t start = 0; start + Window <= frames; start += Window) {
        std::vector<double> row(notes);
        for (int n = 0; n < notes; ++n) {
            const double f = 440.0 * std::pow(2.0, (firstNote + n - 46) / 12.0);
            const double coeff = 2.0 * std::cos(2.0 * std::numbers::pi * f / SampleRate);
            double s1 = 0, s2 = 0;
            for (size_t i = start; i < start + Window; ++i) {
                const double x = samples[2 * i] + samples[2 * i + 1];
                const double s0 = x + coeff * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            row[n] = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        }
        double sum = 0;
        for (double v : row) sum += v;
        for (double v : row) profile.push_back(sum > 0 ? v / sum : 0);
    }
    return profile;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = std::min(a.size(), b.size());
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
    ma /= n, mb /= n;
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

// Every row "<file> <song> <hash>" of golden.txt; '#' starts a comment line.
std::map<std::string, std::string> ReadGolden(const std::string& path) {
    std::map<std::string, std::string> golden;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string file, song, hash;
        if (fields >> file >> song >> hash) golden[file + " " + song] = hash;
    }
    return golden;
}

TEST(DemoBuild, ScriptRebuildsTheCommittedFilesExactly) {
    ScratchDir out;
    const std::string command = "'" ZIRRAFON_SOURCE_DIR "/scripts/build-demo' '" + out.Path() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* name : {"demo.ay", "demo.aym"}) {
        const std::vector<uint8_t> built = ReadBytes(out.Path() + "/" + name);
        const std::vector<uint8_t> committed = ReadBytes(DemoDir + name);
        EXPECT_EQ(built.size(), committed.size()) << name;
        EXPECT_TRUE(built == committed) << name << " differs from the committed file";
    }
}

TEST(DemoFiles, OpenWithTheirSongsAndTexts) {
    SongList list;
    std::string error;
    const FormatErrorSink sink = [&error](const std::string& text) { error = text; };
    ASSERT_TRUE(OpenAYFile(list, DemoDir + "demo.ay", sink)) << error;
    EXPECT_EQ(list.SongCount, 3);
    EXPECT_EQ(list.FirstSong, 0);
    EXPECT_EQ(list.AuthorText, "Zirrafon project");
    EXPECT_EQ(list.MiscText, "Demo tune written for the Zirrafon player");
    EXPECT_EQ(list.SongNameText, AyNames[0]);
    ASSERT_EQ(list.SongNames.size(), 3u);
    ASSERT_EQ(list.Songs.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list.SongNames[i], AyNames[i]);
        ASSERT_EQ(list.Songs[i].Blocks.size(), 1u);
        EXPECT_EQ(list.Songs[i].Blocks[0].Address, 0x8000);
        EXPECT_EQ(list.Songs[i].Init, 0x8000);
    }
    // Both builds of the tune play the same bars at the same speed: 26 bars
    // of 16 rows of 6 frames. The beeper piece runs from INIT alone.
    EXPECT_EQ(list.Songs[0].SongLength, 2496);
    EXPECT_EQ(list.Songs[1].SongLength, 2496);
    EXPECT_EQ(list.Songs[0].Interrupt, 0x8003);
    EXPECT_EQ(list.Songs[1].Interrupt, 0x8003);
    EXPECT_EQ(list.Songs[2].Interrupt, 0);
    EXPECT_GT(list.Songs[2].SongLength, 15 * 50);
    EXPECT_LT(list.Songs[2].SongLength, 20 * 50);

    SoundEngine engine;
    SongList aym;
    ASSERT_TRUE(OpenAYMFile(aym, DemoDir + "demo.aym", sink, engine)) << error;
    EXPECT_EQ(aym.SongCount, 1);
    EXPECT_EQ(aym.SongNameText, "Zirrafon Theme");
    EXPECT_EQ(aym.AuthorText, "Zirrafon project");
    EXPECT_EQ(aym.AYMHeader.InitAddress(), 0x8000);
    EXPECT_EQ(aym.AYMHeader.PlayAddress(), 0x8003);
}

TEST_F(DemoRenders, EverySongSoundsThroughoutTenSeconds) {
    for (int i = 0; i < 4; ++i) {
        const std::vector<int16_t>& s = Song(i).Samples;
        for (int second = 0; second < 10; ++second) {
            const auto from = s.begin() + static_cast<ptrdiff_t>(second) * 2 * SampleRate;
            const auto [low, high] = std::minmax_element(from, from + 2 * SampleRate);
            EXPECT_GT(*high - *low, 4000) << DemoSongs[i].Label << ", second " << second;
        }
    }
}

TEST_F(DemoRenders, ChipSongsDriveTheMachineTheyWereBuiltFor) {
    EXPECT_EQ(Song(0).Session.Engine->Chip.Machine.OutHandler, &OutSpectrum);
    EXPECT_EQ(Song(1).Session.Engine->Chip.Machine.OutHandler, &OutCpc);
    EXPECT_EQ(Song(1).Session.Engine->Chip.Machine.TicksPerTState, CpcTicksPerTState);
    EXPECT_EQ(Song(3).Session.Engine->Chip.Machine.OutHandler, &OutSpectrum);
    // The chip alone only pushes the signal up; the beeper would pull it
    // down. None of the chip songs touches the beeper, not even while the
    // CPC build's first writes are still being told apart from the beeper.
    for (int i : {0, 1, 3}) {
        const std::vector<int16_t>& s = Song(i).Samples;
        EXPECT_GE(*std::min_element(s.begin(), s.end()), 0) << DemoSongs[i].Label;
    }
}

TEST_F(DemoRenders, BeeperPieceUsesOnlyTheBeeper) {
    const DemoRender& r = Song(2);
    EXPECT_EQ(r.Session.Engine->Chip.Machine.OutHandler, &OutAuto);
    for (int reg = 0; reg < StoredRegisters; ++reg)
        EXPECT_EQ(r.Session.Engine->Chip.Registers.Values[reg], 0) << "R" << reg;
    const auto [low, high] = std::minmax_element(r.Samples.begin(), r.Samples.end());
    EXPECT_EQ(*high, 0); // nothing from the chip
    EXPECT_LT(*low, -12000);
    // A square wave, not a click now and then: the beeper is on for a good
    // share of the time.
    const auto on =
        std::count_if(r.Samples.begin(), r.Samples.end(), [](int16_t v) { return v < -8000; });
    EXPECT_GT(on, static_cast<ptrdiff_t>(r.Samples.size() / 4));
}

TEST_F(DemoRenders, CpcBuildPlaysTheSpectrumBuildsPitches) {
    // C3 .. B6 covers the melody, the arpeggios and the bass's harmonics.
    constexpr int FirstNote = 25, Notes = 48;
    const std::vector<double> zx = PitchProfile(Song(0).Samples, FirstNote, Notes);
    const std::vector<double> cpc = PitchProfile(Song(1).Samples, FirstNote, Notes);
    ASSERT_EQ(zx.size(), cpc.size());
    const double same = Correlation(zx, cpc);
    EXPECT_GT(same, 0.9);
    // The measure tells pitches apart: the same music a semitone off
    // correlates far less.
    std::vector<double> shifted(zx.size());
    for (size_t i = 0; i < zx.size(); ++i) shifted[i] = (i % Notes) + 1 < Notes ? zx[i + 1] : 0;
    EXPECT_LT(Correlation(shifted, cpc), same - 0.4);
}

// The player keeps one engine for its whole run: whatever a song leaves in
// it (the CPC's timing, a running envelope, the beeper on, an AYM file's
// memory) must not reach the next song, so every song sounds as it does
// when it is the first.
TEST_F(DemoRenders, EverySongSoundsAloneAfterAnother) {
    SongSession session;
    SetChipAndChannels(session.Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
    SongStream stream(session);
    std::string openFile;
    // CPC to Spectrum, Spectrum to beeper, beeper to AYM, AYM back to the CPC.
    for (const int i : {1, 0, 2, 3, 1}) {
        const DemoSong& d = DemoSongs[i];
        if (openFile != d.File) {
            openFile = d.File;
            ASSERT_TRUE(session.Open(DemoDir + d.File, SongKindByExtension(d.File), nullptr));
        }
        stream.Start(d.Song);
        const std::vector<int16_t> samples = stream.Take(GoldenBuffers * BufferValues / 2);
        EXPECT_TRUE(std::equal(samples.begin(), samples.end(), Song(i).Samples.begin()))
            << d.Label << " sounds otherwise after another song";
    }
}

// The player asks for the rest of a buffer after a song that ended inside
// it, zirrafon-render for whole buffers: however a song is asked for, it is
// the same song, cut and faded at the same frames.
TEST_F(DemoRenders, AStreamHandsOutTheSameSongInPartsOfAnySize) {
    const SongTiming timing{50000, 20000};
    std::vector<int16_t> expected(Song(1).Samples.begin(), Song(1).Samples.begin() + 100000);
    ApplyFade(expected.data(), timing.Frames, 0, timing);
    for (const uint32_t part : {2u, 1000u, 16322u, uint32_t{BufferValues}}) {
        SongSession session;
        ASSERT_TRUE(session.Open(DemoDir + "demo.ay", SongKind::AY, nullptr));
        SetChipAndChannels(session.Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
        SongStream stream(session);
        stream.Start(1, timing);
        std::vector<int16_t> got, buffer(part);
        while (const uint32_t n = stream.Fill(buffer.data(), part))
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        EXPECT_TRUE(stream.Ended()) << part;
        EXPECT_EQ(stream.Frames(), timing.Frames) << part;
        EXPECT_TRUE(got == expected) << "in parts of " << part;
    }
}

TEST_F(DemoRenders, FirstBuffersMatchTheGoldenHashes) {
    std::map<std::string, std::string> hashes;
    for (int i = 0; i < 4; ++i) {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx",
                      static_cast<unsigned long long>(
                          Fnv1a64(Song(i).Samples.data(), GoldenBuffers * BufferValues)));
        hashes[DemoSongs[i].Label] = text;
    }
    if (const char* out = std::getenv("ZIRRAFON_GOLDEN_OUT")) {
        std::ofstream file(out);
        file << "# FNV-1a 64 of the first " << GoldenBuffers << " output buffers ("
             << GoldenBuffers * BufferValues << " 16-bit values, little-endian) of each demo\n"
             << "# song, rendered from its start in chip mode 2 at full volume.\n"
             << "# Written by scripts/golden-demo; do not edit.\n";
        for (const DemoSong& d : DemoSongs) file << d.Label << " " << hashes[d.Label] << "\n";
        ASSERT_TRUE(file.good()) << out;
        GTEST_SKIP() << "golden hashes written to " << out;
    }
    const std::map<std::string, std::string> golden = ReadGolden(DemoDir + "golden.txt");
    ASSERT_EQ(golden.size(), 4u) << "assets/demo/golden.txt: run scripts/golden-demo";
    for (const DemoSong& d : DemoSongs) {
        const auto it = golden.find(d.Label);
        ASSERT_NE(it, golden.end()) << d.Label;
        EXPECT_EQ(hashes[d.Label], it->second) << d.Label;
    }
}

} // namespace
