// The zones of the skinned face: label rendering and scrolling, button looks,
// and the title-bar and volume-bar drag routines (see zones.h).
#include "ui/zones.h"

#include "ui/skin.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int GlyphWidth = 8;
constexpr int GlyphHeight = 16;

} // namespace

// --- TLabelZone -------------------------------------------------------------------

TLabelZone::TLabelZone(Skin& owner, int left, int top, int right, int bottom)
    : Left(left), Top(top), Right(right), Bottom(bottom),
      Image(std::max(0, right - left), std::max(0, bottom - top), QImage::Format_RGB32),
      Brush(Qt::black), Owner(owner) {
    Image.fill(Brush);
}

void TLabelZone::SetText(const std::string& text) {
    Text = text;
    FirstVisible = 1;
    Render();
}

void TLabelZone::Render() {
    const int count = VisibleCount();
    const int last = std::min(static_cast<int>(Text.size()), FirstVisible + count - 1);
    int x = 1;
    for (int i = FirstVisible; i <= last; ++i) {
        int code = static_cast<unsigned char>(Text[static_cast<size_t>(i - 1)]);
        if (code >= 128) code -= 128;
        if (code < 32) code = 32;
        CopyPixels(Owner.FontStrip, QRect(GlyphWidth * (code - 32), 0, GlyphWidth, GlyphHeight),
                   Image, QPoint(x, 0));
        x += GlyphWidth;
    }
    if (x < GlyphWidth * count)
        FillPixels(Image, QRect(x, 0, GlyphWidth * count - x, Bottom - Top), Brush);
}

void TLabelZone::Paint(bool toScreen) {
    Owner.CopyToBuffer(Image, Image.rect(), QPoint(Left, Top));
    if (toScreen) Owner.UpdateScreen(Rect());
}

void TLabelZone::Scroll() {
    int d = (PreviousX - LastX) / GlyphWidth; // truncated towards zero
    if (d == 0) {
        LastX = PreviousX; // small moves add up until they reach a glyph
        return;
    }
    const int forwardRoom = static_cast<int>(Text.size()) - FirstVisible - VisibleCount() + 1;
    const int backwardRoom = 1 - FirstVisible;
    if (d > 0) {
        if (forwardRoom <= 0) return;
        d = std::min(d, forwardRoom);
    } else {
        if (backwardRoom >= 0) return;
        d = std::max(d, backwardRoom);
    }
    FirstVisible += d;
    Render();
    Paint(true);
}

// --- TButtonZone ------------------------------------------------------------------

TButtonZone::TButtonZone(Skin& owner, int left, int top, int right, int bottom, const QImage& skin,
                         int normalX, int normalY, int pressedX, int pressedY,
                         std::function<void()> action)
    : Left(left), Top(top), Right(right), Bottom(bottom),
      NormalImage(CutImage(skin, QRect(normalX, normalY, right - left, bottom - top))),
      PressedImage(CutImage(skin, QRect(pressedX, pressedY, right - left, bottom - top))),
      Action(std::move(action)), Owner(owner) {}

void TButtonZone::Press() {
    if (Pressed) return;
    Pressed = true;
    Paint(true);
}

void TButtonZone::Release() {
    if (!Pressed) return;
    Pressed = false;
    Paint(true);
}

void TButtonZone::Paint(bool toScreen) {
    const QImage& look = Pressed ? PressedImage : NormalImage;
    Owner.CopyToBuffer(look, look.rect(), QPoint(Left, Top));
    if (toScreen) Owner.UpdateScreen(Rect());
}

// --- TMoveZone and its routines -----------------------------------------------------

TMoveZone::TMoveZone(int left, int top, int right, int bottom, DragRoutine drag)
    : Left(left), Top(top), Right(right), Bottom(bottom), Drag(std::move(drag)) {}

TMoveZone::DragRoutine TitleDragRoutine(std::function<void(int dx, int dy)> moveWindowBy) {
    return [moveWindowBy = std::move(moveWindowBy)](TMoveZone& zone) {
        const int dx = zone.LastX - zone.PreviousX;
        const int dy = zone.LastY - zone.PreviousY;
        zone.LastX = zone.PreviousX;
        zone.LastY = zone.PreviousY;
        if (moveWindowBy) moveWindowBy(dx, dy);
    };
}

bool VolumeDragStep(TMoveZone& zone, int& volume) {
    if (zone.LastY > zone.Bottom) zone.LastY = zone.Bottom;
    if (zone.LastY < zone.Top) zone.LastY = zone.Top;
    int delta = zone.PreviousY - zone.LastY;
    if (delta == 0) return false;
    const int upRoom = (zone.Bottom - zone.Top) - volume;
    const int downRoom = -volume;
    if (delta > 0) {
        if (upRoom <= 0) return false;
        delta = std::min(delta, upRoom);
    } else {
        if (downRoom >= 0) return false;
        delta = std::max(delta, downRoom);
    }
    volume += delta;
    return true;
}

TMoveZone::DragRoutine VolumeDragRoutine(std::function<int()> volume,
                                         std::function<void(int volume)> setVolume) {
    return [volume = std::move(volume), setVolume = std::move(setVolume)](TMoveZone& zone) {
        int v = volume();
        if (VolumeDragStep(zone, v) && setVolume) setVolume(v);
    };
}
