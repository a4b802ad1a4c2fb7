// Seeking in a song stream: wherever a stream goes on from, it hands out
// exactly what a play from the song's start hands out there, faded alike,
// and past the song's end the song is over.
#include "song_files.h"

#include <gtest/gtest.h>

namespace {

const std::string Songs = ZIRRAFON_TESTDATA_DIR "/ay/";
const std::string Demo = ZIRRAFON_SOURCE_DIR "/assets/demo/";
constexpr uint64_t Second = 44100, BufferFrames = BufferValues / 2;

struct Song {
    std::string File;
    int Index;
    int Mode, Volume, Beeper;
    unsigned Muted;
    bool Ahead; // mapped on a worker thread, as the player does
};

// A session with the song's file open and the settings applied.
std::unique_ptr<SongSession> Open(const Song& song) {
    auto session = OpenSongFile(song.File);
    ChipState& c = session->Engine->Chip;
    c.Mix.BeeperSetting = song.Beeper;
    c.Mix.MutedVoices = static_cast<uint8_t>(song.Muted);
    SetChipAndChannels(c, song.Mode, song.Volume, VolumeSteps);
    return session;
}

TEST(Seek, GoesOnFromAnyFrameAsAPlayFromTheStart) {
    const SongTiming timing{30 * Second, 5 * Second};
    const Song songs[] = {
        {Songs + "2BY_OLEG.ay", 0, DefaultChipMode, VolumeSteps, 16384, 0, true},
        {Songs + "Beeper_Demo_part_1.ay", 0, 11, 20, 8000, 1u << VoiceA, true},
        {Songs + "Exolon.AY", 1, 5, 30, 16384, 0, false}, // beeper, mapped by the seek
        {Songs + "AcousticDreams.ay", 3, 0, VolumeSteps, 0, 1u << VoiceB, true},
        {Demo + "demo.ay", 1, 8, VolumeSteps, 16384, 0, true}, // a CPC song
        {Demo + "demo.ay", 2, DefaultChipMode, VolumeSteps, 16384, 1u << VoiceBeeper, true},
        {Demo + "demo.aym", 0, 3, 10, 16384, 0, true},
    };
    // In turn on one stream: where it seeks to, and how many frames it takes.
    const struct {
        const char* What;
        uint64_t To, Frames;
    } steps[] = {
        {"forward, into a buffer", 20 * Second + 123, 40000},
        {"backward", 3 * Second + 7, 40000},
        {"across a snapshot", SongSnapshots::BuffersApart * BufferFrames - 1000, 3000},
        {"to the start", 0, 20000},
        {"to a buffer's start", 9 * BufferFrames, BufferFrames + 2},
        {"into the fade, to the end", 27 * Second + 5, 3 * Second + 100},
        {"past the end", timing.Frames + 5, 100},
        {"back from the end", 10 * Second + 1, 2 * BufferFrames},
    };
    for (const Song& song : songs) {
        SCOPED_TRACE(song.File + " #" + std::to_string(song.Index + 1));
        std::vector<int16_t> expected;
        {
            auto session = Open(song);
            SongStream stream(*session);
            stream.Start(song.Index, timing);
            expected = stream.Take(timing.Frames);
            ASSERT_EQ(expected.size(), 2 * timing.Frames);
        }
        auto session = Open(song);
        SongStream stream(*session);
        stream.MapSongsAhead(song.Ahead);
        stream.Start(song.Index, timing);
        stream.Take(Second); // playing when the first seek comes
        for (const auto& step : steps) {
            SCOPED_TRACE(step.What);
            stream.Seek(step.To);
            const std::vector<int16_t> got = stream.Take(step.Frames);
            const uint64_t from = std::min(step.To, timing.Frames);
            const uint64_t frames = std::min(step.Frames, timing.Frames - from);
            ASSERT_EQ(got.size(), 2 * frames);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + 2 * from));
            EXPECT_EQ(stream.Ended(), from + step.Frames >= timing.Frames);
            EXPECT_EQ(stream.Frames(), from + frames);
        }
    }
}

} // namespace
