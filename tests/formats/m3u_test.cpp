// Playlist files as other programs write them, and as we write them: one
// table of odd lines, and lists that must come back as they went out.
#include "formats/m3u.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct OddList {
    const char* Name;
    std::string Text;
    std::vector<std::string> Paths;
    std::vector<int> Seconds; // empty: not checked
    std::vector<std::string> Titles;
};

std::vector<OddList> OddLists() {
    return {
        {"PlainRelativeAndAbsolute",
         "a.ay\nsub/b.aym\n/abs/c.ay\n",
         {"/lists/a.ay", "/lists/sub/b.aym", "/abs/c.ay"},
         {-1, -1, -1},
         {"", "", ""}},
        {"ExtendedWithCrlfAndBom",
         "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:123,Author - Title\r\nx.ay\r\n\r\n#EXTINF:-1,\r\ny.ay",
         {"/lists/x.ay", "/lists/y.ay"},
         {123, -1},
         {"Author - Title", ""}},
        {"LoneCarriageReturns", "#EXTM3U\ra.ay\rb.ay\r", {"/lists/a.ay", "/lists/b.ay"}, {}, {}},
        {"CommentsAndBlanksAndIndent",
         "# a comment\n\n   \n\t x.ay  \n#EXTVLCOPT:foo\ny.ay\n",
         {"/lists/x.ay", "/lists/y.ay"},
         {},
         {}},
        {"ExtInfAttributesAndFractions",
         "#EXTINF:7.6 tvg-id=\"q\",  T  \nz.ay\n",
         {"/lists/z.ay"},
         {8},
         {"T"}},
        {"ExtInfOnlyForTheNextEntry",
         "#EXTINF:5,One\na.ay\nb.ay\n",
         {"/lists/a.ay", "/lists/b.ay"},
         {5, -1},
         {"One", ""}},
        {"BadExtInfNumber",
         "#EXTINF:abc,T\na.ay\n#EXTINF:1e300,U\nb.ay\n",
         {"/lists/a.ay", "/lists/b.ay"},
         {-1, -1},
         {"T", "U"}},
        {"DotSteps",
         "./a.ay\n../up.ay\nsub/../../x/./y.ay\n/p//q/../r.ay\n",
         {"/lists/a.ay", "/up.ay", "/x/y.ay", "/p/r.ay"},
         {},
         {}},
        {"FileUris",
         "file:///music/a%20b.ay\nFILE://localhost/m/%C3%A9.ay\nfile:///m/c.ay?x#y\nfile:///"
         "bad%2\nfile://otherhost/x.ay\n",
         {"/music/a b.ay", "/m/\xC3\xA9.ay", "/m/c.ay", "/bad%2", "file://otherhost/x.ay"},
         {},
         {}},
        {"OtherSchemesStayAsWritten",
         "http://example.invalid/a.ay\n",
         {"http://example.invalid/a.ay"},
         {},
         {}},
        {"Latin1LineBecomesUtf8",
         "#EXTINF:1,Caf\xE9\nm\xFCsik.ay\n\xC3\xBC.ay\n",
         {"/lists/m\xC3\xBCsik.ay", "/lists/\xC3\xBC.ay"},
         {1, -1},
         {"Caf\xC3\xA9", ""}},
        {"OverlongUtf8IsLatin1", "\xC0\xAF.ay\n", {"/lists/\xC3\x80\xC2\xAF.ay"}, {}, {}},
        {"HeaderOnlyAndNothing", "#EXTM3U\n", {}, {}, {}},
        {"NoFinalNewline", "a.ay", {"/lists/a.ay"}, {}, {}},
    };
}

class M3UReading : public ::testing::TestWithParam<OddList> {};

TEST_P(M3UReading, TakesTheLineAsOtherPlayersMeantIt) {
    const OddList& c = GetParam();
    const M3UList list = ReadM3U(c.Text, "/lists");
    std::vector<std::string> paths;
    for (const M3UEntry& e : list.Entries) paths.push_back(e.Path);
    EXPECT_EQ(paths, c.Paths);
    for (size_t i = 0; i < c.Seconds.size() && i < list.Entries.size(); ++i) {
        EXPECT_EQ(list.Entries[i].Seconds, c.Seconds[i]) << i;
        EXPECT_EQ(list.Entries[i].Title, c.Titles[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(OddLines, M3UReading, ::testing::ValuesIn(OddLists()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(M3UWriting, WhatWeWriteComesBackTheSame) {
    M3UList list;
    list.CurrentEntry = 2;
    list.CurrentSong = 4;
    list.Entries = {
        {"/music/lists/below.ay", 65, "Author - Title"},
        {"/elsewhere/x.aym", -1, "line\nbreak"},
        {"/music/lists/#hash.ay", 1, ""},
        {"/music/lists/ lead.ay", 2, ""},
        {"/music/lists/new\nline.ay", 3, ""},
        {"/music/lists/latin\xE9.ay", 4, ""},
        {"/music/listsX/not-below.ay", 6, ""},
    };
    const std::string text = WriteM3U(list, "/music/lists/");
    // Relative below the folder, absolute elsewhere, one line per entry.
    const std::string start = "#EXTM3U\n#ZIRRAFON-CURRENT:2,4\n"
                              "#EXTINF:65,Author - Title\nbelow.ay\n#EXTINF:-1,line break\n";
    EXPECT_EQ(text.compare(0, start.size(), start), 0) << text;
    EXPECT_NE(text.find("\n/music/listsX/not-below.ay\n"), std::string::npos);
    const M3UList back = ReadM3U(text, "/music/lists");
    ASSERT_EQ(back.Entries.size(), list.Entries.size()) << text;
    EXPECT_TRUE(back.HasHeader);
    EXPECT_EQ(back.CurrentEntry, 2);
    EXPECT_EQ(back.CurrentSong, 4);
    for (size_t i = 0; i < list.Entries.size(); ++i) {
        EXPECT_EQ(back.Entries[i].Path, list.Entries[i].Path) << i;
        EXPECT_EQ(back.Entries[i].Seconds, list.Entries[i].Seconds) << i;
    }
    EXPECT_EQ(back.Entries[1].Title, "line break");
    // A current position past the list is dropped rather than pointing nowhere.
    EXPECT_EQ(ReadM3U("#ZIRRAFON-CURRENT:1,0\na.ay\n", "/").CurrentEntry, -1);
}

} // namespace
