// The register-stream readers on crafted files: every version and layout of
// YM, VTX and PSG, their loops, effects' data and texts, and damaged headers
// and streams, which must be refused with a message and never read outside
// the file.
#include "formats/register_stream.h"
#include "stream_writer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

namespace {

// Frame f, register r: a value that differs between frames and registers;
// the envelope shape is written (r13 below 16) in every third frame only.
StreamFrame Frame(uint32_t f) {
    StreamFrame regs(16);
    for (int r = 0; r < 16; ++r) regs[r] = static_cast<uint8_t>(f * 7 + r * 13);
    regs[13] = f % 3 == 0 ? static_cast<uint8_t>(f % 16) : 0xFF;
    regs[14] = regs[15] = 0;
    return regs;
}
std::vector<StreamFrame> Frames(uint32_t n) {
    std::vector<StreamFrame> frames;
    for (uint32_t f = 0; f < n; ++f) frames.push_back(Frame(f));
    return frames;
}

YMPlan YM(const std::string& version, uint32_t frames) {
    YMPlan p;
    p.Version = version;
    p.Frames = Frames(frames);
    return p;
}
template <typename Change> YMPlan YM(const std::string& version, uint32_t frames, Change change) {
    YMPlan p = YM(version, frames);
    change(p);
    return p;
}
template <typename Change> VTXPlan VTX(Change change) {
    VTXPlan p;
    p.Frames = Frames(30);
    change(p);
    return p;
}

struct Expect {
    std::string Version;
    uint32_t Frames = 0, Loop = 0, Clock = 0, Rate = 50;
    std::string Title, Author, Comment;
    std::string Warning;
};

struct ReaderCase {
    std::string Name;
    StreamFormat Format;
    Bytes File;
    std::string Refusal; // empty: accepted, as `Want` says
    Expect Want;
};

std::string CaseName(const testing::TestParamInfo<ReaderCase>& info) { return info.param.Name; }

Bytes Cut(Bytes b, size_t keep) {
    b.resize(std::min(keep, b.size()));
    return b;
}
Bytes Flip(Bytes b, size_t at) {
    b.at(at) ^= 0x5A;
    return b;
}
Bytes Poke(Bytes b, size_t at, uint8_t value) {
    b.at(at) = value;
    return b;
}

const Expect TitleAuthorComment{"", 0, 0, 0, 50, "Title", "Author", "Comment", ""};
Expect With(Expect e, const std::string& version, uint32_t frames, uint32_t loop, uint32_t clock,
            uint32_t rate = 50) {
    e.Version = version;
    e.Frames = frames;
    e.Loop = loop;
    e.Clock = clock;
    e.Rate = rate;
    return e;
}
const Expect NoTexts{};
Expect Warned(Expect e, const std::string& warning) {
    e.Warning = warning;
    return e;
}

std::vector<ReaderCase> Cases() {
    const Bytes ym6 = MakeYM(YM("YM6!", 40));
    const Bytes packed = MakeYM(YM("YM6!", 40, [](YMPlan& p) { p.Packed = true; }));
    const Bytes vtx = MakeVTX(VTX([](VTXPlan&) {}));
    const Bytes level1 = stream_writer::Lha(ym6, true, 1);
    const Expect ym6As40 = With(TitleAuthorComment, "YM6!", 40, 0, 2000000);
    // "End!" and 85 bytes more cut off the end.
    const auto cutShort = [](const Bytes& b) { return Cut(b, b.size() - 89); };
    // A file of another kind of the family: its name, "LeOnArD!" and zeros.
    const auto family = [](const std::string& id) {
        Bytes b;
        stream_writer::Append(b, id + "LeOnArD!");
        b.resize(40, 0);
        return b;
    };
    const Bytes mix = family("MIX1");
    using F = StreamFormat;
    return {
        {"YM2", F::YM, MakeYM(YM("YM2!", 20)), "", With(NoTexts, "YM2!", 20, 0, 2000000)},
        {"YM3", F::YM, MakeYM(YM("YM3!", 20)), "", With(NoTexts, "YM3!", 20, 0, 2000000)},
        {"YM3bLoop", F::YM, MakeYM(YM("YM3b", 20, [](YMPlan& p) { p.Loop = 7; })), "",
         With(NoTexts, "YM3b", 20, 7, 2000000)},
        {"YM3bLoopPastEndLoopsToStart", F::YM,
         MakeYM(YM("YM3b", 20, [](YMPlan& p) { p.Loop = 20; })), "",
         With(NoTexts, "YM3b", 20, 0, 2000000)},
        {"YM5Interleaved", F::YM, MakeYM(YM("YM5!", 25, [](YMPlan& p) { p.Loop = 3; })), "",
         With(TitleAuthorComment, "YM5!", 25, 3, 2000000)},
        {"YM5FrameAfterFrame", F::YM,
         MakeYM(YM("YM5!", 25, [](YMPlan& p) { p.Interleaved = false; })), "",
         With(TitleAuthorComment, "YM5!", 25, 0, 2000000)},
        {"YM6CpcAt60Hz", F::YM,
         MakeYM(YM("YM6!", 40,
                   [](YMPlan& p) {
                       p.Clock = 1000000;
                       p.Rate = 60;
                   })),
         "", With(TitleAuthorComment, "YM6!", 40, 0, 1000000, 60)},
        {"YM6ClockAndRate0AreTheUsual", F::YM,
         MakeYM(YM("YM6!", 40,
                   [](YMPlan& p) {
                       p.Clock = 0;
                       p.Rate = 0;
                   })),
         "", With(TitleAuthorComment, "YM6!", 40, 0, 2000000, 50)},
        {"YM6Lh5Packed", F::YM, packed, "", With(TitleAuthorComment, "YM6!", 40, 0, 2000000)},
        // A header past what a list unpacks first (4 KiB).
        {"YM6PackedDrumsBeforeTexts", F::YM,
         MakeYM(YM("YM6!", 300,
                   [](YMPlan& p) {
                       p.Drums = {Bytes(9000, 7)};
                       p.Attributes = 4;
                       p.Packed = true;
                   })),
         "", With(TitleAuthorComment, "YM6!", 300, 0, 2000000)},
        {"YM6StoredInArchive", F::YM, stream_writer::Lha(ym6, false), "",
         With(TitleAuthorComment, "YM6!", 40, 0, 2000000)},
        {"YM6WithDrums", F::YM,
         MakeYM(YM("YM6!", 10,
                   [](YMPlan& p) {
                       p.Drums = {Bytes(100, 0x0F), Bytes{}, Bytes(3, 0xFF)};
                       p.Attributes = 4;
                   })),
         "", With(TitleAuthorComment, "YM6!", 10, 0, 2000000)},
        {"NotYM", F::YM, Bytes{'Z', 'X', 'A', 'Y', 0, 0}, "Not .YM file", {}},
        {"YM4Unsupported",
         F::YM,
         Bytes{'Y', 'M', '4', '!', 0, 0},
         "Unsupported .YM format YM4!",
         {}},
        {"YM3WithoutFrames", F::YM, Bytes{'Y', 'M', '3', '!', 1, 2, 3}, "Damaged .YM file", {}},
        {"YM6HeaderCut", F::YM, Cut(ym6, 30), "Damaged .YM file", {}},
        // A stream cut short plays the whole frames it holds: interleaved,
        // those whose last register column is still there.
        {"YM5CutShortInterleaved", F::YM, cutShort(MakeYM(YM("YM5!", 200))), "",
         Warned(With(TitleAuthorComment, "YM5!", 115, 0, 2000000),
                "Stream cut short: 115 of 200 frames")},
        {"YM6CutShortFrameAfterFrame", F::YM,
         cutShort(MakeYM(YM("YM6!", 40, [](YMPlan& p) { p.Interleaved = false; }))), "",
         Warned(With(TitleAuthorComment, "YM6!", 34, 0, 2000000),
                "Stream cut short: 34 of 40 frames")},
        {"YM6CutShortThenPacked", F::YM, stream_writer::Lha(cutShort(MakeYM(YM("YM6!", 200)))), "",
         Warned(With(TitleAuthorComment, "YM6!", 115, 0, 2000000),
                "Stream cut short: 115 of 200 frames")},
        {"YM6CutBeforeAnyWholeFrame", F::YM, cutShort(ym6), "Damaged .YM file", {}},
        {"YM6FrameCountHuge",
         F::YM,
         MakeYM(YM("YM6!", 40, [](YMPlan& p) { p.FrameCountShift = 0x7FFFFFF0; })),
         "Damaged .YM file",
         {}},
        {"YM6TextUnterminated", F::YM, Cut(MakeYM(YM("YM6!", 0)), 40), "Damaged .YM file", {}},
        {"YM6DrumPastEnd",
         F::YM,
         Cut(MakeYM(YM("YM6!", 2, [](YMPlan& p) { p.Drums = {Bytes(80, 1)}; })), 60),
         "Damaged .YM file",
         {}},
        {"YM6ClockOutOfRange",
         F::YM,
         MakeYM(YM("YM6!", 4, [](YMPlan& p) { p.Clock = 50000000; })),
         "Damaged .YM file",
         {}},
        {"ArchiveCrcWrong", F::YM, Flip(packed, packed.size() - 40), "Damaged LHA archive", {}},
        // Archive headers as the packers of the time wrote them, which the
        // YM players read: a checksum that misses a time or attribute set
        // after packing, a size byte that does not fit the name, level 1.
        {"ArchiveChecksumStale", F::YM, Poke(packed, 15, 0), "", ym6As40},
        {"ArchiveAttributeChecksumStale", F::YM, Poke(packed, 19, 0xFF), "", ym6As40},
        {"ArchiveSizeByteShort", F::YM, Poke(packed, 0, packed[0] - 2), "", ym6As40},
        {"ArchiveSizeByteLong", F::YM, Poke(packed, 0, packed[0] + 2), "", ym6As40},
        {"ArchiveLevel1", F::YM, level1, "", ym6As40},
        {"ArchiveLevel1ChecksumStale", F::YM, Poke(level1, 1, level1[1] ^ 0xFF), "", ym6As40},
        {"ArchiveLevelUnknown", F::YM, Poke(packed, 20, 0x20), "Damaged LHA archive", {}},
        {"MIX1Unsupported", F::YM, mix, "Unsupported .YM format MIX1", {}},
        {"MIX1PackedUnsupported",
         F::YM,
         stream_writer::Lha(mix),
         "Unsupported .YM format MIX1",
         {}},
        {"YMT1Unsupported", F::YM, family("YMT1"), "Unsupported .YM format YMT1", {}},
        {"YMT2Unsupported", F::YM, family("YMT2"), "Unsupported .YM format YMT2", {}},
        {"ArchiveCut", F::YM, Cut(packed, packed.size() / 2), "Damaged LHA archive", {}},
        {"VTX", F::VTX, vtx, "", With(TitleAuthorComment, "VTX", 30, 0, 1773400)},
        {"VTXYmAt1MHz100HzLoop", F::VTX, MakeVTX(VTX([](VTXPlan& p) {
             p.Chip = "ym";
             p.Clock = 1000000;
             p.Rate = 100;
             p.Loop = 12;
         })),
         "", With(TitleAuthorComment, "VTX", 30, 12, 1000000, 100)},
        {"VTXLoopPastEnd", F::VTX, MakeVTX(VTX([](VTXPlan& p) { p.Loop = 30; })), "",
         With(TitleAuthorComment, "VTX", 30, 0, 1773400)},
        {"NotVTX", F::VTX, Bytes(20, 'x'), "Not .VTX file", {}},
        {"VTXSizeBeyondStream",
         F::VTX,
         MakeVTX(VTX([](VTXPlan& p) { p.SizeShift = 14 * 1000; })),
         "Damaged .VTX file",
         {}},
        {"VTXSizeHuge",
         F::VTX,
         MakeVTX(VTX([](VTXPlan& p) { p.SizeShift = 0x7FFF0000; })),
         "Damaged .VTX file",
         {}},
        {"VTXClockBelowOneTickAFrame",
         F::VTX,
         MakeVTX(VTX([](VTXPlan& p) { p.Clock = 352799; })),
         "Damaged .VTX file",
         {}},
        {"VTXTextsCut", F::VTX, Cut(vtx, 20), "Damaged .VTX file", {}},
        {"PSG", F::PSG, MakePSG({0, 1, 13, 8, 0xFF, 7, 0x38, 0xFF, 0xFE, 2, 8, 15, 0xFF}), "",
         With(NoTexts, "PSG", 11, 0, 1773400)},
        {"PSGEndMarkAndIOPorts", F::PSG, MakePSG({14, 1, 15, 2, 0xFF, 0, 9, 0xFD, 0, 1, 0xFF}), "",
         With(NoTexts, "PSG", 2, 0, 1773400)},
        {"PSGCutInsidePair", F::PSG, MakePSG({0, 1, 0xFF, 3}), "",
         With(NoTexts, "PSG", 1, 0, 1773400)},
        {"PSGHeaderOnly", F::PSG, MakePSG({}), "Damaged .PSG file", {}},
        {"NotPSG", F::PSG, Bytes(20, 0), "Not .PSG file", {}},
    };
}

class StreamReaders : public testing::TestWithParam<ReaderCase> {};

TEST_P(StreamReaders, ReadOrRefuse) {
    const ReaderCase& c = GetParam();
    std::string refusal;
    const std::optional<RegisterStream> s = ReadStreamFile(c.Format, c.File, refusal);
    if (!c.Refusal.empty()) {
        EXPECT_FALSE(s);
        EXPECT_EQ(refusal, c.Refusal);
        std::string listRefusal;
        EXPECT_FALSE(ReadStreamFile(c.Format, c.File, listRefusal, StreamDetail::ListOnly));
        EXPECT_EQ(listRefusal, c.Refusal);
        return;
    }
    ASSERT_TRUE(s) << refusal;
    EXPECT_EQ(s->Version, c.Want.Version);
    EXPECT_EQ(s->FrameCount, c.Want.Frames);
    EXPECT_EQ(s->LoopFrame, c.Want.Loop);
    EXPECT_EQ(s->ChipClock, c.Want.Clock);
    EXPECT_EQ(s->FrameRate, c.Want.Rate);
    EXPECT_EQ(s->Title, c.Want.Title);
    EXPECT_EQ(s->Author, c.Want.Author);
    EXPECT_EQ(s->Comment, c.Want.Comment);
    EXPECT_EQ(s->Warning, c.Want.Warning);
    // A song list reads the same without the frames.
    std::string listRefusal;
    const std::optional<RegisterStream> listed =
        ReadStreamFile(c.Format, c.File, listRefusal, StreamDetail::ListOnly);
    ASSERT_TRUE(listed) << listRefusal;
    EXPECT_EQ(std::tie(listed->Version, listed->FrameCount, listed->LoopFrame, listed->ChipClock,
                       listed->FrameRate, listed->Title, listed->Author, listed->Comment,
                       listed->Warning),
              std::tie(s->Version, s->FrameCount, s->LoopFrame, s->ChipClock, s->FrameRate,
                       s->Title, s->Author, s->Comment, s->Warning));
    ASSERT_EQ(s->Registers.size(), size_t{s->FrameCount} * StreamRegisters);
    if (c.Format == StreamFormat::PSG) return; // its frames are checked below
    // Every register of every frame as made, whatever the layout and packing;
    // an envelope shape of 0xFF is no write.
    for (uint32_t f = 0; f < s->FrameCount; ++f) {
        const StreamFrame want = Frame(f);
        const int registers = s->HasEffects() ? 16 : 14;
        for (int r = 0; r < registers; ++r)
            ASSERT_EQ(s->Frame(f)[r], want[r]) << "frame " << f << " register " << r;
        EXPECT_EQ((s->Written[f] >> 13) & 1, want[13] != 0xFF ? 1 : 0) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Crafted, StreamReaders, testing::ValuesIn(Cases()), CaseName);

TEST(StreamReaders, PsgFramesHoldTheirWritesAndSkips) {
    std::string refusal;
    const auto s =
        ReadPSGFile(MakePSG({0, 1, 13, 8, 0xFF, 7, 0x38, 0xFF, 0xFE, 2, 8, 15, 0xFF}), refusal);
    ASSERT_TRUE(s);
    // frame 0: R0 and R13; frame 1: R7; frames 2-9: nothing; frame 10: R8.
    const uint16_t written[11] = {1 | 1 << 13, 1 << 7, 0, 0, 0, 0, 0, 0, 0, 0, 1 << 8};
    for (int f = 0; f < 11; ++f) EXPECT_EQ(s->Written[f], written[f]) << "frame " << f;
    EXPECT_EQ(s->Frame(10)[8], 15);
    EXPECT_EQ(s->Frame(10)[7], 0x38); // held from frame 1
}

TEST(StreamReaders, DrumsBecomeChipLevels) {
    // 4-bit drums keep the low nibble; 8-bit ones map full scale to 15 and
    // half scale (-6 dB) two steps lower; signed ones are centred on 0x80.
    const struct {
        const char* Name;
        uint32_t Attributes;
        Bytes Drum, Levels;
    } cases[] = {
        {"four bits", 4, {0x1F, 0x03}, {15, 3}},
        {"eight bits", 0, {255, 128, 0}, {15, 13, 0}},
        {"signed", 2, {0x7F, 0x00}, {15, 13}},
    };
    for (const auto& c : cases) {
        std::string refusal;
        const auto s = ReadYMFile(MakeYM(YM("YM6!", 2,
                                            [&c](YMPlan& p) {
                                                p.Drums = {c.Drum};
                                                p.Attributes = c.Attributes;
                                            })),
                                  refusal);
        ASSERT_TRUE(s) << c.Name << ": " << refusal;
        EXPECT_EQ(s->Digidrums.at(0), c.Levels) << c.Name;
    }
}

TEST(StreamReaders, VtxDeclaresChipLayoutAndYear) {
    std::string refusal;
    const auto s = ReadVTXFile(MakeVTX(VTX([](VTXPlan& p) {
                                   p.Chip = "ym";
                                   p.Layout = 2;
                                   p.Year = 1991;
                               })),
                               refusal);
    ASSERT_TRUE(s) << refusal;
    EXPECT_EQ(s->DeclaredChip, "YM");
    EXPECT_EQ(s->DeclaredLayout, "ACB");
    EXPECT_EQ(s->Year, 1991);
    EXPECT_EQ(s->Program, "Program");
    EXPECT_EQ(s->Tracker, "Tracker");
}

} // namespace
