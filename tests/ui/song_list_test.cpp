// Exporting a song to WAV (compared with zirrafon-render's file, byte for
// byte) and the song list menu that offers it with the songs, following song
// lengths and the recent files. The player's side of song lengths and recent
// files is in playback_test.cpp.
#include "../formats/song_files.h"
#include "../formats/stream_writer.h"
#include "platform/messages.h"
#include "playback/player.h"
#include "playback/playlist.h"
#include "playback/playlist_playback.h"
#include "playback/song_export.h"
#include "playback/voice_scope.h"
#include "player_bed.h"
#include "ui/position_bar.h"
#include "ui/voices_view.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {

// ---- Export --------------------------------------------------------------------------------

class Export : public ::testing::Test {
  protected:
    // Runs an export to `target` and waits for its end.
    std::optional<ExportResult> Run(SongExport& job, const SongExportRequest& request) {
        std::optional<ExportResult> result;
        QObject::connect(
            &job, &SongExport::Finished, &job, [&](const ExportResult& r) { result = r; },
            Qt::SingleShotConnection);
        EXPECT_TRUE(job.Start(request));
        QElapsedTimer clock;
        clock.start();
        while (!result && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result;
    }
    const ExportResult Written{};
    const ExportResult Cancelled{ExportResult::Outcome::Cancelled, {}};
    QStringList Listing() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir dir;
};

TEST_F(Export, WritesWhatTheRendererWritesAndNeverLeavesHalfAFile) {
    const QString songFile = QStringLiteral(ZIRRAFON_SOURCE_DIR "/assets/demo/demo.ay");
    EXPECT_EQ(DefaultExportName(songFile, 2),
              QStringLiteral(ZIRRAFON_SOURCE_DIR "/assets/demo/demo-03.wav"));
    SongExportRequest request;
    request.SongFile = songFile;
    request.Song = 2;
    request.Chip = {5, 8000, 20};
    request.Target = dir.filePath("beeper.wav");
    SongExport job;
    const mode_t mask = ::umask(077); // a new file is made as the user's umask says
    EXPECT_EQ(Run(job, request), Written);
    ::umask(mask);
    EXPECT_EQ(ReadAll(request.Target),
              RenderedWav(songFile, 3, {"-m", "YMACB", "-b", "8000", "-v", "20"}));
    struct stat made {};
    ASSERT_EQ(::stat(QFile::encodeName(request.Target).constData(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0600u);
    // The target's extension chooses the format.
    request.Target = dir.filePath("beeper.flac");
    EXPECT_EQ(Run(job, request), Written);
    EXPECT_TRUE(ReadAll(request.Target).startsWith("fLaC"));
    QFile::remove(request.Target);

    // Cancelled after a few buffers: the file that was there stays as it was.
    QFile old(dir.filePath("old.wav"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("what the user had");
    old.close();
    const QStringList before = Listing();
    request.Target = old.fileName();
    job.WorkerHook = [&job](uint64_t frames) {
        if (frames > 5 * 16320) job.Cancel();
    };
    EXPECT_EQ(Run(job, request), Cancelled);
    EXPECT_EQ(ReadAll(old.fileName()), QByteArray("what the user had"));
    EXPECT_EQ(Listing(), before);
    request.Target = dir.filePath("new.wav");
    EXPECT_EQ(Run(job, request), Cancelled);
    EXPECT_EQ(Listing(), before);
    job.WorkerHook = nullptr;

    // A song whose blocks run past the end of its file fails the same way.
    const QString cut = dir.filePath("cut.ay");
    QFile cutFile(cut);
    ASSERT_TRUE(cutFile.open(QIODevice::WriteOnly));
    cutFile.write(ReadAll(QStringLiteral(ZIRRAFON_TESTDATA_DIR "/ay/Exolon.AY")).left(3000));
    cutFile.close();
    request.SongFile = cut;
    request.Song = 0;
    request.Target = old.fileName();
    EXPECT_EQ(Run(job, request),
              (ExportResult{ExportResult::Outcome::Failed, "Read beyond end of file"}));
    EXPECT_EQ(ReadAll(old.fileName()), QByteArray("what the user had"));
    QStringList withCut = before + QStringList{"cut.ay"};
    withCut.sort();
    EXPECT_EQ(Listing(), withCut);
}

// ---- The menu ------------------------------------------------------------------------------

TEST(SongListMenu, ListsTheSongsAndActsThroughThePlayer) {
    PlayerBed bed;
    MainWindow& form = *bed.Form;
    const QString song = bed.Root.filePath("menu.ay");
    {
        QFile f(song);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const Bytes bytes = BuildToneAY(3, 1, {3000, 0, 6150});
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    bed.Playback->OpenAndPlay(song);
    std::unique_ptr<QMenu> menu = form.BuildContextMenu();
    QStringList texts;
    QList<QAction*> actions = menu->actions();
    for (QAction* a : actions)
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text()) +
                     (a->isChecked() ? QStringLiteral(" [x]") : QString());
    EXPECT_EQ(texts, (QStringList{"1. Song 1\t1:00", "2. Song 2 [x]", "3. Song 3\t2:03", "-",
                                  "Follow song lengths", "Voices", "Position bar", "Voices view\tO",
                                  "Export song to WAV…", "-", "Playlist…", "Parameters…", "About",
                                  "-", "Recent files"}));
    EXPECT_EQ(actions.last()->menu()->actions().size(), 1);
    EXPECT_EQ(actions.last()->menu()->actions().first()->text(), "Song 2 — menu.ay");

    actions[2]->trigger(); // song 3
    EXPECT_EQ(bed.Playback->NowPlaying().Song, 2);
    EXPECT_EQ(bed.Playback->State(), PlayState::Playing);
    EXPECT_EQ(bed.Playback->NowPlaying().Number, 3);
    // The tooltip: a length is an end only while song lengths are followed.
    EXPECT_EQ(form.ElapsedText(), "0:00 (length 2:03)");
    EXPECT_EQ(form.TooltipText(), "Song 3\nTest Author\nTest Misc\n0:00 (length 2:03)");
    actions[1]->trigger();
    EXPECT_EQ(form.ElapsedText(), "0:00"); // no length given
    actions[4]->trigger();
    EXPECT_TRUE(bed.Settings().FollowSongLengths());
    EXPECT_TRUE(form.BuildContextMenu()->actions()[4]->isChecked());
    actions[2]->trigger();
    EXPECT_EQ(form.ElapsedText(), "0:00 / 2:03");
    actions[1]->trigger();

    // Voices: checked while heard. 1-4 mute and bring back, Shift+1-4 play
    // one alone (again: all come back); the menu shows it and acts alike.
    const auto heard = [&form] {
        QString marks;
        const std::unique_ptr<QMenu> menu = form.BuildContextMenu();
        for (QAction* a : menu->actions()[5]->menu()->actions())
            if (a->isCheckable()) marks += a->isChecked() ? QLatin1Char('x') : QLatin1Char('-');
        return marks;
    };
    EXPECT_EQ(heard(), "xxxx");
    QTest::keyClick(&form, Qt::Key_1);
    QTest::keyClick(&form, Qt::Key_4);
    EXPECT_EQ(heard(), "-xx-");
    const ChipMix& mix = bed.Playback->Engine().Chip.Mix;
    EXPECT_TRUE(std::all_of(&mix.VolumeTable[0][0][0], &mix.VolumeTable[1][0][0],
                            [](int32_t v) { return v == 0; }));
    EXPECT_NE(mix.VolumeTable[1][0][31], 0);
    EXPECT_EQ(mix.BeeperAmplitude, 0);
    QTest::keyClick(&form, Qt::Key_3, Qt::ShiftModifier);
    EXPECT_EQ(heard(), "--x-");
    form.BuildContextMenu()->actions()[5]->menu()->actions()[0]->trigger(); // channel A
    EXPECT_EQ(heard(), "x-x-");
    QTest::keyClick(&form, Qt::Key_2, Qt::ShiftModifier);
    QTest::keyClick(&form, Qt::Key_2, Qt::ShiftModifier);
    EXPECT_EQ(heard(), "xxxx");
    EXPECT_EQ(mix.BeeperAmplitude, ComputeBeeperAmplitude(16384, VolumeSteps, VolumeSteps));

    // From the playlist, the list's mark follows a song changed within the
    // file as the menu and Next (C) change it.
    bed.Playback->Stop();
    bed.App->PlaylistPlayer().Enqueue({song});
    QElapsedTimer clock;
    clock.start();
    while (!(bed.Playback->FromPlaylist() && bed.Playback->State() == PlayState::Playing) &&
           clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(bed.Playback->FromPlaylist());
    const PlaylistModel& list = bed.App->Playlist();
    EXPECT_EQ(list.CurrentSong(), bed.Playback->NowPlaying().Song);
    form.BuildContextMenu()->actions()[0]->trigger();
    EXPECT_EQ(list.CurrentSong(), 0);
    bed.Playback->Next();
    EXPECT_EQ(bed.Playback->NowPlaying().Song, 1);
    EXPECT_EQ(list.CurrentSong(), 1);

    // A recent file that is gone leaves the list, with a message naming it.
    ASSERT_TRUE(QFile::remove(song));
    form.BuildContextMenu()->actions().last()->menu()->actions().first()->trigger();
    ASSERT_EQ(bed.Messages.Messages.size(), 1u);
    EXPECT_TRUE(bed.Messages.Messages[0].Text.contains(song));
    EXPECT_TRUE(bed.Settings().RecentFiles().isEmpty());
    EXPECT_FALSE(form.BuildContextMenu()->actions().last()->isEnabled());
    bed.Playback->Stop();
}

// Left and Right go 5 s back and on in the song heard: the sound queued
// goes, and the buffers written next are the song from there, as a play from
// its start has it. Past a followed song's end, the next song plays.
TEST(SongListMenu, LeftAndRightSeekSampleExact) {
    PlayerBed bed;
    const QString file = QStringLiteral(ZIRRAFON_TESTDATA_DIR "/ay/Alien8.AY"); // 13 s, 3.5 s
    bed.Playback->OpenAndPlay(file);
    std::vector<int16_t> expected;
    {
        auto session = OpenSongFile(file.toStdString());
        SetChipAndChannels(session->Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
        SongStream stream(*session);
        stream.Start(0);
        expected = stream.Take(11 * OutputRate);
    }
    const auto writtenFrom = [&](size_t second) {
        const std::vector<int16_t> h1 = bed.Driver.LastWritten("H1");
        const std::vector<int16_t> h2 = bed.Driver.LastWritten("H2");
        const auto at = expected.begin() + static_cast<ptrdiff_t>(2 * second * OutputRate);
        return h1.size() == BufferValues && h2.size() == BufferValues &&
               std::equal(h1.begin(), h1.end(), at) &&
               std::equal(h2.begin(), h2.end(), at + BufferValues);
    };
    QTest::keyClick(bed.Form, Qt::Key_Right);
    EXPECT_EQ(bed.Driver.Calls.back(), "Write H2");
    EXPECT_NE(std::find(bed.Driver.Calls.begin(), bed.Driver.Calls.end(), "Reset"),
              bed.Driver.Calls.end());
    EXPECT_TRUE(writtenFrom(5));
    EXPECT_EQ(bed.Playback->Elapsed(), 5u * OutputRate);
    // The position bar shows it, and a page step on it seeks 5 s on.
    const std::unique_ptr<QMenu> menu = bed.Form->BuildContextMenu();
    for (QAction* a : menu->actions())
        if (a->text() == "Position bar") a->trigger();
    auto* bar = bed.Form->findChild<PositionBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->TimeText(), "0:05 (length 0:13)");
    EXPECT_EQ(bar->Slider()->value(), 50);
    bar->Slider()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCoreApplication::processEvents();
    EXPECT_TRUE(writtenFrom(10));
    EXPECT_EQ(bar->TimeText(), "0:10 (length 0:13)");
    QTest::keyClick(bed.Form, Qt::Key_Left);
    QTest::keyClick(bed.Form, Qt::Key_Left);
    QTest::keyClick(bed.Form, Qt::Key_Left);
    EXPECT_TRUE(writtenFrom(0));
    EXPECT_EQ(bed.Playback->State(), PlayState::Playing);

    bed.Settings().SetFollowSongLengths(true);
    bed.Playback->Seek(14 * OutputRate);
    EXPECT_EQ(bed.Playback->NowPlaying().Song, 1);
    bed.Playback->Stop();
}

// The voices view (O) shows the last frames heard of each voice exactly as
// zirrafon-render's stems have them: from the song's start, after a seek into
// a buffer, across the next buffer, in the fade of a followed song, for AY
// songs and a register stream; a muted voice is flat and the others stay as
// they were. Hidden, it keeps no machine.
TEST(SongListMenu, VoicesViewShowsTheStemsOfTheFramesHeard) {
    PlayerBed bed;
    YMPlan ym;
    for (int f = 0; f < 600; ++f) { // 12 s of tones on A, B and C
        StreamFrame r(16, 0);
        r[0] = static_cast<uint8_t>(f * 7);
        r[2] = static_cast<uint8_t>(f * 3 + 40);
        r[4] = static_cast<uint8_t>(255 - f % 200);
        r[7] = 0x38;
        r[8] = 12;
        r[9] = static_cast<uint8_t>(f % 16);
        r[10] = 9;
        ym.Frames.push_back(r);
    }
    const QString ymFile = bed.Root.filePath("tones.ym");
    {
        QFile f(ymFile);
        const Bytes bytes = MakeYM(ym);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    const QString songs = QStringLiteral(ZIRRAFON_TESTDATA_DIR "/ay/");
    const struct {
        QString File;
        bool Follow;          // song lengths followed (and the render of the file's length)
        uint64_t Seek;        // frames
        const char* Sounding; // at the seek, of "ABCb"; the first one is muted
    } cases[] = {
        {songs + "Exolon.AY", false, 7 * OutputRate + 1234, "ABC"},
        {songs + "Renegade.ay", true, 25 * OutputRate + 1234, "BC"}, // fades from 21 s
        {songs + "Alien8.AY", true, 7 * OutputRate + 1234, "b"},
        {ymFile, true, 7 * OutputRate + 1234, "ABC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File.toStdString());
        std::vector<int16_t> stems[VoiceCount];
        QByteArray mix; // the player's sound goes on as it was
        {
            QTemporaryDir dir;
            QProcess render;
            QStringList arguments{"--stems", "-o", dir.filePath("mix.wav"), c.File};
            if (!c.Follow)
                arguments << "-t"
                          << "11"
                          << "--fade"
                          << "0";
            render.start(QStringLiteral(ZIRRAFON_BINARY_DIR "/zirrafon-render"), arguments);
            ASSERT_TRUE(render.waitForFinished(60000) && render.exitCode() == 0);
            mix = ReadAll(dir.filePath("mix.wav")).mid(44);
            for (int v = 0; v < VoiceCount; ++v) {
                const QString name = dir.filePath(QStringLiteral("mix-%1.wav").arg(VoiceNames[v]));
                if (v == VoiceBeeper && c.File == ymFile) {
                    // A register stream drives no beeper: it gets no beeper voice.
                    ASSERT_FALSE(QFile::exists(name));
                    stems[v].assign(static_cast<size_t>(mix.size() / 4), 0);
                    continue;
                }
                const QByteArray wav = ReadAll(name);
                for (qsizetype i = 44; i + 1 < wav.size(); i += 2)
                    stems[v].push_back(static_cast<int16_t>(static_cast<uint8_t>(wav[i]) |
                                                            static_cast<uint8_t>(wav[i + 1]) << 8));
                // A file without a beeper gets no beeper stem: its beeper is silent.
                if (wav.isEmpty() && v == VoiceCount - 1) stems[v].assign(mix.size() / 4, 0);
                ASSERT_GT(stems[v].size(), c.Seek + BufferValues);
            }
        }
        bed.Settings().SetFollowSongLengths(c.Follow);
        bed.Playback->OpenAndPlay(c.File);
        if (!bed.Form->findChild<VoicesView*>() || !bed.Form->findChild<VoicesView*>()->isVisible())
            QTest::keyClick(bed.Form, Qt::Key_O);
        auto* view = bed.Form->findChild<VoicesView*>();
        ASSERT_TRUE(view && view->isVisible() && view->Scope());
        const VoiceScope& scope = *view->Scope();
        // Whether each voice's window is the stem's frames up to the one
        // heard ('='), or else flat at 0 ('0'), or neither ('x').
        const auto shown = [&] {
            view->Refresh();
            QElapsedTimer clock;
            clock.start();
            while (scope.Mapping() && !clock.hasExpired(20000)) {
                QTest::qWait(1);
                view->Refresh();
            }
            std::string marks;
            const uint64_t heard = bed.Playback->Elapsed();
            for (int v = 0; v < VoiceCount; ++v) {
                const std::span<const int16_t> window = scope.Window(v);
                const auto at = stems[v].begin() + static_cast<ptrdiff_t>(heard) -
                                static_cast<ptrdiff_t>(VoiceScope::WindowFrames);
                marks +=
                    std::equal(window.begin(), window.end(), at) ? '='
                    : std::all_of(window.begin(), window.end(), [](int16_t x) { return x == 0; })
                        ? '0'
                        : 'x';
            }
            return marks;
        };
        const auto played = [&] {
            bed.Driver.Complete(bed.Driver.Queue.front());
            QCoreApplication::processEvents();
        };
        played();
        EXPECT_EQ(shown(), "====");
        bed.Playback->Seek(c.Seek);
        EXPECT_EQ(shown(), "====");
        const std::vector<int16_t> heard = bed.Driver.LastWritten("H1");
        ASSERT_EQ(heard.size(), BufferValues);
        EXPECT_EQ(mix.mid(static_cast<qsizetype>(4 * c.Seek), 2 * BufferValues),
                  QByteArray(reinterpret_cast<const char*>(heard.data()), 2 * BufferValues));
        for (const char* v = c.Sounding; *v; ++v) {
            const int voice = *v == 'b' ? VoiceBeeper : *v - 'A';
            EXPECT_GT(scope.Peak(voice), 0) << *v;
        }
        const int muted = c.Sounding[0] == 'b' ? VoiceBeeper : c.Sounding[0] - 'A';
        std::string withMute = "====";
        withMute[static_cast<size_t>(muted)] = '0';
        QTest::keyClick(bed.Form, static_cast<Qt::Key>(Qt::Key_1 + muted));
        EXPECT_EQ(shown(), withMute);
        EXPECT_TRUE(scope.Muted(muted));
        EXPECT_EQ(scope.Peak(muted), 0);
        played();
        EXPECT_EQ(shown(), withMute);
        QTest::keyClick(bed.Form, static_cast<Qt::Key>(Qt::Key_1 + muted));
        EXPECT_EQ(shown(), "====");
    }

    // Open, the menu shows it checked; hidden, it has no scope.
    const std::unique_ptr<QMenu> menu = bed.Form->BuildContextMenu();
    for (QAction* a : menu->actions())
        if (a->text() == "Voices view\tO") {
            EXPECT_TRUE(a->isChecked());
        }
    QTest::keyClick(bed.Form, Qt::Key_O);
    auto* view = bed.Form->findChild<VoicesView*>();
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->Scope(), nullptr);
    bed.Playback->Stop();
}

} // namespace
