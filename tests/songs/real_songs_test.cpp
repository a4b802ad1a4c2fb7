// Real song files: every song opens and plays; and damaged copies of them
// (every truncation, random byte changes) end in acceptance or a clear error,
// never in a crash, a hang or a read outside the file or the memory.
#include "../formats/song_files.h"
#include "../fuzz/fuzz_play.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string ext = entry.path().extension().string();
        if (strcasecmp(ext.c_str(), ".ay") == 0 || strcasecmp(ext.c_str(), ".aym") == 0)
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> RealSongs() { return FilesIn(ZIRRAFON_TESTDATA_DIR "/ay/"); }

// Inputs that made the fuzz targets fail once, kept here and in the shared
// test data: each plays as the definition plays it, with the settings changing
// between buffers, or is refused.
std::vector<std::string> FuzzFindings() {
    std::vector<std::string> files;
    for (const char* folder :
         {ZIRRAFON_SOURCE_DIR "/tests/fuzz/regressions", ZIRRAFON_TESTDATA_DIR "/crashes"}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The real songs, the project's demo songs (when they are built), two
// built files (an AYM file and an AY file whose pointers point backwards) and
// two real tracker modules (a Pro Tracker 3 module that reads past its own
// data and a Pro Tracker 2 module).
std::vector<std::string> DamageSources(const TempDir& dir) {
    std::vector<std::string> files = RealSongs();
    files.push_back(ZIRRAFON_TESTDATA_DIR "/pt3/winky.pt3");
    files.push_back(ZIRRAFON_TESTDATA_DIR "/pt3/13.pt2");
    for (const std::string& demo : FilesIn(ZIRRAFON_SOURCE_DIR "/assets/demo/"))
        files.push_back(demo);
    AYMFilePlan aym;
    aym.Name = "built";
    aym.Init = 0x8000;
    aym.Play = 0x8010;
    aym.Last = 3;
    aym.Blocks = {{0x8000, 4, {0x32, 0x02, 0x90, 0xC9}},
                  {0x8010, 8, {0x2A, 0x00, 0x90, 0x23, 0x22, 0x00, 0x90, 0xC9}},
                  {0xC000, 64, Bytes(64, 0x76)}};
    files.push_back(dir.Write("built.aym", BuildAYM(aym)));
    AYFilePlan ay;
    ay.Author = "built";
    ay.Reversed = true;
    for (int i = 0; i < 3; ++i) {
        AYSongPlan s;
        s.Name = "song";
        s.Interrupt = 0x8010;
        s.Blocks = {{0x8000, 1, {0xC9}},
                    {0x8010, 8, {0x2A, 0x00, 0x90, 0x23, 0x22, 0x00, 0x90, 0xC9}}};
        ay.Songs.push_back(s);
    }
    files.push_back(dir.Write("built.ay", BuildAY(ay)));
    return files;
}

std::string Name(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

TEST(RealSongs, EverySongPlaysTenSecondsOnTheSpectrum) {
    const std::vector<std::string> files = RealSongs();
    ASSERT_FALSE(files.empty());
    constexpr int Buffers = 10 * 44100 / (BufferValues / 2) + 1;
    int chipSongs = 0;
    for (const std::string& file : files) {
        SongSession opened;
        ASSERT_TRUE(OpenSong(opened, file)) << file;
        for (int song = 0; song < opened.List.SongCount; ++song) {
            SCOPED_TRACE(Name(file) + " #" + std::to_string(song + 1));
            SongSession session;
            ASSERT_TRUE(OpenSong(session, file));
            SoundEngine* engine = session.Engine.get();
            SetChipAndChannels(engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
            SongStream stream(session);
            stream.Start(song);
            std::vector<int16_t> buffer(BufferValues);
            bool sound = false;
            for (int i = 0; i < Buffers; ++i) {
                ASSERT_EQ(stream.Fill(buffer.data(), BufferValues), uint32_t{BufferValues});
                sound = sound ||
                        std::any_of(buffer.begin(), buffer.end(), [](int16_t v) { return v != 0; });
            }
            EXPECT_TRUE(sound);
            // Songs for the beeper alone never address the chip, so the machine
            // stays undecided for them; every song that uses the chip is found
            // to be a Spectrum song.
            const bool chipUntouched = std::all_of(std::begin(engine->Chip.Registers.Values),
                                                   std::end(engine->Chip.Registers.Values),
                                                   [](uint8_t r) { return r == 0; });
            if (engine->Chip.Machine.OutHandler != &OutAuto || !chipUntouched) {
                EXPECT_EQ(engine->Chip.Machine.OutHandler, &OutSpectrum);
                ++chipSongs;
            }
        }
    }
    EXPECT_GE(chipSongs, 40); // the test songs hold 41 chip songs and 18 beeper songs
}

// Opens `file`; when accepted starts its last and first songs and, when
// `render`, renders a buffer. Only the readers' own errors may occur.
void OpenAndStart(const std::string& file, bool render, SongSession& session) {
    try {
        if (!OpenSong(session, file)) return;
        session.LoadSong(session.List.SongCount - 1);
        if (!render) {
            session.LoadSong(session.List.FirstSong);
            return;
        }
        SongStream stream(session);
        stream.Start(session.List.FirstSong);
        std::vector<int16_t> buffer(BufferValues);
        EXPECT_EQ(stream.Fill(buffer.data(), BufferValues), uint32_t{BufferValues});
    } catch (const SongIOError& e) {
        EXPECT_STRNE(e.what(), "");
    }
}

TEST(DamagedSongs, FuzzFindingsPlayAsTheDefinitionOrAreRefused) {
    const std::vector<std::string> files = FuzzFindings();
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        const Bytes bytes = ReadFileBytes(file);
        uint8_t control[4];
        fuzzplay::ControlBytes(bytes.data(), bytes.size(), control);
        for (const SongKind kind : {SongKind::AY, SongKind::AYM}) {
            try {
                EXPECT_NE(fuzzplay::PlayBothWays(file, kind, control), fuzzplay::Outcome::Differed)
                    << Name(file);
            } catch (const SongIOError& e) {
                EXPECT_STRNE(e.what(), "");
            }
        }
    }
}

TEST(DamagedSongs, EveryTruncationIsAcceptedOrRefusedCleanly) {
    TempDir dir;
    SongSession session; // one engine for all, as the player keeps one
    for (const std::string& source : DamageSources(dir)) {
        SCOPED_TRACE(Name(source));
        const Bytes bytes = ReadFileBytes(source);
        const std::string copy =
            dir.Write("cut" + std::filesystem::path(source).extension().string(), bytes);
        for (size_t size = bytes.size(); size-- > 0;) {
            ASSERT_EQ(truncate(copy.c_str(), off_t(size)), 0);
            OpenAndStart(copy, size % 97 == 0, session);
            if (HasFailure()) FAIL() << "cut to " << size << " bytes";
        }
    }
}

TEST(DamagedSongs, RandomByteChangesAreAcceptedOrRefusedCleanly) {
    TempDir dir;
    SongSession session;
    std::mt19937 random(20240611);
    for (const std::string& source : DamageSources(dir)) {
        SCOPED_TRACE(Name(source));
        const Bytes bytes = ReadFileBytes(source);
        for (int mutant = 0; mutant < 48; ++mutant) {
            Bytes damaged = bytes;
            const int changes = 1 + int(random() % 4);
            for (int i = 0; i < changes; ++i) {
                // Half of the changes hit the header and tables at the start.
                const size_t span =
                    random() % 2 ? std::min<size_t>(damaged.size(), 256) : damaged.size();
                damaged[random() % span] = uint8_t(random());
            }
            const std::string copy =
                dir.Write("damaged" + std::filesystem::path(source).extension().string(), damaged);
            OpenAndStart(copy, true, session);
            if (HasFailure()) FAIL() << "mutant " << mutant;
        }
    }
}

} // namespace
