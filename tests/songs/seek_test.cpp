// Seeking in a song stream: wherever a stream goes on from, it hands out
// exactly what a play from the song's start hands out there, faded alike,
// and past the song's end the song is over.
#include "../formats/song_files.h"
#include "../formats/stream_writer.h"

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

// A YM6 song of 10 s that loops from 2 s, busy with timer effects that run
// across frames, buffers and snapshots: a SID voice on A, a digidrum on B
// and, now and then, a sync-buzzer on A, over tones that move every frame.
Bytes BusyYM6() {
    YMPlan p;
    p.Attributes = 4; // 4-bit drums
    p.Drums = {Bytes(300, 15), Bytes(120, 7)};
    p.Loop = 100;
    for (int f = 0; f < 500; ++f) {
        StreamFrame r(16, 0);
        r[0] = static_cast<uint8_t>(f * 7);
        r[2] = static_cast<uint8_t>(f * 3 + 40);
        r[4] = static_cast<uint8_t>(255 - f);
        r[5] = static_cast<uint8_t>(f % 3);
        r[6] = static_cast<uint8_t>(f % 31);
        r[7] = f % 40 < 30 ? 0x38 : 0x30; // noise on C now and then
        r[10] = 10;
        r[11] = static_cast<uint8_t>(f % 16 + 1);
        r[13] = f % 25 == 0 ? 0x0C : 0xFF;
        if (f % 100 < 80) {
            r[1] = 0x10;                                    // SID on A
            r[6] |= static_cast<uint8_t>((1 + f % 3) << 5); // predivisor 4, 10 or 16
            r[14] = static_cast<uint8_t>(60 + f % 90);
            r[8] = 13;
        } else {
            r[1] = 0xD0; // sync-buzzer on A, in envelope mode
            r[6] |= 6 << 5;
            r[14] = 90;
            r[8] = 0x10;
        }
        if (f % 15 < 9) { // a drum on B: R9 names it
            r[3] = 0x60;
            r[8] = static_cast<uint8_t>((r[8] & 0x1F) | 1 << 5);
            r[15] = static_cast<uint8_t>(100 + f % 40);
            r[9] = static_cast<uint8_t>(f % 2);
        } else {
            r[9] = 12;
        }
        p.Frames.push_back(r);
    }
    return MakeYM(p);
}

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
    const TempDir dir;
    const Song songs[] = {
        {dir.Write("busy.ym", BusyYM6()), 0, 1, VolumeSteps, 16384, 1u << VoiceC, true},
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
