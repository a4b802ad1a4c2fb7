// The real player program started twice, as a user starts it from a terminal
// or a file manager: the second start hands its arguments to the running
// player and ends; the running player applies the options and plays the last
// file. Each test is a user session of its own (runtime folder, configuration
// folder, trace file), and the running player's trace (ZIRRAFON_TRACE) and the
// bed's null sink show what it did.
#include "e2e_util.h"
#include "platform/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

using e2e::ValuesPerSecond;

// The child that holds the hand-over area until it is killed.
constexpr const char* HoldAreaChild = "ZIRRAFON_E2E_HOLD_AREA_CHILD";

QString Canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

// Trace lines with their paths made canonical, so that the comparison does
// not depend on how the source folder is reached.
QStringList CanonicalTrace(const QStringList& trace) {
    QStringList out;
    for (const QString& line : trace) {
        const qsizetype blank = line.indexOf(' ');
        const QString rest = line.mid(blank + 1);
        if (blank > 0 && rest.startsWith('/') && QFileInfo::exists(rest))
            out << line.left(blank + 1) + Canonical(rest);
        else
            out << line;
    }
    return out;
}

// One user session, with what the tests ask of its player.
class Session : public e2e::UserSession {
  public:
    QString ServerPath() const {
        return Path("runtime/") + QFileInfo(InstanceServerPath()).fileName();
    }
    QString SettingsFile() const { return Path("config/Ostrowind/Zirrafon.conf"); }

    QStringList Trace() const {
        QFile file(Path("trace.txt"));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    // Waits until the trace has a line that begins with `prefix` (paths in
    // their canonical form).
    bool WaitForTrace(const QString& prefix, int ms = 10000) const {
        QElapsedTimer clock;
        clock.start();
        do {
            for (const QString& line : CanonicalTrace(Trace()))
                if (line.startsWith(prefix)) return true;
            QTest::qWait(20);
        } while (clock.elapsed() < ms);
        return false;
    }
    bool PlayerAnswers() const {
        InstanceConnection probe;
        return probe.Connect(ServerPath());
    }

    // Starts the player program; it becomes the running player or hands over.
    std::unique_ptr<QProcess> Start(const QStringList& arguments,
                                    const QString& folder = QString()) const {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(Environment());
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        if (!folder.isEmpty()) process->setWorkingDirectory(folder);
        process->start(e2e::BinaryPath("zirrafon"), arguments);
        return process;
    }
    // Starts the running player and waits until it takes hand-overs.
    std::unique_ptr<QProcess> StartPlayer(const QStringList& arguments = {},
                                          const QString& folder = QString()) const {
        auto player = Start(arguments, folder);
        QElapsedTimer clock;
        clock.start();
        while (!PlayerAnswers() && clock.elapsed() < 10000) QTest::qWait(20);
        EXPECT_TRUE(PlayerAnswers()) << "the player does not listen";
        return player;
    }
    // A second start: it must end by itself, with exit code 0, quickly.
    void SecondStart(const QStringList& arguments, const QString& folder = QString()) const {
        auto second = Start(arguments, folder);
        ASSERT_TRUE(second->waitForFinished(10000)) << "the second start does not end";
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 0);
    }
};

void Stop(QProcess& player) {
    player.terminate();
    if (!player.waitForFinished(5000)) player.kill();
    player.waitForFinished(2000);
}

// zirrafon-render's output for song 1 of `file` with extra options.
std::vector<int16_t> Render(const QString& file, const QStringList& options, double seconds) {
    QTemporaryDir dir;
    const QString out = dir.filePath("ref.wav");
    QProcess render;
    render.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    render.start(e2e::BinaryPath("zirrafon-render"),
                 QStringList{"-o", out, "-s", "1", "-t", QString::number(seconds), "--fade", "0"} +
                     options + QStringList{file});
    if (!render.waitForFinished(60000) || render.exitCode() != 0) return {};
    QFile wav(out);
    if (!wav.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = wav.readAll();
    // The samples are the RIFF chunk "data".
    for (qsizetype pos = 12; pos + 8 <= bytes.size();) {
        uint32_t size;
        std::memcpy(&size, bytes.constData() + pos + 4, 4);
        if (bytes.mid(pos, 4) == "data") {
            std::vector<int16_t> v(std::min<size_t>(size, bytes.size() - pos - 8) / 2);
            std::memcpy(v.data(), bytes.constData() + pos + 8, v.size() * 2);
            return v;
        }
        pos += 8 + size + (size & 1);
    }
    return {};
}

QString Demo(const char* name) { return Canonical(e2e::DemoFile(name)); }
QString DemoFolder() { return Canonical(e2e::DemoFile("")); }

// A file manager starts one process per file: two starts at the same moment
// must end with one player that got both files.
TEST(HandOver, TwoStartsAtTheSameMomentMakeOnePlayer) {
    E2E_REQUIRE_BED();
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        Session session;
        std::unique_ptr<QProcess> starts[] = {session.Start({Demo("demo.ay")}),
                                              session.Start({Demo("demo.aym")})};
        // One of them hands over and ends; the other keeps playing.
        QElapsedTimer clock;
        clock.start();
        const auto running = [&] {
            int n = 0;
            for (const auto& p : starts) n += p->state() != QProcess::NotRunning;
            return n;
        };
        while (running() == 2 && clock.elapsed() < 10000) QTest::qWait(20);
        QTest::qWait(300);
        EXPECT_EQ(running(), 1);
        EXPECT_TRUE(session.PlayerAnswers());
        for (const auto& p : starts)
            if (p->state() == QProcess::NotRunning) {
                EXPECT_EQ(p->exitCode(), 0);
            }
        // The survivor played its own file and then the one handed over.
        clock.restart();
        while (session.Trace().filter(QRegularExpression("^play ")).size() < 2 &&
               clock.elapsed() < 10000)
            QTest::qWait(20);
        EXPECT_EQ(session.Trace().filter(QRegularExpression("^play ")).size(), 2)
            << session.Trace().join('\n').toStdString();
        for (const auto& p : starts) Stop(*p);
    }
}

// A second start ends at once even while the player shows a modal message box
// (the box of a bad file that an earlier start handed over).
TEST(HandOver, ASecondStartNeverWaitsForThePlayersMessageBox) {
    E2E_REQUIRE_BED();
    Session session;
    auto player = session.StartPlayer();
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.ay");
    {
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a song at all, but long enough to be read");
    }
    for (const QString& file : {bad, Demo("demo.aym")}) {
        SCOPED_TRACE(file.toStdString());
        QElapsedTimer clock;
        clock.start();
        auto second = session.Start({file});
        ASSERT_TRUE(second->waitForFinished(3000)) << "the start waits for the player";
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(second->exitCode(), 0);
    }
    // The box about the bad file is still open; the second file played all the same.
    EXPECT_TRUE(session.WaitForTrace("play " + Demo("demo.aym")))
        << session.Trace().join('\n').toStdString();
    EXPECT_EQ(player->state(), QProcess::Running);
    Stop(*player);
}

TEST(HandOver, ASecondStartWithTwoFilesMakesThePlayerPlayTheSecond) {
    E2E_REQUIRE_BED();
    Session session;
    auto player = session.StartPlayer();
    e2e::Recording recording;
    std::string error;
    ASSERT_TRUE(recording.Start(error)) << error;

    // Relative names, from the songs' folder: the running player works in
    // another folder and still finds them.
    session.SecondStart({"demo.ay", "demo.aym"}, DemoFolder());
    ASSERT_TRUE(session.WaitForTrace("play")) << session.Trace().join('\n').toStdString();
    QTest::qWait(2800);
    const std::vector<int16_t> rec = recording.Stop();
    EXPECT_EQ(player->state(), QProcess::Running);
    Stop(*player);

    EXPECT_EQ(CanonicalTrace(session.Trace()),
              (QStringList{"begin 2", "arg " + Demo("demo.ay"), "file " + Demo("demo.ay"),
                           "arg " + Demo("demo.aym"), "file " + Demo("demo.aym"), "end 3",
                           "play " + Demo("demo.aym")}));
    const std::vector<int16_t> ref = Render(Demo("demo.aym"), {}, 4);
    ASSERT_FALSE(ref.empty());
    EXPECT_EQ(e2e::CompareAligned(rec, ref, 2 * ValuesPerSecond), "");
}

TEST(HandOver, AChipOptionSwitchesTheModeBeforeTheFilePlays) {
    E2E_REQUIRE_BED();
    Session session;
    auto player = session.StartPlayer();
    e2e::Recording recording;
    std::string error;
    ASSERT_TRUE(recording.Start(error)) << error;

    session.SecondStart({"/hYMACB", Demo("demo.aym")});
    ASSERT_TRUE(session.WaitForTrace("play")) << session.Trace().join('\n').toStdString();
    QTest::qWait(2800);
    const std::vector<int16_t> rec = recording.Stop();
    Stop(*player);

    EXPECT_EQ(CanonicalTrace(session.Trace()),
              (QStringList{"begin 2", "arg /hYMACB", "chip 5", "arg " + Demo("demo.aym"),
                           "file " + Demo("demo.aym"), "end 3", "play " + Demo("demo.aym")}));
    // The sound is that of YM2149F ACB stereo, not of the default mode.
    const std::vector<int16_t> ymacb = Render(Demo("demo.aym"), {"-m", "YMACB"}, 4);
    const std::vector<int16_t> ayabc = Render(Demo("demo.aym"), {}, 4);
    ASSERT_FALSE(ymacb.empty());
    EXPECT_EQ(e2e::CompareAligned(rec, ymacb, 2 * ValuesPerSecond), "");
    EXPECT_NE(e2e::CompareAligned(rec, ayabc, 2 * ValuesPerSecond), "");
}

TEST(HandOver, ASecondStartWithoutArgumentsContactsNobody) {
    E2E_REQUIRE_BED();
    Session session;
    auto player = session.StartPlayer();
    QElapsedTimer clock;
    clock.start();
    session.SecondStart({});
    EXPECT_LT(clock.elapsed(), 5000);
    QTest::qWait(300);
    EXPECT_TRUE(session.Trace().isEmpty()) << session.Trace().join('\n').toStdString();
    EXPECT_EQ(player->state(), QProcess::Running);
    EXPECT_TRUE(session.PlayerAnswers());
    Stop(*player);
}

// --help and --version answer on standard output and end with 0 before
// anything else: no window (there is no display to open one on) and no
// contact with the running player, which a listener stands in for here.
TEST(CommandLine, HelpAndVersionAnswerWithoutAWindowOrThePlayer) {
    Session session;
    QLocalServer::removeServer(session.ServerPath());
    QLocalServer player;
    ASSERT_TRUE(player.listen(session.ServerPath())) << player.errorString().toStdString();
    QProcessEnvironment env = session.Environment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    const auto run = [&](const QStringList& arguments, QString& out) {
        QProcess start;
        start.setProcessEnvironment(env);
        start.start(e2e::BinaryPath("zirrafon"), arguments);
        if (!start.waitForFinished(10000)) {
            start.kill();
            start.waitForFinished(2000);
            return -1;
        }
        out = QString::fromLocal8Bit(start.readAllStandardOutput());
        const QByteArray errors = start.readAllStandardError();
        EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
        return start.exitStatus() == QProcess::NormalExit ? start.exitCode() : -2;
    };
    const struct {
        QStringList Arguments;
        const char* Begins;
    } cases[] = {{{"--help"}, "Usage: zirrafon [OPTION]... [FILE]\n"},
                 {{"--version"}, "zirrafon (Zirrafon) 1.0\n"},
                 {{"/hYMABC", "--version", Demo("demo.ay")}, "zirrafon (Zirrafon) 1.0\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        QString out;
        EXPECT_EQ(run(c.Arguments, out), 0);
        EXPECT_TRUE(out.startsWith(QLatin1String(c.Begins))) << out.toStdString();
    }
    QString help;
    run({"--help"}, help);
    for (const char* part : {"/hNAME", "/uLEVEL", "/rn, /rh", "/pPATH", "Ctrl+P"})
        EXPECT_TRUE(help.contains(QLatin1String(part))) << part;
    EXPECT_FALSE(player.waitForNewConnection(200));

    // Any other argument is for the player: the listener is where a start
    // looks for it.
    QProcess start;
    start.setProcessEnvironment(env);
    start.start(e2e::BinaryPath("zirrafon"), {Demo("demo.ay")});
    EXPECT_TRUE(player.waitForNewConnection(10000));
    start.kill();
    start.waitForFinished(2000);
}

// The hand-over area of a start that was killed in the middle of its
// hand-over stays behind; while its holder lives, another start gives up, and
// once it is gone the next start recovers the area.
TEST(HandOver, AnAreaLeftByAKilledStartIsRecovered) {
    E2E_REQUIRE_BED();
    Session session;
    auto player = session.StartPlayer();

    QProcess holder;
    QProcessEnvironment env = session.Environment();
    env.insert(HoldAreaChild, "1");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    holder.setProcessEnvironment(env);
    holder.start(QCoreApplication::applicationFilePath(),
                 {"--gtest_filter=HandOverChild.HoldArea"});
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (!out.contains("HOLDING") && clock.elapsed() < 20000 &&
           holder.state() != QProcess::NotRunning) {
        holder.waitForReadyRead(100);
        out += holder.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("HOLDING")) << out.toStdString();

    // A hand-over in progress: this start delivers nothing.
    session.SecondStart({"/hYMACB"});
    QTest::qWait(300);
    EXPECT_TRUE(session.Trace().isEmpty()) << session.Trace().join('\n').toStdString();

    holder.kill(); // SIGKILL: no chance to let go of the area
    ASSERT_TRUE(holder.waitForFinished(5000));

    session.SecondStart({"/hYMACB", Demo("demo.aym")});
    EXPECT_TRUE(session.WaitForTrace("play")) << session.Trace().join('\n').toStdString();
    EXPECT_TRUE(session.Trace().contains("chip 5"));
    Stop(*player);
}

class HoldAreaChildTest : public ::testing::Test {
  public:
    void TestBody() override {
        HandOverSender area;
        ASSERT_EQ(area.Create(), HandOverSender::Result::Created);
        area.Write("/hYMCBA");
        std::printf("HOLDING\n");
        std::fflush(stdout);
        QThread::sleep(60); // killed long before
    }
};

// The child's side exists only in the child, so that test listings never show it.
const bool HoldAreaChildRegistered = [] {
    if (qEnvironmentVariableIsSet(HoldAreaChild))
        ::testing::RegisterTest("HandOverChild", "HoldArea", nullptr, nullptr, __FILE__, __LINE__,
                                []() -> ::testing::Test* { return new HoldAreaChildTest; });
    return true;
}();

TEST(HandOver, ASocketLeftByAKilledPlayerDoesNotStopTheNextOne) {
    E2E_REQUIRE_BED();
    Session session;
    auto crashed = session.StartPlayer();
    crashed->kill();
    ASSERT_TRUE(crashed->waitForFinished(5000));
    ASSERT_TRUE(QFileInfo::exists(session.ServerPath())) << "the socket file is gone";
    EXPECT_FALSE(session.PlayerAnswers());

    auto player = session.StartPlayer();
    ASSERT_TRUE(session.PlayerAnswers());
    session.SecondStart({Demo("demo.aym")});
    EXPECT_TRUE(session.WaitForTrace("play")) << session.Trace().join('\n').toStdString();
    EXPECT_EQ(player->state(), QProcess::Running);
    Stop(*player);
}

TEST(HandOver, StoredOptionsAreAppliedBeforeTheCommandLine) {
    E2E_REQUIRE_BED();
    Session session;
    {
        QDir().mkpath(QFileInfo(session.SettingsFile()).path());
        QSettings settings(session.SettingsFile(), QSettings::IniFormat);
        settings.setValue("1.0/Startup", "/hYMBAC /u8000 \"" + Demo("demo.ay") + "\"");
    }
    auto player = session.StartPlayer({"/hYMACB", "demo.aym"}, DemoFolder());
    ASSERT_TRUE(session.WaitForTrace("play " + Demo("demo.aym")))
        << session.Trace().join('\n').toStdString();
    Stop(*player);
    EXPECT_EQ(CanonicalTrace(session.Trace()),
              (QStringList{"begin 1", "arg /hYMBAC", "chip 7", "arg /u8000", "beeper 8000",
                           "arg " + Demo("demo.ay"), "file " + Demo("demo.ay"), "end 0",
                           "play " + Demo("demo.ay"), "begin 1", "arg /hYMACB", "chip 5",
                           "arg " + Demo("demo.aym"), "file " + Demo("demo.aym"), "end 0",
                           "play " + Demo("demo.aym")}));
}

} // namespace
