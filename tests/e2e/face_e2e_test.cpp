// The real player program on the bed's X server: started on the demo song, its
// window is photographed from the X server's root window and compared with the
// skin bitmap (size, place, artwork, labels and numbers drawn with the skin's
// own font and digits), while the bed's null sink records what it plays.
#include "../ui/pixels.h"
#include "e2e_util.h"
#include "songs/session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

using e2e::ValuesPerSecond;

// The window's title as the window system has it: the fixed caption that
// identifies the player, then the program's name.
const QString WindowTitle = QString::fromUtf8("Zirrafon v1.0 \u2014 Zirrafon");

// Where a copy of the last screenshot is left for a person to look at.
constexpr const char* ScreenshotCopy = "/tmp/zirrafon-face-e2e.png";

QImage SkinFile() {
    return QImage(QStringLiteral(ZIRRAFON_SOURCE_DIR "/assets/skin/skin.bmp"))
        .convertToFormat(QImage::Format_RGB32);
}

// A 184x16 label showing `text` from its first character in the skin's font.
QImage ExpectedLabel(const QImage& skin, const std::string& text) {
    QImage label(184, 16, QImage::Format_RGB32);
    label.fill(skin.pixel(231, 47));
    int x = 1;
    for (unsigned char byte : text) {
        if (x >= 184) break;
        int code = byte >= 128 ? byte - 128 : byte;
        if (code < 32) code = 32;
        const int gx = code >= 122 ? 192 + 8 * (code - 122) : 8 * ((code - 32) % 30);
        const int gy = code >= 122 ? 152 : 168 + 16 * ((code - 32) / 30);
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 8 && x + col < 184; ++col)
                label.setPixel(x + col, row, skin.pixel(gx + col, gy + row));
        x += 8;
    }
    return label;
}

QImage ExpectedDigits(const QImage& skin, const char* digits) {
    QImage out(24, 16, QImage::Format_RGB32);
    for (int i = 0; i < 3; ++i)
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 8; ++col)
                out.setPixel(8 * i + col, row,
                             skin.pixel(48 + 8 * (digits[i] - '0') + col, 80 + row));
    return out;
}

// The player window's place and size as the X server has it.
struct WindowPlace {
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
    QString id; // the X window id, "0x..."
};

std::optional<WindowPlace> FindWindow(const QString& caption) {
    QProcess info;
    info.start(QStringLiteral("xwininfo"), {QStringLiteral("-name"), caption});
    if (!info.waitForFinished(5000) || info.exitCode() != 0) return std::nullopt;
    const QString out = QString::fromLocal8Bit(info.readAllStandardOutput());
    auto field = [&](const char* name) {
        const QRegularExpression re(QStringLiteral("%1:\\s*(-?\\d+)").arg(QLatin1String(name)));
        const QRegularExpressionMatch m = re.match(out);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    WindowPlace place;
    place.x = field("Absolute upper-left X");
    place.y = field("Absolute upper-left Y");
    place.width = field("Width");
    place.height = field("Height");
    place.viewable = out.contains(QStringLiteral("IsViewable"));
    place.id =
        QRegularExpression(QStringLiteral("Window id: (0x[0-9a-f]+)")).match(out).captured(1);
    return place;
}

// What xprop says of a property of the window (without the property's
// type), or empty; `format` as xprop takes it, or empty for the property's own.
QString WindowProperty(const QString& windowId, const char* property, const char* format = "") {
    QStringList arguments = {QStringLiteral("-id"), windowId, QStringLiteral("-notype")};
    if (*format) arguments << QLatin1String(format);
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), arguments << QLatin1String(property));
    if (!xprop.waitForFinished(5000) || xprop.exitCode() != 0) return QString();
    return QString::fromLocal8Bit(xprop.readAllStandardOutput()).trimmed();
}

// The sizes of the images in a _NET_WM_ICON value (width, height, then
// width * height pixels, one after the other).
QList<QSize> IconSizes(const QString& value) {
    QList<QSize> sizes;
    const QStringList numbers = value.section(QLatin1Char('='), 1).split(QLatin1Char(','));
    for (qsizetype at = 0; at + 1 < numbers.size();) {
        const int width = numbers[at].trimmed().toInt();
        const int height = numbers[at + 1].trimmed().toInt();
        if (width <= 0 || height <= 0) break;
        sizes << QSize(width, height);
        at += 2 + qsizetype(width) * height;
    }
    return sizes;
}

// The whole screen as the X server shows it, taken by ImageMagick's import.
QImage Screenshot(const QString& file, std::string& error) {
    const QString import = QStandardPaths::findExecutable(QStringLiteral("import"));
    if (import.isEmpty()) {
        error = "ImageMagick's import is not installed (scripts/setup installs it)";
        return QImage();
    }
    QFile::remove(file);
    QProcess shot;
    shot.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    shot.start(import,
               {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:") + file});
    if (!shot.waitForFinished(20000) || shot.exitCode() != 0) {
        error = "import failed";
        return QImage();
    }
    QImage image(file);
    if (image.isNull()) error = "the screenshot cannot be read";
    return image.convertToFormat(QImage::Format_RGB32);
}

// Waits up to 10 s for the player's window to be shown.
std::optional<WindowPlace> WaitForWindow() {
    std::optional<WindowPlace> place;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        place = FindWindow(WindowTitle);
        if (place && place->viewable) return place;
        QTest::qWait(100);
    }
    return std::nullopt;
}

// Runs an X tool; its exit code, or -1.
int RunTool(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(tool, arguments);
    if (!process.waitForFinished(10000)) return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The real player on `song` in a session of its own, with the sink recorded
// from before its start.
struct RecordedPlayer {
    e2e::UserSession Session;
    e2e::Recording Recording;
    QProcess Process;
    std::optional<WindowPlace> Place; // where its window shows, once it does
    std::string Error;                // why it did not

    explicit RecordedPlayer(const QString& song) {
        if (!Recording.Start(Error)) return;
        Process.setProcessEnvironment(Session.Environment());
        Process.setProcessChannelMode(QProcess::ForwardedChannels);
        Process.start(e2e::BinaryPath("zirrafon"), {song});
        if (Process.waitForStarted(5000)) Place = WaitForWindow();
        if (!Place) Error = "the player's window did not appear";
    }
    // Ends the player; what the sink heard.
    std::vector<int16_t> Stop() {
        Process.terminate();
        if (!Process.waitForFinished(5000)) Process.kill();
        return Recording.Stop();
    }
};

TEST(PlayerFace, TheWindowShowsTheSkinWithTheSongsTextsWhileItPlays) {
    E2E_REQUIRE_BED();
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "no X server";
    const QString song = e2e::DemoFile("demo.ay");
    const QImage skin = SkinFile();
    ASSERT_EQ(skin.size(), QSize(240, 216));

    // What the labels must show: the file's texts as the song reader gives them.
    SongSession opened;
    ASSERT_TRUE(opened.Open(QFile::encodeName(song).toStdString(), SongKind::AY,
                            [](const std::string&) {}));
    const SongList& list = opened.List;
    ASSERT_EQ(list.SongCount, 3);

    RecordedPlayer player(song);
    const std::optional<WindowPlace>& place = player.Place;
    ASSERT_TRUE(place) << player.Error;
    std::string error;
    EXPECT_EQ(place->width, 240);
    EXPECT_EQ(place->height, 152);

    // Task bars and switchers find the program by its class (which matches
    // zirrafon.desktop) and show its icon, with or without an icon theme.
    EXPECT_EQ(WindowProperty(place->id, "WM_CLASS").toStdString(),
              "WM_CLASS = \"zirrafon\", \"Zirrafon\"");
    const QList<QSize> icons = IconSizes(WindowProperty(place->id, "_NET_WM_ICON", "32c"));
    for (int side : {16, 32, 48})
        EXPECT_TRUE(icons.contains(QSize(side, side))) << "no " << side << "x" << side << " icon";

    // The face is painted once the song has been opened; take pictures until
    // the author label shows the text (or give up after a few seconds).
    const QImage author = ExpectedLabel(skin, list.AuthorText);
    const QString shotFile = player.Session.Path(QStringLiteral("screen.png"));
    QImage screen, window;
    QElapsedTimer clock;
    clock.start();
    do {
        QTest::qWait(300);
        screen = Screenshot(shotFile, error);
        ASSERT_FALSE(screen.isNull()) << error;
        window = Region(screen, place->x, place->y, 240, 152);
    } while (!SamePixels(Region(window, 48, 32, 184, 16), author) && clock.elapsed() < 8000);
    QFile::remove(QString::fromLatin1(ScreenshotCopy));
    window.save(QString::fromLatin1(ScreenshotCopy));
    std::printf("screenshot of the window: %s (screen %dx%d, window at %d,%d)\n", ScreenshotCopy,
                screen.width(), screen.height(), place->x, place->y);

    // Centred on the screen, borderless: exactly the face's 240x152.
    EXPECT_EQ(place->x, (screen.width() - 240) / 2);
    EXPECT_EQ(place->y, (screen.height() - 152) / 2);

    // The artwork: title bar with its lettering, close and minimize buttons;
    // the captions left of the labels; the About and Parameters buttons and
    // the captions between the numbers; the playback buttons and the volume
    // bar at full level.
    EXPECT_TRUE(SamePixels(Region(window, 0, 0, 240, 32), Region(skin, 0, 0, 240, 32))) << "title";
    EXPECT_TRUE(SamePixels(Region(window, 0, 32, 48, 72), Region(skin, 0, 32, 48, 72)))
        << "label captions";
    EXPECT_TRUE(SamePixels(Region(window, 120, 100, 120, 28), Region(skin, 120, 100, 120, 28)))
        << "About, Parameters and volume";
    EXPECT_TRUE(SamePixels(Region(window, 0, 124, 240, 28), Region(skin, 0, 124, 240, 28)))
        << "playback buttons";

    // The texts and numbers of the file, in the skin's font and digits.
    EXPECT_TRUE(SamePixels(Region(window, 48, 32, 184, 16), author)) << "author label";
    EXPECT_TRUE(SamePixels(Region(window, 48, 56, 184, 16), ExpectedLabel(skin, list.MiscText)))
        << "misc label";
    EXPECT_TRUE(SamePixels(Region(window, 48, 80, 184, 16), ExpectedLabel(skin, list.SongNames[0])))
        << "title label";
    EXPECT_TRUE(SamePixels(Region(window, 48, 104, 24, 16), ExpectedDigits(skin, "001")));
    EXPECT_TRUE(SamePixels(Region(window, 96, 104, 24, 16), ExpectedDigits(skin, "003")));

    // And it plays: the sink heard the first song, sample for sample.
    QTest::qWait(1500);
    EXPECT_EQ(player.Process.state(), QProcess::Running);
    const std::vector<int16_t> recorded = player.Stop();
    const auto first = e2e::FirstNonZero(recorded);
    ASSERT_TRUE(first.has_value()) << "nothing was heard";
    size_t nonZero = 0;
    for (int16_t v : recorded) nonZero += v != 0;
    std::printf("recorded %zu values, %zu of them nonzero\n", recorded.size(), nonZero);
    const std::vector<int16_t> rendered = e2e::Render(song, 1, 4, error);
    ASSERT_FALSE(rendered.empty()) << error;
    EXPECT_EQ(e2e::CompareAligned(recorded, rendered, ValuesPerSecond), "");
}

// Under a Russian layout the keys that carry B and X on a US keyboard type
// Cyrillic letters, yet they still stop and play: B stops the song (the sink
// falls silent), X plays it again from its beginning.
TEST(PlayerFace, ActionKeysActByTheirPlaceUnderARussianLayout) {
    E2E_REQUIRE_BED();
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "no X server";
    for (const char* tool : {"setxkbmap", "xdotool"})
        ASSERT_FALSE(QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            << tool << " is not installed (scripts/setup installs it)";
    ASSERT_EQ(RunTool(QStringLiteral("setxkbmap"), {QStringLiteral("ru")}), 0);
    struct UsLayoutAgain {
        ~UsLayoutAgain() { RunTool(QStringLiteral("setxkbmap"), {QStringLiteral("us")}); }
    } restore;

    const QString song = e2e::DemoFile("demo.ay");
    RecordedPlayer player(song);
    const std::optional<WindowPlace>& place = player.Place;
    ASSERT_TRUE(place) << player.Error;
    std::string error;
    ASSERT_EQ(RunTool(QStringLiteral("xdotool"), {"windowfocus", "--sync", place->id}), 0);

    // The keysyms of the Russian layout on the places of B and X.
    QTest::qWait(1500);
    ASSERT_EQ(RunTool(QStringLiteral("xdotool"), {"key", "Cyrillic_i"}), 0);
    QTest::qWait(1500);
    ASSERT_EQ(RunTool(QStringLiteral("xdotool"), {"key", "Cyrillic_che"}), 0);
    QTest::qWait(1500);
    const std::vector<int16_t> recorded = player.Stop();

    // Sound, then silence for most of the time between the keys, then the
    // song again from its first sample.
    const auto first = e2e::FirstNonZero(recorded);
    ASSERT_TRUE(first.has_value()) << "nothing was heard";
    size_t gapStart = 0, gapLength = 0;
    for (size_t at = *first, run = 0; at < recorded.size(); ++at) {
        run = recorded[at] == 0 ? run + 1 : 0;
        if (run > gapLength) {
            gapLength = run;
            gapStart = at + 1 - run;
        }
    }
    std::printf("Russian layout: %.3f s of silence after B\n",
                static_cast<double>(gapLength) / ValuesPerSecond);
    ASSERT_GT(gapLength, size_t(ValuesPerSecond)) << "B did not stop the song";
    // From the first whole frame of silence (a ramp's last steps may round
    // to 0 in one channel only).
    gapStart += gapStart % 2;
    const std::vector<int16_t> after(recorded.begin() + static_cast<ptrdiff_t>(gapStart),
                                     recorded.end());
    ASSERT_TRUE(e2e::FirstNonZero(after).has_value()) << "X did not play the song again";
    const std::vector<int16_t> rendered = e2e::Render(song, 1, 2, error);
    ASSERT_FALSE(rendered.empty()) << error;
    EXPECT_EQ(e2e::CompareAligned(after, rendered, ValuesPerSecond / 2), "");
}

} // namespace
