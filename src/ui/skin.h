// The player's skin: one bitmap that holds the 240x152 window face together
// with the pressed looks of the buttons, a 96-character 8x16 font, the digit
// glyphs and the volume bar at full level, and all zones of the face.
// `LoadSkin` reads a BMP file (or the built-in skin, a Qt resource) and cuts
// these pieces out of it; the face then serves as the window's back buffer.
//
// Layout of a skin bitmap (L, T, R, B):
//   (0, 0, 240, 152)      the face, every button in its normal look
//   (48, 80, 128, 96)     digits "0".."9", 8x16 each, digit d at x = 48 + 8d
//   (217, 104, 231, 143)  the volume bar at full level (14x39)
//   pixel (217, 103)      the colour of the unlit volume bar
//   pixel (231, 47)       the label background colour
//   (0, 152, 192, 168)    pressed looks of eight 22x16 buttons, x = 1 + 24i:
//                         previous, play, next, pause, stop, open, about,
//                         parameters
//   (192, 152, 240, 168)  font glyphs for codes 122..127
//   (0, 168, 240, 216)    font glyphs for codes 32..121, 30 per row
// The size and the pixel format of a skin are not checked: parts that lie
// outside a smaller bitmap come out black, a larger one is used from its
// top-left corner.
//
// How the window uses this class:
//   - construct it with the ten button actions and a repaint callback (the
//     window's update of a client rectangle);
//   - add the three label zones (AddLabelZone), call LoadSkin(SkinSource::BuiltIn, {}) and add
//     the two move zones (AddMoveZone with TitleDragRoutine and
//     VolumeDragRoutine from zones.h);
//   - on paint: PaintZones(), then draw SkinBitmap's client-sized top-left part;
//   - route mouse events to ButtonZones, MoveZones and LabelZones (FindAt,
//     Find, ForEach);
//   - draw the song numbers and the volume bar with CopyToBuffer from
//     DigitStrip / VolumeImage, FillBuffer with SkinBrush, and UpdateScreen.
#pragma once

#include "ui/zones.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>

// What the ten buttons of the face do; supplied by the window. Empty entries
// make a button that does nothing.
struct SkinButtonActions {
    std::function<void()> Close, Minimize, Open, Play, Stop, Pause, Previous, Next, Parameters,
        About;
};

// Where a skin comes from: the program's own bitmap or a BMP file.
enum class SkinSource { BuiltIn, File };

class Skin {
  public:
    // Asks the window to repaint a rectangle of its client area from SkinBitmap.
    using ScreenUpdater = std::function<void(const QRect&)>;

    // The built-in skin as a Qt resource path.
    static const char* const BuiltInPath;

    explicit Skin(SkinButtonActions actions = {}, ScreenUpdater updateScreen = {});
    ~Skin();
    Skin(const Skin&) = delete;
    Skin& operator=(const Skin&) = delete;

    // The BMP file at `path`, or the built-in skin (at window creation or
    // again; `path` is not used then). Returns false, with
    // nothing changed, when the bitmap cannot be read. On success the button
    // zones and strips are new and the labels are rendered again (their texts
    // and scroll positions stay); the caller redraws the numbers and repaints.
    bool LoadSkin(SkinSource source, const QString& path);
    // Frees the button zones and the font, digit and volume images.
    void BmpsFree();

    TLabelZone* AddLabelZone(int left, int top, int right, int bottom);
    TMoveZone* AddMoveZone(int left, int top, int right, int bottom, TMoveZone::DragRoutine drag);

    // Paints every label zone, then every button zone (in its current look)
    // into SkinBitmap, as the window does before showing the face.
    void PaintZones();

    // Copies `from` of src into SkinBitmap with its top-left corner at `to`
    // (clipped to both images).
    void CopyToBuffer(const QImage& src, const QRect& from, const QPoint& to);
    // Fills a rectangle of SkinBitmap.
    void FillBuffer(const QRect& rect, const QColor& colour);
    // Asks the window to show a rectangle of SkinBitmap.
    void UpdateScreen(const QRect& rect) const;

    QImage SkinBitmap;  // the face and back buffer, RGB32, 152 rows after a load
    QColor SkinBrush;   // SkinBitmap's brush: the unlit volume bar colour
    QImage FontStrip;   // 768x16: glyph of code c at x = 8 (c - 32)
    QImage DigitStrip;  // 80x16: digit d at x = 8d
    QImage VolumeImage; // 14x39: the bar at full level
    QColor LabelBrush;  // label background colour

    ZoneList<TLabelZone> LabelZones;
    ZoneList<TButtonZone> ButtonZones;
    ZoneList<TMoveZone> MoveZones;

  private:
    void CreateButtonZones(const QImage& skin);

    SkinButtonActions Actions;
    ScreenUpdater RepaintScreen;
};

// Image helpers shared by the skin and the zones; all images are RGB32.
// A w x h RGB32 image of `rect` of src; parts outside src are black.
QImage CutImage(const QImage& src, const QRect& rect);
// Copies `from` of src into dst at `to`, clipped to both images.
void CopyPixels(const QImage& src, const QRect& from, QImage& dst, const QPoint& to);
// Fills `rect` of dst, clipped to dst.
void FillPixels(QImage& dst, const QRect& rect, const QColor& colour);
// The colour of a pixel, black outside the image.
QColor PixelAt(const QImage& image, int x, int y);
