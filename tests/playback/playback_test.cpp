// The player's wave output cycle and playback actions on a fake wave device:
// the order of the device calls, what every failing call shows and leaves
// behind, the refill cycle, pause and stop, and opening files by extension.
#include "../formats/song_files.h"
#include "fake_wave_out.h"
#include "platform/messages.h"
#include "platform/opendialog.h"
#include "platform/settings.h"
#include "playback/song_export.h"
#include "../ui/player_bed.h"
#include "ui/main_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace {

using Calls = std::vector<std::string>;

// ---- Fixture --------------------------------------------------------------------------

class Playback : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        messages.Install();
        player = std::make_unique<Player>(driver.Factory());
        // What a face would show: the boxes, and every song number announced.
        QObject::connect(player.get(), &Player::Failed,
                         [this](const QString& text, const QString& caption, MessageIcon icon) {
                             messages.Show(nullptr, text, caption, icon);
                         });
        QObject::connect(player.get(), &Player::NowPlayingChanged, [this](NowPlayingParts parts) {
            if (parts & NowPlayingPart::Number) announced.push_back(player->NowPlaying().Number);
        });
    }
    void TearDown() override {
        player.reset();
        EXPECT_EQ(driver.Alive, 0) << "a wave device was left behind";
    }

    QString File(const QString& name, const std::vector<uint8_t>& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }
    QString DefaultSong() { return File("tune.ay", BuildToneAY(3, 0)); }

    bool Playing() const { return player->State() != PlayState::Stopped; }
    bool Paused() const { return player->State() == PlayState::Paused; }
    NowPlayingInfo Shown() const { return player->NowPlaying(); }
    // Opens and plays `path`, then forgets the calls and messages so far.
    void StartFresh(const QString& path) {
        player->OpenAndPlay(path);
        Deliver();
        ASSERT_TRUE(Playing());
        ASSERT_TRUE(messages.Messages.empty()) << messages.Messages[0].Text.toStdString();
        driver.Calls.clear();
    }
    // What the device is given, buffer after buffer, as it plays them.
    std::vector<int16_t> Heard(int buffers) {
        std::vector<int16_t> out;
        for (int i = 0; i < buffers && Playing() && !driver.Queue.empty(); ++i) {
            WaveHeader* h = driver.Queue.front();
            out.insert(out.end(), h->Data, h->Data + h->BufferLength / 2);
            driver.Complete(h);
            Deliver();
        }
        return out;
    }
    // Three songs of 0.8 s (fading over 0.2 s), 0.6 s and 0.4 s (fading over 0.1 s).
    QString TimedSongs() { return File("three.ay", BuildToneAY(3, 0, {40, 30, 20}, {10, 0, 5})); }
    // The boxes shown so far (a failure's box comes up from the event loop).
    std::vector<MessageRecorder::Message>& Messages() {
        Deliver();
        return messages.Messages;
    }
    std::vector<std::string> Captions() {
        Deliver();
        std::vector<std::string> out;
        for (const auto& m : messages.Messages) out.push_back(m.Caption.toStdString());
        return out;
    }
    static void Deliver() { QCoreApplication::processEvents(); }

    // The buffers a fresh engine renders for song `index` of `path`, in order.
    static std::vector<std::vector<int16_t>> Reference(const QString& path, int index, int count) {
        SongSession session;
        const std::string name = QFile::encodeName(path).toStdString();
        EXPECT_TRUE(session.Open(name, SongKind::AY, [](const std::string&) {}));
        SetChipAndChannels(session.Engine->Chip, DefaultChipMode, VolumeSteps, VolumeSteps);
        SongStream stream(session);
        stream.Start(index);
        std::vector<std::vector<int16_t>> out(static_cast<size_t>(count),
                                              std::vector<int16_t>(BufferValues));
        for (auto& b : out) stream.Fill(b.data(), BufferValues);
        return out;
    }

    QTemporaryDir dir;
    FakeWaveOutDriver driver;
    MessageRecorder messages;
    std::unique_ptr<Player> player;
    std::vector<int> announced; // every song number shown, in order
};

// ---- The cycle ------------------------------------------------------------------------------

TEST_F(Playback, StartQueuesBothBuffersInOrderWithTheSongsFirstSound) {
    const QString path = DefaultSong();
    player->OpenAndPlay(path);
    EXPECT_EQ(driver.Calls, (Calls{"Open", "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
    EXPECT_EQ(player->State(), PlayState::Playing);
    EXPECT_TRUE(Captions().empty());

    const auto ref = Reference(path, 0, 4);
    ASSERT_EQ(driver.Writes.size(), 2u);
    EXPECT_EQ(driver.Writes[0].Values, ref[0]);
    EXPECT_EQ(driver.Writes[1].Values, ref[1]);
    EXPECT_NE(ref[0], std::vector<int16_t>(BufferValues, ref[0][0])) << "the test song is silent";
}

TEST_F(Playback, EachCompletionRefillsOnlyItsOwnBufferAndContinuesTheSong) {
    const QString path = DefaultSong();
    StartFresh(path);
    const auto ref = Reference(path, 0, 4);

    driver.Complete("H1");
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Write H1"}));
    EXPECT_EQ(driver.LastWritten("H1"), ref[2]);

    driver.Calls.clear();
    driver.Complete("H2");
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Write H2"}));
    EXPECT_EQ(driver.LastWritten("H2"), ref[3]);
}

TEST_F(Playback, StopTearsDownInOrderAndDropsQueuedCompletions) {
    StartFresh(DefaultSong());
    driver.Complete("H1"); // played, notice not yet delivered
    player->Stop();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_FALSE(Playing());
    EXPECT_EQ(driver.Alive, 0);

    // The notice posted before the stop and those the reset posted never refill.
    driver.Calls.clear();
    Deliver();
    EXPECT_TRUE(driver.Calls.empty());

    // A second stop does nothing; the file stays open for play.
    player->Stop();
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(Shown().FileOpen);
    player->Play();
    EXPECT_TRUE(Playing());
    EXPECT_EQ(driver.Calls.front(), "Open");
}

TEST_F(Playback, ANoticeOfTheOldPlaybackNeverRefillsTheNewOne) {
    StartFresh(DefaultSong());
    driver.Complete("H1"); // played, notice not yet delivered
    player->Play();        // stop and start again at once
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close", "Open",
                                   "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
}

TEST_F(Playback, PauseTogglesAndAStopEndsThePause) {
    player->Pause(); // nothing playing: nothing happens
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_EQ(player->State(), PlayState::Stopped);

    StartFresh(DefaultSong());
    player->Pause();
    EXPECT_EQ(player->State(), PlayState::Paused);
    player->Pause();
    EXPECT_EQ(player->State(), PlayState::Playing);
    player->Pause();
    EXPECT_EQ(driver.Calls, (Calls{"Pause", "Restart", "Pause"}));

    driver.Calls.clear();
    player->Stop();
    EXPECT_EQ(player->State(), PlayState::Stopped);
    player->Pause(); // not playing: no device call
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_EQ(player->State(), PlayState::Stopped);
    EXPECT_EQ(player->Elapsed(), 0u);

    player->Play();
    EXPECT_EQ(player->State(), PlayState::Playing);
}

TEST_F(Playback, PlayWhilePausedRestartsTheSongFromItsBeginningUnpaused) {
    const QString path = DefaultSong();
    StartFresh(path);
    driver.Complete("H1");
    Deliver(); // the song has moved on by a buffer
    player->Pause();
    EXPECT_EQ(player->Elapsed(), uint64_t{BufferValues / 2});
    driver.Calls.clear();
    driver.Writes.clear();

    player->Play();
    EXPECT_EQ(player->Elapsed(), 0u); // the song's time starts again
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close", "Open",
                                   "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
    EXPECT_EQ(player->State(), PlayState::Playing);
    const auto ref = Reference(path, 0, 2);
    ASSERT_EQ(driver.Writes.size(), 2u);
    EXPECT_EQ(driver.Writes[0].Values, ref[0]);
    EXPECT_EQ(driver.Writes[1].Values, ref[1]);
}

// ---- Failures of the device ------------------------------------------------------------------

struct StartFailure {
    std::vector<std::string> failing;  // calls that fail
    std::vector<std::string> captions; // boxes shown, in order
    Calls calls;                       // device calls made
    bool playing;
};

class StartFailures : public Playback, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailures, ShowTheCallAndLeaveTheRightState) {
    const StartFailure& f = GetParam();
    const QString path = DefaultSong();
    for (size_t i = 0; i < f.failing.size(); ++i)
        driver.FailOn(f.failing[i], static_cast<WaveResult>(40 + i));
    player->OpenAndPlay(path);
    EXPECT_EQ(driver.Calls, f.calls);
    EXPECT_EQ(Captions(), f.captions);
    for (size_t i = 0; i < Messages().size(); ++i) {
        const auto& m = Messages()[i];
        EXPECT_EQ(m.Text, FakeWaveOutDriver::TextOf(static_cast<WaveResult>(40 + i)));
        EXPECT_EQ(m.Icon, MessageIcon::None);
    }
    EXPECT_EQ(Playing(), f.playing);
    EXPECT_FALSE(Paused());
    EXPECT_EQ(driver.Alive, f.playing ? 1 : 0);
    EXPECT_EQ(Shown().Number, 1);

    // Without playback, stop and pause touch nothing; the user may start again.
    if (!f.playing) {
        driver.Calls.clear();
        player->Stop();
        player->Pause();
        EXPECT_TRUE(driver.Calls.empty());
        driver.Failures.clear();
        player->Play();
        EXPECT_TRUE(Playing());
    }
}

const Calls FullStart = {"Open", "Prepare H1", "Write H1", "Prepare H2", "Write H2"};

INSTANTIATE_TEST_SUITE_P(
    WaveOut, StartFailures,
    ::testing::Values(
        StartFailure{{"Open"}, {"The sound output could not be opened"}, {"Open"}, false},
        StartFailure{
            {"Prepare H1"}, {"WaveOutPrepareHeaderN1"}, {"Open", "Prepare H1", "Close"}, false},
        StartFailure{{"Prepare H1", "Close"},
                     {"WaveOutPrepareHeaderN1", "WaveOutClose(Init1)"},
                     {"Open", "Prepare H1", "Close"},
                     false},
        StartFailure{{"Write H1"},
                     {"WaveOutWriteN1"},
                     {"Open", "Prepare H1", "Write H1", "Unprepare H1", "Close"},
                     false},
        StartFailure{{"Write H1", "Unprepare H1"},
                     {"WaveOutWriteN1", "WaveOutUnprepareHeader1(Init)"},
                     {"Open", "Prepare H1", "Write H1", "Unprepare H1", "Close"},
                     false},
        StartFailure{{"Write H1", "Close"},
                     {"WaveOutWriteN1", "WaveOutClose(Init2)"},
                     {"Open", "Prepare H1", "Write H1", "Unprepare H1", "Close"},
                     false},
        StartFailure{{"Prepare H2"}, {"WaveOutPrepareHeaderN2"}, FullStart, true},
        StartFailure{{"Write H2"}, {"WaveOutWriteN2"}, FullStart, true},
        StartFailure{{"Prepare H2", "Write H2"},
                     {"WaveOutPrepareHeaderN2", "WaveOutWriteN2"},
                     FullStart,
                     true}));

// A message box runs the event loop, so another action can run while it is
// open (a stop, a file handed over by a second start).
class ActingHandler final : public MessageHandler {
  public:
    void Show(QWidget*, const QString&, const QString& caption, MessageIcon) override {
        Captions.push_back(caption.toStdString());
        if (auto act = std::exchange(Action, nullptr)) act();
    }
    std::vector<std::string> Captions;
    std::function<void()> Action;
};

TEST_F(Playback, AnActionWhileAFailureIsShownMeetsAPlayerInAStateOfItsOwn) {
    ActingHandler handler;
    handler.Install();
    QObject::connect(player.get(), &Player::Failed,
                     [](const QString& text, const QString& caption, MessageIcon icon) {
                         ShowMessage(nullptr, text, caption, icon);
                     });
    // The start has finished before its box comes up; a stop from the box
    // tears down the device the start left playing.
    driver.FailOn("Prepare H2", 81);
    handler.Action = [&] { player->Stop(); };
    player->OpenAndPlay(DefaultSong());
    EXPECT_EQ(driver.Calls, FullStart);
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Open", "Prepare H1", "Write H1", "Prepare H2", "Write H2",
                                   "Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_FALSE(Playing());
    EXPECT_EQ(driver.Alive, 0);

    // A new device made while a failed stop is shown stands, and a refill
    // whose box is open never touches the device that replaced it.
    driver.Failures.clear();
    player->Play();
    driver.Calls.clear();
    driver.FailOn("Reset", 82);
    driver.FailOn("Write H1", 83);
    driver.Complete("H1");
    Deliver(); // the refill fails: its box is queued
    handler.Action = [&] {
        driver.Failures.clear();
        player->Next();
    };
    player->Stop();
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Write H1", "Reset", "Unprepare H1", "Unprepare H2", "Close",
                                   "Open", "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
    EXPECT_TRUE(Playing());
    EXPECT_EQ(Shown().Number, 2);
    EXPECT_EQ(driver.Alive, 1);
    EXPECT_EQ(handler.Captions, (std::vector<std::string>{"WaveOutPrepareHeaderN2",
                                                          "WaveOutWriteN1A", "WaveOutReset"}));
}

TEST_F(Playback, FailedRequeueDropsThatBufferOutOfTheCycle) {
    StartFresh(DefaultSong());
    driver.FailOn("Write H1", 51);
    driver.FailOn("Write H2", 52);
    driver.Complete("H1");
    driver.Complete("H2");
    Deliver();
    EXPECT_EQ(Captions(), (std::vector<std::string>{"WaveOutWriteN1A", "WaveOutWriteN2A"}));
    EXPECT_EQ(Messages()[0].Text, FakeWaveOutDriver::TextOf(51));
    EXPECT_EQ(Messages()[1].Text, FakeWaveOutDriver::TextOf(52));
    EXPECT_TRUE(Playing());
    EXPECT_TRUE(driver.Queue.empty());
}

TEST_F(Playback, EveryStepOfTheTearDownRunsAfterAFailure) {
    StartFresh(DefaultSong());
    driver.FailOn("Reset", 61);
    driver.FailOn("Unprepare H1", 62);
    driver.FailOn("Unprepare H2", 63);
    driver.FailOn("Close", 64);
    player->Stop();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"WaveOutReset", "WaveOutUnprepareHeader1(Stop)",
                                        "WaveOutUnprepareHeader2(Stop)", "WaveOutClose(Stop)"}));
    EXPECT_EQ(Messages()[3].Text, FakeWaveOutDriver::TextOf(64));
    EXPECT_FALSE(Playing());

    // Buffers the failed reset never returned cannot refill anything now.
    driver.Calls.clear();
    driver.Complete("H1");
    Deliver();
    EXPECT_TRUE(driver.Calls.empty());
}

TEST_F(Playback, FailedPauseOrResumeLeavesPausedAsItWas) {
    StartFresh(DefaultSong());
    driver.FailOn("Pause", 71);
    player->Pause();
    EXPECT_FALSE(Paused());
    driver.Failures.clear();
    player->Pause();
    EXPECT_TRUE(Paused());
    driver.FailOn("Restart", 72);
    player->Pause();
    EXPECT_TRUE(Paused());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"WaveOutPause", "WaveOutRestart"}));
    EXPECT_EQ(Messages()[1].Text, FakeWaveOutDriver::TextOf(72));
}

// ---- Opening files -------------------------------------------------------------------------

TEST_F(Playback, OpenShowsTheTextsAndStartsTheFilesFirstSong) {
    const QString path = File("first.ay", BuildToneAY(5, 2));
    player->OpenAndPlay(path);
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(Playing());
    EXPECT_EQ(Shown().Song, 2);
    EXPECT_EQ(Shown().Number, 3);
    EXPECT_EQ(Shown().Count, 5);
    EXPECT_EQ(Shown().Author, QStringLiteral("Test Author"));
    EXPECT_EQ(Shown().Misc, QStringLiteral("Test Misc"));
    EXPECT_EQ(Shown().Title, QStringLiteral("Song 3"));
    EXPECT_EQ(Shown().FileName, path);
    EXPECT_EQ(driver.Writes.at(0).Values, Reference(path, 2, 1)[0]);

    // A first song beyond the count starts on the first song.
    player->OpenAndPlay(File("beyond.ay", BuildToneAY(2, 7)));
    EXPECT_EQ(Shown().Song, 0);
    EXPECT_EQ(Shown().Number, 1);
    EXPECT_EQ(Shown().Count, 2);
}

TEST_F(Playback, ExtensionsAreComparedWithoutCaseAndTrailingBlanks) {
    for (const char* name : {"upper.AY", "mixed.Ay", "dots.in.name.ay"}) {
        SCOPED_TRACE(name);
        player->OpenAndPlay(File(QString::fromLatin1(name), BuildToneAY(1, 0)));
        EXPECT_TRUE(Playing());
        EXPECT_EQ(Shown().Title, QStringLiteral("Song 1")); // an AY song's own name
    }
    for (const char* name : {"tune.aym ", "TUNE.AYM", "tune.aym\t"}) {
        SCOPED_TRACE(name);
        player->OpenAndPlay(File(QString::fromLatin1(name), BuildToneAYM(5, 3)));
        EXPECT_TRUE(Playing());
        EXPECT_EQ(Shown().Song, 2);
        EXPECT_EQ(Shown().Count, 5);
        EXPECT_EQ(Shown().Title, QStringLiteral("AYM Tune"));
    }
    // An AY file named as AYM goes to the AYM reader.
    player->OpenAndPlay(File("really-ay.aym", BuildToneAY(1, 0)));
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Error"}));
    EXPECT_EQ(Messages()[0].Text, QStringLiteral("Not .AYM file"));
    EXPECT_EQ(SongFileExtension("/a.b/c"), "");
    EXPECT_EQ(SongFileExtension("/x/song.ay.BAK "), ".bak");
}

TEST_F(Playback, UnknownExtensionOnlyStopsAndKeepsTheOpenFile) {
    const QString path = File("tune.ay", BuildToneAY(3, 1));
    StartFresh(path);
    for (const char* name : {"tune.ay.bak", "noext", "tune.ayx", "tune."}) {
        SCOPED_TRACE(name);
        QDir(dir.path()).mkdir(QStringLiteral("elsewhere"));
        player->OpenAndPlay(
            File(QStringLiteral("elsewhere/") + QString::fromLatin1(name), BuildToneAY(1, 0)));
        EXPECT_FALSE(Playing());
        EXPECT_TRUE(Messages().empty());
        EXPECT_TRUE(Shown().FileOpen);
        EXPECT_EQ(Shown().Song, 1);
        EXPECT_EQ(Shown().Count, 3);
        EXPECT_EQ(Shown().FileName, path);
        player->Play(); // the old file's current song plays again
        EXPECT_TRUE(Playing());
        EXPECT_EQ(Shown().Number, 2);
    }
    // A name whose only dot is in a folder has no extension.
    QDir(dir.path()).mkdir(QStringLiteral("folder.ay"));
    const QString inFolder = File(QStringLiteral("folder.ay/tune"), BuildToneAY(1, 0));
    player->OpenAndPlay(inFolder);
    EXPECT_FALSE(Playing());
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Shown().Songs.size(), 3u);
}

TEST_F(Playback, RefusedFilesShowTheirMessageAndLeaveNoFileOpen) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* text;
        const char* caption;
        MessageIcon icon;
    };
    std::vector<uint8_t> notEmul = BuildToneAY(1, 0);
    notEmul[4] = 'X';
    std::vector<uint8_t> notAY = BuildToneAY(1, 0);
    notAY[0] = 'X';
    std::vector<uint8_t> badRevision = BuildToneAYM(1, 1);
    badRevision[3] = '1';
    const Case cases[] = {
        {"notay.ay", notAY, "Not .AY file", "Error", MessageIcon::Warning},
        {"notemul.ay", notEmul, "Not Z80 emulation .AY file", "Error", MessageIcon::Warning},
        {"rev.aym", badRevision, "AYM format revision other than '0' are not supported", "Error",
         MessageIcon::Warning},
        {"short.ay",
         {'Z', 'X', 'A', 'Y'},
         "Read beyond end of file",
         "Zirrafon",
         MessageIcon::Error},
        {"short.aym",
         {'A', 'Y', 'M', '0'},
         "Read beyond end of file",
         "Zirrafon",
         MessageIcon::Error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartFresh(File("good.ay", BuildToneAY(4, 0)));
        Messages().clear();
        const QString path = File(QString::fromLatin1(c.name), c.bytes);
        // Read first: the refused file costs nothing, and the message names it.
        player->OpenAndPlayIfReadable(path);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].Text, QString::fromLatin1(c.text) + ": " + path);
        EXPECT_EQ(Messages()[0].Caption, QString::fromLatin1(c.caption));
        EXPECT_TRUE(Playing());
        EXPECT_EQ(driver.Calls, Calls{});
        Messages().clear();
        player->OpenAndPlay(path);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].Text, QString::fromLatin1(c.text));
        EXPECT_EQ(Messages()[0].Caption, QString::fromLatin1(c.caption));
        EXPECT_EQ(Messages()[0].Icon, c.icon);
        EXPECT_FALSE(Playing());
        EXPECT_FALSE(Shown().FileOpen);
        // The previous file's texts and numbers stay on show.
        EXPECT_EQ(Shown().Count, 4);
        EXPECT_EQ(Shown().Author, QStringLiteral("Test Author"));
        player->Play(); // no file: nothing
        EXPECT_FALSE(Playing());
        Messages().clear();
    }

    player->OpenAndPlay(dir.filePath(QStringLiteral("missing.ay")));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].Text, QStringLiteral("File not found"));
    EXPECT_EQ(Messages()[0].Caption, QStringLiteral("Zirrafon"));
    Messages().clear();
    StartFresh(File("good.ay", BuildToneAY(4, 0)));
    player->OpenAndPlayIfReadable(dir.filePath(QStringLiteral("missing.ay")));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].Text, "File not found: " + dir.filePath(QStringLiteral("missing.ay")));
    EXPECT_TRUE(Playing());
}

TEST_F(Playback, UnreadableSongBlocksAreSaidOnceWhereverTheyAreMet) {
    // Song blocks claim more bytes than the file has: the reader cuts them to
    // the file, so make the block of the second song start past its end.
    std::vector<uint8_t> bytes = BuildToneAY(2, 0);
    const QString path = File("cut.ay", bytes);
    StartFresh(path);
    player->Stop();
    // The file loses its song blocks while it is open.
    ASSERT_TRUE(QFile::resize(path, 40));
    driver.Calls.clear();
    player->Next();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].Text, QStringLiteral("Read beyond end of file"));
    EXPECT_EQ(Messages()[0].Caption, QStringLiteral("Zirrafon"));
    EXPECT_FALSE(Playing());
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_EQ(Shown().Number, 1) << "the number is not updated";

    // Met in the refill, where a followed song ends and the next one's
    // blocks are read: the songs end with the one heard, and the message
    // names the file.
    const QString timed = TimedSongs();
    const std::vector<int16_t> first = Rendered(timed, 1);
    player->Settings().SetFollowSongLengths(true);
    Messages().clear();
    StartFresh(timed);
    ASSERT_TRUE(QFile::resize(timed, 40));
    const std::vector<int16_t> heard = Heard(20);
    EXPECT_FALSE(Playing());
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].Text, "Read beyond end of file: " + timed);
    ASSERT_GE(heard.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), heard.begin()));
    EXPECT_TRUE(std::all_of(heard.begin() + static_cast<ptrdiff_t>(first.size()), heard.end(),
                            [](int16_t v) { return v == 0; }));
}

TEST_F(Playback, PreviousAndNextStepWithinTheFileWithoutWrapping) {
    // Without a file the index moves and nothing plays.
    player->Next();
    EXPECT_EQ(Shown().Song, 1);
    player->Previous();
    player->Previous();
    EXPECT_EQ(Shown().Song, 0);
    EXPECT_TRUE(driver.Calls.empty());

    StartFresh(File("three.ay", BuildToneAY(3, 0)));
    player->Previous(); // first song: nothing, keeps playing
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(Playing());
    player->Next();
    player->Next();
    EXPECT_EQ(Shown().Song, 2);
    EXPECT_EQ(Shown().Number, 3);
    EXPECT_EQ(Shown().Title, QStringLiteral("Song 3"));
    driver.Calls.clear();
    player->Next(); // last song: nothing
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(Playing());
    player->Previous();
    EXPECT_EQ(Shown().Song, 1);
    EXPECT_EQ(driver.Calls.front(), "Reset");
    EXPECT_TRUE(Playing());

    // 256 songs: the count shown is 256 and next stops at the song shown as 256.
    player->OpenAndPlay(File("many.ay", BuildToneAY(256, 254)));
    EXPECT_EQ(Shown().Count, 256);
    player->Next();
    EXPECT_EQ(Shown().Number, 256);
    player->Next();
    EXPECT_EQ(Shown().Song, 255);
}

TEST_F(Playback, OpenButtonUsesTheDialogAndACancelChangesNothing) {
    const QString path = DefaultSong();
    SongExport exporter;
    MainWindow face(*player, exporter);
    // The open button's key (L), as a user presses it.
    const auto openButton = [&face] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_L, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_L, Qt::NoModifier);
        QCoreApplication::sendEvent(&face, &press);
        QCoreApplication::sendEvent(&face, &release);
    };
    QString offeredTitle, offeredFilter, offeredDir;
    QString answer = path;
    face.OpenDialog.Chooser = [&](const FileOpenDialog& d, QWidget*) {
        offeredTitle = d.Title;
        offeredFilter = d.Filter;
        offeredDir = d.InitialDir;
        return answer;
    };
    openButton();
    EXPECT_EQ(offeredTitle, QStringLiteral("Open and play file"));
    EXPECT_EQ(offeredFilter,
              QStringLiteral("All supported files|*.ay;*.aym;*.ym;*.vtx;*.psg;*.pt3;*.pt2|"
                             ".AY files|*.ay|.AYM files|*.aym|.YM files|*.ym|.VTX files|*.vtx|"
                             ".PSG files|*.psg|.PT3 files|*.pt3|.PT2 files|*.pt2"));
    // First the user's home, never the program's folder.
    EXPECT_EQ(offeredDir, QDir::homePath());
    EXPECT_NE(offeredDir, QCoreApplication::applicationDirPath());
    EXPECT_TRUE(Playing());

    answer.clear();
    driver.Calls.clear();
    openButton();
    EXPECT_EQ(offeredDir, dir.path() + QLatin1Char('/'));
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(Playing());

    EXPECT_EQ(QtFileDialogFilter(face.OpenDialog.Filter),
              QStringLiteral("All supported files (*.ay *.aym *.ym *.vtx *.psg *.pt3 *.pt2);;"
                             ".AY files (*.ay);;.AYM files (*.aym);;.YM files (*.ym);;"
                             ".VTX files (*.vtx);;.PSG files (*.psg);;.PT3 files (*.pt3);;"
                             ".PT2 files (*.pt2)"));
}

TEST_F(Playback, ClosingStopsClosesTheFileAndRestoresNormalPriority) {
    player->Settings().SetPriorityClass(Priority::High);
    EXPECT_EQ(player->Settings().PriorityClass(), Priority::High);
    if (geteuid() == 0) {
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), -10);
    }

    player->Shutdown(); // nothing playing, no file: only the priority changes
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_EQ(player->Settings().PriorityClass(), Priority::Normal);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 0);

    StartFresh(DefaultSong());
    player->Shutdown();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(Shown().FileOpen);
}

// ---- Song lengths and recent files -----------------------------------------------------

TEST_F(Playback, FollowedSongsEndFadedAndTheNextStartsWithTheNextFrame) {
    const QString song = TimedSongs();
    player->Settings().SetFollowSongLengths(true);
    player->OpenAndPlay(song);
    const std::vector<int16_t> heard = Heard(20);
    EXPECT_FALSE(Playing()) << "playback stops after the last song";

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
    EXPECT_EQ(Shown().Song, 2);

    // Not followed, a song plays on past its length, unfaded.
    announced.clear();
    player->Settings().SetFollowSongLengths(false);
    player->PlaySongAt(0);
    const std::vector<int16_t> on = Heard(4);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(
        on, Rendered(song, 1, {"-t", QString::number(4 * 16320 / 44100.0, 'f', 6), "--fade", "0"}));
    EXPECT_EQ(announced, std::vector<int>{1});
    player->Stop();
}

TEST_F(Playback, RecentFilesAndTheSwitchAreStoredAndRemovedWithTheParameters) {
    ScopedEnvironment config("XDG_CONFIG_HOME", MakeFolder(dir.filePath("config")));
    const QString song = TimedSongs();
    PlayerSettings& settings = player->Settings();
    settings.LoadStored();
    QStringList opened;
    for (int i = 0; i < 10; ++i) {
        const QString copy = dir.filePath(QStringLiteral("song%1.ay").arg(i));
        ASSERT_TRUE(QFile::copy(song, copy));
        player->OpenAndPlay(copy);
        opened.prepend(copy);
    }
    // Again, by another name of the same file: to the top, once.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    player->OpenAndPlay(dir.filePath(QStringLiteral("./sub/../song4.ay")));
    QStringList expected = opened.mid(0, 8);
    expected.move(5, 0);
    EXPECT_EQ(settings.RecentFiles(), expected);
    settings.SetFollowSongLengths(true);
    player->Stop();

    PlayerSettings reloaded;
    reloaded.LoadStored();
    EXPECT_TRUE(reloaded.FollowSongLengths());
    EXPECT_EQ(reloaded.RecentFiles(), expected);
    const SettingsStore store;
    EXPECT_EQ(store.ReadPlayerValue("FollowSongLengths")->toString(), "true");
    // Nothing of it goes into the start-up options.
    EXPECT_FALSE(QSettings(store.FilePath(), QSettings::IniFormat).contains("1.0/Startup"));

    // "Remove parameters" takes it all away, and the next song opened does
    // not write it back.
    EXPECT_TRUE(SettingsStore().RemoveSettings());
    settings.StopStoring();
    player->OpenAndPlay(opened[0]);
    player->Stop();
    EXPECT_EQ(settings.RecentFiles(), QStringList{opened[0]}); // for this run only
    EXPECT_FALSE(QFileInfo::exists(store.FolderPath()));
    PlayerSettings fresh;
    fresh.LoadStored();
    EXPECT_FALSE(fresh.FollowSongLengths());
    EXPECT_TRUE(fresh.RecentFiles().isEmpty());
}

// ---- The message seam ----------------------------------------------------------------------

TEST(MessageSeam, AnInstalledHandlerTakesMessagesUntilItGoes) {
    auto first = std::make_unique<MessageRecorder>();
    first->Install();
    {
        MessageRecorder second;
        second.Install();
        ShowMessage(nullptr, QStringLiteral("text"), QStringLiteral("caption"),
                    MessageIcon::Information);
        ASSERT_EQ(second.Messages.size(), 1u);
        EXPECT_EQ(second.Messages[0].Caption, QStringLiteral("caption"));
        EXPECT_EQ(second.Messages[0].Icon, MessageIcon::Information);
        EXPECT_TRUE(first->Messages.empty());
        EXPECT_FALSE(first->IsInstalled());
    }
    // The destroyed handler uninstalled itself; nobody else took over.
    EXPECT_FALSE(first->IsInstalled());
    first->Install();
    ShowMessage(nullptr, QStringLiteral("again"), QStringLiteral("c"));
    EXPECT_EQ(first->Messages.size(), 1u);
    first.reset();
    EXPECT_FALSE(QCoreApplication::instance()->property("zirrafonMessageHandler").isValid());
}

} // namespace
