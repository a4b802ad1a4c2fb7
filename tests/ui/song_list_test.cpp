// Beyond playing one song until it is stopped: song lengths followed (cut and
// faded as zirrafon-render renders them, then the next song from its first
// frame), the recent files and the stored switch, exporting a song to WAV,
// and the menu that offers them. The player parts run without a widget, on
// the fake wave device; what they produce is compared with zirrafon-render.
#include "../songs/song_files.h"
#include "fake_wave_out.h"
#include "platform/messages.h"
#include "platform/settings.h"
#include "playback/player.h"
#include "playback/song_export.h"
#include "player_bed.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// zirrafon-render's WAV file for song `song` (counted from 1) of `file`.
QByteArray RenderedWav(const QString& file, int song, const QStringList& options = {}) {
    QTemporaryDir dir;
    const QString out = dir.filePath("ref.wav");
    QProcess render;
    render.setProcessChannelMode(QProcess::ForwardedChannels);
    render.start(QStringLiteral(ZIRRAFON_BINARY_DIR "/zirrafon-render"),
                 QStringList{"-o", out, "-s", QString::number(song)} + options + QStringList{file});
    EXPECT_TRUE(render.waitForFinished(60000) && render.exitCode() == 0);
    return ReadAll(out);
}

// Its samples (the header of our WAV files is always 44 bytes).
std::vector<int16_t> Rendered(const QString& file, int song, const QStringList& options = {}) {
    const QByteArray wav = RenderedWav(file, song, options);
    std::vector<int16_t> v(static_cast<size_t>(std::max<qsizetype>(wav.size() - 44, 0)) / 2);
    std::memcpy(v.data(), wav.constData() + 44, v.size() * 2);
    return v;
}

class SongLengths : public ::testing::Test {
  protected:
    void SetUp() override {
        messages.Install();
        player = std::make_unique<Player>(driver.Factory());
        driver.Watch(*player);
        QObject::connect(player.get(), &Player::SongNumberChanged,
                         [this](int n) { announced.push_back(n); });
        // Three songs of 0.8 s (fading over 0.2 s), 0.6 s and 0.4 s (fading over 0.1 s).
        song = dir.filePath("three.ay");
        QFile f(song);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const Bytes bytes = BuildToneAY(3, 0, {40, 30, 20}, {10, 0, 5});
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    void TearDown() override { EXPECT_TRUE(messages.Messages.empty()); }

    // What the device is given, buffer after buffer, as it plays them.
    std::vector<int16_t> Heard(int buffers) {
        std::vector<int16_t> out;
        for (int i = 0; i < buffers && player->Playing && !driver.Queue.empty(); ++i) {
            WaveHeader* h = driver.Queue.front();
            out.insert(out.end(), h->Data, h->Data + h->BufferLength / 2);
            driver.Complete(h);
            QCoreApplication::processEvents();
        }
        return out;
    }

    QTemporaryDir dir;
    QString song;
    FakeWaveOutDriver driver;
    MessageRecorder messages;
    std::unique_ptr<Player> player;
    std::vector<int> announced;
};

TEST_F(SongLengths, FollowedSongsEndFadedAndTheNextStartsWithTheNextFrame) {
    player->Settings.SetFollowSongLengths(true);
    player->OpenAndPlay(song);
    const std::vector<int16_t> heard = Heard(20);
    EXPECT_FALSE(player->Playing) << "playback stops after the last song";

    std::vector<int16_t> expected;
    const size_t frames[] = {35280, 26460, 17640}; // 0.8 s, 0.6 s, 0.4 s
    for (int n = 1; n <= 3; ++n) {
        const std::vector<int16_t> one = Rendered(song, n);
        ASSERT_EQ(one.size(), 2 * frames[n - 1]);
        expected.insert(expected.end(), one.begin(), one.end());
    }
    ASSERT_GE(heard.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin()));
    EXPECT_TRUE(std::all_of(heard.begin() + static_cast<ptrdiff_t>(expected.size()), heard.end(),
                            [](int16_t v) { return v == 0; }));
    EXPECT_EQ(announced, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(player->List.CurrentSong, 2);

    // Not followed, a song plays on past its length, unfaded.
    announced.clear();
    player->Settings.SetFollowSongLengths(false);
    player->PlaySongAt(0);
    const std::vector<int16_t> on = Heard(4);
    EXPECT_TRUE(player->Playing);
    EXPECT_EQ(
        on, Rendered(song, 1, {"-t", QString::number(4 * 16320 / 44100.0, 'f', 6), "--fade", "0"}));
    EXPECT_EQ(announced, std::vector<int>{1});
    player->Stop();
}

TEST_F(SongLengths, RecentFilesAndTheSwitchAreStoredAndRemovedWithTheParameters) {
    ScopedEnvironment config("XDG_CONFIG_HOME", MakeFolder(dir.filePath("config")));
    PlayerSettings& settings = player->Settings;
    settings.LoadStored();
    QStringList opened;
    for (int i = 0; i < 10; ++i) {
        const QString copy = dir.filePath(QStringLiteral("song%1.ay").arg(i));
        ASSERT_TRUE(QFile::copy(song, copy));
        player->OpenAndPlay(copy);
        opened.prepend(copy);
    }
    player->OpenAndPlay(opened[5]); // again: to the top, once
    QStringList expected = opened.mid(0, 8);
    expected.move(5, 0);
    EXPECT_EQ(settings.RecentFiles, expected);
    settings.SetFollowSongLengths(true);
    player->StopPlaying();

    SongSession other;
    PlayerSettings reloaded(*other.Engine);
    reloaded.LoadStored();
    EXPECT_TRUE(reloaded.FollowSongLengths);
    EXPECT_EQ(reloaded.RecentFiles, expected);
    const SettingsStore store;
    EXPECT_EQ(store.ReadPlayerValue("FollowSongLengths")->toString(), "true");
    // Nothing of it goes into the start-up options.
    EXPECT_FALSE(QSettings(store.FilePath(), QSettings::IniFormat).contains("1.0/Startup"));

    // "Remove parameters" takes it all away, and the next song opened does
    // not write it back.
    EXPECT_TRUE(SettingsStore().RemoveSettings());
    settings.StopStoring();
    player->OpenAndPlay(opened[0]);
    player->StopPlaying();
    EXPECT_EQ(settings.RecentFiles, QStringList{opened[0]}); // for this run only
    EXPECT_FALSE(QFileInfo::exists(store.FolderPath()));
    PlayerSettings fresh(*other.Engine);
    fresh.LoadStored();
    EXPECT_FALSE(fresh.FollowSongLengths);
    EXPECT_TRUE(fresh.RecentFiles.isEmpty());
}

// ---- Export --------------------------------------------------------------------------------

class Export : public ::testing::Test {
  protected:
    // Runs an export to `target` and waits for its end; the error, or "".
    QString Run(SongExport& job, const SongExportRequest& request) {
        QString result = QStringLiteral("no answer");
        QObject::connect(&job, &SongExport::Finished,
                         [&](bool ok, const QString& error) { result = ok ? QString() : error; });
        EXPECT_TRUE(job.Start(request));
        QElapsedTimer clock;
        clock.start();
        while (result == QLatin1String("no answer") && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result;
    }
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
    request.ChipMode = 5;
    request.BeeperSetting = 8000;
    request.Volume = 20;
    request.Target = dir.filePath("beeper.wav");
    SongExport job;
    EXPECT_EQ(Run(job, request), QString());
    EXPECT_EQ(ReadAll(request.Target),
              RenderedWav(songFile, 3, {"-m", "YMACB", "-b", "8000", "-v", "20"}));

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
    EXPECT_EQ(Run(job, request), QStringLiteral("cancelled"));
    EXPECT_EQ(ReadAll(old.fileName()), QByteArray("what the user had"));
    EXPECT_EQ(Listing(), before);
    request.Target = dir.filePath("new.wav");
    EXPECT_EQ(Run(job, request), QStringLiteral("cancelled"));
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
    EXPECT_EQ(Run(job, request), QStringLiteral("Read beyond end of file"));
    EXPECT_EQ(ReadAll(old.fileName()), QByteArray("what the user had"));
    QStringList withCut = before + QStringList{"cut.ay"};
    withCut.sort();
    EXPECT_EQ(Listing(), withCut);
}

// ---- The menu ------------------------------------------------------------------------------

TEST(SongListMenu, ListsTheSongsAndActsThroughThePlayer) {
    PlayerBed bed;
    TForm1& form = *bed.Form;
    const QString song = bed.Root.filePath("menu.ay");
    {
        QFile f(song);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const Bytes bytes = BuildToneAY(3, 1, {3000, 0, 6150});
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    form.OpenAndPlay(song);
    std::unique_ptr<QMenu> menu = form.BuildContextMenu();
    QStringList texts;
    QList<QAction*> actions = menu->actions();
    for (QAction* a : actions)
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text()) +
                     (a->isChecked() ? QStringLiteral(" [x]") : QString());
    EXPECT_EQ(texts, (QStringList{"1. Song 1\t1:00", "2. Song 2 [x]", "3. Song 3\t2:03", "-",
                                  "Follow song lengths", "Export song to WAV…", "-", "Parameters…",
                                  "About", "-", "Recent files"}));
    EXPECT_EQ(actions.last()->menu()->actions().size(), 1);
    EXPECT_EQ(actions.last()->menu()->actions().first()->text(), song);

    actions[2]->trigger(); // song 3
    EXPECT_EQ(form.Playback->List.CurrentSong, 2);
    EXPECT_TRUE(form.Playback->Playing);
    EXPECT_EQ(form.SongNumberShown, 3);
    EXPECT_EQ(form.ElapsedText(), "0:00 / 2:03"); // the tooltip
    actions[1]->trigger();
    EXPECT_EQ(form.ElapsedText(), "0:00"); // no length given
    actions[4]->trigger();
    EXPECT_TRUE(form.Settings.FollowSongLengths);
    EXPECT_TRUE(form.BuildContextMenu()->actions()[4]->isChecked());

    // A recent file that is gone leaves the list, with a message naming it.
    ASSERT_TRUE(QFile::remove(song));
    form.BuildContextMenu()->actions().last()->menu()->actions().first()->trigger();
    ASSERT_EQ(bed.Messages.Messages.size(), 1u);
    EXPECT_TRUE(bed.Messages.Messages[0].Text.contains(song));
    EXPECT_TRUE(form.Settings.RecentFiles.isEmpty());
    EXPECT_FALSE(form.BuildContextMenu()->actions().last()->isEnabled());
    form.StopButtonAction();
}

} // namespace
