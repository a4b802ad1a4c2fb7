// The media-player interface of the real player program, steered by the real
// `playerctl` over a private session bus, as a desktop's media keys and sound
// menu steer it: the answers, the properties a follower is told of, what the
// bed's null sink heard, and the position in played time.
#include "e2e_util.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cstdio>
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

// A key typed into the player's main window (found by its caption).
bool TypeIntoPlayer(const QProcessEnvironment& env, const QString& key) {
    const auto run = [&env](const QStringList& arguments) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral("xdotool"), arguments);
        tool.waitForFinished(10000);
        return std::make_pair(tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()));
    };
    const auto [found, ids] = run({"search", "--name", "^Zirrafon v1\\.0"});
    const QString id = ids.split('\n', Qt::SkipEmptyParts).value(0);
    return found == 0 && !id.isEmpty() && run({"windowfocus", "--sync", id}).first == 0 &&
           run({"key", key}).first == 0;
}

// A week of use in one session of the real program: three files from one
// start all join the playlist; with shuffle on, Next goes over every song of
// every file once and Previous back through those heard; Quit ends the
// program with the playlist window open; the next start has the song back
// where it was left, paused, and goes on from there when asked to play; and
// files whose folder moved away and back play again once the playlist window
// is shown.
TEST(MediaPlayerInterface, ASessionShufflesEndsAndComesBackAsItWasLeft) {
    E2E_REQUIRE_BED();
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "no X server";
    for (const char* tool : {"dbus-daemon", "playerctl", "dbus-send", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_FAIL() << tool << " is not installed (scripts/setup installs it)";
    BusSession session;
    std::string error;
    ASSERT_TRUE(session.Start(error)) << error;
    QTemporaryDir dir;
    const QString disk = dir.filePath("disk"), away = dir.filePath("away");
    ASSERT_TRUE(QDir().mkpath(disk));
    const QStringList files = {disk + "/a.ay", disk + "/b.aym", disk + "/c.ay"};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(QFile::copy(e2e::DemoFile(i == 1 ? "demo.aym" : "demo.ay"), files[i]));
    const auto waitFor = [&session](const QString& question, const auto& good, int ms = 5000) {
        QElapsedTimer clock;
        clock.start();
        QString answer = session.Ctl(question);
        while (!good(answer) && clock.elapsed() < ms) {
            QTest::qWait(50);
            answer = session.Ctl(question);
        }
        return answer;
    };
    const auto is = [](const QString& wanted) {
        return [wanted](const QString& answer) { return answer == wanted; };
    };
    const auto quit = [&session](QProcess& player) {
        auto call = session.Start(
            "dbus-send", {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.zirrafon",
                          "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Quit"});
        call->waitForFinished(10000);
        return player.waitForFinished(5000);
    };

    // All three join the list in order; the last one plays.
    auto player = session.Start(e2e::BinaryPath("zirrafon"), files);
    ASSERT_EQ(waitFor("status", is("Playing"), 10000), "Playing") << "the player is not on the bus";
    EXPECT_EQ(session.Ctl("metadata xesam:url"), QUrl::fromLocalFile(files[2]).toString());
    QFile saved(session.Path("data/Ostrowind/Zirrafon/playlist.m3u8"));
    QStringList listed;
    for (QElapsedTimer clock; clock.isValid() ? clock.elapsed() < 5000 : (clock.start(), true);
         QTest::qWait(50)) {
        if (!saved.open(QIODevice::ReadOnly)) continue;
        listed = QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts);
        saved.close();
        if (listed.filter(QRegularExpression("^[^#]")).size() >= 3) break;
    }
    EXPECT_EQ(listed.filter(QRegularExpression("^[^#]")), files);
    EXPECT_TRUE(listed.contains("#ZIRRAFON-CURRENT:2,0")) << listed.join('\n').toStdString();

    // A file added to the list while nothing plays starts from the list.
    session.Ctl("stop");
    const QString added = disk + "/d.ay";
    ASSERT_TRUE(QFile::copy(e2e::DemoFile("demo.ay"), added));
    auto enqueue = session.Start(e2e::BinaryPath("zirrafon"), {"--enqueue", added});
    ASSERT_TRUE(enqueue->waitForFinished(10000));
    const QString addedUrl = QUrl::fromLocalFile(added).toString();
    ASSERT_EQ(waitFor("metadata xesam:url", is(addedUrl)), addedUrl);

    // Shuffled: every song of every file once, then back the same way.
    session.Ctl("shuffle On");
    ASSERT_EQ(waitFor("shuffle", is("On")), "On");
    QStringList forth{session.Ctl("metadata mpris:trackid")};
    for (int i = 0; i < 9; ++i) {
        session.Ctl("next");
        forth << waitFor("metadata mpris:trackid",
                         [&forth](const QString& id) { return id != forth.last(); });
    }
    EXPECT_EQ(QSet<QString>(forth.begin(), forth.end()).size(), 10)
        << forth.join(' ').toStdString();
    EXPECT_EQ(session.Ctl("next"), ""); // nothing is left: the song plays on
    QTest::qWait(300);
    EXPECT_EQ(session.Ctl("metadata mpris:trackid"), forth.last());
    QStringList back{forth.last()};
    for (int i = 0; i < 9; ++i) {
        session.Ctl("previous");
        back << waitFor("metadata mpris:trackid",
                        [&back](const QString& id) { return id != back.last(); });
    }
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, forth);

    // Left paused in the song first heard, with the playlist window open.
    e2e::Recording recording;
    ASSERT_TRUE(recording.Start(error)) << error;
    session.Ctl("position 10");
    QTest::qWait(300);
    session.Ctl("pause");
    ASSERT_EQ(waitFor("status", is("Paused")), "Paused");
    const QString url = session.Ctl("metadata xesam:url"),
                  track = session.Ctl("metadata xesam:trackNumber"),
                  leftAt = session.Ctl("position");
    ASSERT_TRUE(TypeIntoPlayer(session.Environment(), "p"));
    QTest::qWait(500);
    EXPECT_TRUE(quit(*player)) << "Quit left the program running with the playlist window open";
    BusSession::End(*player);

    // Back where it was left, paused; play goes on from there.
    player = session.Start(e2e::BinaryPath("zirrafon"), {});
    EXPECT_EQ(waitFor("status", is("Paused"), 10000), "Paused");
    EXPECT_EQ(session.Ctl("metadata xesam:url"), url);
    EXPECT_EQ(session.Ctl("metadata xesam:trackNumber"), track);
    EXPECT_EQ(session.Ctl("position"), leftAt);
    session.Ctl("play");
    EXPECT_EQ(waitFor("status", is("Playing")), "Playing");
    QTest::qWait(1500);
    EXPECT_GT(session.Ctl("position").toDouble(), leftAt.toDouble() + 0.5);
    const std::vector<int16_t> rec = recording.Stop();
    const std::vector<int16_t> song =
        e2e::Render(QUrl(url).toLocalFile(), track.toInt(), 13, error);
    ASSERT_FALSE(song.empty()) << error;
    const size_t resumed =
        static_cast<size_t>((leftAt.toDouble() + 0.5) * e2e::Rate) * 2; // half a second on
    ASSERT_LT(resumed + 8820, song.size());
    EXPECT_TRUE(Find(rec,
                     std::vector<int16_t>(song.begin() + static_cast<ptrdiff_t>(resumed),
                                          song.begin() + static_cast<ptrdiff_t>(resumed + 8820)),
                     0))
        << "the song did not go on from where it was left";

    // The folder goes away: nothing of it can be played. Back again, the
    // playlist window looks at the files again and they play.
    ASSERT_TRUE(QDir().rename(disk, away));
    const QString playing = session.Ctl("metadata mpris:trackid");
    session.Ctl("next");
    QTest::qWait(500);
    EXPECT_EQ(session.Ctl("metadata mpris:trackid"), playing);
    ASSERT_TRUE(QDir().rename(away, disk));
    ASSERT_TRUE(TypeIntoPlayer(session.Environment(), "p"));
    QTest::qWait(1000);
    session.Ctl("next");
    const QString now =
        waitFor("metadata mpris:trackid", [&playing](const QString& id) { return id != playing; });
    EXPECT_NE(now, playing) << "the files that came back do not play";
    EXPECT_EQ(session.Ctl("status"), "Playing");
    EXPECT_TRUE(quit(*player));
    BusSession::End(*player);
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
        const size_t to = static_cast<size_t>(seek.To) * ValuesPerSecond;
        const std::vector<int16_t> opening(song.begin() + static_cast<ptrdiff_t>(to),
                                           song.begin() + static_cast<ptrdiff_t>(to + 8820));
        const auto next = Find(rec, opening, at + same - std::min(same, size_t{8820}));
        ASSERT_TRUE(next) << "the song from " << seek.To << " s was not heard";
        const double heardAt = static_cast<double>(from + (*next - at)) / ValuesPerSecond;
        std::printf("mpris: asked at %.3f s of the song to go to %d s, heard %.3f s later\n",
                    seek.Asked, seek.To, heardAt - seek.Asked);
        EXPECT_LE(heardAt - seek.Asked, 0.8);
        EXPECT_GT(heardAt - seek.Asked, -0.3) << "heard before it was asked";
        const size_t compared = 2 * ValuesPerSecond;
        ASSERT_LE(*next + compared, rec.size());
        EXPECT_TRUE(std::equal(rec.begin() + static_cast<ptrdiff_t>(*next),
                               rec.begin() + static_cast<ptrdiff_t>(*next + compared),
                               song.begin() + static_cast<ptrdiff_t>(to)))
            << "not the song from " << seek.To << " s";
        at = *next;
        from = to;
    }
    const auto paused = e2e::SilenceStart(rec, at, ValuesPerSecond / 4);
    ASSERT_TRUE(paused) << "the pause was not heard";
    EXPECT_FALSE(e2e::FirstNonZero(rec, *paused)) << "heard while paused, after the seek";
}

} // namespace
