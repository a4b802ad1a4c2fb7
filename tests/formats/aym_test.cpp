// The ".aym" reader and song start-up: header checks, song numbers, texts,
// the memory image and the register image with the song number.
#include "song_files.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class AYM : public ::testing::Test {
  protected:
    bool Open(const Bytes& bytes) {
        return OpenAYMFile(list, dir.Write("song.aym", bytes), log.Sink(), *engine);
    }
    bool Open(const AYMFilePlan& plan) { return Open(BuildAYM(plan)); }
    uint8_t* Memory() { return engine->Z80.Memory; }

    TempDir dir;
    MessageLog log;
    SongList list;
    std::unique_ptr<SoundEngine> engine = std::make_unique<SoundEngine>();
};

TEST_F(AYM, RefusesOtherFilesAndOtherRevisions) {
    AYMFilePlan plan;
    plan.Id = "AYN0";
    EXPECT_FALSE(Open(plan));
    plan.Id = "AYM1";
    EXPECT_FALSE(Open(plan));
    EXPECT_EQ(log.Texts,
              (std::vector<std::string>{"Not .AYM file",
                                        "AYM format revision other than '0' are not supported"}));
    EXPECT_FALSE(list.SongFile.IsOpen());
    Bytes shortFile = BuildAYM({});
    shortFile.pop_back();
    EXPECT_EQ(IOErrorOf([&] { Open(shortFile); }), "Read beyond end of file");
    EXPECT_EQ(log.Texts.size(), 2u);
    EXPECT_FALSE(list.FileOpen);
}

TEST_F(AYM, SongNumbersAndTexts) {
    AYMFilePlan plan;
    plan.First = 1, plan.Last = 5, plan.Start = 3;
    plan.Name = " \t Title\x01 ";
    plan.Author.assign("Someone\0ignored", 15); // only up to the zero byte
    ASSERT_TRUE(Open(plan));
    EXPECT_TRUE(list.FileOpen);
    EXPECT_EQ(list.SongCount, 5);
    EXPECT_EQ(list.FirstSong, 2);
    EXPECT_EQ(list.SongNameText, "Title");
    EXPECT_EQ(list.AuthorText, "Someone");
    EXPECT_EQ(list.MiscText, "");

    plan.Name = plan.Author = "";                    // all blanks
    plan.First = 250, plan.Last = 4, plan.Start = 9; // numbers wrap at 256
    ASSERT_TRUE(Open(plan));
    EXPECT_EQ(list.SongNameText, "");
    EXPECT_EQ(list.AuthorText, "");
    EXPECT_EQ(list.SongCount, 11);
    EXPECT_EQ(list.FirstSong, 0); // 15 names no song of the file
    plan.First = 0, plan.Last = 255, plan.Start = 255;
    ASSERT_TRUE(Open(plan));
    EXPECT_EQ(list.SongCount, 256);
    EXPECT_EQ(list.FirstSong, 255);
}

TEST_F(AYM, LoadsTheMemoryImage) {
    std::fill(Memory(), Memory() + 0x10001, 0xAA);
    AYMFilePlan plan;
    ASSERT_TRUE(Open(plan)); // no blocks: RAM cleared, the low 16 KiB kept
    EXPECT_EQ(Memory()[0x3FFF], 0xAA);
    for (int a = 0x4000; a < 0x10000; ++a) ASSERT_EQ(Memory()[a], 0) << a;

    plan.Blocks = {{0x3FFE, 4, {1, 2, 3, 4}},
                   {0xFFF0, 0x20, Bytes(0x20, 7)}, // cut at the end of memory
                   {0x8000, 2, {5, 6}},            // read after the cut one's whole data
                   {0x9000, 8, {8, 9, 10}}};       // the file ends early: loaded as far as it goes
    ASSERT_TRUE(Open(plan));
    EXPECT_EQ(Bytes(Memory() + 0x3FFD, Memory() + 0x4003), (Bytes{0xAA, 1, 2, 3, 4, 0}));
    EXPECT_EQ(Memory()[0xFFFF], 7);
    EXPECT_EQ(Memory()[0x10000], 0xAA);
    EXPECT_EQ(Bytes(Memory() + 0x8000, Memory() + 0x8003), (Bytes{5, 6, 0}));
    EXPECT_EQ(Bytes(Memory() + 0x9000, Memory() + 0x9004), (Bytes{8, 9, 10, 0}));

    // A block header that is missing (or cut) is an I/O error.
    plan.Blocks.pop_back();
    Bytes file = BuildAYM(plan);
    file[68] = 4;
    EXPECT_EQ(IOErrorOf([&] { Open(file); }), "Read beyond end of file");
    file.push_back(0);
    file.push_back(0x80);
    EXPECT_EQ(IOErrorOf([&] { Open(file); }), "Read beyond end of file");
    EXPECT_FALSE(list.FileOpen);
    EXPECT_FALSE(list.SongFile.IsOpen());
}

TEST_F(AYM, StartPutsTheSongNumberIntoTheRegisterImage) {
    AYMFilePlan plan;
    plan.Init = 0x8123;
    plan.Play = 0x8456;
    plan.First = 1, plan.Last = 5;
    for (int i = 0; i < 12; ++i) plan.Registers[i] = uint8_t(0x10 + i);
    Z80State& z = engine->Z80;
    const auto regs = [&z] {
        return Bytes{z.AFStore1.F,   z.AFStore1.A,       z.BankStore1.C, z.BankStore1.B,
                     z.BankStore1.E, z.BankStore1.D,     z.BankStore1.L, z.BankStore1.H,
                     uint8_t(z.IX),  uint8_t(z.IX >> 8), uint8_t(z.IY),  uint8_t(z.IY >> 8)};
    };
    const Bytes image(plan.Registers, plan.Registers + 12);
    for (int slot : {0, 1, 3, 11, 12, 255}) {
        SCOPED_TRACE(slot);
        plan.Slot = uint8_t(slot);
        ASSERT_TRUE(Open(plan));
        z.AFStore2 = {0x99, 0x98};
        z.BankStore2.H = 0x97;
        z.R = 0x55;
        z.RBit7 = 0x80;
        engine->Chip.Beeper.Level = -1;
        LoadAYMSong(list, *engine, 2);
        Bytes expected = image;
        if (slot < 12) expected[slot] = 3; // song index 2 of a file whose songs start at 1
        EXPECT_EQ(regs(), expected);
        EXPECT_EQ(z.AFStore2.F, 0x99); // the alternate set is left alone
        EXPECT_EQ(z.AFStore2.A, 0x98);
        EXPECT_EQ(z.BankStore2.H, 0x97);
        EXPECT_EQ(z.SP, 0x4000);
        EXPECT_EQ(z.PC, 0x0002);
        EXPECT_EQ(z.I, 0);
        EXPECT_EQ(z.R, 0);
        EXPECT_EQ(z.RBit7, 0);
        EXPECT_EQ(engine->Chip.Beeper.Level, 0);
    }
    EXPECT_EQ(Bytes(Memory(), Memory() + 12),
              (Bytes{0xF3, 0xAF, 0xCD, 0x23, 0x81, 0xFB, 0x76, 0xCD, 0x56, 0x84, 0x18, 0xF9}));
    EXPECT_EQ(Memory()[0x38], 0xFB);
    EXPECT_EQ(Memory()[0x39], 0xC9);
    EXPECT_EQ(z.MirrorByte(), 0xF3);
}

// Init stores A (the song number) at 0x9002, play counts frames at 0x9000:
// the start skips XOR A and the interrupts call play once per frame.
TEST_F(AYM, TheStartUpProgramRunsInitWithTheSongNumberThenPlay) {
    AYMFilePlan plan;
    plan.Init = 0x8000;
    plan.Play = 0x8010;
    plan.First = 5, plan.Last = 9, plan.Slot = 1;
    plan.Blocks = {{0x8000, 4, {0x32, 0x02, 0x90, 0xC9}},
                   {0x8010, 8, {0x2A, 0x00, 0x90, 0x23, 0x22, 0x00, 0x90, 0xC9}}};
    ASSERT_TRUE(Open(plan));
    std::vector<int16_t> buffer(BufferValues);
    StartSongOn(list, *engine, 2, buffer.data());
    MakeBuffer(*engine);
    EXPECT_EQ(Memory()[0x9002], 7);
    const int frames = Memory()[0x9000] | Memory()[0x9001] << 8;
    EXPECT_GE(frames, 18);
    EXPECT_LE(frames, 19);
}

} // namespace
