// The playlist without a window: what adding folders, lists and odd files
// gives (order, details, refusals, rows arriving in batches), the order rules
// (crossing files, skipping, repeat, shuffle), and the list kept between runs
// (saved whole or not at all, a damaged one kept aside).
#include "platform/file_names.h"
#include "playback/playlist.h"
#include "playback/playlist_store.h"
#include "songs/session.h"
#include "ui/playlist_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace {

const QString SongsDir = QStringLiteral(ZIRRAFON_TESTDATA_DIR "/ay");

bool WaitIdle(PlaylistModel& model, int ms = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (model.Busy() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !model.Busy();
}

void Copy(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).absolutePath());
    ASSERT_TRUE(QFile::copy(from, to)) << to.toStdString();
}

QStringList Names(const PlaylistModel& model, const QString& root) {
    QStringList names;
    for (int row = 0; row < model.Count(); ++row)
        names << QDir(root).relativeFilePath(model.EntryAt(row).Path);
    return names;
}

TEST(PlaylistAdding, FoldersSortedListsExpandedOddFilesRefusedWithoutOpening) {
    QTemporaryDir dir;
    const QString root = dir.path();
    Copy(SongsDir + "/Alien8.AY", root + "/c.AY");
    Copy(SongsDir + "/2BY_OLEG.ay", root + "/A.ay");
    Copy(SongsDir + "/TerraCresta.ay", root + "/B/y.ay");
    Copy(SongsDir + "/Exolon.AY", root + "/a/z.ay");
    Copy(QStringLiteral(ZIRRAFON_SOURCE_DIR "/assets/demo/demo.aym"), root + "/b.aym");
    QFile text(root + "/notes.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a song");
    text.close();
    QFile bad(root + "/bad.ay");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("ZXAYNOPE and then nothing");
    bad.close();
    // A FIFO nobody writes to: opening it for reading would block forever.
    ASSERT_EQ(mkfifo(QFile::encodeName(root + "/pipe.ay").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(root + "/nowhere.ay", root + "/gone.ay"));
    // A list naming a file of the folder, a missing one and a URI.
    QFile list(root + "/lists/l.m3u");
    QDir().mkpath(root + "/lists");
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("#EXTM3U\r\n../A.ay\r\nfile://" + QFile::encodeName(root) +
               "/a/z.ay\r\nmissing.ay\r\n");
    list.close();

    PlaylistModel model;
    QSignalSpy failed(&model, &PlaylistModel::EntriesFailed);
    const int job = model.Add({root, root + "/lists/l.m3u", root + "/notes.txt"});
    QSignalSpy finished(&model, &PlaylistModel::AddingFinished);
    ASSERT_TRUE(WaitIdle(model));
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), job);

    // Folders first, then files, case-insensitively, at every level; only
    // song files from folders, everything a list or the caller names; a file
    // already listed (A.ay and a/z.ay, named by the list too) only once.
    EXPECT_EQ(Names(model, root),
              (QStringList{"a/z.ay", "B/y.ay", "A.ay", "b.aym", "bad.ay", "c.AY", "gone.ay",
                           "pipe.ay", "lists/missing.ay", "notes.txt"}));
    const auto status = [&](int row) { return model.EntryAt(row).Status; };
    const auto reason = [&](int row) { return model.EntryAt(row).Reason.toStdString(); };
    EXPECT_EQ(status(4), EntryStatus::Refused);
    EXPECT_EQ(reason(4), "Not Z80 emulation .AY file");
    EXPECT_EQ(status(6), EntryStatus::Missing);
    EXPECT_EQ(reason(6), "File not found");
    EXPECT_EQ(status(7), EntryStatus::Refused);
    EXPECT_EQ(reason(7), "Not a regular file");
    EXPECT_EQ(status(8), EntryStatus::Missing);
    EXPECT_EQ(status(9), EntryStatus::Refused);
    ASSERT_GE(failed.count(), 1);
    // Added again, the folder lists nothing new; asked for, a file comes twice.
    model.Add({root});
    ASSERT_TRUE(WaitIdle(model));
    EXPECT_EQ(model.Count(), 10);
    model.Add({root + "/c.AY"}, true);
    ASSERT_TRUE(WaitIdle(model));
    EXPECT_EQ(Names(model, root).last(), "c.AY");

    // A song file's details are what the session says of it.
    SongSession session;
    for (const int row : {0, 1, 2, 3, 5}) {
        const PlaylistEntry& e = model.EntryAt(row);
        ASSERT_EQ(e.Status, EntryStatus::Ready) << row;
        const std::string name = QFile::encodeName(e.Path).toStdString();
        ASSERT_TRUE(session.Open(name, SongKindByExtension(name), nullptr));
        ASSERT_EQ(e.Songs.size(), session.List.SongCount);
        for (int s = 0; s < e.Songs.size(); ++s)
            EXPECT_EQ(e.Songs[s].Frames, session.RenderTiming(s).Frames) << row << " " << s;
        EXPECT_EQ(e.Author, QString::fromLatin1(session.List.AuthorText.c_str()));
    }
    int songs = 0;
    uint64_t frames = 0;
    for (int row = 0; row < model.Count(); ++row)
        if (model.EntryAt(row).Playable()) {
            songs += model.EntryAt(row).Songs.size();
            frames += model.EntryAt(row).TotalFrames();
        }
    EXPECT_EQ(model.SongCount(), songs);
    EXPECT_EQ(model.TotalFrames(), frames);
    EXPECT_EQ(model.rowCount(model.index(5, 0)), 5); // c.AY's songs under it
}

TEST(PlaylistAdding, ManyFilesArriveInOrderInSeveralBatchesAndCanBeCancelled) {
    QTemporaryDir dir;
    QStringList expected;
    for (int i = 0; i < 450; ++i) {
        const QString name = QStringLiteral("%1/s%2.ay").arg(dir.path()).arg(i, 4, 10, QChar('0'));
        Copy(SongsDir + "/Alien8.AY", name);
        expected << name;
    }
    PlaylistModel model;
    QSignalSpy arrived(&model, &PlaylistModel::EntriesArrived);
    model.Add({dir.path()});
    ASSERT_TRUE(WaitIdle(model));
    EXPECT_GE(arrived.count(), 2);
    QStringList got;
    for (int row = 0; row < model.Count(); ++row) got << model.EntryAt(row).Path;
    EXPECT_EQ(got, expected);
    std::set<quint64> ids;
    for (int row = 0; row < model.Count(); ++row) ids.insert(model.EntryAt(row).Id);
    EXPECT_EQ(ids.size(), 450u);

    // Moving keeps the ids and the current song; removing keeps the totals.
    model.SetCurrent(model.EntryAt(3).Id, 2);
    const quint64 third = model.EntryAt(3).Id, first = model.EntryAt(0).Id;
    model.MoveEntries({3, 0}, 10);
    EXPECT_EQ(model.EntryAt(8).Id, first);
    EXPECT_EQ(model.EntryAt(9).Id, third);
    EXPECT_EQ(model.CurrentRow(), 9);
    EXPECT_EQ(model.CurrentIndex().parent().row(), 9);
    model.RemoveEntries({9, 0, 1});
    EXPECT_EQ(model.Count(), 447);
    EXPECT_EQ(model.CurrentId(), 0u);
    EXPECT_EQ(model.SongCount(), 447 * 5);

    // Clearing drops what is still being read: nothing more arrives. It can
    // be undone while the list stays empty.
    model.Add({dir.path() + "/s0100.ay"}, true);
    model.Clear();
    ASSERT_TRUE(WaitIdle(model));
    QCoreApplication::processEvents();
    EXPECT_EQ(model.Count(), 0);
    ASSERT_TRUE(model.CanUndoClear());
    model.UndoClear();
    EXPECT_EQ(model.Count(), 447);
    EXPECT_EQ(model.SongCount(), 447 * 5);
    model.Clear();

    // Files and folders dropped on the window's rows (as a file manager drags
    // them) join the list.
    PlaylistWindow window(model);
    window.show();
    QMimeData dragged;
    dragged.setUrls({QUrl::fromLocalFile(expected[7]), QUrl::fromLocalFile(SongsDir)});
    QWidget* rows = window.View().viewport();
    const QPoint at = rows->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(rows, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(rows, &move);
    QDropEvent drop(at, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(rows, &drop);
    ASSERT_TRUE(WaitIdle(model));
    QCoreApplication::processEvents();
    ASSERT_EQ(model.Count(), 1 + QDir(SongsDir).entryList({"*.ay", "*.AY"}, QDir::Files).size());
    EXPECT_EQ(model.EntryAt(0).Path, expected[7]);

    // Files found failing one at a time (while they play) are all counted.
    model.MarkFailed(0, EntryStatus::Missing, "File not found");
    model.MarkFailed(1, EntryStatus::Missing, "File not found");
    EXPECT_TRUE(window.StatusText().endsWith(" — 2 files skipped (s0007.ay: File not found, …)"))
        << window.StatusText().toStdString();
}

// The order over entries of 2, 0 (failed), 3 and 1 songs.
QVector<OrderItem> Items() { return {{11, 2}, {12, 0}, {13, 3}, {14, 1}}; }

struct Step {
    const char* Name;
    RepeatMode Repeat;
    bool ByUser;
    std::optional<PlaylistPosition> From;
    std::optional<PlaylistPosition> Next;
};

class PlaylistOrderInSequence : public ::testing::TestWithParam<Step> {};

TEST_P(PlaylistOrderInSequence, MovesOnAsTheRulesSay) {
    const Step& s = GetParam();
    PlaylistOrder order(1);
    order.Repeat = s.Repeat;
    EXPECT_EQ(order.Next(Items(), s.From, s.ByUser), s.Next);
}

INSTANTIATE_TEST_SUITE_P(Rules, PlaylistOrderInSequence,
                         ::testing::Values(Step{"StartsAtTheFirstPlayable", RepeatMode::Off, false,
                                                std::nullopt, PlaylistPosition{11, 0}},
                                           Step{"WithinAFile", RepeatMode::Off, false,
                                                PlaylistPosition{11, 0}, PlaylistPosition{11, 1}},
                                           Step{"CrossesFilesSkippingAFailedOne", RepeatMode::Off,
                                                false, PlaylistPosition{11, 1},
                                                PlaylistPosition{13, 0}},
                                           Step{"EndOfTheList", RepeatMode::Off, false,
                                                PlaylistPosition{14, 0}, std::nullopt},
                                           Step{"RepeatAllWraps", RepeatMode::All, false,
                                                PlaylistPosition{14, 0}, PlaylistPosition{11, 0}},
                                           Step{"RepeatOneRepeats", RepeatMode::One, false,
                                                PlaylistPosition{13, 1}, PlaylistPosition{13, 1}},
                                           Step{"RepeatOneNextMovesOn", RepeatMode::One, true,
                                                PlaylistPosition{13, 1}, PlaylistPosition{13, 2}},
                                           Step{"GoneEntryStartsOver", RepeatMode::Off, false,
                                                PlaylistPosition{99, 0}, PlaylistPosition{11, 0}}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PlaylistOrderRules, PreviousCrossesBackAndAllFailedStopsAtOnce) {
    PlaylistOrder order(1);
    EXPECT_EQ(order.Previous(Items(), {13, 0}), (PlaylistPosition{11, 1}));
    EXPECT_EQ(order.Previous(Items(), {11, 0}), std::nullopt);
    order.Repeat = RepeatMode::All;
    EXPECT_EQ(order.Previous(Items(), {11, 0}), (PlaylistPosition{14, 0}));
    // Nothing playable: no answer, whatever the mode (no endless search).
    const QVector<OrderItem> failures = {{1, 0}, {2, 0}};
    for (const bool shuffle : {false, true}) {
        order.Shuffle = shuffle;
        EXPECT_EQ(order.Next(failures, std::nullopt, false), std::nullopt);
        EXPECT_EQ(order.Next(failures, PlaylistPosition{1, 0}, true), std::nullopt);
    }
}

TEST(PlaylistOrderRules, ShufflePlaysEverySongOnceBeforeAnyAgain) {
    for (const uint32_t seed : {1u, 2u, 3u}) {
        PlaylistOrder order(seed);
        order.Shuffle = true;
        std::optional<PlaylistPosition> at;
        std::set<PlaylistPosition> heard;
        std::vector<PlaylistPosition> played;
        for (int i = 0; i < 6; ++i) {
            at = order.Next(Items(), at, false);
            ASSERT_TRUE(at) << i;
            EXPECT_TRUE(heard.insert(*at).second) << "song played twice in one round";
            order.Played(*at);
            played.push_back(*at);
        }
        EXPECT_EQ(heard.size(), 6u);
        EXPECT_EQ(order.Next(Items(), at, false), std::nullopt); // repeat off: the round ends
        // Previous walks back through what was played, Next forward again;
        // a restart of the song heard changes neither way.
        EXPECT_EQ(order.Previous(Items(), played[5]), played[4]);
        order.Played(played[4]);
        EXPECT_EQ(order.Previous(Items(), played[4]), played[3]);
        order.Played(played[3]);
        order.Played(played[3]);
        for (const int k : {4, 5}) {
            EXPECT_EQ(order.Next(Items(), played[k - 1], true), played[k]);
            order.Played(played[k]);
        }
        order.Repeat = RepeatMode::All;
        const auto again = order.Next(Items(), played[5], false);
        ASSERT_TRUE(again);
        EXPECT_NE(*again, played[5]); // a new round does not start with the song just heard
    }
}

// Names from old collections are often Latin-1 or cp1251, not UTF-8: such a
// file is listed from its folder, read, saved by its bytes and found again,
// and shown readably.
TEST(PlaylistKeeping, SavedWholeRestoredWithCurrentSongDamagedKeptAside) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/keep/playlist.m3u8";
    Copy(SongsDir + "/Alien8.AY", dir.path() + "/keep/songs/x.ay");
    Copy(SongsDir + "/TerraCresta.ay", dir.path() + "/elsewhere/y.ay");
    QFile source(SongsDir + "/2BY_OLEG.ay");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray song = source.readAll();
    const QByteArray folder = QFile::encodeName(dir.path() + "/keep/odd/");
    const struct {
        QByteArray Name;
        QString Shown;
    } foreign[] = {{"caf\xE9.ay", QStringLiteral("café.ay")},
                   {"\xCF\xE5\xF1\xED\xFF.ay", QStringLiteral("Песня.ay")}};
    ASSERT_EQ(mkdir(folder.constData(), 0700), 0);
    for (const auto& f : foreign) {
        std::FILE* out = std::fopen((folder + f.Name).constData(), "wb");
        ASSERT_TRUE(out);
        ASSERT_EQ(std::fwrite(song.constData(), 1, static_cast<size_t>(song.size()), out),
                  static_cast<size_t>(song.size()));
        std::fclose(out);
    }
    const auto expectForeign = [&](const PlaylistModel& model, int first) {
        for (int i = 0; i < 2; ++i) {
            const PlaylistEntry& e = model.EntryAt(first + i);
            EXPECT_EQ(LocalPath(e.Path), folder + foreign[i].Name);
            EXPECT_EQ(e.Status, EntryStatus::Ready) << e.Reason.toStdString();
            EXPECT_EQ(model.data(model.index(first + i, PlaylistModel::FileColumn)).toString(),
                      foreign[i].Shown);
        }
    };
    {
        PlaylistModel model;
        PlaylistStore store(model, path);
        QSignalSpy saved(&store, &PlaylistStore::Saved);
        model.Add({dir.path() + "/keep/songs/x.ay", dir.path() + "/elsewhere/y.ay",
                   dir.path() + "/gone.ay", dir.path() + "/keep/odd"});
        ASSERT_TRUE(WaitIdle(model));
        ASSERT_EQ(model.Count(), 5);
        expectForeign(model, 3);
        model.SetCurrent(model.EntryAt(1).Id, 3);
        ASSERT_TRUE(saved.wait(3000));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        EXPECT_TRUE(text.startsWith("#EXTM3U\n#ZIRRAFON-CURRENT:1,3\n#EXTINF:"))
            << text.toStdString();
        EXPECT_TRUE(text.contains(",Unknown - Alien 8 - Title (Beeper)\n"));
        EXPECT_TRUE(text.contains("\nsongs/x.ay\n"));
        // Its bytes, as a URI: the list stays UTF-8.
        EXPECT_TRUE(text.contains("keep/odd/caf%E9.ay\n")) << text.toStdString();
        // Written through a temporary file: nothing else is left in the folder.
        EXPECT_EQ(QDir(dir.path() + "/keep").entryList(QDir::Files), QStringList{"playlist.m3u8"});
    }
    {
        PlaylistModel model;
        PlaylistStore store(model, path);
        store.Restore();
        ASSERT_TRUE(WaitIdle(model));
        ASSERT_EQ(model.Count(), 5);
        expectForeign(model, 3);
        EXPECT_EQ(model.CurrentRow(), 1);
        EXPECT_EQ(model.CurrentSong(), 3);
        EXPECT_EQ(model.EntryAt(2).Status, EntryStatus::Missing); // kept: the drive may come back
    }
    for (const QByteArray& damage : {QByteArray("\0\0garbage", 9), QByteArray("just text\n")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(damage);
        file.close();
        PlaylistModel model;
        PlaylistStore store(model, path);
        QSignalSpy failed(&store, &PlaylistStore::Failed);
        store.Restore();
        ASSERT_TRUE(WaitIdle(model));
        EXPECT_EQ(model.Count(), 0);
        ASSERT_EQ(failed.count(), 1);
        EXPECT_TRUE(failed.at(0).at(0).toString().contains(path + ".bad"));
        QFile kept(path + ".bad");
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), damage); // nothing lost
        EXPECT_FALSE(QFile::exists(path));
    }
}

} // namespace
