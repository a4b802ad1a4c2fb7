// The media-player interface of the real player program, steered by the real
// `playerctl` over a private session bus, as a desktop's media keys and sound
// menu steer it: the answers, the properties a follower is told of, what the
// bed's null sink heard, and the position in played time.
#include "e2e_util.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace {

using e2e::ValuesPerSecond;

// A session bus of the test's own, and a user session (runtime and
// configuration folders) on it.
class BusSession : public e2e::UserSession {
  public:
    ~BusSession() { End(bus_); }

    bool Start(std::string& error) {
        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
        if (!bus_.waitForStarted(5000)) {
            error = "dbus-daemon did not start";
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (!bus_.canReadLine() && clock.elapsed() < 5000) bus_.waitForReadyRead(100);
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        if (address_.isEmpty()) error = "dbus-daemon gave no address";
        return !address_.isEmpty();
    }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = UserSession::Environment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        return env;
    }

    std::unique_ptr<QProcess> Start(const QString& program, const QStringList& arguments) const {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(Environment());
        process->start(program, arguments);
        return process;
    }

    // `playerctl -p zirrafon ARGS`: its standard output, trimmed.
    QString Ctl(const QString& arguments, int* exitCode = nullptr) const {
        auto ctl = Start(QStringLiteral("playerctl"),
                         QStringList{"-p", "zirrafon"} + arguments.split(' '));
        ctl->waitForFinished(10000);
        if (exitCode) *exitCode = ctl->exitCode();
        return QString::fromUtf8(ctl->readAllStandardOutput()).trimmed();
    }

    static void End(QProcess& process) {
        if (process.state() == QProcess::NotRunning) return;
        process.terminate();
        if (!process.waitForFinished(5000)) process.kill();
        process.waitForFinished(2000);
    }

  private:
    QProcess bus_;
    QString address_;
};

// The first place in `haystack` at or after `from` that holds `needle`.
std::optional<size_t> Find(const std::vector<int16_t>& haystack, const std::vector<int16_t>& needle,
                           size_t from) {
    if (needle.empty()) return std::nullopt;
    for (size_t i = from; i + needle.size() <= haystack.size(); ++i)
        if (std::equal(needle.begin(), needle.end(), haystack.begin() + static_cast<ptrdiff_t>(i)))
            return i;
    return std::nullopt;
}

TEST(MediaPlayerInterface, PlayerctlSteersThePlayerAsItsButtonsDo) {
    E2E_REQUIRE_BED();
    for (const char* tool : {"dbus-daemon", "playerctl", "dbus-send"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_FAIL() << tool << " is not installed (scripts/setup installs it)";
    BusSession session;
    std::string error;
    ASSERT_TRUE(session.Start(error)) << error;
    e2e::Recording recording;
    ASSERT_TRUE(recording.Start(error)) << error;

    // demo.ay starts on its song 1.
    auto player = session.Start(e2e::BinaryPath("zirrafon"), {e2e::DemoFile("demo.ay")});
    QElapsedTimer clock;
    clock.start();
    while (session.Ctl("status") != "Playing" && clock.elapsed() < 10000) QTest::qWait(50);
    ASSERT_EQ(session.Ctl("status"), "Playing") << "the player is not on the bus";
    // Told of every change by PropertiesChanged alone (playerctl -F reads
    // nothing itself after its first line).
    auto follower =
        session.Start("playerctl", {"-p", "zirrafon", "-F", "metadata", "--format",
                                    "{{status}} {{xesam:trackNumber}} {{volume}} {{xesam:title}}"});
    QTest::qWait(200);

    // What playerctl is asked, what it must answer ("" for commands, "*" for
    // any answer) and how long the song then plays on. The marks take times
    // and positions: the position stands still while paused, and after `next`
    // it is the time that song 2 has been heard.
    enum Mark { None, PausedPosition, Next, VolumeZero, Position };
    struct Step {
        const char* command;
        const char* answer;
        int thenMs;
        Mark mark = None;
    };
    const Step steps[] = {
        {"metadata title", "Zirrafon Theme (ZX Spectrum 128)", 0},
        {"metadata xesam:album", "Demo tune written for the Zirrafon player", 0},
        {"metadata mpris:length", "49920000", 1200},
        {"pause", "", 150},
        {"status", "Paused", 0},
        {"position", "*", 600, PausedPosition},
        {"position", "*", 0, PausedPosition},
        {"play", "", 150},
        {"status", "Playing", 1200},
        {"next", "", 0, Next},
        {"metadata title", "Zirrafon Theme (Amstrad CPC)", 0},
        {"metadata xesam:trackNumber", "2", 1200},
        {"volume 0.0", "", 0, VolumeZero},
        {"position", "*", 1500, Position},
        {"volume", "0.000000", 0},
        {"stop", "", 150},
        {"status", "Stopped", 0},
        {"position", "0.000000", 0},
    };
    QStringList pausedAt;
    double nextAt = 0, volumeAt = 0, positionAt = 0, position = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        int exitCode = -1;
        const QString answer = session.Ctl(QString::fromLatin1(step.command), &exitCode);
        const double now = static_cast<double>(clock.elapsed()) / 1000;
        EXPECT_EQ(exitCode, 0);
        if (std::string_view(step.answer) != "*") {
            EXPECT_EQ(answer, step.answer);
        }
        if (step.mark == PausedPosition) pausedAt << answer;
        if (step.mark == Next) nextAt = now;
        if (step.mark == VolumeZero) volumeAt = now;
        if (step.mark == Position) {
            positionAt = now;
            position = answer.toDouble();
        }
        QTest::qWait(step.thenMs);
    }
    ASSERT_EQ(pausedAt.size(), 2);
    EXPECT_EQ(pausedAt[0], pausedAt[1]) << "the position moved while paused";
    EXPECT_GT(pausedAt[0].toDouble(), 1.0);

    // A file handed over by a second start, as a file manager opens one:
    // the state and the song follow what was not done over the bus too.
    auto second = session.Start(e2e::BinaryPath("zirrafon"), {e2e::DemoFile("demo.aym")});
    ASSERT_TRUE(second->waitForFinished(10000));
    clock.restart();
    while (session.Ctl("metadata title") != "Zirrafon Theme" && clock.elapsed() < 5000)
        QTest::qWait(50);
    EXPECT_EQ(session.Ctl("status"), "Playing");
    EXPECT_EQ(session.Ctl("metadata title"), "Zirrafon Theme");

    // A file that cannot be read costs nothing: the song plays on (its box
    // stays open; Quit ends the player all the same).
    int openCode = -1;
    EXPECT_EQ(session.Ctl("open file:///nonexistent/zirrafon/x.ay", &openCode), "");
    EXPECT_EQ(openCode, 0);
    QTest::qWait(500);
    EXPECT_EQ(session.Ctl("status"), "Playing");
    EXPECT_EQ(session.Ctl("metadata title"), "Zirrafon Theme");

    QTest::qWait(200);
    BusSession::End(*follower);

    // Quit closes the window as its close button does: the program ends.
    auto quit = session.Start(
        "dbus-send", {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.zirrafon",
                      "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Quit"});
    EXPECT_TRUE(quit->waitForFinished(10000));
    EXPECT_EQ(quit->exitCode(), 0) << quit->readAllStandardError().toStdString();
    EXPECT_TRUE(player->waitForFinished(5000)) << "Quit did not end the player";
    EXPECT_EQ(player->exitCode(), 0);
    BusSession::End(*player);
    const std::vector<int16_t> rec = recording.Stop();

    // Every change reached the follower, once. playerctl prints a line for
    // each property of a signal: a new file and a new state, sent together,
    // show as two lines (the song first).
    EXPECT_EQ(QString::fromUtf8(follower->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
              QStringList({"Playing 1 1.0 Zirrafon Theme (ZX Spectrum 128)",
                           "Paused 1 1.0 Zirrafon Theme (ZX Spectrum 128)",
                           "Playing 1 1.0 Zirrafon Theme (ZX Spectrum 128)",
                           "Playing 2 1.0 Zirrafon Theme (Amstrad CPC)",
                           "Playing 2 0.0 Zirrafon Theme (Amstrad CPC)",
                           "Stopped 2 0.0 Zirrafon Theme (Amstrad CPC)",
                           "Stopped 1 0.0 Zirrafon Theme", "Playing 1 0.0 Zirrafon Theme"}));

    // Song 1: silent while paused, then on from the frame where it stopped.
    const std::vector<int16_t> song1 = e2e::Render(e2e::DemoFile("demo.ay"), 1, 5, error);
    const std::vector<int16_t> song2 = e2e::Render(e2e::DemoFile("demo.ay"), 2, 5, error);
    ASSERT_FALSE(song1.empty() || song2.empty()) << error;
    size_t gap = 0;
    const size_t compared = 2 * ValuesPerSecond;
    EXPECT_EQ(e2e::CompareAligned(rec, song1, compared, 1, &gap), "");
    const double gapSeconds = static_cast<double>(gap) / ValuesPerSecond;
    EXPECT_GT(gapSeconds, 0.5) << "pause did not silence the sink";

    // Song 2 from its first sound, until the volume change silenced it for good.
    const auto recFirst = e2e::FirstNonZero(rec);
    const auto song2First = e2e::FirstNonZero(song2);
    ASSERT_TRUE(recFirst && song2First);
    const std::vector<int16_t> opening(song2.begin() + static_cast<ptrdiff_t>(*song2First),
                                       song2.begin() + static_cast<ptrdiff_t>(*song2First + 4410));
    const auto at = Find(rec, opening, *recFirst + compared + gap);
    ASSERT_TRUE(at) << "song 2 was not heard after next";
    size_t same = 0;
    while (*at + same < rec.size() && *song2First + same < song2.size() &&
           rec[*at + same] == song2[*song2First + same])
        ++same;
    EXPECT_FALSE(e2e::FirstNonZero(rec, *at + same)) << "sound after the volume went to 0";
    const double heardFor = static_cast<double>(*song2First + same) / ValuesPerSecond;
    const double changedAfter = volumeAt - nextAt;
    std::printf("mpris: pause %.3f s of silence; song 2 had played %.3f s when the volume went "
                "to 0, silent %.3f s later; position %.3f s at %.3f s\n",
                gapSeconds, changedAfter, heardFor - changedAfter, position, positionAt - nextAt);
    EXPECT_LE(heardFor - changedAfter, 0.8) << "volume 0.0 was not heard within two buffers";
    EXPECT_GT(heardFor, changedAfter - 0.3) << "silent before the volume was changed";
    // The position is time heard, not time handed to the sound server (which
    // runs up to two buffers, 0.74 s, ahead).
    EXPECT_LE(position, positionAt - nextAt + 0.05);
    EXPECT_GE(position, positionAt - nextAt - 0.4);
}

// Seeking from the desktop: SetPosition to 20 s, then back to 5 s. After
// each, what is heard is the song as zirrafon-render renders it from that
// second, sample for sample, and the seek is heard within 0.8 s of asking.
TEST(MediaPlayerInterface, SetPositionGoesOnSampleExactFromThere) {
    E2E_REQUIRE_BED();
    for (const char* tool : {"dbus-daemon", "playerctl"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_FAIL() << tool << " is not installed (scripts/setup installs it)";
    BusSession session;
    std::string error;
    ASSERT_TRUE(session.Start(error)) << error;
    const std::vector<int16_t> song = e2e::Render(e2e::DemoFile("demo.ay"), 1, 40, error);
    ASSERT_FALSE(song.empty()) << error;
    e2e::Recording recording;
    ASSERT_TRUE(recording.Start(error)) << error;
    auto player = session.Start(e2e::BinaryPath("zirrafon"), {e2e::DemoFile("demo.ay")});
    QElapsedTimer clock;
    clock.start();
    while (session.Ctl("status") != "Playing" && clock.elapsed() < 10000) QTest::qWait(50);
    ASSERT_EQ(session.Ctl("status"), "Playing") << "the player is not on the bus";
    QTest::qWait(1500);

    struct Seek {
        int To;           // seconds
        double Asked = 0; // the position when it was asked, in seconds
    } seeks[] = {{20}, {5}};
    for (Seek& seek : seeks) {
        seek.Asked = session.Ctl("position").toDouble();
        session.Ctl(QStringLiteral("position %1").arg(seek.To));
        QTest::qWait(2500);
    }
    // A seek while paused is heard only when the pause ends; here the stop
    // comes first.
    session.Ctl("pause");
    QTest::qWait(300);
    session.Ctl("position 30");
    QTest::qWait(1000);
    session.Ctl("stop");
    QTest::qWait(150);
    const std::vector<int16_t> rec = recording.Stop();
    BusSession::End(*player);

    const auto recFirst = e2e::FirstNonZero(rec), songFirst = e2e::FirstNonZero(song);
    ASSERT_TRUE(recFirst && songFirst && *recFirst >= *songFirst);
    const size_t origin = *recFirst - *songFirst; // where the song began in the recording
    size_t at = origin, from = 0; // the part heard now: where it began, and from where in the song
    for (const Seek& seek : seeks) {
        SCOPED_TRACE(seek.To);
        // The part before the seek runs up to the seek, then the song goes on
        // from its second `To`.
        size_t same = 0;
        while (at + same < rec.size() && from + same < song.size() &&
               rec[at + same] == song[from + same])
            ++same;
        // The new place fades in over 5 ms: it is found from just after that.
        const size_t to = static_cast<size_t>(seek.To) * ValuesPerSecond, ramp = 1000;
        const std::vector<int16_t> opening(song.begin() + static_cast<ptrdiff_t>(to + ramp),
                                           song.begin() + static_cast<ptrdiff_t>(to + ramp + 8820));
        auto next = Find(rec, opening, at + same - std::min(same, size_t{8820}));
        ASSERT_TRUE(next) << "the song from " << seek.To << " s was not heard";
        ASSERT_GE(*next, ramp);
        *next -= ramp;
        long heardLevel = 0, songLevel = 0;
        for (size_t k = 0; k < 440; ++k) {
            heardLevel += std::abs(rec[*next + k]);
            songLevel += std::abs(song[to + k]);
        }
        if (songLevel > 0) {
            EXPECT_LT(heardLevel, songLevel) << "the seek did not fade in";
        }
        const double heardAt = static_cast<double>(from + (*next - at)) / ValuesPerSecond;
        std::printf("mpris: asked at %.3f s of the song to go to %d s, heard %.3f s later\n",
                    seek.Asked, seek.To, heardAt - seek.Asked);
        EXPECT_LE(heardAt - seek.Asked, 0.8);
        EXPECT_GT(heardAt - seek.Asked, -0.3) << "heard before it was asked";
        const size_t compared = 2 * ValuesPerSecond;
        ASSERT_LE(*next + ramp + compared, rec.size());
        EXPECT_TRUE(std::equal(rec.begin() + static_cast<ptrdiff_t>(*next + ramp),
                               rec.begin() + static_cast<ptrdiff_t>(*next + ramp + compared),
                               song.begin() + static_cast<ptrdiff_t>(to + ramp)))
            << "not the song from " << seek.To << " s";
        at = *next;
        from = to;
    }
    const auto paused = e2e::SilenceStart(rec, at, ValuesPerSecond / 4);
    ASSERT_TRUE(paused) << "the pause was not heard";
    EXPECT_FALSE(e2e::FirstNonZero(rec, *paused)) << "heard while paused, after the seek";
}

} // namespace
