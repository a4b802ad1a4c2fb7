// A playlist on the real audio path: three AY files (one with three songs, all
// with lengths), a Pro Tracker 3 module and a missing file, played from a
// playlist file into the bed's null sink. What the sink heard must be
// zirrafon-render's output of the six songs one after the other, sample for
// sample, with no gap; the missing file is passed over without a box.
#include "e2e_util.h"
#include "platform/messages.h"
#include "playback/player.h"
#include "playback/playlist.h"
#include "playback/playlist_playback.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A copy of an AY file that keeps its first `lengths.size()` songs, each
// given the length (and fade) in 1/50 s frames.
bool WriteShortened(const QString& from, const QString& to,
                    const std::vector<std::pair<int, int>>& lengths) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) return false;
    QByteArray bytes = in.readAll();
    const auto word = [&](int at) {
        return static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) << 8 |
                                    static_cast<uint8_t>(bytes[at + 1]));
    };
    if (bytes.size() < 20 || static_cast<int>(uint8_t(bytes[16])) + 1 < int(lengths.size()))
        return false;
    bytes[16] = static_cast<char>(lengths.size() - 1);
    bytes[17] = 0;
    const int songs = 18 + word(18);
    for (size_t i = 0; i < lengths.size(); ++i) {
        const int field = songs + 4 * static_cast<int>(i) + 2;
        const int data = field + word(field);
        bytes[data + 4] = static_cast<char>(lengths[i].first >> 8);
        bytes[data + 5] = static_cast<char>(lengths[i].first);
        bytes[data + 6] = static_cast<char>(lengths[i].second >> 8);
        bytes[data + 7] = static_cast<char>(lengths[i].second);
    }
    QFile out(to);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

// A copy of a Pro Tracker 3 module cut to its first position at tempo 1.
bool WriteShortModule(const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) return false;
    QByteArray bytes = in.readAll();
    if (bytes.size() < 203) return false;
    bytes[100] = 1;                       // the tempo
    bytes[102] = 0;                       // the loop position
    bytes[202] = static_cast<char>(0xFF); // the position list's end
    QFile out(to);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

TEST(PlaylistOutput, FilesAndSongsFollowEachOtherGaplesslyAsRenderedAndAMissingOneIsPassedOver) {
    E2E_REQUIRE_BED();
    MessageRecorder messages;
    messages.Install();
    QTemporaryDir dir;
    const QString three = dir.filePath("three.ay"), one = dir.filePath("one.ay"),
                  other = dir.filePath("other.ay"), module = dir.filePath("module.pt3");
    ASSERT_TRUE(WriteShortened(e2e::DemoFile("demo.ay"), three, {{75, 15}, {50, 0}, {60, 10}}));
    ASSERT_TRUE(WriteShortened(e2e::DemoFile("demo.ay"), one, {{40, 0}}));
    ASSERT_TRUE(WriteShortened(QStringLiteral(ZIRRAFON_TESTDATA_DIR "/ay/Beeper_Demo_part_1.ay"),
                               other, {{55, 5}}));
    ASSERT_TRUE(WriteShortModule(QStringLiteral(ZIRRAFON_TESTDATA_DIR "/pt3/megamix.pt3"), module));
    QFile list(dir.filePath("list.m3u8"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("#EXTM3U\nthree.ay\nmissing.ay\none.ay\nmodule.pt3\nother.ay\n");
    list.close();

    // What each song sounds like on its own, by zirrafon-render's defaults.
    std::vector<int16_t> expected;
    for (const auto& [file, song] : std::vector<std::pair<QString, int>>{
             {three, 1}, {three, 2}, {three, 3}, {one, 1}, {module, 1}, {other, 1}}) {
        std::string error;
        const std::vector<int16_t> part = e2e::Render(file, song, 0, error);
        ASSERT_FALSE(part.empty()) << error;
        expected.insert(expected.end(), part.begin(), part.end());
    }

    Player player;
    QObject::connect(&player, &Player::Failed,
                     [](const QString& text, const QString& caption, MessageIcon icon) {
                         ShowMessage(nullptr, text, caption, icon);
                     });
    PlaylistModel model;
    PlaylistPlayback lists(player, model);
    e2e::Recording recording;
    std::string error;
    ASSERT_TRUE(recording.Start(error)) << error;
    lists.ReplaceWith(list.fileName());
    QElapsedTimer clock;
    clock.start();
    while (player.State() == PlayState::Stopped && clock.elapsed() < 5000) QTest::qWait(10);
    ASSERT_NE(player.State(), PlayState::Stopped);
    // Playback stops by itself after the last song.
    while (player.State() != PlayState::Stopped && clock.elapsed() < 30000) QTest::qWait(20);
    EXPECT_EQ(player.State(), PlayState::Stopped);
    QTest::qWait(300);
    const std::vector<int16_t> recorded = recording.Stop();

    // All of it, from the first sound to the last value of the last song.
    const size_t lead = e2e::FirstNonZero(expected).value_or(0);
    EXPECT_EQ(e2e::CompareAligned(recorded, expected, expected.size() - lead), "");
    ASSERT_EQ(model.Count(), 5);
    EXPECT_EQ(model.EntryAt(1).Status, EntryStatus::Missing);
    EXPECT_EQ(model.CurrentRow(), 4); // the last song heard is the current one
    EXPECT_TRUE(messages.Messages.empty()) << messages.Messages.front().Text.toStdString();
}

} // namespace
