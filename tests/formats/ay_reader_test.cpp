// The ".ay" reader: identity checks, strings, the song table, block cuts and
// the handling of files that end too early.
#include "song_files.h"

#include <gtest/gtest.h>

namespace {

AYSongPlan Song(const std::string& name, std::vector<AYBlockPlan> blocks = {}) {
    AYSongPlan s;
    s.Name = name;
    s.Blocks = std::move(blocks);
    return s;
}

class AYReader : public ::testing::Test {
  protected:
    // Opens `bytes` as a file; the reader's format messages land in `log`.
    bool Open(const Bytes& bytes) {
        return OpenAYFile(list, dir.Write("song.ay", bytes), log.Sink());
    }
    bool Open(const AYFilePlan& plan) { return Open(BuildAY(plan)); }

    TempDir dir;
    MessageLog log;
    SongList list;
};

TEST_F(AYReader, RefusesOtherFilesWithTheFirstFailingCheck) {
    AYFilePlan plan;
    plan.Songs = {Song("a")};
    plan.Id = "ZXAYAMAD";
    EXPECT_FALSE(Open(plan));
    plan.Id = "ZXAXEMUL";
    EXPECT_FALSE(Open(plan));
    plan.Id = "PSG EMUL";
    EXPECT_FALSE(Open(plan));
    EXPECT_EQ(log.Texts, (std::vector<std::string>{"Not Z80 emulation .AY file", "Not .AY file",
                                                   "Not .AY file"}));
    EXPECT_FALSE(list.FileOpen);
    EXPECT_FALSE(list.SongFile.IsOpen());
}

TEST_F(AYReader, FileSystemErrorsAreIOErrorsNotFormatMessages) {
    // Shorter than the header, even with the right identity.
    EXPECT_EQ(IOErrorOf([&] {
                  Open(Bytes{'Z', 'X', 'A', 'Y', 'E', 'M', 'U', 'L', 0, 0});
              }),
              "Read beyond end of file");
    EXPECT_EQ(IOErrorOf([&] { OpenAYFile(list, dir.Path("missing.ay"), log.Sink()); }),
              "File not found");
    EXPECT_EQ(IOErrorOf([&] { OpenAYFile(list, dir.Path(""), log.Sink()); }), "Is a directory");
    EXPECT_TRUE(log.Texts.empty());
    EXPECT_FALSE(list.FileOpen);
    EXPECT_FALSE(list.SongFile.IsOpen());
}

TEST_F(AYReader, ReadsTextsAndEverySongOfAFullTable) {
    AYFilePlan plan;
    plan.Author = "Author \xC4\xE6"; // bytes of any code page are kept as they are
    plan.Misc = "";
    plan.FirstSong = 200;
    for (int i = 0; i < 256; ++i) {
        AYSongPlan s = Song("song " + std::to_string(i), {{uint16_t(0x8000 + i), 1, {uint8_t(i)}}});
        s.HiReg = uint8_t(i);
        s.LoReg = uint8_t(~i);
        s.Stack = uint16_t(0xF000 + i);
        s.Init = uint16_t(i == 7 ? 0 : 0x9000 + i);
        s.Interrupt = uint16_t(0xA000 + i);
        s.Length = uint16_t(3000 + i);
        s.Fade = uint16_t(i);
        plan.Songs.push_back(s);
    }
    ASSERT_TRUE(Open(plan));
    EXPECT_TRUE(list.FileOpen);
    EXPECT_EQ(list.SongCount, 256);
    EXPECT_EQ(list.FirstSong, 200);
    EXPECT_EQ(list.AuthorText, "Author \xC4\xE6");
    EXPECT_EQ(list.MiscText, "");
    EXPECT_EQ(list.SongNameText, "song 200");
    ASSERT_EQ(list.Songs.size(), 256u);
    for (int i = 0; i < 256; ++i) {
        const TAYSong& s = list.Songs[i];
        EXPECT_EQ(list.SongNames[i], "song " + std::to_string(i));
        EXPECT_EQ(s.HiReg, i);
        EXPECT_EQ(s.LoReg, uint8_t(~i));
        EXPECT_EQ(s.Stack, 0xF000 + i);
        EXPECT_EQ(s.Init, i == 7 ? 0x8007 : 0x9000 + i);
        EXPECT_EQ(s.Interrupt, 0xA000 + i);
        EXPECT_EQ(s.SongLength, 3000 + i);
        EXPECT_EQ(s.FadeLength, i);
        ASSERT_EQ(s.Blocks.size(), 1u);
        EXPECT_EQ(s.Blocks[0].Address, 0x8000 + i);
        EXPECT_EQ(list.SongFile.Size() - s.Blocks[0].Offset, 256u - i);
    }

    plan.Songs.resize(1);
    ASSERT_TRUE(Open(plan)); // a second file replaces the list
    EXPECT_EQ(list.SongCount, 1);
    EXPECT_EQ(list.Songs.size(), 1u);
    EXPECT_EQ(list.FirstSong, 0); // 200 names no song of this file
    EXPECT_EQ(list.SongNameText, "song 0");
}

TEST_F(AYReader, BackwardPointersReadTheSameAsForwardOnes) {
    AYFilePlan plan;
    plan.Author = "me";
    plan.Misc = "misc";
    plan.FirstSong = 1;
    plan.Songs = {Song("one", {{0x8000, 3, {1, 2, 3}}, {0x9000, 2, {4, 5}}}), Song("two")};
    plan.Songs[1].Init = 0x1234;
    SongList forward;
    ASSERT_TRUE(OpenAYFile(forward, dir.Write("forward.ay", BuildAY(plan)), log.Sink()));
    plan.Reversed = true;
    ASSERT_TRUE(Open(plan));
    EXPECT_EQ(list.AuthorText, forward.AuthorText);
    EXPECT_EQ(list.MiscText, forward.MiscText);
    EXPECT_EQ(list.SongNames, forward.SongNames);
    EXPECT_EQ(list.SongNameText, "two");
    ASSERT_EQ(list.Songs[0].Blocks.size(), 2u);
    EXPECT_EQ(list.Songs[0].Init, 0x8000);
    EXPECT_EQ(list.Songs[1].Init, 0x1234);
    EXPECT_TRUE(list.Songs[1].Blocks.empty());
    // The data lies right after the header now.
    EXPECT_EQ(list.Songs[0].Blocks[0].Offset, 20u);
    EXPECT_EQ(list.Songs[0].Blocks[1].Offset, 23u);
    EXPECT_EQ(list.Songs[0].Blocks[1].Length, 2u);
}

TEST_F(AYReader, BlockTableEndsAtTheFirstZeroAddress) {
    AYFilePlan plan;
    plan.Songs = {Song("a", {{0x8000, 1, {1}}, {0, 1, {2}}, {0x9000, 1, {3}}})};
    plan.Songs.push_back(Song("no blocks, INIT 0"));
    ASSERT_TRUE(Open(plan));
    ASSERT_EQ(list.Songs[0].Blocks.size(), 1u);
    EXPECT_EQ(list.Songs[1].Init, 0);
}

TEST_F(AYReader, CutsBlocksToMemoryAndThenToTheFile) {
    AYFilePlan plan;
    // The file holds what the memory cut leaves of the first two blocks; the
    // last block's data is the end of the file.
    plan.Songs = {Song("a", {{0xC000, 0x8000, Bytes(0x4000, 1)},
                             {0xF000, 0x2000, Bytes(0x1000, 2)},
                             {0xFF00, 0x0200, Bytes(0x80, 3)}})};
    ASSERT_TRUE(Open(plan));
    const auto& a = list.Songs[0].Blocks;
    EXPECT_EQ(a[0].Length, 0x4000);
    EXPECT_EQ(a[1].Length, 0x1000);
    EXPECT_EQ(a[2].Length, 0x80);

    plan.Songs = {Song("b", {{0x8000, 0x100, Bytes(0x10, 4)}})};
    ASSERT_TRUE(Open(plan));
    EXPECT_EQ(list.Songs[0].Blocks[0].Length, 0x10);

    plan.Songs = {Song("c", {{0x8000, 0x100, {}}})};
    ASSERT_TRUE(Open(plan));
    EXPECT_EQ(list.Songs[0].Blocks[0].Length, 0);
    EXPECT_EQ(list.Songs[0].Blocks[0].Offset, list.SongFile.Size());
}

TEST_F(AYReader, StructuresRunningOffTheFileAreIOErrors) {
    AYFilePlan plan;
    plan.Author = "author";
    plan.Songs = {Song("name", {{0x8000, 4, {1, 2, 3, 4}}})};
    const Bytes good = BuildAY(plan);
    ASSERT_TRUE(Open(good));
    // Every cut that loses part of the header, the table, a record, the points,
    // the block table or a string is refused; a cut inside the block data is not.
    const size_t data = list.Songs[0].Blocks[0].Offset;
    for (size_t size = 0; size < good.size(); ++size) {
        const std::string error =
            IOErrorOf([&] { Open(Bytes(good.begin(), good.begin() + long(size))); });
        if (size >= data) {
            EXPECT_EQ(error, "") << size;
            EXPECT_EQ(list.Songs[0].Blocks[0].Length, size - data);
        } else {
            EXPECT_EQ(error, "Read beyond end of file") << size;
            EXPECT_FALSE(list.FileOpen);
            EXPECT_FALSE(list.SongFile.IsOpen());
        }
    }
    // A pointer before the start of the file.
    Bytes bad = good;
    bad[12] = 0x80;
    EXPECT_EQ(IOErrorOf([&] { Open(bad); }), "Invalid argument");
    EXPECT_TRUE(log.Texts.empty());
}

} // namespace
