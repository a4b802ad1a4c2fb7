// The three kinds of zone that give the skinned face its behaviour: push
// buttons (`TButtonZone`), one-line text fields drawn with the skin's own font
// that scroll when dragged (`TLabelZone`), and drag areas that call a routine
// while the left button is held (`TMoveZone`), plus the drag routines of the
// title bar and the volume bar.
//
// Each zone class keeps its live zones in its own `ZoneList`, newest first;
// every search walks from the head and stops at the first zone that qualifies,
// so a newer zone wins where zones overlap. Rectangles are (Left, Top, Right,
// Bottom) in window client pixels and hold the points Left <= x < Right,
// Top <= y < Bottom.
//
// Painting "to the screen" copies the zone's image into the back buffer
// (`Skin::SkinBitmap`) and asks the window to repaint that rectangle; painting
// to the back buffer alone leaves the repaint to the caller.
//
// Known difference: pressing an already pressed button (and releasing a
// released one) repaints nothing, so pointer moves inside a held button do not
// flood the window with repaints; what the user sees is the same.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class Skin;

// An owning singly linked list of zones of one class, newest first. A zone
// type T carries its link as `std::unique_ptr<T> Next`.
template <class T> class ZoneList {
  public:
    ZoneList() = default;
    ~ZoneList() { Clear(); }
    ZoneList(const ZoneList&) = delete;
    ZoneList& operator=(const ZoneList&) = delete;

    // Puts the zone at the head of the list and returns it.
    T* Add(std::unique_ptr<T> zone) {
        zone->Next = std::move(FirstZone);
        FirstZone = std::move(zone);
        return FirstZone.get();
    }
    // Frees every zone (iteratively, so a long list cannot exhaust the stack).
    void Clear() {
        while (FirstZone) FirstZone = std::move(FirstZone->Next);
    }
    T* Head() const { return FirstZone.get(); }
    bool Empty() const { return !FirstZone; }
    std::size_t Size() const {
        std::size_t n = 0;
        for (const T* z = FirstZone.get(); z; z = z->Next.get()) ++n;
        return n;
    }
    // The first zone from the head for which pred(zone) holds, or nullptr.
    template <class Pred> T* Find(Pred&& pred) const {
        for (T* z = FirstZone.get(); z; z = z->Next.get())
            if (pred(*z)) return z;
        return nullptr;
    }
    // The first zone that contains the point (x, y), or nullptr.
    T* FindAt(int x, int y) const {
        return Find([x, y](const T& z) { return z.HitTest(x, y); });
    }
    // Calls f(zone) for every zone, from the head.
    template <class F> void ForEach(F&& f) const {
        for (T* z = FirstZone.get(); z; z = z->Next.get()) f(*z);
    }

  private:
    std::unique_ptr<T> FirstZone;
};

// A one-line text field drawn with the skin's 8x16 font. Text is a byte string
// as the song file gives it; bytes of 128 and more show as byte - 128, codes
// below 32 as blanks. Column 0 of the image holds the label background and the
// text starts at x = 1, so a label of 184 pixels shows 23 characters, the last
// one cut by a pixel.
class TLabelZone {
  public:
    TLabelZone(Skin& owner, int left, int top, int right, int bottom);

    int Left, Top, Right, Bottom;
    int PreviousX = 0, LastX = 0; // pointer positions of the drag in progress
    int FirstVisible = 1;         // 1-based index of the first character shown
    bool Dragging = false;
    std::unique_ptr<TLabelZone> Next;
    QImage Image; // (Right - Left) x (Bottom - Top), RGB32
    QColor Brush; // label background: set by every skin load
    std::string Text;

    // Characters that fit: (Right - Left + 1) div 8.
    int VisibleCount() const { return (Right - Left + 1) / 8; }
    // New text from the first character; renders, paints nothing.
    void SetText(const std::string& text);
    // Draws the visible part of the text into Image from the skin's font strip.
    void Render();
    // Copies Image into the back buffer; to the screen as well when asked.
    void Paint(bool toScreen);
    bool HitTest(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
    // One drag step: the caller has moved the old LastX to PreviousX and put
    // the pointer's X in LastX. Moving 8 pixels left shows one character more
    // at the right end; less than 8 pixels accumulates; the text never
    // scrolls past its last character or before its first.
    void Scroll();
    QRect Rect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }

  private:
    Skin& Owner;
};

// A push button with a normal and a pressed look, both copied from the skin
// when the zone is created, and an action run by the window on a click.
class TButtonZone {
  public:
    TButtonZone(Skin& owner, int left, int top, int right, int bottom, const QImage& skin,
                int normalX, int normalY, int pressedX, int pressedY, std::function<void()> action);

    int Left, Top, Right, Bottom;
    bool Pressed = false;  // the pressed look is shown
    bool Captured = false; // the current left-button press began here
    std::unique_ptr<TButtonZone> Next;
    QImage NormalImage, PressedImage;
    std::function<void()> Action;

    bool HitTest(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
    void Press();   // shows the pressed look on the screen
    void Release(); // shows the normal look on the screen
    void Paint(bool toScreen);
    QRect Rect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }

  private:
    Skin& Owner;
};

// A drag area. The window stores the pointer in PreviousX/Y and LastX/Y on
// each move while the left button is held and calls the drag routine, which
// reads and may adjust these fields.
class TMoveZone {
  public:
    using DragRoutine = std::function<void(TMoveZone&)>;

    TMoveZone(int left, int top, int right, int bottom, DragRoutine drag);

    int Left, Top, Right, Bottom;
    int PreviousX = 0, PreviousY = 0, LastX = 0, LastY = 0;
    bool Dragging = false;
    std::unique_ptr<TMoveZone> Next;
    DragRoutine Drag;

    bool HitTest(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
    void CallDrag() {
        if (Drag) Drag(*this);
    }
};

// The title bar's drag routine: reports how far the pointer moved, then puts
// LastX/Y back to PreviousX/Y, because the window moves under the pointer and
// the grab point stays fixed in window coordinates. moveWindowBy(dx, dy) moves
// the window.
TMoveZone::DragRoutine TitleDragRoutine(std::function<void(int dx, int dy)> moveWindowBy);

// One step of the volume bar drag on `volume` (0 .. Bottom - Top): LastY is
// clamped into [Top, Bottom] and becomes the reference of the next step; the
// volume moves one step per pixel, up raises it. Returns whether it changed.
bool VolumeDragStep(TMoveZone& zone, int& volume);

// The volume bar's drag routine: VolumeDragStep on the volume `volume()`
// gives, then setVolume(the new one) when it changed.
TMoveZone::DragRoutine VolumeDragRoutine(std::function<int()> volume,
                                         std::function<void(int volume)> setVolume);
