// The main window's face with real widgets on a fake wave device: what it shows
// (the skin, the labels, the numbers, the volume bar) compared with the pixels
// of the skin bitmap itself, and how mouse presses, drags, double clicks, keys
// and dropped files reach the zones and the actions.
#include "../formats/song_files.h"
#include "../playback/fake_wave_out.h"
#include "pixels.h"
#include "platform/messages.h"
#include "player_bed.h"
#include "ui/main_window.h"
#include "ui/parameters_dialog.h"
#include "ui/skin.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// ---- Pixels ---------------------------------------------------------------------------

// The built-in skin bitmap as stored, all 240x216 of it.
QImage RawSkin() {
    Skin registers; // makes sure the resource is registered
    return QImage(QString::fromLatin1(Skin::BuiltInPath)).convertToFormat(QImage::Format_RGB32);
}

// Where the glyph of a character code lies in the skin bitmap.
QPoint GlyphInSkin(int code) {
    if (code >= 122) return {192 + 8 * (code - 122), 152};
    return {8 * ((code - 32) % 30), 168 + 16 * ((code - 32) / 30)};
}

// A 184x16 label as it must look with `text` from its first character: the
// background colour, then the glyphs from x = 1 on, cut at the label's edge.
QImage ExpectedLabel(const QImage& raw, const std::string& text) {
    QImage label(184, 16, QImage::Format_RGB32);
    label.fill(raw.pixel(231, 47));
    int x = 1;
    for (unsigned char byte : text) {
        if (x >= 184) break;
        int code = byte >= 128 ? byte - 128 : byte;
        if (code < 32) code = 32;
        const QPoint g = GlyphInSkin(code);
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 8 && x + col < 184; ++col)
                label.setPixel(x + col, row, raw.pixel(g.x() + col, g.y() + row));
        x += 8;
    }
    return label;
}

// Three digits as the skin draws them (digit d at (48 + 8d, 80) of the bitmap).
QImage ExpectedDigits(const QImage& raw, const char* digits) {
    QImage out(24, 16, QImage::Format_RGB32);
    for (int i = 0; i < 3; ++i) {
        const int d = digits[i] - '0';
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 8; ++col)
                out.setPixel(8 * i + col, row, raw.pixel(48 + 8 * d + col, 80 + row));
    }
    return out;
}

// ---- Input ----------------------------------------------------------------------------

void SendMouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent e(type, QPointF(p), QPointF(w->mapToGlobal(p)), button, buttons, mods);
    QCoreApplication::sendEvent(w, &e);
}

void SendKey(QWidget* w, QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
             bool autoRepeat = false) {
    QKeyEvent e(type, key, mods, QString(), autoRepeat);
    QCoreApplication::sendEvent(w, &e);
}

// A key pressed and released.
void Tap(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    SendKey(w, QEvent::KeyPress, key, mods);
    SendKey(w, QEvent::KeyRelease, key, mods);
}

QString DemoFile(const char* name) {
    return QStringLiteral(ZIRRAFON_SOURCE_DIR "/assets/demo/") + QLatin1String(name);
}

// Zone points of the face.
const QPoint ClosePoint(230, 5); // also inside the title bar
const QPoint MinimizePoint(215, 5);
const QPoint TitleBarPoint(100, 10);
const QPoint PlayPoint(48, 136);
const QPoint AboutPoint(144, 112);
const QPoint ParametersPoint(176, 112);
const QRect PlayRect(37, 128, 22, 16);

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        messages.Install();
        player = std::make_unique<Player>(driver.Factory());
        form = std::make_unique<::MainWindow>(*player, exporter);
        form->show();
    }
    void TearDown() override {
        form.reset();
        player.reset();
    }
    bool Playing() const { return player->State() != PlayState::Stopped; }

    QImage Screen() const { return form->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    void Press(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier,
               Qt::MouseButton button = Qt::LeftButton) {
        SendMouse(form.get(), QEvent::MouseButtonPress, p, button, button, mods);
    }
    void Move(QPoint p) {
        SendMouse(form.get(), QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
    }
    void Release(QPoint p, Qt::MouseButton button = Qt::LeftButton) {
        SendMouse(form.get(), QEvent::MouseButtonRelease, p, button, Qt::NoButton);
    }
    void Click(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier,
               Qt::MouseButton button = Qt::LeftButton) {
        Press(p, mods, button);
        Release(p, button);
    }
    // What the system sends for a double click: press, release, the double
    // click in place of the second press, release.
    void DoubleClick(QPoint p) {
        Click(p);
        SendMouse(form.get(), QEvent::MouseButtonDblClick, p, Qt::LeftButton, Qt::LeftButton);
        Release(p);
    }

    int AboutBoxes() const {
        int n = 0;
        for (const auto& m : messages.Messages) n += m.Caption == QStringLiteral("About program");
        return n;
    }
    // Plays the demo and stops it again, with the call log emptied.
    void OpenDemoStopped() {
        player->OpenAndPlay(DemoFile("demo.ay"));
        ASSERT_TRUE(Playing());
        player->Stop();
        driver.Calls.clear();
    }

    const QImage raw = RawSkin();
    FakeWaveOutDriver driver;
    MessageRecorder messages;
    std::unique_ptr<Player> player;
    SongExport exporter;
    std::unique_ptr<::MainWindow> form;
};

// ---- The face ---------------------------------------------------------------------------

TEST_F(MainWindow, IsABorderlessFixedSkinCentredOnTheScreen) {
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Zirrafon v1.0"));
    EXPECT_EQ(form->size(), QSize(240, 152));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_TRUE(form->acceptDrops());
    const QRect screen = form->screen()->geometry();
    EXPECT_EQ(form->pos(), QPoint(screen.left() + (screen.width() - 240) / 2,
                                  screen.top() + (screen.height() - 152) / 2));
    EXPECT_EQ(player->Settings().Volume(), 39);
    EXPECT_EQ(player->Engine().Chip.Mix.BeeperAmplitude, -16384);
    EXPECT_EQ(player->Settings().PriorityClass(), Priority::Normal);

    // Everything but the three (empty) labels is the skin's face; an empty
    // label is its background colour from the first to the last column.
    const QImage shown = Screen();
    const QImage face = Region(raw, 0, 0, 240, 152);
    for (int y = 0; y < 152; ++y)
        for (int x = 0; x < 240; ++x) {
            const bool inLabel =
                x >= 48 && x < 232 &&
                ((y >= 32 && y < 48) || (y >= 56 && y < 72) || (y >= 80 && y < 96));
            const QRgb want = inLabel ? raw.pixel(231, 47) : face.pixel(x, y);
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, want & 0xFFFFFF) << x << ", " << y;
        }
}

TEST_F(MainWindow, ShowsTheTextsAndNumbersOfTheOpenedFile) {
    player->OpenAndPlay(DemoFile("demo.ay"));
    ASSERT_TRUE(Playing());
    const std::string author = player->NowPlaying().Author.toStdString();
    const std::string misc = player->NowPlaying().Misc.toStdString();
    ASSERT_FALSE(author.empty());
    ASSERT_GT(misc.size(), 24u) << "the misc text must be long enough to scroll";
    QImage shown = Screen();
    EXPECT_TRUE(SamePixels(Region(shown, 48, 32, 184, 16), ExpectedLabel(raw, author)));
    EXPECT_TRUE(SamePixels(Region(shown, 48, 56, 184, 16), ExpectedLabel(raw, misc)));
    EXPECT_TRUE(SamePixels(Region(shown, 48, 80, 184, 16),
                           ExpectedLabel(raw, player->NowPlaying().Songs[0].Title.toStdString())));
    EXPECT_TRUE(SamePixels(Region(shown, 48, 104, 24, 16), ExpectedDigits(raw, "001")));
    EXPECT_TRUE(SamePixels(Region(shown, 96, 104, 24, 16), ExpectedDigits(raw, "003")));

    // The next song names itself; the author and misc labels stay.
    player->Next();
    shown = Screen();
    EXPECT_TRUE(SamePixels(Region(shown, 48, 80, 184, 16),
                           ExpectedLabel(raw, player->NowPlaying().Songs[1].Title.toStdString())));
    EXPECT_TRUE(SamePixels(Region(shown, 48, 104, 24, 16), ExpectedDigits(raw, "002")));
    EXPECT_TRUE(SamePixels(Region(shown, 48, 32, 184, 16), ExpectedLabel(raw, author)));

    // Dragging the misc label 8 pixels to the left shows it from its second
    // character; the author label is not touched.
    Press({100, 64});
    Move({96, 64});
    EXPECT_TRUE(SamePixels(Region(Screen(), 48, 56, 184, 16), ExpectedLabel(raw, misc)));
    Move({92, 64});
    Release({92, 64});
    Move({40, 64}); // after the release nothing scrolls
    shown = Screen();
    EXPECT_TRUE(SamePixels(Region(shown, 48, 56, 184, 16), ExpectedLabel(raw, misc.substr(1))));
    EXPECT_TRUE(SamePixels(Region(shown, 48, 32, 184, 16), ExpectedLabel(raw, author)));

    // Opening again shows every label from its first character.
    player->OpenAndPlay(DemoFile("demo.ay"));
    EXPECT_TRUE(SamePixels(Region(Screen(), 48, 56, 184, 16), ExpectedLabel(raw, misc)));
}

TEST_F(MainWindow, SongNumberAndCountAreThreeDigitsFromTheSkin) {
    const struct {
        int count, first;
        const char *number, *countDigits;
    } cases[] = {{5, 4, "005", "005"}, {256, 41, "042", "256"}, {100, 99, "100", "100"}};
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        const QString path = dir.filePath(QStringLiteral("n%1.ay").arg(c.count));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const std::vector<uint8_t> bytes = BuildToneAY(c.count, c.first);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        f.close();
        player->OpenAndPlay(path);
        const QImage shown = Screen();
        EXPECT_TRUE(SamePixels(Region(shown, 48, 104, 24, 16), ExpectedDigits(raw, c.number)));
        EXPECT_TRUE(SamePixels(Region(shown, 96, 104, 24, 16), ExpectedDigits(raw, c.countDigits)));
    }
}

// ---- Mouse ----------------------------------------------------------------------------------

TEST_F(MainWindow, ButtonsWinOverTheTitleBarAndCloseOnlyWhenReleasedInside) {
    player->OpenAndPlay(DemoFile("demo.ay"));
    const QPoint start = form->pos();

    // A press on the close button, dragged out over the title bar: the window
    // neither moves nor closes.
    Press(ClosePoint);
    Move({100, 20});
    Move({60, 40});
    Release({60, 40});
    EXPECT_EQ(form->pos(), start);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(Playing());

    // Released inside: the window closes, which stops and closes the file.
    Click(ClosePoint);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(player->NowPlaying().FileOpen);
}

TEST_F(MainWindow, TheTitleBarDragsTheWindowWithThePointer) {
    const QPoint start = form->pos();
    Press(TitleBarPoint);
    Move({130, 25});
    EXPECT_EQ(form->pos(), start + QPoint(30, 15));
    // The window moved under the pointer: the same window point again means
    // the pointer moved on by as much.
    Move({130, 25});
    EXPECT_EQ(form->pos(), start + QPoint(60, 30));
    Move({90, 25});
    EXPECT_EQ(form->pos(), start + QPoint(50, 45));
    Release({90, 25});
    Move({200, 100});
    EXPECT_EQ(form->pos(), start + QPoint(50, 45));

    // Where the window system takes the move over, a press on the title bar
    // hands it over and the pointer's moves no longer move the window here;
    // presses elsewhere, the buttons in the title bar included, never do.
    int handedOver = 0;
    form->SystemMove = [&handedOver] {
        ++handedOver;
        return true;
    };
    const QPoint before = form->pos();
    Press(TitleBarPoint);
    Move({130, 25});
    Release({130, 25});
    EXPECT_EQ(handedOver, 1);
    EXPECT_EQ(form->pos(), before);
    Press(ClosePoint);
    Move({60, 40});
    Release({60, 40});
    Click({224, 120}); // the volume bar
    EXPECT_EQ(handedOver, 1);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(MainWindow, APressDraggedOutOfAButtonAndReleasedDoesNothing) {
    OpenDemoStopped();
    const QImage normal = Region(raw, 37, 128, 22, 16);
    const QImage pressed = Region(raw, 25, 152, 22, 16);
    ASSERT_FALSE(SamePixels(normal, pressed));
    auto look = [&] { return Region(Screen(), PlayRect.x(), PlayRect.y(), 22, 16); };

    Press(PlayPoint);
    EXPECT_TRUE(SamePixels(look(), pressed));
    Move({48, 120}); // out
    EXPECT_TRUE(SamePixels(look(), normal));
    Move({58, 143}); // back in, at the far corner
    EXPECT_TRUE(SamePixels(look(), pressed));
    Move({59, 143}); // just out
    EXPECT_TRUE(SamePixels(look(), normal));
    Release({59, 143});
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_FALSE(Playing());
    EXPECT_TRUE(SamePixels(look(), normal));

    Click(PlayPoint);
    EXPECT_TRUE(Playing());
    EXPECT_TRUE(SamePixels(look(), normal));
}

TEST_F(MainWindow, ADoubleClickRunsTheActionTwiceInAll) {
    DoubleClick(AboutPoint);
    EXPECT_EQ(AboutBoxes(), 2);
    form->FaceSkin->ButtonZones.ForEach([](const TButtonZone& b) {
        EXPECT_FALSE(b.Pressed);
        EXPECT_FALSE(b.Captured);
    });
}

TEST_F(MainWindow, ModifiedAndOtherButtonPressesDoNothing) {
    for (Qt::KeyboardModifier mod : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
        Click(AboutPoint, mod);
        Click({224, 142}, mod); // the volume bar
    }
    Click(AboutPoint, Qt::NoModifier, Qt::RightButton);
    Click(AboutPoint, Qt::NoModifier, Qt::MiddleButton);
    // The left button with the right one already down is not a plain press.
    SendMouse(form.get(), QEvent::MouseButtonPress, AboutPoint, Qt::LeftButton,
              Qt::LeftButton | Qt::RightButton);
    Release(AboutPoint);
    const QPoint start = form->pos();
    Press(TitleBarPoint, Qt::ShiftModifier);
    Move({150, 20});
    Release({150, 20});
    EXPECT_EQ(AboutBoxes(), 0);
    EXPECT_EQ(player->Settings().Volume(), 39);
    EXPECT_EQ(form->pos(), start);
}

TEST_F(MainWindow, MinimizeAndAboutButtons) {
    Click(MinimizePoint);
    EXPECT_TRUE(form->isMinimized());
    Click(AboutPoint);
    ASSERT_EQ(messages.Messages.size(), 1u);
    const auto& box = messages.Messages[0];
    EXPECT_EQ(box.Caption, QStringLiteral("About program"));
    EXPECT_EQ(box.Icon, MessageIcon::None);
    EXPECT_EQ(box.Owner, form.get());
    const QStringList lines = box.Text.split(QLatin1Char('\r'));
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines[0], QStringLiteral("Zirrafon"));
    EXPECT_EQ(lines[1],
              QStringLiteral("A player of .ay, .aym, .ym, .vtx, .psg, .pt3 and .pt2 chip music"));
    EXPECT_EQ(lines[2], QStringLiteral("Version 1.0"));
    for (const QString& line : lines) EXPECT_FALSE(line.trimmed().isEmpty());
    EXPECT_FALSE(box.Text.contains(QLatin1Char('\n')));
}

// ---- Volume ------------------------------------------------------------------------------------

// The volume tables the sound uses for `mode` at `volume`.
::testing::AssertionResult SoundAtVolume(const Player& player, int mode, int volume) {
    auto reference = std::make_unique<SoundEngine>();
    SetChipAndChannels(reference->Chip, mode, volume, VolumeSteps);
    if (std::memcmp(reference->Chip.Mix.VolumeTable, player.Engine().Chip.Mix.VolumeTable,
                    sizeof reference->Chip.Mix.VolumeTable) != 0)
        return ::testing::AssertionFailure()
               << "the volume tables are not those of volume " << volume;
    if (reference->Chip.Mix.BeeperAmplitude != player.Engine().Chip.Mix.BeeperAmplitude)
        return ::testing::AssertionFailure() << "the beeper level is not that of volume " << volume;
    return ::testing::AssertionSuccess();
}

TEST_F(MainWindow, AClickInTheVolumeBarSetsTheVolumeAndADragFollowsIt) {
    player->Settings().SetChipMode(5); // the sound follows the chip mode in force
    Click({224, 142});
    EXPECT_EQ(player->Settings().Volume(), 1);
    EXPECT_TRUE(SoundAtVolume(*player, 5, 1));
    // One lit row at the bottom, the bar's background colour above it.
    const QImage shown = Screen();
    EXPECT_TRUE(SamePixels(Region(shown, 217, 142, 14, 1), Region(raw, 217, 142, 14, 1)));
    QImage unlit(14, 38, QImage::Format_RGB32);
    unlit.fill(raw.pixel(217, 103));
    EXPECT_TRUE(SamePixels(Region(shown, 217, 104, 14, 38), unlit));

    Click({224, 104});
    EXPECT_EQ(player->Settings().Volume(), 39);
    EXPECT_TRUE(SamePixels(Region(Screen(), 217, 104, 14, 39), Region(raw, 217, 104, 14, 39)));

    Press({224, 120});
    EXPECT_EQ(player->Settings().Volume(), 23);
    Move({224, 110});
    EXPECT_EQ(player->Settings().Volume(), 33);
    Move({224, 0}); // far above: stops at 39
    EXPECT_EQ(player->Settings().Volume(), 39);
    Move({224, 300}); // far below: stops at 0
    EXPECT_EQ(player->Settings().Volume(), 0);
    EXPECT_TRUE(SoundAtVolume(*player, 5, 0));
    Move({224, 140});
    EXPECT_EQ(player->Settings().Volume(), 3);
    Release({224, 140});
    Move({224, 104});
    EXPECT_EQ(player->Settings().Volume(), 3);
    EXPECT_TRUE(SoundAtVolume(*player, 5, 3));
}

// ---- Keys --------------------------------------------------------------------------------------

TEST_F(MainWindow, VolumeKeysActOnEveryPressIncludingAutoRepeat) {
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_Down);
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, true);
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, true);
    SendKey(form.get(), QEvent::KeyRelease, Qt::Key_Down);
    EXPECT_EQ(player->Settings().Volume(), 36);
    EXPECT_TRUE(SoundAtVolume(*player, 2, 36));
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_2, Qt::KeypadModifier);
    EXPECT_EQ(player->Settings().Volume(), 35);
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_8, Qt::KeypadModifier);
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_8); // the main row's 8
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_2);
    EXPECT_EQ(player->Settings().Volume(), 36);
    for (Qt::KeyboardModifier mod : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
        SendKey(form.get(), QEvent::KeyPress, Qt::Key_Up, mod);
        SendKey(form.get(), QEvent::KeyPress, Qt::Key_Down, mod);
    }
    EXPECT_EQ(player->Settings().Volume(), 36);

    for (int i = 0; i < 5; ++i) SendKey(form.get(), QEvent::KeyPress, Qt::Key_Up);
    EXPECT_EQ(player->Settings().Volume(), 39);
    // At the ends nothing changes and nothing is drawn: a mark in the bar stays.
    const QRect bar(217, 104, 14, 39);
    const QColor mark(255, 0, 255);
    form->FaceSkin->FillBuffer(bar, mark);
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_Up);
    EXPECT_EQ(player->Settings().Volume(), 39);
    EXPECT_EQ(QColor(Screen().pixel(224, 120)), mark);
    for (int i = 0; i < 45; ++i) SendKey(form.get(), QEvent::KeyPress, Qt::Key_Down);
    EXPECT_EQ(player->Settings().Volume(), 0);
    form->FaceSkin->FillBuffer(bar, mark);
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_Down);
    EXPECT_EQ(player->Settings().Volume(), 0);
    EXPECT_EQ(QColor(Screen().pixel(224, 120)), mark);
}

TEST_F(MainWindow, ActionKeysActOnceWhenReleased) {
    int dialogs = 0;
    form->OpenDialog.Chooser = [&](const FileOpenDialog&, QWidget*) {
        ++dialogs;
        return QString();
    };
    player->OpenAndPlay(DemoFile("demo.ay")); // three songs
    ASSERT_EQ(static_cast<int>(player->NowPlaying().Songs.size()), 3);

    SendKey(form.get(), QEvent::KeyPress, Qt::Key_C);
    EXPECT_EQ(player->NowPlaying().Song, 0) << "acted on the press";
    SendKey(form.get(), QEvent::KeyRelease, Qt::Key_C);
    EXPECT_EQ(player->NowPlaying().Song, 1);
    Tap(form.get(), Qt::Key_6, Qt::KeypadModifier);
    EXPECT_EQ(player->NowPlaying().Song, 2);
    // A held key repeats as release and press pairs marked as auto-repeat:
    // the action still runs once.
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_Z);
    SendKey(form.get(), QEvent::KeyRelease, Qt::Key_Z, Qt::NoModifier, true);
    SendKey(form.get(), QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, true);
    SendKey(form.get(), QEvent::KeyRelease, Qt::Key_Z);
    EXPECT_EQ(player->NowPlaying().Song, 1);
    Tap(form.get(), Qt::Key_4, Qt::KeypadModifier);
    EXPECT_EQ(player->NowPlaying().Song, 0);
    Tap(form.get(), Qt::Key_4); // the main row's 4
    Tap(form.get(), Qt::Key_6);
    EXPECT_EQ(player->NowPlaying().Song, 0);

    Tap(form.get(), Qt::Key_V);
    EXPECT_TRUE(player->State() == PlayState::Paused);
    Tap(form.get(), Qt::Key_B);
    EXPECT_FALSE(Playing());
    Tap(form.get(), Qt::Key_X);
    EXPECT_TRUE(Playing());
    EXPECT_FALSE(player->State() == PlayState::Paused);
    player->Stop();
    Tap(form.get(), Qt::Key_5, Qt::KeypadModifier);
    EXPECT_TRUE(Playing());

    Tap(form.get(), Qt::Key_L);
    Tap(form.get(), Qt::Key_0, Qt::KeypadModifier);
    EXPECT_EQ(dialogs, 2);
    Tap(form.get(), Qt::Key_F1);
    EXPECT_EQ(AboutBoxes(), 1);

    // With Shift, Ctrl or Alt held, none of them does anything.
    driver.Calls.clear();
    for (Qt::KeyboardModifier mod : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
        for (int key :
             {Qt::Key_Z, Qt::Key_X, Qt::Key_C, Qt::Key_V, Qt::Key_B, Qt::Key_L, Qt::Key_F1})
            Tap(form.get(), key, mod);
    EXPECT_TRUE(driver.Calls.empty());
    EXPECT_EQ(player->NowPlaying().Song, 0);
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(AboutBoxes(), 1);
    EXPECT_EQ(player->Settings().Volume(), 39);
}

// The Parameters dialog is modal: it is closed from inside its own event loop.
TEST(MainWindowParameters, TheButtonAndCtrlPShowTheDialog) {
    PlayerBed bed;
    int shown = 0;
    auto expectDialog = [&] {
        QTimer::singleShot(0, bed.Dialog, [&] {
            if (QApplication::activeModalWidget() == bed.Dialog) ++shown;
            bed.Dialog->reject();
        });
    };
    QWidget* form = bed.Form;
    expectDialog();
    SendMouse(form, QEvent::MouseButtonPress, ParametersPoint, Qt::LeftButton, Qt::LeftButton);
    SendMouse(form, QEvent::MouseButtonRelease, ParametersPoint, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(shown, 1);

    expectDialog();
    Tap(form, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(shown, 2);
    // Ctrl let go before P.
    expectDialog();
    SendKey(form, QEvent::KeyPress, Qt::Key_P, Qt::ControlModifier);
    SendKey(form, QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
    SendKey(form, QEvent::KeyRelease, Qt::Key_P, Qt::NoModifier);
    EXPECT_EQ(shown, 3);

    // P alone, or with more than Ctrl, does nothing.
    Tap(form, Qt::Key_P);
    Tap(form, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    Tap(form, Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
    QCoreApplication::processEvents(); // a timer left over would fire here
    EXPECT_EQ(shown, 3);
    EXPECT_FALSE(bed.Dialog->isVisible());
}

// ---- Dropped files
// -------------------------------------------------------------------------------

TEST_F(MainWindow, ADroppedFileIsPlayedByItsFullPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A folder deeper than the 260 characters of the classic drop buffer.
    QString deep = dir.path();
    for (int i = 0; deep.size() < 300; ++i)
        deep += QStringLiteral("/a-folder-with-a-rather-long-name-%1").arg(i);
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString first = deep + QStringLiteral("/dropped.ay");
    const QString second = dir.filePath(QStringLiteral("second.aym"));
    ASSERT_TRUE(QFile::copy(DemoFile("demo.ay"), first));
    ASSERT_TRUE(QFile::copy(DemoFile("demo.aym"), second));

    player->OpenAndPlay(second);
    ASSERT_TRUE(Playing());
    driver.Calls.clear();

    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("https://example.org/web.ay")), QUrl::fromLocalFile(first),
                  QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(120, 76), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(120, 76), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();

    EXPECT_TRUE(messages.Messages.empty()) << messages.Messages[0].Text.toStdString();
    EXPECT_TRUE(Playing());
    EXPECT_EQ(player->NowPlaying().FileName, first);
    EXPECT_EQ(player->NowPlaying().Count, 3);
    EXPECT_EQ(form->OpenDialog.InitialDir, deep + QLatin1Char('/'));
    ASSERT_FALSE(driver.Calls.empty());
    EXPECT_EQ(driver.Calls.front(), "Reset");

    // Links that are not local files are not taken.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/web.ay"))});
    QDragEnterEvent refused(QPoint(120, 76), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

} // namespace
