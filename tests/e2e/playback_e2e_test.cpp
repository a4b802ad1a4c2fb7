// The player's sound on the real audio path: the player plays the demo
// songs through the sound server into the bed's PulseAudio null sink, the sink's
// monitor is recorded, and the recording must equal zirrafon-render's output
// for the same song sample for sample (after the leading silence).
#include "../formats/song_files.h"
#include "e2e_util.h"
#include "platform/messages.h"
#include "playback/mpris.h"
#include "playback/player.h"

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
#include <optional>

namespace {

using e2e::ValuesPerSecond;

// A player on the real sound device whose failures come up as boxes, as the
// face shows them.
class ShownPlayer : public Player {
  public:
    ShownPlayer() {
        connect(this, &Player::Failed,
                [](const QString& text, const QString& caption, MessageIcon icon) {
                    ShowMessage(nullptr, text, caption, icon);
                });
    }
    bool Playing() const { return State() != PlayState::Stopped; }
};

class RealOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        E2E_REQUIRE_BED();
        messages.Install();
        form = std::make_unique<ShownPlayer>();
        form->OpenAndPlay(e2e::DemoFile("demo.ay"));
        ASSERT_TRUE(form->Playing()) << Messages();
        form->Stop();
        QTest::qWait(200); // what was heard of the first start has gone
    }
    void TearDown() override {
        if (form) form->Stop();
        QCoreApplication::processEvents();
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
        form->PlaySongAt(song - 1);
        ASSERT_TRUE(form->Playing()) << Messages();
    }
    static std::vector<int16_t> Reference(int song, double seconds) {
        std::string error;
        std::vector<int16_t> v = e2e::Render(e2e::DemoFile("demo.ay"), song, seconds, error);
        EXPECT_FALSE(v.empty()) << error;
        return v;
    }

    MessageRecorder messages;
    std::unique_ptr<ShownPlayer> form;
    e2e::Recording recording;
};

TEST_F(RealOutput, EveryDemoSongSoundsExactlyAsRendered) {
    for (int song = 1; song <= 3; ++song) {
        SCOPED_TRACE("song " + std::to_string(song));
        StartRecording();
        PlaySong(song);
        QTest::qWait(2600);
        form->Stop();
        QTest::qWait(150);
        const std::vector<int16_t> rec = recording.Stop();
        const std::vector<int16_t> ref = Reference(song, 4);
        EXPECT_EQ(e2e::CompareAligned(rec, ref, 2 * ValuesPerSecond), "");
    }
}

// Each pause goes on at the frame after its fade. The second comes 0.15 s
// after the first ends, while the buffer the first one cut is still being
// heard from the middle: it must be found there, not from its start.
TEST_F(RealOutput, PauseAndResumeContinueAtTheNextFrame) {
    StartRecording();
    PlaySong(1);
    QTest::qWait(1200);
    for (const int pausedFor : {800, 300}) {
        form->Pause();
        ASSERT_TRUE((form->State() == PlayState::Paused));
        QTest::qWait(pausedFor);
        form->Pause();
        ASSERT_FALSE((form->State() == PlayState::Paused));
        QTest::qWait(150);
    }
    QTest::qWait(1300);
    form->Stop();
    QTest::qWait(150);
    const std::vector<int16_t> rec = recording.Stop();
    size_t gap = 0;
    EXPECT_EQ(e2e::CompareAligned(rec, Reference(1, 5), 5 * ValuesPerSecond / 2, 2, &gap), "");
    const double gapSeconds = static_cast<double>(gap) / ValuesPerSecond;
    std::printf("pauses: %.3f s of silence in all, then the song went on\n", gapSeconds);
    EXPECT_GT(gapSeconds, 0.9);
    EXPECT_LT(gapSeconds, 1.7);
}

// Pause and stop fade the level out, resume fades it in: on a steady tone,
// whose level would otherwise drop to 0 in one sample (a song may fall
// silent by itself), the last millisecond before each silence stays within
// 1/32 of full scale. Each is heard within about 0.1 s, before the call
// returns, whatever the server held ahead.
TEST_F(RealOutput, StopSilencesAtOnce) {
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.ay");
    {
        QFile f(tone);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const Bytes bytes = BuildToneAY(1, 0);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    StartRecording();
    QElapsedTimer clock;
    clock.start();
    form->OpenAndPlay(tone);
    QTest::qWait(1000);
    const double paused = static_cast<double>(clock.elapsed()) / 1000;
    form->Pause();
    QTest::qWait(800);
    form->Pause();
    const double resumed = static_cast<double>(clock.elapsed()) / 1000;
    QTest::qWait(1000);
    const double called = static_cast<double>(clock.elapsed()) / 1000;
    form->Stop();
    const double wall = static_cast<double>(clock.elapsed()) / 1000;
    QTest::qWait(500);
    const std::vector<int16_t> rec = recording.Stop();
    std::string error;
    const std::vector<int16_t> ref = e2e::Render(tone, 1, 4, error);
    ASSERT_FALSE(ref.empty()) << error;

    const auto first = e2e::FirstNonZero(rec);
    const auto last = e2e::LastNonZero(rec);
    const auto songFirst = e2e::FirstNonZero(ref);
    ASSERT_TRUE(first && last && songFirst);
    const auto pause = e2e::SilenceStart(rec, *first, ValuesPerSecond / 4);
    ASSERT_TRUE(pause && *pause < *last) << "no pause heard";
    const size_t gap = *e2e::FirstNonZero(rec, *pause) - *pause;
    // Song values heard, counted from the song's own start.
    const size_t heard = *last + 1 - (*first - *songFirst) - gap;
    const double span = static_cast<double>(*last + 1 - *first) / ValuesPerSecond;
    const int pausePeak = e2e::PeakBefore(rec, *pause, ValuesPerSecond / 1000);
    const int stopPeak = e2e::PeakBefore(rec, *last + 1, ValuesPerSecond / 1000);
    std::printf("pause called at %.3f s, silent from %.3f s of sound, resumed at %.3f s; stop "
                "called at %.3f s, returned at %.3f s, sound heard for %.3f s; the last ms "
                "before the silence peaks at %d (pause) and %d (stop)\n",
                paused, static_cast<double>(*pause - *first) / ValuesPerSecond, resumed, called,
                wall, span, pausePeak, stopPeak);
    EXPECT_LE(pausePeak, 1024);
    EXPECT_LE(stopPeak, 1024);
    // The sound ends by the time the call returns: nothing queued follows the ramp.
    EXPECT_LE(span, wall + 0.1) << "played " << wall << " s";
    EXPECT_GE(span, wall - 0.6) << "played " << wall << " s";
    EXPECT_EQ(e2e::CompareAligned(rec, ref, heard - *songFirst, 1), "");
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
        std::function<void(Player&)> make;
    };
    const Change changes[] = {
        {"volume 0", 1, 1500, [](Player& p) { p.Settings().SetVolume(0); }},
        {"beeper level 0", 3, 1700, [](Player& p) { p.Settings().SetBeeperSetting(0); }},
        {"chip YMMONO", 1, 1900, [](Player& p) { p.Settings().SetChipMode(1); }},
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
        form->Stop();
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
        form->Settings().SetChipMode(DefaultChipMode);
        form->Settings().SetBeeperSetting(DefaultBeeperSetting);
        form->Settings().SetVolume(VolumeSteps);
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
        form->Settings().SetFollowSongLengths(follow);
        StartRecording();
        form->OpenAndPlay(file);
        QTest::qWait(follow ? 7000 : 4500);
        EXPECT_EQ(form->Playing(), !follow);
        form->Stop();
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
    form->Settings().SetFollowSongLengths(false);
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
    form->Stop();
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
// the player goes on working. This runs in a child process of this test
// program whose environment points at a server that does not exist.
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
    ShownPlayer form;
    form.OpenAndPlay(e2e::DemoFile("demo.ay"));
    QCoreApplication::processEvents(); // the boxes come up from the event loop
    ASSERT_EQ(messages.Messages.size(), 1u);
    EXPECT_EQ(messages.Messages[0].Caption, QStringLiteral("WaveOutOpen"));
    EXPECT_EQ(messages.Messages[0].Text, QStringLiteral("No audio output device is available"));
    EXPECT_EQ(messages.Messages[0].Icon, MessageIcon::None);
    EXPECT_FALSE(form.Playing());
    EXPECT_TRUE(form.NowPlaying().FileOpen);
    EXPECT_EQ(form.NowPlaying().Count, 3);

    // Stop and pause do nothing; play and next try again and say so again.
    form.Stop();
    form.Pause();
    QCoreApplication::processEvents(); // the boxes come up from the event loop
    EXPECT_EQ(messages.Messages.size(), 1u);
    form.Next();
    EXPECT_EQ(form.NowPlaying().Number, 2);
    QCoreApplication::processEvents(); // the boxes come up from the event loop
    ASSERT_EQ(messages.Messages.size(), 2u);
    EXPECT_EQ(messages.Messages[1].Caption, QStringLiteral("WaveOutOpen"));
    form.OpenAndPlay(e2e::DemoFile("tune.asm.ay"));
    QCoreApplication::processEvents(); // the boxes come up from the event loop
    EXPECT_EQ(messages.Messages.size(), 3u);
    EXPECT_EQ(messages.Messages.back().Caption, QStringLiteral("Zirrafon"));
    EXPECT_FALSE(form.NowPlaying().FileOpen);
}

// A sound server that restarts while a song plays (killed 3 s into the song
// and started again on the same socket): the player goes on, on the new
// server, from the first frame the old one had not played (give or take the
// 30 ms the player leaves out rather than repeat a frame), with no box and
// the media-player interface saying Playing. A server that does not come back
// ends the song after the player has waited for it, with one message, and the
// state says Stopped. Runs in a child process against a private server, so
// the bed's server stays.
constexpr const char* LostServerChild = "ZIRRAFON_E2E_LOST_SERVER_CHILD";

// Where `piece` stands in `v`, from `from` on.
std::optional<size_t> Find(const std::vector<int16_t>& v, const std::vector<int16_t>& piece,
                           size_t from = 0) {
    const auto at = std::search(v.begin() + static_cast<ptrdiff_t>(std::min(from, v.size())),
                                v.end(), piece.begin(), piece.end());
    if (at == v.end()) return std::nullopt;
    return static_cast<size_t>(at - v.begin());
}

TEST(LostSoundServer, ARestartedServerPlaysOnFromTheFirstFrameNotHeard) {
    E2E_REQUIRE_BED();
    e2e::PrivateSoundServer server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    e2e::Recording before;
    ASSERT_TRUE(before.Start(error, server.Environment(), server.Sink)) << error;
    QProcess child;
    QProcessEnvironment env = server.Environment();
    env.insert(QString::fromLatin1(LostServerChild), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=LostSoundServer.ChildSide")});
    QByteArray out;
    const auto waitFor = [&](const char* line, int ms) {
        QElapsedTimer t;
        t.start();
        while (!out.contains(line) && t.elapsed() < ms && child.state() != QProcess::NotRunning) {
            child.waitForReadyRead(50);
            out += child.readAll();
        }
        return out.contains(line);
    };
    ASSERT_TRUE(waitFor("CHILD PLAYING", 20000)) << out.toStdString();
    QTest::qWait(3000);
    server.Kill();
    const std::vector<int16_t> old = before.Stop();
    ASSERT_TRUE(server.Start(error)) << error;
    e2e::Recording after;
    ASSERT_TRUE(after.Start(error, server.Environment(), server.Sink)) << error;
    EXPECT_TRUE(waitFor("CHILD RECONNECTED", 20000)) << out.toStdString();
    const std::vector<int16_t> rec = after.Stop();
    server.Kill(); // for good this time
    ASSERT_TRUE(child.waitForFinished(40000)) << "the child hangs";
    out += child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();

    // The new server hears the song go on within 2 s, from where it was.
    const std::vector<int16_t> ref = e2e::Render(e2e::DemoFile("demo.ay"), 1, 14, error);
    ASSERT_FALSE(ref.empty()) << error;
    const auto first = e2e::FirstNonZero(rec);
    ASSERT_TRUE(first) << "nothing was heard on the new server";
    const double firstAt = static_cast<double>(*first) / ValuesPerSecond;
    ASSERT_LE(*first + 4410, rec.size());
    const std::vector<int16_t> piece(rec.begin() + static_cast<ptrdiff_t>(*first),
                                     rec.begin() + static_cast<ptrdiff_t>(*first + 4410));
    const auto at = Find(ref, piece);
    ASSERT_TRUE(at) << "what the new server heard is not the song";
    size_t same = 0;
    while (*first + same < rec.size() && *at + same < ref.size() &&
           rec[*first + same] == ref[*at + same])
        ++same;
    // Where the old server's recording ended, in the song.
    const auto oldFirst = e2e::FirstNonZero(old);
    const auto songFirst = e2e::FirstNonZero(ref);
    ASSERT_TRUE(oldFirst && songFirst);
    const size_t oldEnd = *songFirst + (old.size() - *oldFirst);
    std::printf("restart: first sound %.3f s after the new server started, at %.3f s of the "
                "song (the old server's recording ended at %.3f s); %.3f s exactly as rendered\n",
                firstAt, static_cast<double>(*at) / ValuesPerSecond,
                static_cast<double>(oldEnd) / ValuesPerSecond,
                static_cast<double>(same) / ValuesPerSecond);
    // The player tries the server again every 0.1 s.
    EXPECT_LE(firstAt, 2.0);
    EXPECT_GE(*at, oldEnd) << "a frame was heard twice";
    // What the old server last said it had played lags what it sent out by
    // some milliseconds; the player leaves out 30 ms rather than repeat any.
    EXPECT_LE(*at, oldEnd + 2 * 44100 * 60 / 1000) << "more than 60 ms left out";
    EXPECT_GT(static_cast<double>(*at) / ValuesPerSecond, 2.5) << "the song started again";
    EXPECT_GE(static_cast<double>(same) / ValuesPerSecond, 2.0);
    EXPECT_FALSE(e2e::FirstNonZero(rec, *first + same) &&
                 *first + same + ValuesPerSecond / 10 < rec.size())
        << "the recording leaves the song";
}

class LostSoundServerChild : public ::testing::Test {
  public:
    void TestBody() override;
};

void LostSoundServerChild::TestBody() {
    MessageRecorder messages;
    messages.Install();
    ShownPlayer form;
    MediaPlayerInterface mpris(form); // its answers, without a bus
    form.OpenAndPlay(e2e::DemoFile("demo.ay"));
    ASSERT_TRUE(form.Playing());
    QCoreApplication::processEvents();
    ASSERT_TRUE(messages.Messages.empty()) << messages.Messages[0].Text.toStdString();
    std::printf("CHILD PLAYING\n");
    std::fflush(stdout);

    // Killed after 3 s and back at once; then 5 s on the new server.
    QTest::qWait(9000);
    EXPECT_TRUE(messages.Messages.empty()) << messages.Messages[0].Text.toStdString();
    EXPECT_EQ(form.State(), PlayState::Playing);
    EXPECT_EQ(mpris.PlaybackStatus(), QStringLiteral("Playing"));
    std::printf("CHILD RECONNECTED\n");
    std::fflush(stdout);

    // Gone for good: the player waits for it, then says so once and stops.
    QElapsedTimer t;
    t.start();
    while (messages.Messages.empty() && t.elapsed() < 20000) QTest::qWait(50);
    QTest::qWait(1000);
    ASSERT_EQ(messages.Messages.size(), 1u);
    EXPECT_EQ(messages.Messages[0].Text,
              QStringLiteral("The connection to the audio output device was lost"));
    EXPECT_EQ(messages.Messages[0].Caption, QStringLiteral("Zirrafon"));
    EXPECT_GE(t.elapsed(), 9000) << "it did not wait for the server";
    EXPECT_EQ(form.State(), PlayState::Stopped);
    EXPECT_EQ(mpris.PlaybackStatus(), QStringLiteral("Stopped"));
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
