// The player's wave output cycle and playback actions on a fake wave device:
// the order of the device calls, what every failing call shows and leaves
// behind, the refill cycle, pause and stop, and opening files by extension.
#include "fake_wave_out.h"
#include "platform/messages.h"
#include "platform/opendialog.h"
#include "ui/form1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace {

using Calls = std::vector<std::string>;

// ---- Song files built for the tests ------------------------------------------------

// Z80 code that sets chip channel A to a steady tone of the given period at
// full volume (Spectrum ports), returns, and is followed by a RET that serves
// as the interrupt routine.
std::vector<uint8_t> ToneCode(uint8_t period) {
    const uint8_t writes[3][2] = {{0, period}, {7, 0x3E}, {8, 0x0F}};
    std::vector<uint8_t> code;
    code.reserve(64);
    for (uint8_t b : {0x01, 0xFD, 0xFF}) code.push_back(b); // LD BC,0xFFFD
    for (const auto& rv : writes) {
        // LD B,0xFF; LD A,reg; OUT (C),A; LD B,0xBF; LD A,value; OUT (C),A
        const uint8_t bytes[12] = {0x06, 0xFF, 0x3E, rv[0], 0xED, 0x79,
                                   0x06, 0xBF, 0x3E, rv[1], 0xED, 0x79};
        for (uint8_t b : bytes) code.push_back(b);
    }
    code.push_back(0xC9); // RET (end of init)
    code.push_back(0xC9); // RET (interrupt routine)
    return code;
}
constexpr uint16_t CodeAddress = 0x8000;
uint16_t InterruptAddress() { return static_cast<uint16_t>(CodeAddress + ToneCode(1).size() - 1); }

struct ByteWriter {
    std::vector<uint8_t> v;
    size_t Pos() const { return v.size(); }
    void U8(uint8_t b) { v.push_back(b); }
    void BE16(uint16_t w) {
        v.push_back(static_cast<uint8_t>(w >> 8));
        v.push_back(static_cast<uint8_t>(w));
    }
    void LE16(uint16_t w) {
        v.push_back(static_cast<uint8_t>(w));
        v.push_back(static_cast<uint8_t>(w >> 8));
    }
    void Str(const std::string& s) {
        v.insert(v.end(), s.begin(), s.end());
        v.push_back(0);
    }
    void Bytes(const std::vector<uint8_t>& b) { v.insert(v.end(), b.begin(), b.end()); }
    // Relative pointer in the field at `field`, pointing at `target`.
    void Point(size_t field, size_t target) {
        const auto rel = static_cast<uint16_t>(static_cast<int>(target) - static_cast<int>(field));
        v[field] = static_cast<uint8_t>(rel >> 8);
        v[field + 1] = static_cast<uint8_t>(rel);
    }
};

// An AY file of `songCount` songs (count byte = songCount - 1) whose song i
// plays a tone of period 0x40 + 8 i. `distinctSongs` limits how many song
// records are written; the remaining table entries share the last one.
std::vector<uint8_t> MakeAY(int songCount, uint8_t firstSongByte, int distinctSongs = 8,
                            uint16_t blockLength = 0) {
    distinctSongs = std::min(distinctSongs, songCount);
    ByteWriter w;
    w.Bytes({'Z', 'X', 'A', 'Y', 'E', 'M', 'U', 'L', 0, 0, 0, 0});
    const size_t authorField = w.Pos();
    w.BE16(0);
    const size_t miscField = w.Pos();
    w.BE16(0);
    w.U8(static_cast<uint8_t>(songCount - 1));
    w.U8(firstSongByte);
    const size_t tableField = w.Pos();
    w.BE16(0);
    const size_t table = w.Pos();
    w.Point(tableField, table);
    for (int i = 0; i < songCount; ++i) w.Bytes({0, 0, 0, 0});
    w.Point(authorField, w.Pos());
    w.Str("Test Author");
    w.Point(miscField, w.Pos());
    w.Str("Test Misc");
    std::vector<size_t> names, records;
    for (int i = 0; i < distinctSongs; ++i) {
        names.push_back(w.Pos());
        w.Str("Song " + std::to_string(i + 1));
        records.push_back(w.Pos());
        w.Bytes({0, 1, 2, 3});
        w.BE16(0); // length
        w.BE16(0); // fade
        w.U8(0);
        w.U8(0);
        const size_t pointsField = w.Pos();
        w.BE16(0);
        const size_t blocksField = w.Pos();
        w.BE16(0);
        w.Point(pointsField, w.Pos());
        w.BE16(0xF000);             // stack
        w.BE16(CodeAddress);        // init
        w.BE16(InterruptAddress()); // interrupt
        w.Point(blocksField, w.Pos());
        const std::vector<uint8_t> code = ToneCode(static_cast<uint8_t>(0x40 + 8 * i));
        w.BE16(CodeAddress);
        w.BE16(blockLength != 0 ? blockLength : static_cast<uint16_t>(code.size()));
        const size_t dataField = w.Pos();
        w.BE16(0);
        w.BE16(0); // end of the block table
        w.Point(dataField, w.Pos());
        w.Bytes(code);
    }
    for (int i = 0; i < songCount; ++i) {
        const int r = std::min(i, distinctSongs - 1);
        w.Point(table + 4 * i, names[r]);
        w.Point(table + 4 * i + 2, records[r]);
    }
    return w.v;
}

// An AYM file whose songs (numbers 1..songs) all play one tone.
std::vector<uint8_t> MakeAYM(uint8_t songs, uint8_t startNumber) {
    ByteWriter w;
    w.Bytes({'A', 'Y', 'M', '0'});
    std::string name = "AYM Tune";
    name.resize(28, ' ');
    std::string author = "AYM Author";
    author.resize(16, ' ');
    w.Bytes(std::vector<uint8_t>(name.begin(), name.end()));
    w.Bytes(std::vector<uint8_t>(author.begin(), author.end()));
    w.LE16(CodeAddress);
    w.LE16(InterruptAddress());
    w.U8(1);
    w.U8(songs);
    w.U8(startNumber);
    w.U8(1); // song number into A
    for (int i = 0; i < 12; ++i) w.U8(0);
    w.U8(1); // one block
    const std::vector<uint8_t> code = ToneCode(0x30);
    w.LE16(CodeAddress);
    w.LE16(static_cast<uint16_t>(code.size()));
    w.Bytes(code);
    return w.v;
}

// ---- Fixture --------------------------------------------------------------------------

class Playback : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        messages.Install();
        form = std::make_unique<TForm1>(driver.Factory());
        driver.Watch(*form);
    }
    void TearDown() override {
        form.reset();
        EXPECT_EQ(driver.Alive, 0) << "a wave device was left behind";
    }

    QString File(const QString& name, const std::vector<uint8_t>& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }
    QString DefaultSong() { return File("tune.ay", MakeAY(3, 0)); }

    // Opens and plays `path`, then forgets the calls and messages so far.
    void StartFresh(const QString& path) {
        form->OpenAndPlay(path);
        ASSERT_TRUE(form->Playing);
        ASSERT_TRUE(messages.Messages.empty()) << messages.Messages[0].Text.toStdString();
        driver.Calls.clear();
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& m : messages.Messages) out.push_back(m.Caption.toStdString());
        return out;
    }
    static void Deliver() { QCoreApplication::processEvents(); }

    // The buffers a fresh engine renders for song `index` of `path`, in order.
    static std::vector<std::vector<int16_t>> Reference(const QString& path, int index, int count) {
        auto engine = std::make_unique<SoundEngine>();
        SongList list;
        EXPECT_TRUE(
            OpenAYFile(list, QFile::encodeName(path).toStdString(), [](const std::string&) {}));
        LoadAYSong(list, *engine, index);
        SetChipAndChannels(engine->Chip, DefaultChipMode, VolumeZoneHeight);
        std::vector<std::vector<int16_t>> out(static_cast<size_t>(count),
                                              std::vector<int16_t>(BufferValues));
        StartPlayback(*engine, out[0].data());
        for (auto& b : out) {
            engine->Chip.OutputBuffer = b.data();
            MakeBuffer(*engine);
        }
        return out;
    }
    static std::vector<int16_t> Contents(const std::unique_ptr<int16_t[]>& buffer) {
        return {buffer.get(), buffer.get() + BufferValues};
    }

    QTemporaryDir dir;
    FakeWaveOutDriver driver;
    MessageRecorder messages;
    std::unique_ptr<TForm1> form;
};

// ---- The cycle ------------------------------------------------------------------------------

TEST_F(Playback, StartQueuesBothBuffersInOrderWithTheSongsFirstSound) {
    const QString path = DefaultSong();
    form->OpenAndPlay(path);
    EXPECT_EQ(driver.Calls, (Calls{"Open", "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
    EXPECT_TRUE(form->Playing);
    EXPECT_FALSE(form->Paused);
    EXPECT_TRUE(messages.Messages.empty());
    EXPECT_EQ(form->Header1.Data, form->Buffer1.get());
    EXPECT_EQ(form->Header2.Data, form->Buffer2.get());
    EXPECT_EQ(form->Header1.BufferLength, 65280u);
    EXPECT_EQ(form->Header2.BufferLength, 65280u);
    EXPECT_EQ(form->Header1.Loops, 0u);

    const auto ref = Reference(path, 0, 4);
    EXPECT_EQ(Contents(form->Buffer1), ref[0]);
    EXPECT_EQ(Contents(form->Buffer2), ref[1]);
    EXPECT_NE(ref[0], std::vector<int16_t>(BufferValues, ref[0][0])) << "the test song is silent";
}

TEST_F(Playback, EachCompletionRefillsOnlyItsOwnBufferAndContinuesTheSong) {
    const QString path = DefaultSong();
    StartFresh(path);
    const auto ref = Reference(path, 0, 4);
    const std::vector<int16_t> before2 = Contents(form->Buffer2);

    driver.Complete(&form->Header1);
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Write H1"}));
    EXPECT_EQ(Contents(form->Buffer1), ref[2]);
    EXPECT_EQ(Contents(form->Buffer2), before2);

    driver.Calls.clear();
    std::fill_n(form->Buffer1.get(), BufferValues, int16_t{0x5A5A});
    driver.Complete(&form->Header2);
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Write H2"}));
    EXPECT_EQ(Contents(form->Buffer2), ref[3]);
    EXPECT_EQ(Contents(form->Buffer1), std::vector<int16_t>(BufferValues, 0x5A5A));
}

TEST_F(Playback, StopTearsDownInOrderAndDropsQueuedCompletions) {
    StartFresh(DefaultSong());
    driver.Complete(&form->Header1); // played, notice not yet delivered
    form->StopButtonAction();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_FALSE(form->Playing);
    EXPECT_EQ(driver.Alive, 0);

    // The notice posted before the stop and those the reset posted never refill.
    const std::vector<int16_t> before1 = Contents(form->Buffer1);
    driver.Calls.clear();
    Deliver();
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_EQ(Contents(form->Buffer1), before1);

    // A second stop does nothing; the file stays open for play.
    form->StopButtonAction();
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(form->List.FileOpen);
    form->PlayButtonAction();
    EXPECT_TRUE(form->Playing);
    EXPECT_EQ(driver.Calls.front(), "Open");
}

TEST_F(Playback, ANoticeOfTheOldPlaybackNeverRefillsTheNewOne) {
    StartFresh(DefaultSong());
    driver.Complete(&form->Header1); // played, notice not yet delivered
    form->PlayButtonAction();        // stop and start again at once
    Deliver();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close", "Open",
                                   "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
}

TEST_F(Playback, PauseTogglesAndStopWhilePausedKeepsPausedUntilTheNextStart) {
    form->PauseButtonAction(); // nothing playing: nothing happens
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_FALSE(form->Paused);

    StartFresh(DefaultSong());
    form->PauseButtonAction();
    EXPECT_TRUE(form->Paused);
    form->PauseButtonAction();
    EXPECT_FALSE(form->Paused);
    form->PauseButtonAction();
    EXPECT_EQ(driver.Calls, (Calls{"Pause", "Restart", "Pause"}));

    driver.Calls.clear();
    form->StopButtonAction();
    EXPECT_FALSE(form->Playing);
    EXPECT_TRUE(form->Paused);
    form->PauseButtonAction(); // not playing: no device call, still paused
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_TRUE(form->Paused);

    form->PlayButtonAction();
    EXPECT_TRUE(form->Playing);
    EXPECT_FALSE(form->Paused);
}

TEST_F(Playback, PlayWhilePausedRestartsTheSongFromItsBeginningUnpaused) {
    const QString path = DefaultSong();
    StartFresh(path);
    driver.Complete(&form->Header1);
    Deliver(); // the song has moved on by a buffer
    form->PauseButtonAction();
    driver.Calls.clear();

    form->PlayButtonAction();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close", "Open",
                                   "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
    EXPECT_TRUE(form->Playing);
    EXPECT_FALSE(form->Paused);
    const auto ref = Reference(path, 0, 2);
    EXPECT_EQ(Contents(form->Buffer1), ref[0]);
    EXPECT_EQ(Contents(form->Buffer2), ref[1]);
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
    form->OpenAndPlay(path);
    EXPECT_EQ(driver.Calls, f.calls);
    EXPECT_EQ(Captions(), f.captions);
    for (size_t i = 0; i < messages.Messages.size(); ++i) {
        const auto& m = messages.Messages[i];
        EXPECT_EQ(m.Text, FakeWaveOutDriver::TextOf(static_cast<WaveResult>(40 + i)));
        EXPECT_EQ(m.Icon, MessageIcon::None);
        EXPECT_EQ(m.Owner, form.get());
    }
    EXPECT_EQ(form->Playing, f.playing);
    EXPECT_FALSE(form->Paused);
    EXPECT_EQ(driver.Alive, f.playing ? 1 : 0);
    EXPECT_EQ(form->SongNumberShown, 1);

    // Without playback, stop and pause touch nothing; the user may start again.
    if (!f.playing) {
        driver.Calls.clear();
        form->StopButtonAction();
        form->PauseButtonAction();
        EXPECT_TRUE(driver.Calls.empty());
        driver.Failures.clear();
        form->PlayButtonAction();
        EXPECT_TRUE(form->Playing);
    }
}

const Calls FullStart = {"Open", "Prepare H1", "Write H1", "Prepare H2", "Write H2"};

INSTANTIATE_TEST_SUITE_P(
    WaveOut, StartFailures,
    ::testing::Values(StartFailure{{"Open"}, {"WaveOutOpen"}, {"Open"}, false},
                      StartFailure{{"Prepare H1"},
                                   {"WaveOutPrepareHeaderN1"},
                                   {"Open", "Prepare H1", "Close"},
                                   false},
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

TEST_F(Playback, AnActionWhileAFailureIsShownEndsTheInterruptedOne) {
    ActingHandler handler;
    handler.Install();
    driver.FailOn("Prepare H2", 81);
    handler.Action = [&] { form->StopButtonAction(); };
    form->OpenAndPlay(DefaultSong());
    EXPECT_EQ(driver.Calls, (Calls{"Open", "Prepare H1", "Write H1", "Prepare H2", "Reset",
                                   "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_FALSE(form->Playing);
    EXPECT_EQ(driver.Alive, 0);

    // A new start while a failed stop is shown: the new playback stands.
    driver.Failures.clear();
    form->PlayButtonAction();
    driver.Calls.clear();
    driver.FailOn("Reset", 82);
    handler.Action = [&] {
        driver.Failures.clear();
        form->NextButtonAction();
    };
    form->StopButtonAction();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Reset", "Unprepare H1", "Unprepare H2", "Close",
                                   "Open", "Prepare H1", "Write H1", "Prepare H2", "Write H2"}));
    EXPECT_TRUE(form->Playing);
    EXPECT_EQ(form->SongNumberShown, 2);
    EXPECT_EQ(driver.Alive, 1);
    EXPECT_EQ(handler.Captions,
              (std::vector<std::string>{"WaveOutPrepareHeaderN2", "WaveOutReset"}));
}

TEST_F(Playback, FailedRequeueDropsThatBufferOutOfTheCycle) {
    StartFresh(DefaultSong());
    driver.FailOn("Write H1", 51);
    driver.FailOn("Write H2", 52);
    driver.Complete(&form->Header1);
    driver.Complete(&form->Header2);
    Deliver();
    EXPECT_EQ(Captions(), (std::vector<std::string>{"WaveOutWriteN1A", "WaveOutWriteN2A"}));
    EXPECT_EQ(messages.Messages[0].Text, FakeWaveOutDriver::TextOf(51));
    EXPECT_EQ(messages.Messages[1].Text, FakeWaveOutDriver::TextOf(52));
    EXPECT_TRUE(form->Playing);
    EXPECT_TRUE(driver.Queue.empty());
}

TEST_F(Playback, EveryStepOfTheTearDownRunsAfterAFailure) {
    StartFresh(DefaultSong());
    driver.FailOn("Reset", 61);
    driver.FailOn("Unprepare H1", 62);
    driver.FailOn("Unprepare H2", 63);
    driver.FailOn("Close", 64);
    form->StopButtonAction();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"WaveOutReset", "WaveOutUnprepareHeader1(Stop)",
                                        "WaveOutUnprepareHeader2(Stop)", "WaveOutClose(Stop)"}));
    EXPECT_EQ(messages.Messages[3].Text, FakeWaveOutDriver::TextOf(64));
    EXPECT_FALSE(form->Playing);

    // Buffers the failed reset never returned cannot refill anything now.
    driver.Calls.clear();
    driver.Complete(&form->Header1);
    Deliver();
    EXPECT_TRUE(driver.Calls.empty());
}

TEST_F(Playback, FailedPauseOrResumeLeavesPausedAsItWas) {
    StartFresh(DefaultSong());
    driver.FailOn("Pause", 71);
    form->PauseButtonAction();
    EXPECT_FALSE(form->Paused);
    driver.Failures.clear();
    form->PauseButtonAction();
    EXPECT_TRUE(form->Paused);
    driver.FailOn("Restart", 72);
    form->PauseButtonAction();
    EXPECT_TRUE(form->Paused);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"WaveOutPause", "WaveOutRestart"}));
    EXPECT_EQ(messages.Messages[1].Text, FakeWaveOutDriver::TextOf(72));
}

// ---- Opening files -------------------------------------------------------------------------

TEST_F(Playback, OpenShowsTheTextsAndStartsTheFilesFirstSong) {
    const QString path = File("first.ay", MakeAY(5, 2));
    form->OpenAndPlay(path);
    EXPECT_TRUE(messages.Messages.empty());
    EXPECT_TRUE(form->Playing);
    EXPECT_EQ(form->List.CurrentSong, 2);
    EXPECT_EQ(form->SongNumberShown, 3);
    EXPECT_EQ(form->SongCountShown, 5);
    EXPECT_EQ(form->AuthorLabelText, QStringLiteral("Test Author"));
    EXPECT_EQ(form->MiscLabelText, QStringLiteral("Test Misc"));
    EXPECT_EQ(form->TitleLabelText, QStringLiteral("Song 3"));
    EXPECT_EQ(form->OpenDialog1.InitialDir, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(Contents(form->Buffer1), Reference(path, 2, 1)[0]);

    // A first song beyond the count starts on the first song.
    form->OpenAndPlay(File("beyond.ay", MakeAY(2, 7)));
    EXPECT_EQ(form->List.CurrentSong, 0);
    EXPECT_EQ(form->SongNumberShown, 1);
    EXPECT_EQ(form->SongCountShown, 2);
}

TEST_F(Playback, ExtensionsAreComparedWithoutCaseAndTrailingBlanks) {
    for (const char* name : {"upper.AY", "mixed.Ay", "dots.in.name.ay"}) {
        SCOPED_TRACE(name);
        form->OpenAndPlay(File(QString::fromLatin1(name), MakeAY(1, 0)));
        EXPECT_TRUE(form->Playing);
        EXPECT_EQ(form->List.FileKind, 0);
    }
    for (const char* name : {"tune.aym ", "TUNE.AYM", "tune.aym\t"}) {
        SCOPED_TRACE(name);
        form->OpenAndPlay(File(QString::fromLatin1(name), MakeAYM(5, 3)));
        EXPECT_TRUE(form->Playing);
        EXPECT_EQ(form->List.FileKind, 1);
        EXPECT_EQ(form->List.CurrentSong, 2);
        EXPECT_EQ(form->SongCountShown, 5);
        EXPECT_EQ(form->TitleLabelText, QStringLiteral("AYM Tune"));
    }
    // An AY file named as AYM goes to the AYM reader.
    form->OpenAndPlay(File("really-ay.aym", MakeAY(1, 0)));
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Error"}));
    EXPECT_EQ(messages.Messages[0].Text, QStringLiteral("Not .AYM file"));
    EXPECT_EQ(PlayerFileExtension(QStringLiteral("/a.b/c")), QString());
    EXPECT_EQ(PlayerFileExtension(QStringLiteral("/x/song.ay.BAK ")), QStringLiteral(".bak"));
}

TEST_F(Playback, UnknownExtensionOnlyStopsAndKeepsTheOpenFile) {
    const QString path = File("tune.ay", MakeAY(3, 1));
    StartFresh(path);
    for (const char* name : {"tune.ay.bak", "noext", "tune.ayx", "tune."}) {
        SCOPED_TRACE(name);
        QDir(dir.path()).mkdir(QStringLiteral("elsewhere"));
        form->OpenAndPlay(
            File(QStringLiteral("elsewhere/") + QString::fromLatin1(name), MakeAY(1, 0)));
        EXPECT_FALSE(form->Playing);
        EXPECT_TRUE(messages.Messages.empty());
        EXPECT_TRUE(form->List.FileOpen);
        EXPECT_EQ(form->List.CurrentSong, 1);
        EXPECT_EQ(form->SongCountShown, 3);
        EXPECT_EQ(form->OpenDialog1.InitialDir, dir.path() + QLatin1Char('/'));
        form->PlayButtonAction(); // the old file's current song plays again
        EXPECT_TRUE(form->Playing);
        EXPECT_EQ(form->SongNumberShown, 2);
    }
    // A name whose only dot is in a folder has no extension.
    QDir(dir.path()).mkdir(QStringLiteral("folder.ay"));
    const QString inFolder = File(QStringLiteral("folder.ay/tune"), MakeAY(1, 0));
    form->OpenAndPlay(inFolder);
    EXPECT_FALSE(form->Playing);
    EXPECT_TRUE(messages.Messages.empty());
    EXPECT_EQ(form->List.SongCount, 3);
}

TEST_F(Playback, RefusedFilesShowTheirMessageAndLeaveNoFileOpen) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* text;
        const char* caption;
        MessageIcon icon;
    };
    std::vector<uint8_t> notEmul = MakeAY(1, 0);
    notEmul[4] = 'X';
    std::vector<uint8_t> notAY = MakeAY(1, 0);
    notAY[0] = 'X';
    std::vector<uint8_t> badRevision = MakeAYM(1, 1);
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
        StartFresh(File("good.ay", MakeAY(4, 0)));
        messages.Messages.clear();
        form->OpenAndPlay(File(QString::fromLatin1(c.name), c.bytes));
        ASSERT_EQ(messages.Messages.size(), 1u);
        EXPECT_EQ(messages.Messages[0].Text, QString::fromLatin1(c.text));
        EXPECT_EQ(messages.Messages[0].Caption, QString::fromLatin1(c.caption));
        EXPECT_EQ(messages.Messages[0].Icon, c.icon);
        EXPECT_EQ(messages.Messages[0].Owner, form.get());
        EXPECT_FALSE(form->Playing);
        EXPECT_FALSE(form->List.FileOpen);
        // The previous file's texts and numbers stay on show.
        EXPECT_EQ(form->SongCountShown, 4);
        EXPECT_EQ(form->AuthorLabelText, QStringLiteral("Test Author"));
        form->PlayButtonAction(); // no file: nothing
        EXPECT_FALSE(form->Playing);
        messages.Messages.clear();
    }

    form->OpenAndPlay(dir.filePath(QStringLiteral("missing.ay")));
    ASSERT_EQ(messages.Messages.size(), 1u);
    EXPECT_EQ(messages.Messages[0].Text, QStringLiteral("File not found"));
    EXPECT_EQ(messages.Messages[0].Caption, QStringLiteral("Zirrafon"));
}

TEST_F(Playback, UnreadableSongBlockAbandonsThePlayBeforeOutputStarts) {
    // Song blocks claim more bytes than the file has: the reader cuts them to
    // the file, so make the block of the second song start past its end.
    std::vector<uint8_t> bytes = MakeAY(2, 0, 2);
    const QString path = File("cut.ay", bytes);
    StartFresh(path);
    form->StopButtonAction();
    form->List.Songs[1].Blocks[0].Offset = static_cast<uint32_t>(bytes.size());
    form->List.Songs[1].Blocks[0].Length = 4;
    driver.Calls.clear();
    form->NextButtonAction();
    ASSERT_EQ(messages.Messages.size(), 1u);
    EXPECT_EQ(messages.Messages[0].Text, QStringLiteral("Read beyond end of file"));
    EXPECT_EQ(messages.Messages[0].Caption, QStringLiteral("Zirrafon"));
    EXPECT_FALSE(form->Playing);
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_EQ(form->SongNumberShown, 1) << "the number is not updated";
}

TEST_F(Playback, PreviousAndNextStepWithinTheFileWithoutWrapping) {
    // Without a file the index moves and nothing plays.
    form->NextButtonAction();
    EXPECT_EQ(form->List.CurrentSong, 1);
    form->PrevButtonAction();
    form->PrevButtonAction();
    EXPECT_EQ(form->List.CurrentSong, 0);
    EXPECT_TRUE(driver.Calls.empty());

    StartFresh(File("three.ay", MakeAY(3, 0)));
    form->PrevButtonAction(); // first song: nothing, keeps playing
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(form->Playing);
    form->NextButtonAction();
    form->NextButtonAction();
    EXPECT_EQ(form->List.CurrentSong, 2);
    EXPECT_EQ(form->SongNumberShown, 3);
    EXPECT_EQ(form->TitleLabelText, QStringLiteral("Song 3"));
    driver.Calls.clear();
    form->NextButtonAction(); // last song: nothing
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(form->Playing);
    form->PrevButtonAction();
    EXPECT_EQ(form->List.CurrentSong, 1);
    EXPECT_EQ(driver.Calls.front(), "Reset");
    EXPECT_TRUE(form->Playing);

    // 256 songs: the count shown is 256 and next stops at the song shown as 256.
    form->OpenAndPlay(File("many.ay", MakeAY(256, 254, 2)));
    EXPECT_EQ(form->SongCountShown, 256);
    form->NextButtonAction();
    EXPECT_EQ(form->SongNumberShown, 256);
    form->NextButtonAction();
    EXPECT_EQ(form->List.CurrentSong, 255);
}

TEST_F(Playback, OpenButtonUsesTheDialogAndACancelChangesNothing) {
    const QString path = DefaultSong();
    QString offeredTitle, offeredFilter, offeredDir;
    QString answer = path;
    form->OpenDialog1.Chooser = [&](const FileOpenDialog& d, QWidget*) {
        offeredTitle = d.Title;
        offeredFilter = d.Filter;
        offeredDir = d.InitialDir;
        return answer;
    };
    form->OpenButtonAction();
    EXPECT_EQ(offeredTitle, QStringLiteral("Open and play file"));
    EXPECT_EQ(offeredFilter,
              QStringLiteral("All supported files|*.ay;*.aym|.AY files|*.ay|.AYM files|*.aym"));
    EXPECT_EQ(offeredDir, QCoreApplication::applicationDirPath());
    EXPECT_TRUE(form->Playing);

    answer.clear();
    driver.Calls.clear();
    form->OpenButtonAction();
    EXPECT_EQ(offeredDir, dir.path() + QLatin1Char('/'));
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_TRUE(form->Playing);

    EXPECT_EQ(
        QtFileDialogFilter(form->OpenDialog1.Filter),
        QStringLiteral("All supported files (*.ay *.aym);;.AY files (*.ay);;.AYM files (*.aym)"));
}

TEST_F(Playback, ClosingStopsClosesTheFileAndRestoresNormalPriority) {
    form->SetPriority(HighPriorityClass);
    EXPECT_EQ(form->PriorityClass, HighPriorityClass);
    if (geteuid() == 0) {
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), -10);
    }

    form->close(); // nothing playing, no file: only the priority changes
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_EQ(form->PriorityClass, NormalPriorityClass);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 0);

    StartFresh(DefaultSong());
    form->close();
    EXPECT_EQ(driver.Calls, (Calls{"Reset", "Unprepare H1", "Unprepare H2", "Close"}));
    EXPECT_FALSE(form->Playing);
    EXPECT_FALSE(form->List.FileOpen);
    EXPECT_FALSE(form->List.SongFile.IsOpen());
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
