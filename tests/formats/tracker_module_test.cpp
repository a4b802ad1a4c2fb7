// The Pro Tracker 3 and 2 readers: what they take from real modules' headers,
// and damaged modules refused with a message that says what is wrong.
#include "formats/tracker_module.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

namespace {

const std::string Folder = ZIRRAFON_TESTDATA_DIR "/pt3/";

std::vector<uint8_t> Load(const std::string& name) {
    std::ifstream in(Folder + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::optional<TrackerModule> Read(const std::string& name, const std::vector<uint8_t>& bytes,
                                  std::string& refusal) {
    return name.ends_with(".pt2") ? ReadPT2File(bytes, refusal) : ReadPT3File(bytes, refusal);
}

TEST(TrackerReaders, TakeWhatTheHeaderSays) {
    struct Facts {
        const char* File;
        int Version;
        bool Vortex;
        const char* Title;
        const char* Author;
        int NoteTable, Tempo, Positions, Loop, Patterns, Chips;
    };
    const Facts cases[] = {
        {"megamix.pt3", 6, true, "Megamix", "Shiru 2011", 2, 3, 23, 22, 17, 1},
        {"Lat_mix2.pt3", 3, false, "LATITUDE EFFECT,origin.by EXALOT",
         "DAVOS/HS/CPU,CHEREPOVETS (C)1999", 0, 0, 0, 0, 0, 1},
        {"variants/megamix-3.4-table3.pt3", 4, false, "Megamix", "Shiru 2011", 3, 3, 23, 22, 17, 1},
        // Pro Tracker 3.7 two-chip: byte 98 holds the 48 patterns the chips share.
        {"WeBberTS.pt3", 7, false, "Ghost in Opera by A.Lloyd Webber",
         "TS remix by John Silver 2006", 1, 6, 12, 3, 48, 2},
        // TurboSound: the first module's header; the second is SecondChip.
        {"INEEDREST.ts", 5, false, "God of Trance", "CJ Splin7er", 0, 0, 0, 0, 0, 2},
        {"4jour-2.pt2", 2, false, "FOR JOURNAL#2/LEO/CAIG/200797/", "", 0, 5, 18, 3, 15, 1},
    };
    for (const Facts& f : cases) {
        SCOPED_TRACE(f.File);
        std::string refusal;
        const std::optional<TrackerModule> m = Read(f.File, Load(f.File), refusal);
        ASSERT_TRUE(m) << refusal;
        EXPECT_EQ(m->Version, f.Version);
        EXPECT_EQ(m->Vortex, f.Vortex);
        EXPECT_EQ(m->Title, f.Title);
        EXPECT_EQ(m->Author, f.Author);
        EXPECT_EQ(m->Chips, f.Chips);
        EXPECT_EQ(m->SecondChip != nullptr, std::string(f.File).ends_with(".ts"));
        if (f.Tempo == 0) continue; // the texts and the chips only
        EXPECT_EQ(m->NoteTable, f.NoteTable);
        EXPECT_EQ(m->Tempo, f.Tempo);
        EXPECT_EQ(m->Positions.size(), size_t(f.Positions));
        EXPECT_EQ(m->LoopPosition, f.Loop);
        EXPECT_EQ(m->PatternCount, f.Patterns);
    }
}

// One damage done to a real module, and what the reader says of it.
struct Damage {
    const char* File;
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Do;
    const char* Refusal;
};

void SetWord(std::vector<uint8_t>& b, size_t at, unsigned value) {
    b[at] = static_cast<uint8_t>(value);
    b[at + 1] = static_cast<uint8_t>(value >> 8);
}

TEST(TrackerReaders, RefuseDamagedModulesSayingWhy) {
    // megamix.pt3: 23 positions of patterns 0-16, the pattern table at 0x124.
    const Damage cases[] = {
        {"megamix.pt3", "no signature", [](auto& b) { b.assign(300, ' '); }, "Not .PT3 file"},
        {"megamix.pt3", "cut in its header", [](auto& b) { b.resize(150); },
         "Damaged .PT3 file: shorter than its header"},
        {"megamix.pt3", "cut in its position list", [](auto& b) { b.resize(210); },
         "Damaged .PT3 file: its position list has no end"},
        {"megamix.pt3", "an empty position list", [](auto& b) { b[201] = 0xFF; },
         "Damaged .PT3 file: no positions"},
        {"megamix.pt3", "a position that is no pattern's", [](auto& b) { b[202] = 4; },
         "Damaged .PT3 file: position 2 names no pattern"},
        {"megamix.pt3", "a loop past the end", [](auto& b) { b[102] = 23; },
         "Damaged .PT3 file: the loop position is past the last position"},
        {"megamix.pt3", "the pattern table past the end",
         [](auto& b) { SetWord(b, 103, unsigned(b.size()) - 20); },
         "Damaged .PT3 file: pattern 4 is past the file's end"},
        {"megamix.pt3", "a track past the end",
         [](auto& b) { SetWord(b, b[103] | b[104] << 8, 0xFFFF); },
         "Damaged .PT3 file: a track of pattern 0 is past the file's end"},
        {"megamix.pt3", "a sample past the end", [](auto& b) { SetWord(b, 105 + 2 * 5, 0xF000); },
         "Damaged .PT3 file: a sample is past the file's end"},
        {"megamix.pt3", "an ornament past the end",
         [](auto& b) { SetWord(b, 169 + 2 * 3, 0xF000); },
         "Damaged .PT3 file: an ornament is past the file's end"},
        {"megamix.pt3", "a second chip without its patterns",
         [](auto& b) {
             b[13] = '7';
             std::copy_n("ProTracker 3.", 13, b.begin());
             b[98] = 5;
         },
         "Damaged .PT3 file: the second chip's pattern for pattern 5 is missing"},
        {"INEEDREST.ts", "module sizes past the end",
         [](auto& b) { SetWord(b, b.size() - 12, 0xF000); },
         "Damaged .PT3 file: its two modules are longer than the file"},
        {"13.pt2", "cut in its header", [](auto& b) { b.resize(100); },
         "Damaged .PT2 file: shorter than its header"},
        {"13.pt2", "a loop past the end", [](auto& b) { b[2] = 6; },
         "Damaged .PT2 file: the loop position is past the last position"},
        {"13.pt2", "a track past the end", [](auto& b) { SetWord(b, 138 + 6 * 2 + 4, 0x8000); },
         "Damaged .PT2 file: a track of pattern 2 is past the file's end"},
    };
    for (const Damage& d : cases) {
        SCOPED_TRACE(std::string(d.File) + ": " + d.What);
        std::vector<uint8_t> bytes = Load(d.File);
        ASSERT_FALSE(bytes.empty());
        std::string refusal;
        ASSERT_TRUE(Read(d.File, bytes, refusal)) << refusal; // whole, it is read
        d.Do(bytes);
        EXPECT_FALSE(Read(d.File, bytes, refusal));
        EXPECT_EQ(refusal, d.Refusal);
    }
}

} // namespace
