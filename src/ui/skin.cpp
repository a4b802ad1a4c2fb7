// Skin loading and the pieces cut out of a skin bitmap (see skin.h). Pixel
// copies work on RGB32 scanlines directly, clipped to both images, so a skin
// smaller than the layout never reads or writes outside an image.
#include "ui/skin.h"

#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <utility>

// The built-in skin lives in the static library's resources (assets/skin.qrc),
// which must be registered once before the first use. This has to sit outside
// any namespace.
static void RegisterSkinResource() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(skin);
        return true;
    }();
    (void)registered;
}

const char* const Skin::BuiltInPath = ":/skin.bmp";

// --- image helpers -----------------------------------------------------------------

void CopyPixels(const QImage& src, const QRect& from, QImage& dst, const QPoint& to) {
    if (src.isNull() || dst.isNull()) return;
    // Clip the source rectangle to src, shifting the target with it, then to dst.
    QRect s = from.intersected(src.rect());
    QPoint t = to + (s.topLeft() - from.topLeft());
    QRect d = QRect(t, s.size()).intersected(dst.rect());
    if (d.isEmpty()) return;
    s = QRect(s.topLeft() + (d.topLeft() - t), d.size());
    const QImage in =
        src.format() == QImage::Format_RGB32 ? src : src.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < d.height(); ++row) {
        const auto* from32 = reinterpret_cast<const QRgb*>(in.constScanLine(s.top() + row));
        auto* to32 = reinterpret_cast<QRgb*>(dst.scanLine(d.top() + row));
        std::memcpy(to32 + d.left(), from32 + s.left(), sizeof(QRgb) * size_t(d.width()));
    }
}

void FillPixels(QImage& dst, const QRect& rect, const QColor& colour) {
    const QRect d = rect.intersected(dst.rect());
    if (d.isEmpty()) return;
    const QRgb value = colour.rgb();
    for (int row = d.top(); row <= d.bottom(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(dst.scanLine(row));
        std::fill(line + d.left(), line + d.left() + d.width(), value);
    }
}

QImage CutImage(const QImage& src, const QRect& rect) {
    QImage out(std::max(0, rect.width()), std::max(0, rect.height()), QImage::Format_RGB32);
    if (out.isNull()) return out;
    out.fill(Qt::black);
    CopyPixels(src, rect, out, QPoint(0, 0));
    return out;
}

QColor PixelAt(const QImage& image, int x, int y) {
    if (!image.valid(x, y)) return QColor(Qt::black);
    return QColor(image.pixel(x, y));
}

// --- Skin --------------------------------------------------------------------------

Skin::Skin(SkinButtonActions actions, ScreenUpdater updateScreen)
    : SkinBrush(Qt::black), LabelBrush(Qt::black), Actions(std::move(actions)),
      RepaintScreen(std::move(updateScreen)) {
    RegisterSkinResource();
}

// The zones refer to this object: free them before the images.
Skin::~Skin() {
    MoveZones.Clear();
    LabelZones.Clear();
    BmpsFree();
}

TLabelZone* Skin::AddLabelZone(int left, int top, int right, int bottom) {
    return LabelZones.Add(std::make_unique<TLabelZone>(*this, left, top, right, bottom));
}

TMoveZone* Skin::AddMoveZone(int left, int top, int right, int bottom,
                             TMoveZone::DragRoutine drag) {
    return MoveZones.Add(std::make_unique<TMoveZone>(left, top, right, bottom, std::move(drag)));
}

void Skin::BmpsFree() {
    ButtonZones.Clear();
    FontStrip = QImage();
    DigitStrip = QImage();
    VolumeImage = QImage();
}

// The face's buttons in the order they are created (the list then holds them
// newest first): rectangle, normal look, pressed look. Close and minimize take
// both looks from the same place, so they show no pressed look. Positions are
// those of the skin layout in skin.h.
void Skin::CreateButtonZones(const QImage& skin) {
    struct Button {
        int left, top, right, bottom, normalX, normalY, pressedX, pressedY;
        std::function<void()> SkinButtonActions::*action;
    };
    static const Button buttons[] = {
        {225, 0, 240, 15, 225, 0, 225, 0, &SkinButtonActions::Close},
        {209, 0, 224, 15, 209, 0, 209, 0, &SkinButtonActions::Minimize},
        {165, 128, 187, 144, 165, 128, 121, 152, &SkinButtonActions::Open},
        {37, 128, 59, 144, 37, 128, 25, 152, &SkinButtonActions::Play},
        {133, 128, 155, 144, 133, 128, 97, 152, &SkinButtonActions::Stop},
        {101, 128, 123, 144, 101, 128, 73, 152, &SkinButtonActions::Pause},
        {5, 128, 27, 144, 5, 128, 1, 152, &SkinButtonActions::Previous},
        {69, 128, 91, 144, 69, 128, 49, 152, &SkinButtonActions::Next},
        {165, 104, 187, 120, 165, 104, 169, 152, &SkinButtonActions::Parameters},
        {133, 104, 155, 120, 133, 104, 145, 152, &SkinButtonActions::About},
    };
    for (const Button& b : buttons)
        ButtonZones.Add(std::make_unique<TButtonZone>(*this, b.left, b.top, b.right, b.bottom, skin,
                                                      b.normalX, b.normalY, b.pressedX, b.pressedY,
                                                      Actions.*b.action));
}

bool Skin::LoadSkin(SkinSource source, const QString& path) {
    // Only BMP is a skin: a file of another format is refused even when Qt
    // could read it.
    QImageReader reader(source == SkinSource::File ? path : QString::fromLatin1(BuiltInPath),
                        "bmp");
    reader.setAutoDetectImageFormat(false);
    QImage loaded = reader.read();
    if (loaded.isNull()) return false;

    SkinBitmap = loaded.convertToFormat(QImage::Format_RGB32);
    // At window creation nothing exists yet, so freeing is a no-op there.
    BmpsFree();

    CreateButtonZones(SkinBitmap);

    FontStrip = QImage(768, 16, QImage::Format_RGB32);
    FontStrip.fill(Qt::black);
    CopyPixels(SkinBitmap, QRect(0, 168, 240, 16), FontStrip, QPoint(0, 0));
    CopyPixels(SkinBitmap, QRect(0, 184, 240, 16), FontStrip, QPoint(240, 0));
    CopyPixels(SkinBitmap, QRect(0, 200, 240, 16), FontStrip, QPoint(480, 0));
    CopyPixels(SkinBitmap, QRect(192, 152, 48, 16), FontStrip, QPoint(720, 0));
    DigitStrip = CutImage(SkinBitmap, QRect(48, 80, 80, 16));

    SkinBitmap = CutImage(SkinBitmap, QRect(0, 0, SkinBitmap.width(), 152));

    VolumeImage = CutImage(SkinBitmap, QRect(217, 104, 14, 39));

    SkinBrush = PixelAt(SkinBitmap, 217, 103);
    LabelBrush = PixelAt(SkinBitmap, 231, 47);
    LabelZones.ForEach([this](TLabelZone& label) {
        label.Brush = LabelBrush;
        FillPixels(label.Image, QRect(0, 0, 1, 16), LabelBrush);
    });

    LabelZones.ForEach([](TLabelZone& label) { label.Render(); });
    return true;
}

void Skin::PaintZones() {
    LabelZones.ForEach([](TLabelZone& label) { label.Paint(false); });
    ButtonZones.ForEach([](TButtonZone& button) { button.Paint(false); });
}

void Skin::CopyToBuffer(const QImage& src, const QRect& from, const QPoint& to) {
    CopyPixels(src, from, SkinBitmap, to);
}

void Skin::FillBuffer(const QRect& rect, const QColor& colour) {
    FillPixels(SkinBitmap, rect, colour);
}

void Skin::UpdateScreen(const QRect& rect) const {
    if (RepaintScreen) RepaintScreen(rect);
}
