// Start-up of an AY song: the memory image, the start-up program, the
// registers, and a first buffer of a small song that proves the program runs.
#include "../formats/song_files.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class AYStart : public ::testing::Test {
  protected:
    void Open(const AYFilePlan& plan) {
        ASSERT_TRUE(OpenAYFile(list, dir.Write("song.ay", BuildAY(plan)), nullptr));
    }
    const uint8_t* Memory() const { return engine->Z80.Memory; }
    uint16_t Word(uint16_t at) const { return uint16_t(Memory()[at] | Memory()[at + 1] << 8); }

    TempDir dir;
    SongList list;
    std::unique_ptr<SoundEngine> engine = std::make_unique<SoundEngine>();
};

TEST_F(AYStart, BuildsFillStubAndRegisters) {
    AYSongPlan s;
    s.HiReg = 0x12;
    s.LoReg = 0x34;
    s.Stack = 0xBEEF;
    s.Init = 0x8123;
    s.Interrupt = 0x8456;
    AYSongPlan own = s;
    own.Interrupt = 0;
    AYFilePlan plan;
    plan.Songs = {s, own};
    Open(plan);
    Z80State& z = engine->Z80;
    std::fill(std::begin(z.Memory), std::end(z.Memory), 0x55);
    z.AFStore2 = {9, 9};
    z.R = 0x7F;
    z.RBit7 = 0x80;
    z.PC = 0x1234;
    engine->Chip.Beeper.Level = -16384;

    LoadAYSong(list, *engine, 0);
    const Bytes stub{0xF3, 0xCD, 0x23, 0x81, 0xED, 0x56, 0xFB, 0x76, 0xCD, 0x56, 0x84, 0x18, 0xF7};
    EXPECT_EQ(Bytes(Memory(), Memory() + 13), stub);
    for (int a = 13; a < 0x100; ++a) EXPECT_EQ(Memory()[a], a == 0x38 ? 0xFB : 0xC9) << a;
    for (int a = 0x100; a < 0x4000; ++a) ASSERT_EQ(Memory()[a], 0xFF) << a;
    for (int a = 0x4000; a < 0x10000; ++a) ASSERT_EQ(Memory()[a], 0x00) << a;
    EXPECT_EQ(z.MirrorByte(), 0xF3);

    for (const AFPair& af : {z.AFStore1, z.AFStore2}) EXPECT_EQ(af.A << 8 | af.F, 0x1234);
    for (const RegisterBank& b : {z.BankStore1, z.BankStore2}) {
        EXPECT_EQ(b.B << 8 | b.C, 0x1234);
        EXPECT_EQ(b.D << 8 | b.E, 0x1234);
        EXPECT_EQ(b.H << 8 | b.L, 0x1234);
    }
    EXPECT_EQ(z.IX, 0x1234);
    EXPECT_EQ(z.IY, 0x1234);
    EXPECT_EQ(z.SP, 0xBEEF);
    EXPECT_EQ(z.I, 3);
    EXPECT_EQ(z.R, 0);
    EXPECT_EQ(z.RBit7, 0);
    EXPECT_EQ(z.PC, 0);
    EXPECT_EQ(engine->Chip.Beeper.Level, 0);

    // Without an interrupt routine: IM 2 and a loop back, the rest is fill.
    LoadAYSong(list, *engine, 1);
    const Bytes ownStub{0xF3, 0xCD, 0x23, 0x81, 0xED, 0x5E, 0xFB, 0x76, 0x18, 0xFA, 0xC9, 0xC9};
    EXPECT_EQ(Bytes(Memory(), Memory() + 12), ownStub);
    EXPECT_EQ(Word(0x03FF), 0xFFFF); // the IM 2 vector with I = 3
}

TEST_F(AYStart, BlocksOverwriteStubFillAndEachOtherInOrder) {
    AYSongPlan s;
    s.Init = 0x4000;
    s.Interrupt = 0x4000;
    s.Blocks = {{0x0030, 0x10, Bytes(0x10, 0xAA)}, // covers the EI at 0x0038
                {0x3FFE, 4, {1, 2, 3, 4}},         // across the fill boundary
                {0x0000, 2, {0x3E, 0x77}},         // ends the table: address 0
                {0x9000, 1, {0x99}}};
    AYSongPlan atZero;
    atZero.Interrupt = 0x8000;
    atZero.Blocks = {{0xFFF0, 0x20, Bytes(0x20, 0x11)}, // cut at the end of memory
                     {0x0001, 3, {0x21, 0x22, 0x23}},
                     {0x0001, 1, {0x31}}}; // later blocks win
    AYFilePlan plan;
    plan.Songs = {s, atZero};
    Open(plan);

    LoadAYSong(list, *engine, 0);
    EXPECT_EQ(Memory()[0x002F], 0xC9);
    EXPECT_EQ(Memory()[0x0038], 0xAA);
    EXPECT_EQ(Memory()[0x0040], 0xC9);
    EXPECT_EQ(Bytes(Memory() + 0x3FFD, Memory() + 0x4003), (Bytes{0xFF, 1, 2, 3, 4, 0}));
    EXPECT_EQ(Memory()[0x9000], 0); // after the end of the table

    engine->Z80.MirrorByte() = 0x5A;
    LoadAYSong(list, *engine, 1);
    EXPECT_EQ(Bytes(Memory(), Memory() + 5), (Bytes{0xF3, 0x31, 0x22, 0x23, 0xED}));
    EXPECT_EQ(Memory()[0xFFFF], 0x11);
    EXPECT_EQ(engine->Z80.MirrorByte(), 0xF3); // not the block's 17th byte
    EXPECT_EQ(Memory()[0x0038], 0xFB);         // the first song's blocks are gone
    EXPECT_EQ(Memory()[0x3FFF], 0xFF);
}

// Address 0 ends a file's block table, so a block at 0x0000 comes only from a
// list built by hand; it must still replace the stub.
TEST_F(AYStart, ABlockAtZeroReplacesTheStubAndSetsTheMirrorByte) {
    list.SongFile.Open(dir.Write("data.bin", {0xC3, 0x00, 0x80, 0x00}));
    list.Songs = {TAYSong{}};
    list.Songs[0].Interrupt = 0x8000;
    list.Songs[0].Blocks = {{0x0000, 4, 0}};
    LoadAYSong(list, *engine, 0);
    EXPECT_EQ(Bytes(Memory(), Memory() + 5), (Bytes{0xC3, 0x00, 0x80, 0x00, 0xED}));
    EXPECT_EQ(engine->Z80.MirrorByte(), 0xC3);
}

TEST_F(AYStart, ABlockBeyondTheFileFailsTheStartNotTheOpen) {
    AYSongPlan good;
    good.Blocks = {{0x8000, 2, {1, 2}}};
    AYSongPlan beyond;
    beyond.Blocks = {{0x8000, 2, {1, 2}, 3}}; // the file's last data, pointer 3 bytes too far
    AYFilePlan plan;
    plan.Songs = {good, beyond};
    Open(plan);
    EXPECT_EQ(list.Songs[1].Blocks[0].Length, 0);
    EXPECT_EQ(IOErrorOf([&] { LoadAYSong(list, *engine, 1); }), "Read beyond end of file");
    EXPECT_EQ(IOErrorOf([&] { LoadAYSong(list, *engine, 0); }), "");
    EXPECT_EQ(Memory()[0x8001], 2);
}

// A song whose INIT selects a tone on the chip and whose interrupt routine
// counts frames at 0x9000; with and without its own interrupt vector.
TEST_F(AYStart, TheStartUpProgramCallsInitThenTheInterruptRoutineEveryFrame) {
    const Bytes init{0x3E, 0x07, 0x01, 0xFD, 0xFF, 0xED, 0x79, // select R7 at 0xFFFD
                     0x3E, 0x3E, 0x06, 0xBF, 0xED, 0x79,       // write 0x3E at 0xBFFD
                     0x3E, 0x90, 0xED, 0x47,                   // I = 0x90 (used in IM 2 only)
                     0xC9};
    const Bytes count{0x2A, 0x00, 0x90, 0x23, 0x22, 0x00, 0x90, 0xC9}; // (0x9000) += 1
    AYSongPlan im1;
    im1.Stack = 0xF000;
    im1.Interrupt = 0x8100;
    im1.Blocks = {{0x8000, uint16_t(init.size()), init}, {0x8100, uint16_t(count.size()), count}};
    AYSongPlan im2 = im1;
    im2.Interrupt = 0;
    im2.Blocks.push_back({0x90FF, 2, {0x00, 0x81}}); // vector at I*256+0xFF
    AYFilePlan plan;
    plan.Songs = {im1, im2};
    Open(plan);
    for (int song = 0; song < 2; ++song) {
        SCOPED_TRACE(song);
        std::vector<int16_t> buffer(BufferValues);
        StartSongOn(list, *engine, song, buffer.data());
        MakeBuffer(*engine);
        // 16320 frames of sound are 18.5 emulated frames.
        EXPECT_GE(Word(0x9000), 18);
        EXPECT_LE(Word(0x9000), 19);
        EXPECT_EQ(engine->Chip.Machine.OutHandler, &OutSpectrum);
        EXPECT_EQ(engine->Chip.Registers.Values[Mixer], 0x3E);
    }
}

} // namespace
