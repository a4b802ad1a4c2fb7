// The player's sound on the real audio path: the main window plays the demo
// songs through Qt Multimedia into the bed's PulseAudio null sink, the sink's
// monitor is recorded, and the recording must equal zirrafon-render's output
// for the same song sample for sample (after the leading silence).
#include "../songs/song_files.h"
#include "e2e_util.h"
#include "platform/messages.h"
#include "ui/form1.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>

namespace {

using e2e::ValuesPerSecond;

class RealOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        E2E_REQUIRE_BED();
        messages.Install();
        form = std::make_unique<TForm1>();
        form->OpenAndPlay(e2e::DemoFile("demo.ay"));
        ASSERT_TRUE(form->Playback->Playing) << Messages();
        form->StopButtonAction();
        QTest::qWait(200); // what was heard of the first start has gone
    }
    void TearDown() override {
        if (form) form->StopButtonAction();
        EXPECT_TRUE(messages.Messages.empty()) << Messages();
    }

    std::string Messages() const {
        std::string out;
        for (const auto& m : messages.Messages)
            out += m.Caption.toStdString() + ": " + m.Text.toStdString() + "\n";
        return out;
    }

    void StartRecording() {
        std::string error;
        ASSERT_TRUE(recording.Start(error)) << error;
    }
    // Starts song `song` (counted from 1) of the open file.
    void PlaySong(int song) {
        form->Playback->List.CurrentSong = song - 1;
        form->PlayButtonAction();
        ASSERT_TRUE(form->Playback->Playing) << Messages();
    }
    static std::vector<int16_t> Reference(int song, double seconds) {
        std::string error;
        std::vector<int16_t> v = e2e::Render(e2e::DemoFile("demo.ay"), song, seconds, error);
        EXPECT_FALSE(v.empty()) << error;
        return v;
    }

    MessageRecorder messages;
    std::unique_ptr<TForm1> form;
    e2e::Recording recording;
};

TEST_F(RealOutput, EveryDemoSongSoundsExactlyAsRendered) {
    for (int song = 1; song <= 3; ++song) {
        SCOPED_TRACE("song " + std::to_string(song));
        StartRecording();
        PlaySong(song);
        QTest::qWait(2600);
        form->StopButtonAction();
        QTest::qWait(150);
        const std::vector<int16_t> rec = recording.Stop();
        const std::vector<int16_t> ref = Reference(song, 4);
        EXPECT_EQ(e2e::CompareAligned(rec, ref, 2 * ValuesPerSecond), "");
    }
}

TEST_F(RealOutput, PauseAndResumeContinueAtTheNextFrame) {
    StartRecording();
    PlaySong(1);
    QTest::qWait(1200);
    form->PauseButtonAction();
    ASSERT_TRUE(form->Playback->Paused);
    QTest::qWait(800);
    form->PauseButtonAction();
    ASSERT_FALSE(form->Playback->Paused);
    QTest::qWait(1600);
    form->StopButtonAction();
    QTest::qWait(150);
    const std::vector<int16_t> rec = recording.Stop();
    size_t gap = 0;
    EXPECT_EQ(e2e::CompareAligned(rec, Reference(1, 5), 2 * ValuesPerSecond, true, &gap), "");
    const double gapSeconds = static_cast<double>(gap) / ValuesPerSecond;
    std::printf("pause: %.3f s of silence, then the song went on\n", gapSeconds);
    EXPECT_GT(gapSeconds, 0.5);
    EXPECT_LT(gapSeconds, 1.3);
}

TEST_F(RealOutput, StopSilencesAtOnce) {
    StartRecording();
    QElapsedTimer clock;
    clock.start();
    PlaySong(1);
    QTest::qWait(1500);
    form->StopButtonAction();
    const double wall = static_cast<double>(clock.elapsed()) / 1000;
    QTest::qWait(1000);
    const std::vector<int16_t> rec = recording.Stop();
    const std::vector<int16_t> ref = Reference(1, 4);

    const auto first = e2e::FirstNonZero(rec);
    const auto last = e2e::LastNonZero(rec);
    const auto songFirst = e2e::FirstNonZero(ref);
    ASSERT_TRUE(first && last && songFirst);
    // Song values heard, counted from the song's own start.
    const size_t heard = *last + 1 - (*first - *songFirst);
    const double heardSeconds = static_cast<double>(heard) / ValuesPerSecond;
    std::printf("stop: played for %.3f s, %.3f s of the song was heard\n", wall, heardSeconds);
    // Without the reset dropping what the sink held, about 0.7 s more would follow.
    EXPECT_LE(heardSeconds, wall + 0.1) << "played " << wall << " s";
    EXPECT_GE(heardSeconds, wall - 0.6) << "played " << wall << " s";
    EXPECT_EQ(e2e::CompareAligned(rec, ref, heard - *songFirst), "");
}

// A change of volume, beeper level or chip made while a song plays is heard
// within the two buffers of the cycle (0.74 s) plus the sound server's own
// latency: the recording leaves the unchanged rendering at most 0.8 s after
// the change, counted in song time.
TEST_F(RealOutput, ControlsAreHeardWithinTwoBuffers) {
    struct Change {
        const char* what;
        int song;
        int atMs;
        std::function<void(TForm1&)> make;
    };
    const Change changes[] = {
        {"volume 0", 1, 1500,
         [](TForm1& f) {
             f.Settings.Volume = 0;
             f.DrawVolume();
         }},
        {"beeper level 0", 3, 1700, [](TForm1& f) { f.Settings.SetBeeperSetting(0); }},
        {"chip YMMONO", 1, 1900, [](TForm1& f) { f.Settings.SetChipMode(1); }},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.what);
        StartRecording();
        QElapsedTimer clock;
        clock.start();
        PlaySong(c.song);
        QTest::qWait(c.atMs);
        c.make(*form);
        const double changedAt = static_cast<double>(clock.elapsed()) / 1000;
        QTest::qWait(1500);
        form->StopButtonAction();
        QTest::qWait(150);
        const std::vector<int16_t> rec = recording.Stop();
        const std::vector<int16_t> ref = Reference(c.song, 5);
        const auto first = e2e::FirstNonZero(rec);
        const auto songFirst = e2e::FirstNonZero(ref);
        ASSERT_TRUE(first && songFirst);
        size_t i = 0;
        while (*first + i < rec.size() && *songFirst + i < ref.size() &&
               rec[*first + i] == ref[*songFirst + i])
            ++i;
        const double heardAt = static_cast<double>(*songFirst + i) / ValuesPerSecond;
        std::printf("%s at %.3f s of play: heard %.3f s later\n", c.what, changedAt,
                    heardAt - changedAt);
        EXPECT_GT(heardAt, changedAt - 0.3) << "the change came before it was made";
        EXPECT_LE(heardAt - changedAt, 0.8);
        form->Settings.SetChipMode(DefaultChipMode);
        form->Settings.SetBeeperSetting(DefaultBeeperSetting);
        form->Settings.Volume = VolumeSteps;
        form->DrawVolume();
    }
}

// With song lengths followed, what is heard is each song exactly as
// zirrafon-render renders it by default (its length, its fade), one after the
// other without a gap, and then silence; without, the first song plays on.
TEST_F(RealOutput, FollowedSongLengthsPlayTheSongsOneAfterAnother) {
    QTemporaryDir dir;
    const QString file = dir.filePath("three.ay");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // 3 s fading over 1 s, 2 s fading over 0.5 s, 1 s.
        const Bytes bytes = BuildToneAY(3, 0, {150, 100, 50}, {50, 25, 0});
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    for (const bool follow : {true, false}) {
        SCOPED_TRACE(follow ? "followed" : "not followed");
        form->Settings.SetFollowSongLengths(follow);
        StartRecording();
        form->OpenAndPlay(file);
        QTest::qWait(follow ? 7000 : 4500);
        EXPECT_EQ(form->Playback->Playing, !follow);
        form->StopButtonAction();
        QTest::qWait(150);
        const std::vector<int16_t> rec = recording.Stop();
        std::string error;
        std::vector<int16_t> expected;
        const int songs = follow ? 3 : 1;
        for (int n = 1; n <= songs; ++n) {
            const std::vector<int16_t> one = e2e::Render(file, n, follow ? 0 : 4, error);
            ASSERT_FALSE(one.empty()) << error;
            expected.insert(expected.end(), one.begin(), one.end());
            std::printf("%s: song %d, %.3f s\n", follow ? "followed" : "not followed", n,
                        static_cast<double>(one.size()) / ValuesPerSecond);
        }
        const auto lead = e2e::FirstNonZero(expected);
        const auto first = e2e::FirstNonZero(rec);
        ASSERT_TRUE(lead && first);
        const size_t count = follow ? expected.size() - *lead : 3800 * ValuesPerSecond / 1000;
        EXPECT_EQ(e2e::CompareAligned(rec, expected, count), "");
        std::printf("%s: %.3f s heard exactly as rendered\n", follow ? "followed" : "not followed",
                    static_cast<double>(count) / ValuesPerSecond);
        if (follow) { // nothing after the last song
            ASSERT_LE(*first + count, rec.size());
            EXPECT_TRUE(std::all_of(rec.begin() + static_cast<ptrdiff_t>(*first + count), rec.end(),
                                    [](int16_t v) { return v == 0; }));
        } else { // past the first song's length of 3 s
            const auto last = e2e::LastNonZero(rec);
            ASSERT_TRUE(last);
            EXPECT_GT(static_cast<double>(*last - *first) / ValuesPerSecond, 3.5);
        }
    }
    form->Settings.SetFollowSongLengths(false);
}

TEST_F(RealOutput, AStallOfTheGuiThreadLeavesNoGap) {
    StartRecording();
    PlaySong(1);
    QElapsedTimer stall;
    qint64 stalled = 0;
    QTimer::singleShot(1000, [&] {
        stall.start();
        QThread::msleep(300);
        stalled = stall.elapsed();
    });
    QTest::qWait(3000);
    form->StopButtonAction();
    QTest::qWait(150);
    const std::vector<int16_t> rec = recording.Stop();
    ASSERT_GE(stalled, 300);
    std::printf("stall: the GUI thread was blocked for %lld ms\n", static_cast<long long>(stalled));
    EXPECT_EQ(e2e::CompareAligned(rec, Reference(1, 4), 2 * ValuesPerSecond + ValuesPerSecond / 2),
              "");
}

// The player program itself, started on a song like a user would, in a
// session without a bus: it plays as ever, only without the media-player
// interface.
TEST(PlayerProgram, PlaysTheSongNamedOnTheCommandLine) {
    E2E_REQUIRE_BED();
    e2e::Recording recording;
    std::string error;
    ASSERT_TRUE(recording.Start(error)) << error;
    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=/nonexistent/zirrafon/bus"));
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    player.start(e2e::BinaryPath("zirrafon"), {e2e::DemoFile("demo.aym")});
    ASSERT_TRUE(player.waitForStarted(5000));
    QTest::qWait(3000);
    EXPECT_EQ(player.state(), QProcess::Running);
    player.terminate();
    if (!player.waitForFinished(5000)) player.kill();
    const std::vector<int16_t> rec = recording.Stop();
    const std::vector<int16_t> ref = e2e::Render(e2e::DemoFile("demo.aym"), 1, 4, error);
    ASSERT_FALSE(ref.empty()) << error;
    EXPECT_EQ(e2e::CompareAligned(rec, ref, 2 * ValuesPerSecond), "");
}

// Without a sound server the start of output fails with a readable text and
// the player goes on working. Qt connects to the server once per process, so
// this runs in a child process of this test program whose environment points
// at a server that does not exist.
constexpr const char* NoServerChild = "ZIRRAFON_E2E_NO_SERVER_CHILD";

TEST(NoSoundServer, OpeningTheDeviceFailsReadablyAndThePlayerGoesOn) {
    E2E_REQUIRE_BED();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(NoServerChild), QStringLiteral("1"));
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/zirrafon/native"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=NoSoundServer.ChildSide")});
    ASSERT_TRUE(child.waitForFinished(30000)) << "the child hangs";
    const QString out = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("[  PASSED  ] 1 test"))) << out.toStdString();
}

class NoSoundServerChild : public ::testing::Test {
  public:
    void TestBody() override;
};

void NoSoundServerChild::TestBody() {
    MessageRecorder messages;
    messages.Install();
    TForm1 form;
    form.OpenAndPlay(e2e::DemoFile("demo.ay"));
    ASSERT_EQ(messages.Messages.size(), 1u);
    EXPECT_EQ(messages.Messages[0].Caption, QStringLiteral("WaveOutOpen"));
    EXPECT_EQ(messages.Messages[0].Text, QStringLiteral("No audio output device is available"));
    EXPECT_EQ(messages.Messages[0].Icon, MessageIcon::None);
    EXPECT_FALSE(form.Playback->Playing);
    EXPECT_TRUE(form.Playback->List.FileOpen);
    EXPECT_EQ(form.SongCountShown, 3);

    // Stop and pause do nothing; play and next try again and say so again.
    form.StopButtonAction();
    form.PauseButtonAction();
    EXPECT_EQ(messages.Messages.size(), 1u);
    form.NextButtonAction();
    EXPECT_EQ(form.SongNumberShown, 2);
    ASSERT_EQ(messages.Messages.size(), 2u);
    EXPECT_EQ(messages.Messages[1].Caption, QStringLiteral("WaveOutOpen"));
    form.OpenAndPlay(e2e::DemoFile("tune.asm.ay"));
    EXPECT_EQ(messages.Messages.size(), 3u);
    EXPECT_EQ(messages.Messages.back().Caption, QStringLiteral("Zirrafon"));
    EXPECT_FALSE(form.Playback->List.FileOpen);
}

// A sound server that goes away while a song plays: both buffers come back,
// queueing them again fails with a readable text, stop still works, and a new
// start reports that there is no device. Runs in a child process against a
// private server that the test kills, so the bed's server stays.
constexpr const char* LostServerChild = "ZIRRAFON_E2E_LOST_SERVER_CHILD";

TEST(LostSoundServer, QueueingFailsReadablyAndStopStillWorks) {
    E2E_REQUIRE_BED();
    e2e::PrivateSoundServer server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    QProcess child;
    QProcessEnvironment env = server.Environment();
    env.insert(QString::fromLatin1(LostServerChild), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=LostSoundServer.ChildSide")});
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains("CHILD PLAYING") && t.elapsed() < 20000 &&
           child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(100);
        out += child.readAll();
    }
    ASSERT_TRUE(out.contains("CHILD PLAYING")) << out.toStdString();
    QTest::qWait(500);
    server.Kill();
    ASSERT_TRUE(child.waitForFinished(30000)) << "the child hangs";
    out += child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

class LostSoundServerChild : public ::testing::Test {
  public:
    void TestBody() override;
};

void LostSoundServerChild::TestBody() {
    MessageRecorder messages;
    messages.Install();
    TForm1 form;
    form.OpenAndPlay(e2e::DemoFile("demo.ay"));
    ASSERT_TRUE(form.Playback->Playing);
    ASSERT_TRUE(messages.Messages.empty()) << messages.Messages[0].Text.toStdString();
    std::printf("CHILD PLAYING\n");
    std::fflush(stdout);

    QElapsedTimer t;
    t.start();
    while (messages.Messages.size() < 2 && t.elapsed() < 15000) QTest::qWait(50);
    ASSERT_EQ(messages.Messages.size(), 2u);
    QStringList captions;
    for (const auto& m : messages.Messages) {
        captions << m.Caption;
        EXPECT_EQ(m.Text, QStringLiteral("The connection to the audio output device was lost"));
    }
    captions.sort();
    EXPECT_EQ(captions,
              (QStringList{QStringLiteral("WaveOutWriteN1A"), QStringLiteral("WaveOutWriteN2A")}));
    EXPECT_TRUE(form.Playback->Playing);

    // Both buffers are out of the cycle: nothing more happens until stop.
    QTest::qWait(500);
    EXPECT_EQ(messages.Messages.size(), 2u);
    form.StopButtonAction();
    EXPECT_FALSE(form.Playback->Playing);
    EXPECT_EQ(messages.Messages.size(), 2u);
    form.PlayButtonAction();
    EXPECT_FALSE(form.Playback->Playing);
    ASSERT_EQ(messages.Messages.size(), 3u);
    EXPECT_EQ(messages.Messages[2].Caption, QStringLiteral("WaveOutOpen"));
    EXPECT_FALSE(messages.Messages[2].Text.isEmpty());
}

} // namespace

// The child's side exists only in the child, so that test listings never show it.
void e2e::RegisterChildTests() {
    if (!qEnvironmentVariableIsEmpty(NoServerChild))
        ::testing::RegisterTest("NoSoundServer", "ChildSide", nullptr, nullptr, __FILE__, __LINE__,
                                []() -> ::testing::Test* { return new NoSoundServerChild; });
    if (!qEnvironmentVariableIsEmpty(LostServerChild))
        ::testing::RegisterTest("LostSoundServer", "ChildSide", nullptr, nullptr, __FILE__,
                                __LINE__,
                                []() -> ::testing::Test* { return new LostSoundServerChild; });
}
