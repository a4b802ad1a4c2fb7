// Skin loading, the built-in skin's layout, label rendering and scrolling,
// button looks, zone lists and the two drag routines.
#include "pixels.h"
#include "ui/skin.h"
#include "ui/zones.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

::testing::AssertionResult AllPixels(const QImage& image, const QColor& colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (QColor(image.pixel(x, y)) != colour)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is "
                       << QColor(image.pixel(x, y)).name().toStdString();
    return ::testing::AssertionSuccess();
}

// The whole built-in bitmap, 240x216, as stored in the resources.
QImage RawBuiltIn() {
    Skin registers; // makes sure the resource is registered
    return QImage(QString::fromLatin1(Skin::BuiltInPath)).convertToFormat(QImage::Format_RGB32);
}

// A skin whose every pixel differs from its neighbours, so any misplaced copy shows.
QImage PatternSkin(int w = 240, int h = 216) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x, y, (x * 7 + y * 13) & 255));
    return image;
}

// A window stand-in: the skin with the three labels of the face and a record
// of the repaint requests.
struct Face {
    std::vector<QRect> updates;
    std::vector<std::string> actionsRun;
    Skin skin;
    TLabelZone* author;
    TLabelZone* misc;
    TLabelZone* title;

    Face()
        : skin(Actions(), [this](const QRect& r) { updates.push_back(r); }),
          author(skin.AddLabelZone(48, 32, 232, 48)), misc(skin.AddLabelZone(48, 56, 232, 72)),
          title(skin.AddLabelZone(48, 80, 232, 96)) {}

    SkinButtonActions Actions() {
        auto record = [this](const char* name) {
            return [this, name] { actionsRun.push_back(name); };
        };
        SkinButtonActions a;
        a.Close = record("close");
        a.Minimize = record("minimize");
        a.Open = record("open");
        a.Play = record("play");
        a.Stop = record("stop");
        a.Pause = record("pause");
        a.Previous = record("previous");
        a.Next = record("next");
        a.Parameters = record("parameters");
        a.About = record("about");
        return a;
    }

    QImage Glyph(int code) const { return Region(skin.FontStrip, 8 * (code - 32), 0, 8, 16); }
    // Character cell i of a label (the 23rd is 7 pixels wide).
    static QImage Cell(const TLabelZone& label, int i) {
        const int x = 1 + 8 * i;
        return Region(label.Image, x, 0, std::min(8, label.Image.width() - x), 16);
    }
};

// One label drag step as the window makes it.
void DragLabel(TLabelZone& label, int x) {
    label.PreviousX = label.LastX;
    label.LastX = x;
    label.Scroll();
}

// One move-zone drag step as the window makes it.
void DragMove(TMoveZone& zone, int x, int y) {
    zone.PreviousX = zone.LastX;
    zone.PreviousY = zone.LastY;
    zone.LastX = x;
    zone.LastY = y;
    zone.CallDrag();
}

} // namespace

TEST(BuiltInSkin, PiecesAreCutFromTheirPlacesInTheBitmap) {
    const QImage raw = RawBuiltIn();
    ASSERT_EQ(raw.size(), QSize(240, 216));
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));

    EXPECT_TRUE(SamePixels(f.skin.SkinBitmap, Region(raw, 0, 0, 240, 152)));
    ASSERT_EQ(f.skin.FontStrip.size(), QSize(768, 16));
    for (int code = 32; code <= 127; ++code) {
        const int n = code - 32;
        const QImage source = code <= 121 ? Region(raw, 8 * (n % 30), 168 + 16 * (n / 30), 8, 16)
                                          : Region(raw, 192 + 8 * (code - 122), 152, 8, 16);
        EXPECT_TRUE(SamePixels(f.Glyph(code), source)) << "code " << code;
    }
    EXPECT_TRUE(SamePixels(f.skin.DigitStrip, Region(raw, 48, 80, 80, 16)));
    EXPECT_TRUE(SamePixels(f.skin.VolumeImage, Region(raw, 217, 104, 14, 39)));
    EXPECT_EQ(f.skin.SkinBrush, QColor(raw.pixel(217, 103)));
    EXPECT_EQ(f.skin.LabelBrush, QColor(raw.pixel(231, 47)));
}

// The artwork has to fit the way the player uses it: glyph cells are copied
// whole into the labels, the buttons need a visible pressed look.
TEST(BuiltInSkin, ArtworkSuitsTheLayout) {
    const QImage raw = RawBuiltIn();
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    const QColor bg = f.skin.LabelBrush;

    EXPECT_TRUE(AllPixels(f.Glyph(' '), bg));
    for (int code = 33; code <= 127; ++code) {
        const QImage g = f.Glyph(code);
        int ink = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 8; ++x) ink += QColor(g.pixel(x, y)) != bg;
        EXPECT_GT(ink, 0) << "code " << code << " is blank";
        EXPECT_EQ(QColor(g.pixel(0, 0)), bg) << "code " << code;
    }
    // The two upper label fields are plain background, so an empty label
    // blends into the face.
    EXPECT_TRUE(AllPixels(Region(raw, 48, 32, 184, 16), bg));
    EXPECT_TRUE(AllPixels(Region(raw, 48, 56, 184, 16), bg));
    for (int d = 0; d < 10; ++d)
        for (int e = d + 1; e < 10; ++e)
            EXPECT_FALSE(SamePixels(Region(f.skin.DigitStrip, 8 * d, 0, 8, 16),
                                    Region(f.skin.DigitStrip, 8 * e, 0, 8, 16)))
                << d << " and " << e;
    // Full bar: lit from the bottom row to the top row, none of it the unlit colour
    // in the middle column except the gaps between segments.
    EXPECT_NE(QColor(f.skin.VolumeImage.pixel(7, 38)), f.skin.SkinBrush);
    EXPECT_NE(QColor(f.skin.VolumeImage.pixel(7, 0)), f.skin.SkinBrush);

    f.skin.ButtonZones.ForEach([](const TButtonZone& b) {
        const bool titleButton = b.Top == 0;
        EXPECT_EQ(SamePixels(b.NormalImage, b.PressedImage), titleButton)
            << "button at " << b.Left << ", " << b.Top;
    });
}

TEST(ZoneList, NewestFirstAndFirstHitWins) {
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    // Buttons are created close, minimize, open, play, stop, pause, previous,
    // next, parameters, about: the list holds them the other way round.
    const std::vector<QRect> expected = {{133, 104, 22, 16}, {165, 104, 22, 16}, {69, 128, 22, 16},
                                         {5, 128, 22, 16},   {101, 128, 22, 16}, {133, 128, 22, 16},
                                         {37, 128, 22, 16},  {165, 128, 22, 16}, {209, 0, 15, 15},
                                         {225, 0, 15, 15}};
    std::vector<QRect> order;
    f.skin.ButtonZones.ForEach([&](const TButtonZone& b) { order.push_back(b.Rect()); });
    EXPECT_EQ(order, expected);
    EXPECT_EQ(f.skin.LabelZones.Head(), f.title);

    TMoveZone* bar = f.skin.AddMoveZone(0, 0, 240, 26, {});
    TMoveZone* corner = f.skin.AddMoveZone(0, 0, 10, 10, {});
    EXPECT_EQ(f.skin.MoveZones.FindAt(5, 5), corner);
    EXPECT_EQ(f.skin.MoveZones.FindAt(20, 5), bar);
    EXPECT_EQ(f.skin.MoveZones.FindAt(239, 25), bar);
    EXPECT_EQ(f.skin.MoveZones.FindAt(240, 25), nullptr);
    EXPECT_EQ(f.skin.MoveZones.FindAt(10, 26), nullptr);
    f.skin.MoveZones.Clear();
    EXPECT_TRUE(f.skin.MoveZones.Empty());
}

TEST(ButtonZone, EachButtonRunsItsOwnAction) {
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    const std::vector<std::pair<QPoint, std::string>> buttons = {
        {{230, 5}, "close"},    {{210, 14}, "minimize"}, {{186, 143}, "open"},
        {{37, 128}, "play"},    {{140, 130}, "stop"},    {{110, 135}, "pause"},
        {{5, 128}, "previous"}, {{80, 140}, "next"},     {{170, 110}, "parameters"},
        {{154, 119}, "about"}};
    for (const auto& [point, name] : buttons) {
        TButtonZone* b = f.skin.ButtonZones.FindAt(point.x(), point.y());
        ASSERT_NE(b, nullptr) << name;
        f.actionsRun.clear();
        b->Action();
        EXPECT_EQ(f.actionsRun, std::vector<std::string>{name});
    }
    EXPECT_EQ(f.skin.ButtonZones.FindAt(224, 5), nullptr); // between minimize and close
}

TEST(ButtonZone, PressAndReleaseShowTheirLooks) {
    const QImage raw = RawBuiltIn();
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    TButtonZone* play = f.skin.ButtonZones.FindAt(40, 130);
    ASSERT_NE(play, nullptr);
    const QRect at(37, 128, 22, 16);

    play->Press();
    EXPECT_TRUE(play->Pressed);
    EXPECT_TRUE(
        SamePixels(Region(f.skin.SkinBitmap, 37, 128, 22, 16), Region(raw, 25, 152, 22, 16)));
    EXPECT_EQ(f.updates, std::vector<QRect>{at});
    play->Press();
    EXPECT_EQ(f.updates.size(), 1u);

    play->Release();
    EXPECT_FALSE(play->Pressed);
    EXPECT_TRUE(
        SamePixels(Region(f.skin.SkinBitmap, 37, 128, 22, 16), Region(raw, 37, 128, 22, 16)));
    EXPECT_EQ(f.updates.size(), 2u);
    play->Release();
    EXPECT_EQ(f.updates.size(), 2u);
    EXPECT_TRUE(f.actionsRun.empty());

    // The window's paint puts every zone's current look into the back buffer.
    play->Press();
    f.author->SetText("Someone");
    f.skin.FillBuffer(QRect(0, 0, 240, 152), Qt::black);
    f.updates.clear();
    f.skin.PaintZones();
    EXPECT_TRUE(f.updates.empty());
    EXPECT_TRUE(SamePixels(Region(f.skin.SkinBitmap, 37, 128, 22, 16), play->PressedImage));
    EXPECT_TRUE(SamePixels(Region(f.skin.SkinBitmap, 5, 128, 22, 16), Region(raw, 5, 128, 22, 16)));
    EXPECT_TRUE(SamePixels(Region(f.skin.SkinBitmap, 48, 32, 184, 16), f.author->Image));
}

TEST(LabelZone, RendersBytesThroughTheSkinFont) {
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    TLabelZone& l = *f.author;
    ASSERT_EQ(l.VisibleCount(), 23);

    // High bytes lose their top bit; what is then below 32 is a blank (drawn
    // over a full field, so a blank that draws nothing shows too).
    l.SetText(std::string(23, '#'));
    l.SetText(std::string("A\xC1\x01\x9F\x80\xFE\xFFz", 8));
    EXPECT_TRUE(f.updates.empty()); // setting a text paints nothing
    const int expected[] = {'A', 'A', ' ', ' ', ' ', '~', 127, 'z'};
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(SamePixels(Face::Cell(l, i), f.Glyph(expected[i]))) << i;
    EXPECT_TRUE(AllPixels(Region(l.Image, 0, 0, 1, 16), f.skin.LabelBrush));
    EXPECT_TRUE(AllPixels(Region(l.Image, 65, 0, 184 - 65, 16), f.skin.LabelBrush));

    // An empty text leaves nothing of the old one.
    l.SetText("");
    EXPECT_TRUE(AllPixels(l.Image, f.skin.LabelBrush));

    // 23 characters fill the field, the last one cut by a pixel; more are not shown.
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    l.SetText(alphabet.substr(0, 23));
    const QImage twentyThree = l.Image.copy();
    EXPECT_TRUE(SamePixels(Face::Cell(l, 0), f.Glyph('A')));
    EXPECT_TRUE(SamePixels(Face::Cell(l, 22), Region(f.Glyph('W'), 0, 0, 7, 16)));
    l.SetText(alphabet);
    EXPECT_TRUE(SamePixels(l.Image, twentyThree));

    l.Paint(false);
    EXPECT_TRUE(f.updates.empty());
    EXPECT_TRUE(SamePixels(Region(f.skin.SkinBitmap, 48, 32, 184, 16), l.Image));
    l.Paint(true);
    EXPECT_EQ(f.updates, std::vector<QRect>{QRect(48, 32, 184, 16)});
}

TEST(LabelZone, ScrollsOnlyWithinTheText) {
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    TLabelZone& l = *f.misc;

    l.SetText(std::string(23, 'x'));
    l.LastX = 200;
    DragLabel(l, 100);
    DragLabel(l, 0);
    EXPECT_EQ(l.FirstVisible, 1);
    EXPECT_TRUE(f.updates.empty());

    const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
    l.SetText(thirty);
    l.LastX = 230;
    DragLabel(l, 30); // 25 characters' worth, but only 7 are hidden
    EXPECT_EQ(l.FirstVisible, 8);
    EXPECT_TRUE(SamePixels(Face::Cell(l, 0), f.Glyph('h')));
    EXPECT_TRUE(SamePixels(Face::Cell(l, 22), Region(f.Glyph('3'), 0, 0, 7, 16)));
    EXPECT_EQ(f.updates, std::vector<QRect>{QRect(48, 56, 184, 16)});
    EXPECT_TRUE(SamePixels(Region(f.skin.SkinBitmap, 48, 56, 184, 16), l.Image));
    DragLabel(l, 0);
    EXPECT_EQ(l.FirstVisible, 8);

    DragLabel(l, 300);
    EXPECT_EQ(l.FirstVisible, 1);
    DragLabel(l, 400);
    EXPECT_EQ(l.FirstVisible, 1);
    EXPECT_TRUE(SamePixels(Face::Cell(l, 0), f.Glyph('a')));

    // A new text starts from its first character again.
    DragLabel(l, 380);
    ASSERT_EQ(l.FirstVisible, 3);
    l.SetText(thirty);
    EXPECT_EQ(l.FirstVisible, 1);
}

TEST(LabelZone, DragMovesAccumulateToWholeCharacters) {
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    TLabelZone& l = *f.title;
    l.SetText("The quick brown fox jumps over the lazy dog");
    l.LastX = 100;

    DragLabel(l, 93); // 7 pixels: nothing yet, the reference stays put
    EXPECT_EQ(l.FirstVisible, 1);
    EXPECT_EQ(l.LastX, 100);
    DragLabel(l, 92); // one pixel more makes 8
    EXPECT_EQ(l.FirstVisible, 2);
    EXPECT_EQ(l.LastX, 92);

    DragLabel(l, 80); // 12 pixels: one character, the rest is dropped
    EXPECT_EQ(l.FirstVisible, 3);
    DragLabel(l, 76);
    EXPECT_EQ(l.FirstVisible, 3);
    EXPECT_EQ(l.LastX, 80);

    DragLabel(l, 89); // to the right: back by one
    EXPECT_EQ(l.FirstVisible, 2);
}

TEST(SkinLoad, UnreadableFilesKeepTheOldSkin) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    f.author->SetText("kept");

    const QString text = dir.filePath("text.bmp");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a bitmap\n");
    file.close();
    const QString png = dir.filePath("png.bmp");
    ASSERT_TRUE(PatternSkin().save(png, "PNG"));

    const QImage face = f.skin.SkinBitmap.copy();
    const QImage font = f.skin.FontStrip.copy();
    const QImage label = f.author->Image.copy();
    const TButtonZone* head = f.skin.ButtonZones.Head();
    for (const QString& path : {text, png, dir.filePath("missing.bmp")}) {
        EXPECT_FALSE(f.skin.LoadSkin(SkinSource::File, path)) << path.toStdString();
        EXPECT_TRUE(SamePixels(f.skin.SkinBitmap, face));
        EXPECT_TRUE(SamePixels(f.skin.FontStrip, font));
        EXPECT_TRUE(SamePixels(f.author->Image, label));
        EXPECT_EQ(f.skin.ButtonZones.Head(), head);
        EXPECT_EQ(f.skin.ButtonZones.Size(), 10u);
    }
    EXPECT_TRUE(f.updates.empty());
}

TEST(SkinLoad, FileSkinReplacesEveryPieceAndKeepsLabelTexts) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage pattern = PatternSkin();
    const QString path = dir.filePath("pattern.bmp");
    ASSERT_TRUE(pattern.save(path, "BMP"));

    Face f;
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz";
    f.title->SetText(text);
    f.title->LastX = 100;
    DragLabel(*f.title, 84);
    ASSERT_EQ(f.title->FirstVisible, 3);
    f.updates.clear();

    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::File, path));
    EXPECT_TRUE(SamePixels(f.skin.SkinBitmap, Region(pattern, 0, 0, 240, 152)));
    EXPECT_TRUE(SamePixels(Region(f.skin.FontStrip, 0, 0, 8, 16), Region(pattern, 0, 168, 8, 16)));
    EXPECT_TRUE(
        SamePixels(Region(f.skin.FontStrip, 240, 0, 8, 16), Region(pattern, 0, 184, 8, 16)));
    EXPECT_TRUE(
        SamePixels(Region(f.skin.FontStrip, 480, 0, 8, 16), Region(pattern, 0, 200, 8, 16)));
    EXPECT_TRUE(
        SamePixels(Region(f.skin.FontStrip, 720, 0, 48, 16), Region(pattern, 192, 152, 48, 16)));
    EXPECT_TRUE(SamePixels(f.skin.DigitStrip, Region(pattern, 48, 80, 80, 16)));
    EXPECT_TRUE(SamePixels(f.skin.VolumeImage, Region(pattern, 217, 104, 14, 39)));
    EXPECT_EQ(f.skin.SkinBrush, QColor(pattern.pixel(217, 103)));
    EXPECT_EQ(f.skin.LabelBrush, QColor(pattern.pixel(231, 47)));

    // Old buttons are gone, new ones carry the new looks.
    EXPECT_EQ(f.skin.ButtonZones.Size(), 10u);
    TButtonZone* about = f.skin.ButtonZones.FindAt(133, 104);
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(SamePixels(about->NormalImage, Region(pattern, 133, 104, 22, 16)));
    EXPECT_TRUE(SamePixels(about->PressedImage, Region(pattern, 145, 152, 22, 16)));

    // The labels are drawn again with the new font and background; the text
    // and the scroll position stay.
    EXPECT_EQ(f.title->Text, text);
    EXPECT_EQ(f.title->FirstVisible, 3);
    EXPECT_TRUE(SamePixels(Face::Cell(*f.title, 0), f.Glyph('2')));
    EXPECT_TRUE(AllPixels(Region(f.author->Image, 0, 0, 1, 16), f.skin.LabelBrush));
    EXPECT_TRUE(AllPixels(f.author->Image, f.skin.LabelBrush));
    EXPECT_TRUE(f.updates.empty()); // the caller repaints

    // And back to the built-in one.
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::BuiltIn, {}));
    EXPECT_TRUE(SamePixels(f.skin.SkinBitmap, Region(RawBuiltIn(), 0, 0, 240, 152)));
    EXPECT_EQ(f.skin.ButtonZones.Size(), 10u);
}

TEST(SkinLoad, SmallerSkinIsAccepted) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("small.bmp");
    ASSERT_TRUE(PatternSkin(20, 20).save(path, "BMP"));
    Face f;
    f.author->SetText("still drawn");
    ASSERT_TRUE(f.skin.LoadSkin(SkinSource::File, path));
    EXPECT_EQ(f.skin.SkinBitmap.size(), QSize(20, 152));
    EXPECT_EQ(f.skin.FontStrip.size(), QSize(768, 16));
    EXPECT_EQ(f.skin.VolumeImage.size(), QSize(14, 39));
    EXPECT_EQ(f.skin.ButtonZones.Size(), 10u);
    f.skin.ButtonZones.Head()->Press();
    f.skin.PaintZones();
    EXPECT_TRUE(SamePixels(Region(f.skin.SkinBitmap, 0, 0, 10, 10),
                           Region(PatternSkin(20, 20), 0, 0, 10, 10)));
}

TEST(MoveZone, VolumeDragStaysWithinTheBar) {
    int volume = 20;
    int draws = 0;
    TMoveZone zone(217, 104, 231, 143,
                   VolumeDragRoutine([&] { return volume; },
                                     [&](int v) {
                                         volume = v;
                                         ++draws;
                                     }));
    zone.LastY = 143 - volume;

    DragMove(zone, 220, 122);
    EXPECT_EQ(volume, 21);
    EXPECT_EQ(draws, 1);
    DragMove(zone, 220, 50); // far above the bar: full, the top edge is the new reference
    EXPECT_EQ(volume, 39);
    EXPECT_EQ(zone.LastY, 104);
    DragMove(zone, 220, 0);
    EXPECT_EQ(volume, 39);
    EXPECT_EQ(draws, 2);
    DragMove(zone, 220, 300); // far below: silent
    EXPECT_EQ(volume, 0);
    EXPECT_EQ(zone.LastY, 143);
    DragMove(zone, 220, 400);
    EXPECT_EQ(volume, 0);
    EXPECT_EQ(draws, 3);
    DragMove(zone, 220, 141); // back inside: one step per pixel
    EXPECT_EQ(volume, 2);
    EXPECT_EQ(draws, 4);

    // At full volume an upward move changes nothing, wherever it starts.
    volume = 39;
    zone.LastY = 120;
    DragMove(zone, 220, 110);
    EXPECT_EQ(volume, 39);
}

TEST(MoveZone, TitleDragMovesTheWindowAndKeepsTheGrabPoint) {
    std::vector<QPoint> moves;
    TMoveZone zone(0, 0, 240, 26, TitleDragRoutine([&](int dx, int dy) {
                       moves.push_back({dx, dy});
                   }));
    zone.LastX = 10;
    zone.LastY = 5;
    DragMove(zone, 15, 3);
    DragMove(zone, 4, 40);
    EXPECT_EQ(moves, (std::vector<QPoint>{{5, -2}, {-6, 35}}));
    EXPECT_EQ(zone.LastX, 10);
    EXPECT_EQ(zone.LastY, 5);
}
