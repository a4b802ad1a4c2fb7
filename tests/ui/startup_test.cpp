// The start-up: splitting the stored option string, making arguments
// absolute, the options of a batch and the files it names, the stored batch
// before the command line, and the hand-over between two starts through the
// real socket and shared area (the sender runs on a thread of its own, as it
// would in its own process).
#include "platform/settings.h"
#include "platform/single_instance.h"
#include "playback/player.h"
#include "playback/playlist.h"
#include "playback/playlist_playback.h"
#include "player_bed.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSharedMemory>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using Tokens = QList<QByteArray>;

// ---- Splitting "Startup" ---------------------------------------------------------

TEST(SplitStartupOptions, SplitsAtBlanksAndKeepsQuotedBlanks) {
    EXPECT_EQ(SplitStartupOptions(R"(/hYMABC /u8000 /rh /p"/home/u/My Skins/a.bmp")"),
              (Tokens{"/hYMABC", "/u8000", "/rh", "/p/home/u/My Skins/a.bmp"}));
    // Quotes anywhere in a token, dropped; each one switches.
    EXPECT_EQ(SplitStartupOptions(R"(/p"a b"c" "d x)"), (Tokens{"/pa bc d", "x"}));
    EXPECT_EQ(SplitStartupOptions(R"(""a)"), (Tokens{"a"}));
    // Tabs and other control characters separate like blanks.
    EXPECT_EQ(SplitStartupOptions("a\tb\x01"
                                  "c"),
              (Tokens{"a", "b", "c"}));
}

TEST(SplitStartupOptions, ConsecutiveAndLeadingSeparatorsGiveEmptyTokens) {
    // As saved when only the beeper level differs from its default.
    EXPECT_EQ(SplitStartupOptions(" /u8000"), (Tokens{"", "/u8000"}));
    EXPECT_EQ(SplitStartupOptions("a  b"), (Tokens{"a", "", "b"}));
    EXPECT_EQ(SplitStartupOptions("a "), (Tokens{"a", ""}));
    EXPECT_EQ(SplitStartupOptions(""), (Tokens{""}));
}

TEST(SplitStartupOptions, AnOpenQuoteRunsToTheEndAndANulEndsAToken) {
    EXPECT_EQ(SplitStartupOptions(R"(/u1 /p"a b)"), (Tokens{"/u1", "/pa b"}));
    // A NUL separates like a blank; inside quotes it ends the token.
    EXPECT_EQ(SplitStartupOptions(QByteArray("ab\0cd e", 7)), (Tokens{"ab", "cd", "e"}));
    EXPECT_EQ(SplitStartupOptions(QByteArray("\"a\0b\" c", 7)), (Tokens{"a", "c"}));
}

// ---- Making arguments absolute ------------------------------------------------------

TEST(AbsoluteArguments, RelativeNamesAndSkinPathsBecomeAbsolute) {
    QTemporaryDir dir;
    const QString start = dir.path();
    QFile existing(dir.filePath("song.ay"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    const QString abs = QFileInfo(existing).absoluteFilePath();

    const QStringList result =
        AbsoluteArguments({"song.ay", "../up.ay", "/hYMACB", "/u8000", "/rh", "/p", "/pskin.bmp",
                           "/Pskins/x.bmp", "/p/abs/skin.bmp", abs, "/nowhere/x.ay", ""},
                          start);
    EXPECT_EQ(result,
              (QStringList{start + "/song.ay", start + "/../up.ay", "/hYMACB", "/u8000", "/rh",
                           "/p", "/p" + start + "/skin.bmp", "/P" + start + "/skins/x.bmp",
                           "/p/abs/skin.bmp", abs, "/nowhere/x.ay", ""}));
}

// ---- The hand-over area -----------------------------------------------------------------

// QSharedMemory keys a System V segment with ftok(key file, 'Q'), from the
// key file's inode, and a new file soon reuses a deleted one's inode: a
// segment that a killed player left (nobody attached) can sit under the key
// of a test's fresh area. A start's sender clears such a segment itself; a
// test that makes an area with QSharedMemory or shmget clears it first.
void ClearStaleArea() {
    QFile key(HandOverAreaKey());
    if (!key.exists() && key.open(QIODevice::WriteOnly)) key.close();
    const int id = shmget(ftok(QFile::encodeName(HandOverAreaKey()).constData(), 'Q'), 0, 0600);
    shmid_ds info{};
    if (id >= 0 && shmctl(id, IPC_STAT, &info) == 0 && info.shm_nattch == 0)
        shmctl(id, IPC_RMID, nullptr);
}

class AreaTest : public ::testing::Test {
  protected:
    QTemporaryDir Root;
    ScopedEnvironment Runtime{"XDG_RUNTIME_DIR", MakeFolder(Root.filePath("runtime"))};

    // An area of `size` bytes filled with `fill`, held by this test.
    void Hold(QSharedMemory& area, int size, char fill) {
        ClearStaleArea();
        area.setNativeKey(HandOverAreaKey());
        ASSERT_TRUE(area.create(size)) << area.errorString().toStdString();
        std::memset(area.data(), fill, static_cast<size_t>(size));
    }
};

TEST_F(AreaTest, TheReceiverStopsAtTheNulAndNeverReadsPastTheArea) {
    {
        QSharedMemory area;
        Hold(area, HandOverAreaSize, 'x');
        HandOverArea receiver;
        ASSERT_TRUE(receiver.Open());
        EXPECT_EQ(receiver.Text(), QByteArray(260, 'x')); // no NUL: 260 characters
        static_cast<char*>(area.data())[5] = '\0';
        EXPECT_EQ(receiver.Text(), QByteArray("xxxxx"));
        receiver.Close();
        EXPECT_FALSE(receiver.IsOpen());
        EXPECT_EQ(receiver.Text(), QByteArray());
    }
    {
        QSharedMemory small; // a foreign area smaller than ours
        Hold(small, 100, 'y');
        HandOverArea receiver;
        ASSERT_TRUE(receiver.Open());
        EXPECT_EQ(receiver.Text(), QByteArray(100, 'y'));
    }
    HandOverArea none;
    EXPECT_FALSE(none.Open());
}

TEST_F(AreaTest, ASenderCutsAt260BytesButNotInsideACharacter) {
    EXPECT_EQ(CutForHandOver(QByteArray(300, 'a')), QByteArray(260, 'a'));
    EXPECT_EQ(CutForHandOver(QByteArray(260, 'a')), QByteArray(260, 'a'));
    const QByteArray accented = QByteArray(259, 'a') + "\xC3\xA9" + "bbb"; // 'é' at 259..260
    EXPECT_EQ(CutForHandOver(accented), QByteArray(259, 'a'));
    const QByteArray garbage = QByteArray(255, 'a') + QByteArray(45, '\x80');
    EXPECT_EQ(CutForHandOver(garbage).size(), 260);

    HandOverSender sender;
    ASSERT_EQ(sender.Create(), HandOverSender::Result::Created);
    sender.Write(QByteArray(300, 'z'));
    HandOverArea receiver;
    ASSERT_TRUE(receiver.Open());
    EXPECT_EQ(receiver.Text(), QByteArray(260, 'z'));
    sender.Write("short");
    EXPECT_EQ(receiver.Text(), QByteArray("short"));
    receiver.Close();
    sender.Release();
    EXPECT_FALSE(receiver.Open()); // the last one out destroys it
}

TEST_F(AreaTest, AnAreaInUseMakesTheSenderGiveUpAndAStaleOneIsRecovered) {
    {
        QSharedMemory inUse; // a hand-over in progress
        Hold(inUse, HandOverAreaSize, 0);
        HandOverSender sender;
        EXPECT_EQ(sender.Create(), HandOverSender::Result::Busy);
    }
    // An area that nobody is attached to, as a start that crashed leaves it.
    ClearStaleArea();
    const QByteArray keyFile = QFile::encodeName(HandOverAreaKey());
    const key_t ipcKey = ftok(keyFile.constData(), 'Q');
    ASSERT_NE(ipcKey, -1);
    const int stale = shmget(ipcKey, HandOverAreaSize, IPC_CREAT | IPC_EXCL | 0600);
    ASSERT_GE(stale, 0) << std::strerror(errno);
    {
        QSharedMemory probe;
        probe.setNativeKey(HandOverAreaKey());
        EXPECT_FALSE(probe.create(HandOverAreaSize)); // what a start meets
        EXPECT_EQ(probe.error(), QSharedMemory::AlreadyExists);
    }
    HandOverSender sender;
    EXPECT_EQ(sender.Create(), HandOverSender::Result::Created);
    sender.Release();
    shmid_ds info{};
    EXPECT_NE(shmctl(stale, IPC_STAT, &info), 0) << "the stale segment is still there";
}

// ---- A batch without any window ----------------------------------------------------------

// The batches turn arguments into commands on the player and its settings
// alone: no window, no dialog, only a way to change the skin.
TEST(ArgumentBatches, SetThePlayerAndPlayTheLastFileWithoutAWindow) {
    FakeWaveOutDriver driver;
    Player player(driver.Factory());
    std::vector<std::pair<SkinSource, QString>> skins;
    ArgumentBatches batches(player, [&](SkinSource source, const QString& path) {
        skins.emplace_back(source, path);
        return path != QLatin1String("/nowhere.bmp");
    });
    const QString song = DemoSong("demo.ay");
    batches.CommandLineInterpreter(BatchMessage::BeginLocal);
    for (const char* argument : {"/hYMBCA", "/u123", "/p/skin.bmp", "/p/nowhere.bmp", "/x"})
        batches.DeliverArgument(argument);
    batches.DeliverArgument(QFile::encodeName(song));
    EXPECT_EQ(player.State(), PlayState::Stopped) << "a file plays when its batch ends";
    batches.CommandLineInterpreter(BatchMessage::EndLocal);
    EXPECT_EQ(player.Settings().ChipMode(), 9);
    EXPECT_EQ(player.Engine().Chip.Mix.BeeperSetting, 123);
    EXPECT_EQ(player.Settings().SkinFile(), "/skin.bmp"); // the one that loaded
    EXPECT_EQ(skins, (std::vector<std::pair<SkinSource, QString>>{
                         {SkinSource::File, "/skin.bmp"}, {SkinSource::File, "/nowhere.bmp"}}));
    EXPECT_EQ(player.State(), PlayState::Playing);
    EXPECT_EQ(player.NowPlaying().FileName, song);
    player.Stop();
}

// ---- Options and files of a batch ------------------------------------------------------

// Until the playlist has read everything it was given.
void Settle(PlaylistModel& list) {
    for (QElapsedTimer t; t.isValid() ? t.elapsed() < 5000 : (t.start(), true);) {
        QCoreApplication::processEvents();
        if (!list.Busy()) break;
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();
}

class Options : public ::testing::Test {
  protected:
    PlayerBed bed;
    MainWindow& form() { return *bed.Form; }
    ParametersDialog& dialog() { return *bed.Dialog; }
};

TEST_F(Options, ChipModeNamesInAnyLetterCase) {
    bed.Batch({"/hymacb"});
    EXPECT_EQ(bed.Settings().ChipMode(), 5);
    EXPECT_EQ(Control<QComboBox>(dialog(), "ChipList")->currentIndex(), 5);
    ChipState expected;
    SetChipAndChannels(expected, 5, bed.Settings().Volume(), VolumeSteps);
    EXPECT_EQ(std::memcmp(expected.Mix.VolumeTable, bed.Playback->Engine().Chip.Mix.VolumeTable,
                          sizeof expected.Mix.VolumeTable),
              0);

    bed.Batch({"/HAYABC"});
    EXPECT_EQ(bed.Settings().ChipMode(), 2);
    EXPECT_EQ(Control<QComboBox>(dialog(), "ChipList")->currentIndex(), 2);

    // Unknown names, and names hidden past the 31 characters considered.
    bed.Batch({"/hYM", "/hYMACBX", "/h", "/hYMACB" + QString(30, 'x')});
    EXPECT_EQ(bed.Settings().ChipMode(), 2);
    bed.Batch({"/hYMCBA" + QString(24, ' ')}); // 31 characters: not a name either
    EXPECT_EQ(bed.Settings().ChipMode(), 2);
    // A layout alone: on the chip of each file.
    bed.Batch({"/hcba"});
    EXPECT_EQ(bed.Settings().ChipMode(), FileChipModeBase + 6);
    EXPECT_EQ(Control<QComboBox>(dialog(), "ChipList")->currentText(), "File's chip, CBA Stereo");
    EXPECT_EQ(bed.TraceStarting("chip"), (QStringList{"chip 5", "chip 2", "chip 20"}));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Options, BeeperLevelInRangeOnly) {
    bed.Settings().SetVolume(20);
    const int32_t amplitude = bed.Playback->Engine().Chip.Mix.BeeperAmplitude;
    for (const char* bad : {"/u40000", "/u-1", "/uabc", "/u", "/u32769", "/u1e3"}) {
        bed.Batch({bad});
        EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 16384) << bad;
        EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperAmplitude, amplitude) << bad;
    }
    EXPECT_TRUE(Control<QLineEdit>(dialog(), "BeeperLevelEdit")->text().isEmpty());

    bed.Batch({"/u8000"});
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 8000);
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperAmplitude,
              ComputeBeeperAmplitude(8000, 20, VolumeSteps));
    EXPECT_NE(ComputeBeeperAmplitude(8000, 20, VolumeSteps), -8000);
    EXPECT_EQ(Control<QLineEdit>(dialog(), "BeeperLevelEdit")->text(), "8000");

    bed.Batch({"/U0"});
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 0);
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperAmplitude, 0); // silent
    EXPECT_EQ(Control<QLineEdit>(dialog(), "BeeperLevelEdit")->text(), "0");

    bed.Batch({"/u32768"});
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 32768);
}

TEST_F(Options, PriorityTakesExactlyOneLetter) {
    bed.Batch({"/rH"});
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::High);
    EXPECT_TRUE(Control<QRadioButton>(dialog(), "HighPriorityButton")->isChecked());
    bed.Batch({"/rnormal", "/rx", "/r"});
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::High);
    bed.Batch({"/rn"});
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::Normal);
    EXPECT_TRUE(Control<QRadioButton>(dialog(), "NormalPriorityButton")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(dialog(), "HighPriorityButton")->isChecked());
}

TEST_F(Options, SkinFileAndTheBuiltInSkin) {
    const QString skin = bed.WriteSkin("blue skin.bmp");
    bed.Batch({"/p" + skin});
    EXPECT_EQ(Control<QLineEdit>(dialog(), "SkinFileEdit")->text(), skin);
    EXPECT_EQ(bed.FaceSkin.SkinBitmap.pixelColor(10, 10), QColor(10, 120, 200));

    // A file that cannot be loaded changes nothing.
    bed.Batch({"/p" + bed.Root.filePath("missing.bmp"), "/p" + DemoSong("demo.ay")});
    EXPECT_EQ(Control<QLineEdit>(dialog(), "SkinFileEdit")->text(), skin);
    EXPECT_EQ(bed.FaceSkin.SkinBitmap.pixelColor(10, 10), QColor(10, 120, 200));

    // "/p" alone: the built-in skin, and the dialog's skin field empties.
    bed.Batch({"/p"});
    EXPECT_TRUE(Control<QLineEdit>(dialog(), "SkinFileEdit")->text().isEmpty());
    EXPECT_NE(bed.FaceSkin.SkinBitmap.pixelColor(10, 10), QColor(10, 120, 200));
    ASSERT_EQ(bed.SkinLoads.size(), 4u);
    EXPECT_EQ(bed.SkinLoads.back(), std::make_pair(SkinSource::BuiltIn, QString()));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Options, OtherSlashArgumentsAreIgnored) {
    bed.Batch({"/", "/x", "/zzz", "/?"});
    EXPECT_EQ(bed.Settings().ChipMode(), DefaultFileChipMode);
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 16384);
    EXPECT_TRUE(bed.SkinLoads.empty());
    EXPECT_TRUE(bed.TraceStarting("play").isEmpty());
}

TEST_F(Options, TheLastExistingFileOfABatchPlays) {
    bed.Batch({DemoSong("demo.ay"), bed.Root.filePath("missing.ay"), DemoSong("demo.aym"), ""});
    EXPECT_EQ(bed.TraceStarting("play"), QStringList{"play " + DemoSong("demo.aym")});
    EXPECT_EQ(bed.Playback->State(), PlayState::Playing);
    EXPECT_EQ(bed.Playback->NowPlaying().Count, 1); // demo.aym has one song, demo.ay three

    // A file in the batch stops what plays at once; the end plays it.
    bed.Batches->CommandLineInterpreter(BatchMessage::BeginLocal);
    bed.Batches->DeliverArgument(QFile::encodeName(DemoSong("demo.ay")));
    EXPECT_EQ(bed.Playback->State(), PlayState::Stopped);
    bed.Batches->CommandLineInterpreter(BatchMessage::EndLocal);
    EXPECT_EQ(bed.Playback->State(), PlayState::Playing);
    EXPECT_EQ(bed.Playback->NowPlaying().Count, 3);

    // Names of nothing: no stop, nothing played.
    bed.Batch({bed.Root.filePath("missing.ay"), bed.Root.path()});
    EXPECT_EQ(bed.Playback->State(), PlayState::Playing);
    EXPECT_EQ(bed.TraceStarting("play").size(), 2);
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

// The playlist's ways in through the batches: --enqueue (and -e) adds files
// and folders, starting the first song added only when nothing plays; a
// playlist file replaces the list and plays it; plain song files join the
// list in order, and the last one plays as before and is its current entry.
TEST_F(Options, EnqueueAddsAPlaylistFileReplacesAndPlainFilesJoin) {
    PlaylistModel& list = bed.App->Playlist();
    const auto settle = [&list] { Settle(list); };
    const QString ay = DemoSong("demo.ay"), aym = DemoSong("demo.aym");
    const QString folder = QFileInfo(ay).absolutePath(); // demo.ay and demo.aym among sources
    bed.Batch({"--enqueue", ay, folder});
    settle();
    EXPECT_EQ(list.Count(), 2) << "demo.ay, named and in the folder, is listed once";
    EXPECT_EQ(bed.Playback->State(), PlayState::Playing);
    EXPECT_EQ(bed.Playback->NowPlaying().FileName, ay) << "the first song added plays";

    const QString copy = bed.Root.filePath("copy.aym");
    ASSERT_TRUE(QFile::copy(aym, copy));
    bed.Batch({"-e", copy});
    settle();
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(bed.Playback->NowPlaying().FileName, ay) << "adding does not stop what plays";

    const QString m3u = bed.Root.filePath("list.m3u8");
    QFile out(m3u);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(("#EXTM3U\n" + bed.Root.filePath("gone.ay") + "\n" + aym + "\n").toUtf8());
    out.close();
    bed.Batch({m3u});
    settle();
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(bed.Playback->NowPlaying().FileName, aym) << "its first playable song plays";

    const QString other = bed.Root.filePath("other.ay");
    ASSERT_TRUE(QFile::copy(ay, other));
    bed.Batch({other, aym, ay});
    settle();
    EXPECT_EQ(bed.TraceStarting("play "), QStringList{"play " + ay});
    // demo.aym is listed already: not twice.
    ASSERT_EQ(list.Count(), 4);
    for (const int row : {2, 3})
        EXPECT_EQ(list.EntryAt(row).Path, (QStringList{other, ay}[row - 2]));
    EXPECT_EQ(bed.Playback->NowPlaying().FileName, ay);
    EXPECT_EQ(list.CurrentRow(), 3);
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
    bed.Playback->Stop();
}

TEST_F(Options, AnExistingAbsoluteFileIsAFileEvenWhenItLooksLikeAnOption) {
    // Needs a writable folder whose path begins with an option letter, such
    // as /home/... or /root.
    const QString home = QDir::homePath();
    if (home.size() < 2 || !QStringLiteral("hurpHURP").contains(home[1]) ||
        !QFileInfo(home).isWritable())
        GTEST_SKIP() << "no writable folder under /h, /u, /r or /p here";
    QTemporaryDir dir(home + "/zirrafon-test-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const QString song = dir.filePath("song.aym");
    ASSERT_TRUE(QFile::copy(DemoSong("demo.aym"), song));
    bed.Batch({song});
    EXPECT_EQ(bed.TraceStarting("play"), QStringList{"play " + song});
    EXPECT_EQ(bed.Settings().ChipMode(), DefaultFileChipMode);
    EXPECT_EQ(AbsoluteArguments({song}, "/"), QStringList{song});
}

TEST_F(Options, StoredOptionsComeFirstAndTheCommandLineOverridesThem) {
    SettingsStore store;
    ASSERT_TRUE(store.OpenForWriting());
    ASSERT_TRUE(store.WriteStartup(R"( /u8000 /hYMBAC ")" + DemoSong("demo.ay") + R"(")"));
    bed.Batches->CheckCommandLineAndReg({"/hYMACB", DemoSong("demo.aym")});
    EXPECT_EQ(bed.Trace(), (QStringList{
                               "begin 1",
                               "arg ",
                               "arg /u8000",
                               "beeper 8000",
                               "arg /hYMBAC",
                               "chip 7",
                               "arg " + DemoSong("demo.ay"),
                               "file " + DemoSong("demo.ay"),
                               "end 0",
                               "play " + DemoSong("demo.ay"),
                               "begin 1",
                               "arg /hYMACB",
                               "chip 5",
                               "arg " + DemoSong("demo.aym"),
                               "file " + DemoSong("demo.aym"),
                               "end 0",
                               "play " + DemoSong("demo.aym"),
                           }));
    EXPECT_EQ(bed.Settings().ChipMode(), 5);
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 8000);
    EXPECT_EQ(bed.Playback->NowPlaying().Count, 1);
}

// The window opens where the last run left it; where no screen shows its
// title bar any more, in the centre.
TEST_F(Options, TheWindowOpensWhereItWasLeft) {
    bed.Form->show();
    const QPoint centre = bed.Form->pos();
    const QPoint left = centre + QPoint(-100, 40);
    for (const auto& [place, opens] : {std::pair{left, left}, {QPoint(-9000, -9000), centre}}) {
        bed.Form->move(place);
        bed.MakePlayer(); // the run ends and the next begins
        bed.Form->show();
        EXPECT_EQ(bed.Form->pos(), opens);
    }
}

TEST_F(Options, NoStoredOptionsAndNoArgumentsMeanNoBatch) {
    bed.Batches->CheckCommandLineAndReg({});
    EXPECT_TRUE(bed.Trace().isEmpty());
    // An unreadable settings file is skipped silently.
    QDir().mkpath(bed.SettingsFile()); // a folder where the file belongs
    bed.Batches->CheckCommandLineAndReg({"/u5"});
    EXPECT_EQ(bed.Trace(), (QStringList{"begin 1", "arg /u5", "beeper 5", "end 0"}));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

// ---- The session kept between runs ------------------------------------------------------------

// After a restart the playlist's current song is back in place at the frame
// heard: paused there when it was left paused (a resume goes on from there),
// else stopped, Play starting it there (also when the device would not open
// for the pause, which is said); both sound as a render from there. Next then
// moves on from it.
TEST(Session, TheSongLeftComesBackInPlaceAndPlaysOnFromThere) {
    PlayerBed bed;
    const QString ay = DemoSong("demo.ay"), aym = DemoSong("demo.aym");
    bed.Batch({"-e", ay, aym});
    Settle(bed.App->Playlist());
    ASSERT_EQ(bed.Playback->State(), PlayState::Playing);
    const std::vector<int16_t> from10 = Rendered(ay, 1, {"--start", "10"});
    ASSERT_GE(from10.size(), size_t{BufferValues});
    const uint64_t at = 10 * 44100;
    for (const auto& [leftPaused, noDevice] :
         {std::pair{true, false}, {false, false}, {true, true}}) {
        SCOPED_TRACE(leftPaused ? noDevice ? "left paused, no device" : "left paused"
                                : "left playing");
        bed.Playback->Seek(at);
        if (leftPaused) bed.Playback->Pause();
        bed.Form->close();
        bed.MakePlayer();
        if (noDevice) bed.Driver.FailOn("Open", WaveErrorNoDevice);
        bed.App->Start({});
        Settle(bed.App->Playlist());
        if (noDevice) {
            ASSERT_EQ(bed.Messages.Messages.size(), size_t{1});
            EXPECT_EQ(bed.Messages.Messages[0].Caption, "The sound output could not be opened");
            bed.Messages.Messages.clear();
            bed.Driver.Failures.clear();
        }
        const bool paused = leftPaused && !noDevice;
        EXPECT_EQ(bed.Playback->State(), paused ? PlayState::Paused : PlayState::Stopped);
        const NowPlayingInfo now = bed.Playback->NowPlaying();
        EXPECT_EQ(now.FileName, ay);
        EXPECT_EQ(now.Song, 0);
        EXPECT_NE(now.Entry, 0u);
        EXPECT_EQ(bed.Playback->Elapsed(), at);
        EXPECT_TRUE(bed.Playback->CanGoNext());
        if (paused)
            bed.Playback->Pause();
        else
            bed.Playback->Play();
        EXPECT_EQ(bed.Playback->State(), PlayState::Playing);
        const std::vector<int16_t> first = bed.Driver.LastWritten("H1");
        ASSERT_EQ(first.size(), size_t{BufferValues});
        EXPECT_TRUE(std::equal(first.begin(), first.end(), from10.begin()))
            << "not the song from 10 s";
    }
    bed.Playback->Next();
    EXPECT_EQ(bed.Playback->NowPlaying().FileName, ay);
    EXPECT_EQ(bed.Playback->NowPlaying().Song, 1);
    EXPECT_EQ(bed.App->Playlist().CurrentSong(), 1);
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
    bed.Playback->Stop();
}

// With shuffle on, Next goes through every song of every file once, in the
// order's choice (never the file's next song by number), and Previous back
// through the songs heard, as the order itself gives them.
TEST(Session, ShuffleMovesOverAllSongsOfAllFilesAndBackThroughThoseHeard) {
    PlayerBed bed;
    const QString ay = DemoSong("demo.ay"), aym = DemoSong("demo.aym"),
                  other = bed.Root.filePath("other.ay");
    ASSERT_TRUE(QFile::copy(ay, other));
    PlaylistModel& list = bed.App->Playlist();
    PlaylistPlayback& lists = bed.App->PlaylistPlayer();
    bed.Batch({"-e", ay, aym, other});
    Settle(list);
    constexpr uint32_t Seed = 5;
    lists.RestartOrder(Seed);
    lists.SetShuffle(true);
    ASSERT_TRUE(lists.Play(list.EntryAt(0).Id, 0));

    // What the order alone gives from there.
    PlaylistOrder reference(Seed);
    reference.Shuffle = true;
    std::vector<PlaylistPosition> expected{{list.EntryAt(0).Id, 0}};
    reference.Played(expected.back());
    while (const auto next = reference.Next(OrderItems(list), expected.back(), true)) {
        expected.push_back(*next);
        reference.Played(*next);
    }
    ASSERT_EQ(expected.size(), size_t{7});

    const auto heard = [&bed] {
        const NowPlayingInfo now = bed.Playback->NowPlaying();
        return PlaylistPosition{now.Entry, now.Song};
    };
    std::vector<PlaylistPosition> forth{heard()}, back;
    while (bed.Playback->CanGoNext() && forth.size() < 10) {
        bed.Playback->Next();
        forth.push_back(heard());
    }
    EXPECT_EQ(forth, expected);
    while (bed.Playback->CanGoPrevious() && back.size() < 10) {
        bed.Playback->Previous();
        back.push_back(heard());
    }
    EXPECT_EQ(back, std::vector<PlaylistPosition>(expected.rbegin() + 1, expected.rend()));
    bed.Playback->Stop();
}

// A file marked missing (its folder moved away, a disk unplugged) is looked at
// again when it is played by name and when the playlist window is shown:
// back in place, it plays again.
TEST(Session, FilesThatComeBackPlayAgain) {
    PlayerBed bed;
    const QString disk = bed.Root.filePath("disk"), away = bed.Root.filePath("away");
    const QString a = disk + "/songs/a.ay", b = disk + "/songs/b.aym";
    ASSERT_TRUE(QDir().mkpath(disk + "/songs"));
    ASSERT_TRUE(QFile::copy(DemoSong("demo.ay"), a) && QFile::copy(DemoSong("demo.aym"), b));
    PlaylistModel& list = bed.App->Playlist();
    PlaylistPlayback& lists = bed.App->PlaylistPlayer();
    bed.Batch({"-e", disk});
    Settle(list);
    ASSERT_EQ(list.Count(), 2);
    bed.Playback->Stop();
    const auto status = [&list](int row) { return list.EntryAt(row).Status; };

    ASSERT_TRUE(QDir().rename(disk, away));
    EXPECT_FALSE(lists.Play(list.EntryAt(1).Id, 0));
    EXPECT_EQ(status(1), EntryStatus::Missing);
    ASSERT_TRUE(QDir().rename(away, disk));
    EXPECT_TRUE(lists.Play(list.EntryAt(1).Id, 0));
    EXPECT_EQ(bed.Playback->NowPlaying().FileName, b);

    ASSERT_TRUE(QDir().rename(disk, away));
    EXPECT_FALSE(lists.Play(list.EntryAt(0).Id, 0));
    EXPECT_EQ(status(0), EntryStatus::Missing);
    EXPECT_EQ(status(1), EntryStatus::Missing);
    ASSERT_TRUE(QDir().rename(away, disk));
    bed.App->PlaylistView().show();
    QElapsedTimer clock;
    clock.start();
    while ((status(0) != EntryStatus::Ready || status(1) != EntryStatus::Ready) &&
           clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(status(0), EntryStatus::Ready);
    EXPECT_EQ(status(1), EntryStatus::Ready);
    EXPECT_EQ(list.SongCount(), 4);
    bed.App->PlaylistView().hide();
    bed.Playback->Stop();
}

// ---- Hand-over between two starts ---------------------------------------------------------

class HandOverTest : public ::testing::Test {
  protected:
    PlayerBed bed;
    InstanceServer server{
        [this](int w, int l) { bed.Batches->CommandLineInterpreter(BatchMessageOf(w, l)); }};

    void SetUp() override {
        server.Abandoned = [this] { bed.Batches->AbandonHandOver(); };
        ASSERT_TRUE(server.Listen());
        EXPECT_EQ(server.ServerPath(), InstanceServerPath());
    }

    // Runs `sender` on a thread of its own while this thread serves the player.
    template <typename Sender> void Run(Sender sender) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            sender();
            done = true;
        });
        QElapsedTimer clock;
        clock.start();
        while (!done && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        thread.join();
        QCoreApplication::processEvents();
    }

    HandOverOutcome Send(const QList<QByteArray>& arguments) {
        HandOverOutcome outcome = HandOverOutcome::PlayerLost;
        Run([&] {
            InstanceConnection connection;
            if (connection.Connect(InstanceServerPath())) outcome = HandOver(connection, arguments);
        });
        return outcome;
    }
};

TEST_F(HandOverTest, OptionsAndTheLastFileArriveAndLongArgumentsAreCut) {
    const QByteArray longArgument = "/x" + QByteArray(298, 'L');
    EXPECT_EQ(Send({"/hymacb", QFile::encodeName(DemoSong("demo.ay")), longArgument,
                    QFile::encodeName(DemoSong("demo.aym"))}),
              HandOverOutcome::Delivered);
    EXPECT_EQ(bed.Settings().ChipMode(), 5);
    EXPECT_EQ(Control<QComboBox>(*bed.Dialog, "ChipList")->currentIndex(), 5);
    EXPECT_EQ(bed.TraceStarting("play"), QStringList{"play " + DemoSong("demo.aym")});
    EXPECT_TRUE(bed.TraceStarting("arg ").contains("arg /x" + QString(258, 'L')));
    EXPECT_EQ(bed.Trace().first(), "begin 2");
    EXPECT_EQ(bed.Trace().at(bed.Trace().size() - 2), "end 3");
    EXPECT_FALSE(bed.Batches->Area.IsOpen());

    // The area is gone, so the next start hands over as well.
    // A hand-over brings the window forward; a start without arguments
    // contacts nobody.
    int raised = 0;
    bed.Batches->Raise = [&raised] { ++raised; };
    EXPECT_EQ(Send({"/u100"}), HandOverOutcome::Delivered);
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 100);
    EXPECT_EQ(Control<QLineEdit>(*bed.Dialog, "BeeperLevelEdit")->text(), "100");
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(Send({}), HandOverOutcome::NothingToSend);
    EXPECT_EQ(raised, 1);
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(HandOverTest, AnotherHandOverInProgressMeansNothingIsSent) {
    ClearStaleArea();
    QSharedMemory inProgress;
    inProgress.setNativeKey(HandOverAreaKey());
    ASSERT_TRUE(inProgress.create(HandOverAreaSize));
    EXPECT_EQ(Send({"/hYMACB"}), HandOverOutcome::AreaBusy);
    EXPECT_EQ(bed.Settings().ChipMode(), DefaultFileChipMode);
    EXPECT_TRUE(bed.Trace().isEmpty());
}

TEST_F(HandOverTest, ASenderThatDiesMidwayDoesNotKeepTheAreaBusy) {
    Run([] {
        HandOverSender area;
        ASSERT_EQ(area.Create(), HandOverSender::Result::Created);
        InstanceConnection connection;
        ASSERT_TRUE(connection.Connect(InstanceServerPath()));
        ASSERT_TRUE(connection.Send(0, Batch::BeginHandOver));
        area.Write(QFile::encodeName(DemoSong("demo.ay")));
        ASSERT_TRUE(connection.Send(1, 0));
        // Gone without the end message, and without detaching first.
        connection.Disconnect();
        QThread::msleep(100);
        area.Release();
    });
    QTest::qWait(100);
    EXPECT_EQ(bed.Trace().last(), "abandoned");
    EXPECT_FALSE(bed.Batches->Area.IsOpen());
    EXPECT_TRUE(bed.TraceStarting("play").isEmpty());

    EXPECT_EQ(Send({QFile::encodeName(DemoSong("demo.aym"))}), HandOverOutcome::Delivered);
    EXPECT_EQ(bed.TraceStarting("play"), QStringList{"play " + DemoSong("demo.aym")});
}

TEST_F(HandOverTest, ASocketNobodyAnswersOnIsReplaced) {
    const QString path = bed.Root.filePath("runtime/stale-socket");
    // A socket file of a player that was killed: bound, never answered on.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                     sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd); // bound, never listened: connections are refused
    }
    ASSERT_TRUE(QFileInfo::exists(path));
    InstanceConnection probe;
    EXPECT_FALSE(probe.Connect(path));
    InstanceServer second{[](int, int) {}};
    EXPECT_TRUE(second.Listen(path));
    EXPECT_TRUE(probe.Connect(path));
    // A server that answers is never replaced.
    InstanceServer third{[](int, int) {}};
    EXPECT_FALSE(third.Listen(path));
    EXPECT_TRUE(probe.Connect(path));
}

} // namespace
