// The main window's face: the skin as the window's back buffer, the routing of
// mouse presses, drags and releases to the zones, the keys, the song number,
// song count and volume bar, the About box and files dropped on the window.
//
// Where it knowingly differs from the classic skinned player:
// - There is no device context held for the window's life: a direct paint
//   updates the back buffer `SkinBitmap` and asks Qt to repaint that rectangle.
// - The action letters (Z X C V B L O P, and P with Ctrl) act by their place on
//   the keyboard, whatever the layout: the key that carries Z on a US
//   keyboard means "previous" under a Russian, Greek or Hebrew layout too.
//   The place is the native scan code, which on X11 and Wayland is the xkb
//   key code (the evdev code + 8), the same under every layout. The first
//   layout's keysym would not do: with one non-Latin layout alone there is
//   no Latin keysym at all. Where the platform gives no such code (the
//   offscreen platform, synthetic events) Qt's key stands in. The other keys
//   are Qt keys: the arrow keys, F1, and the numeric-pad digits only with the
//   numeric pad's marker (so the digits of the main row do nothing).
// - Qt reports an auto-repeated key as a release followed by a press; the
//   releases of auto-repeat are ignored, so an action runs once per key press
//   while the volume keys still repeat.
// - A drop is acted on right after the drag has ended, not inside it, so the
//   program the files came from is never held up by a message box; dropped
//   names keep their full path, however long.
// - A press on the title bar asks the window system to move the window
//   (`SystemMove`); only where the platform refuses does the title zone move
//   it by itself, following the pointer's moves.
// - Song files are opened read-only by the song readers themselves, and the
//   program entry makes the program's folder the current one before the
//   window exists, so creation has nothing to do for either.
#include "platform/file_names.h"
#include "platform/messages.h"
#include "ui/main_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QStringList>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <utility>

// A static library's resources are registered by the code that uses them,
// outside any namespace.
static void RegisterIconResource() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

QIcon ApplicationIcon() {
    RegisterIconResource();
    QIcon bundled;
    for (int size : {16, 32, 48, 64, 128, 256})
        bundled.addFile(QStringLiteral(":/icons/%1x%1/zirrafon.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("zirrafon"), bundled);
}

namespace {

constexpr int FaceWidth = 240;
constexpr int FaceHeight = 152;

// The label and move zones of the face; the button zones come with every
// skin load (ui/skin.cpp).
struct ZoneRect {
    int Left, Top, Right, Bottom;
};
constexpr ZoneRect AuthorRect{48, 32, 232, 48};
constexpr ZoneRect MiscRect{48, 56, 232, 72};
constexpr ZoneRect TitleRect{48, 80, 232, 96};
constexpr ZoneRect TitleBarRect{0, 0, 240, 26};
constexpr ZoneRect VolumeBarRect{217, 104, 231, 143};

// Where the song number (which = 1) and the song count (which = 2) are drawn:
// x = 48 * which, y = NumberTop, three 8x16 digits.
constexpr int NumberTop = 104;
constexpr int DigitWidth = 8;
constexpr int DigitHeight = 16;

constexpr Qt::KeyboardModifiers ShiftCtrlAlt =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;

// The xkb key codes of the places of the action letters on a US keyboard.
struct KeyPlace {
    quint32 Code;
    int Key;
};
constexpr KeyPlace ActionLetterPlaces[] = {{52, Qt::Key_Z}, {53, Qt::Key_X}, {54, Qt::Key_C},
                                           {55, Qt::Key_V}, {56, Qt::Key_B}, {46, Qt::Key_L},
                                           {33, Qt::Key_P}, {32, Qt::Key_O}};

// X11 and Wayland report the xkb key code as the native scan code.
bool ScanCodesAreKeyPlaces() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

// The key the face acts on: an action letter by the place of the key pressed,
// any other key as Qt names it.
int KeyByPlace(const QKeyEvent& event) {
    const int key = event.key();
    if (event.nativeScanCode() == 0 || !ScanCodesAreKeyPlaces()) return key;
    for (const KeyPlace& place : ActionLetterPlaces)
        if (place.Code == event.nativeScanCode()) return place.Key;
    // The layout put an action letter on another place: not an action key.
    for (const KeyPlace& place : ActionLetterPlaces)
        if (place.Key == key) return Qt::Key_unknown;
    return key;
}

// The voice that the key names: 1 to 4 for A, B, C and the beeper, by the
// key's place where the platform tells it (Shift changes the character, not
// the place); -1 for any other key, and for the numeric pad's keys.
int VoiceOfKey(const QKeyEvent& event) {
    if (event.modifiers() & Qt::KeypadModifier) return -1;
    if (event.nativeScanCode() != 0 && ScanCodesAreKeyPlaces()) {
        constexpr quint32 FirstDigitPlace = 10; // the xkb key code of "1"
        const quint32 code = event.nativeScanCode();
        return code >= FirstDigitPlace && code < FirstDigitPlace + VoiceCount
                   ? static_cast<int>(code - FirstDigitPlace)
                   : -1;
    }
    const int key = event.key();
    return key >= Qt::Key_1 && key < Qt::Key_1 + VoiceCount ? key - Qt::Key_1 : -1;
}

// How far Left and Right move in the song.
constexpr uint64_t SeekStep = 5 * OutputRate;

std::string LabelBytes(const QString& text) { return text.toLatin1().toStdString(); }

// Runs a zone's action from a copy: the action may load a new skin, which
// frees the zone (and its stored action) while it runs.
void RunAction(const std::function<void()>& action) {
    if (const std::function<void()> run = action) run();
}

bool HasLocalFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

} // namespace

// ---- Creation and destruction -------------------------------------------------------

void MainWindow::OnCreate() {
    // No frame and no caption bar: the skin is the whole face. The window takes
    // every key itself (it has no children that could take them first).
    setWindowFlag(Qt::FramelessWindowHint);
    setFixedSize(FaceWidth, FaceHeight);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowIcon(ApplicationIcon()); // task bars and switchers show it

    // The player, its settings (beeper level 16384, volume 39, chip mode 2,
    // normal priority class) and the sample buffers exist already.
    SkinButtonActions actions;
    actions.Close = [this] { close(); };
    actions.Minimize = [this] { showMinimized(); };
    actions.Open = [this] { OpenButtonAction(); };
    actions.Play = [this] { Playback.Play(); };
    actions.Stop = [this] { Playback.Stop(); };
    actions.Pause = [this] { Playback.Pause(); };
    actions.Previous = [this] { Playback.Previous(); };
    actions.Next = [this] { Playback.Next(); };
    actions.Parameters = [this] { emit ParametersAsked(); };
    actions.About = [this] { ShowAbout(); };
    FaceSkin = std::make_unique<Skin>(std::move(actions), [this](const QRect& r) { update(r); });
    const auto addLabel = [this](const ZoneRect& r) {
        return FaceSkin->AddLabelZone(r.Left, r.Top, r.Right, r.Bottom);
    };
    AuthorLabel = addLabel(AuthorRect);
    MiscLabel = addLabel(MiscRect);
    TitleLabel = addLabel(TitleRect);
    FaceSkin->LoadSkin(SkinSource::BuiltIn, QString());
    SystemMove = [this] {
        QWindow* window = windowHandle();
        return window != nullptr && window->startSystemMove();
    };
    const ZoneRect& t = TitleBarRect;
    TitleZone = FaceSkin->AddMoveZone(
        t.Left, t.Top, t.Right, t.Bottom,
        TitleDragRoutine([this](int dx, int dy) { move(pos() + QPoint(dx, dy)); }));
    const ZoneRect& v = VolumeBarRect;
    VolumeZone =
        FaceSkin->AddMoveZone(v.Left, v.Top, v.Right, v.Bottom,
                              VolumeDragRoutine([this] { return Settings.Volume(); },
                                                [this](int volume) { DrawVolume(volume); }));
    SkinLoader = [this](SkinSource source, const QString& path) {
        return FaceSkin->LoadSkin(source, path);
    };

    setAcceptDrops(true);
}

void MainWindow::OnDestroy() {
    // The skin frees the move zones, then the label zones, then the button
    // zones with the strips, then the back buffer.
    SkinLoader = nullptr;
    AuthorLabel = MiscLabel = TitleLabel = nullptr;
    TitleZone = VolumeZone = nullptr;
    FaceSkin.reset();
}

void MainWindow::RestorePosition(QPoint topLeft) {
    RestoredAt = topLeft;
    if (CentredOnce) move(topLeft);
}

void MainWindow::showEvent(QShowEvent* event) {
    if (!CentredOnce && !event->spontaneous()) {
        CentredOnce = true;
        const QPoint titleBar = RestoredAt ? *RestoredAt + QPoint(width() / 2, 8) : QPoint();
        if (RestoredAt && QGuiApplication::screenAt(titleBar) != nullptr) {
            move(*RestoredAt);
        } else if (const QScreen* s = screen()) {
            const QRect g = s->geometry();
            move(g.left() + (g.width() - width()) / 2, g.top() + (g.height() - height()) / 2);
        }
    }
    QWidget::showEvent(event);
}

// ---- Painting ---------------------------------------------------------------------------

void MainWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (!FaceSkin) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    FaceSkin->PaintZones();
    const QImage& face = FaceSkin->SkinBitmap;
    // A skin smaller than the face leaves the rest undefined; show it black.
    if (face.width() < width() || face.height() < height()) painter.fillRect(rect(), Qt::black);
    painter.drawImage(QPoint(0, 0), face, rect());
}

void MainWindow::PaintLabels() {
    if (!FaceSkin) return;
    const NowPlayingInfo now = Playback.NowPlaying();
    AuthorLabel->SetText(LabelBytes(now.Author));
    MiscLabel->SetText(LabelBytes(now.Misc));
    TitleLabel->SetText(LabelBytes(now.Title));
    AuthorLabel->Paint(true);
    MiscLabel->Paint(true);
    TitleLabel->Paint(true);
}

void MainWindow::PaintTitleLabel() {
    if (!FaceSkin) return;
    TitleLabel->SetText(LabelBytes(Playback.NowPlaying().Title));
    TitleLabel->Paint(true);
}

void MainWindow::PrintNumber(int which) {
    if (!FaceSkin) return;
    const NowPlayingInfo now = Playback.NowPlaying();
    const int32_t value = which == 1 ? now.Number : now.Count;
    QString text = QString::number(value);
    if (value < 100) text.prepend(QLatin1Char('0'));
    if (value < 10) text.prepend(QLatin1Char('0'));
    const int left = 48 * which;
    int x = left;
    for (qsizetype i = 0; i < 3 && i < text.size(); ++i) {
        const int d = text[i].digitValue();
        if (d >= 0)
            FaceSkin->CopyToBuffer(FaceSkin->DigitStrip,
                                   QRect(DigitWidth * d, 0, DigitWidth, DigitHeight),
                                   QPoint(x, NumberTop));
        x += DigitWidth;
    }
    FaceSkin->UpdateScreen(QRect(left, NumberTop, 3 * DigitWidth, DigitHeight));
}

void MainWindow::DrawVolume(int volume) {
    if (!FaceSkin) return;
    Settings.SetVolume(volume); // the bar follows an actual change itself
    PaintVolumeBar();
}

void MainWindow::PaintVolumeBar() {
    if (!FaceSkin) return;
    const int height = VolumeZone->Bottom - VolumeZone->Top; // 39
    const int lit = std::clamp(Settings.Volume(), 0, height);
    const int width = VolumeZone->Right - VolumeZone->Left;
    // The lit part grows from the bottom; above it the bar's background colour.
    FaceSkin->CopyToBuffer(FaceSkin->VolumeImage, QRect(0, height - lit, width, lit),
                           QPoint(VolumeZone->Left, VolumeZone->Bottom - lit));
    FaceSkin->FillBuffer(QRect(VolumeZone->Left, VolumeZone->Top, width, height - lit),
                         FaceSkin->SkinBrush);
    FaceSkin->UpdateScreen(QRect(VolumeZone->Left, VolumeZone->Top, width, height));
}

void MainWindow::ShowAbout() {
    const QStringList lines = {
        QStringLiteral("Zirrafon"),
        QStringLiteral("A player of .ay, .aym, .ym, .vtx, .psg, .pt3 and .pt2 chip music"),
        QStringLiteral("Version 1.0"),
        QStringLiteral("Z80 and sound chip emulation: Zirrafon project"),
        QStringLiteral("Skin and icons: Zirrafon project, font Terminus (OFL)"),
        QStringLiteral("Demo tune and beeper piece: Zirrafon project"),
        QStringLiteral("Sound output through PulseAudio or PipeWire"),
        QStringLiteral("Built with Qt 6"),
    };
    ShowMessage(this, lines.join(QLatin1Char('\r')), QStringLiteral("About program"),
                MessageIcon::None);
}

// ---- Mouse ---------------------------------------------------------------------------------

void MainWindow::OnMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                             Qt::KeyboardModifiers modifiers, bool secondPress, int x, int y) {
    LastPress = QPoint(x, y);
    if (!FaceSkin) return;
    // Exactly the left button, without Shift, Ctrl or Alt, and not the second
    // press of a double click.
    if (button != Qt::LeftButton || buttons != Qt::LeftButton || (modifiers & ShiftCtrlAlt) ||
        secondPress)
        return;

    if (VolumeZone->HitTest(x, y)) {
        DrawVolume(VolumeZone->Bottom - y);
    }
    if (TButtonZone* b = FaceSkin->ButtonZones.FindAt(x, y)) {
        b->Captured = true;
        b->Press();
        return;
    }
    if (TMoveZone* m = FaceSkin->MoveZones.FindAt(x, y)) {
        if (m == TitleZone && SystemMove && SystemMove()) return; // the system moves it
        m->Dragging = true;
        m->LastX = x;
        m->LastY = y;
        return;
    }
    if (TLabelZone* l = FaceSkin->LabelZones.FindAt(x, y)) {
        l->Dragging = true;
        l->LastX = x;
    }
}

void MainWindow::OnMouseMove(Qt::MouseButtons buttons, int x, int y) {
    if (!FaceSkin || !(buttons & Qt::LeftButton)) return;
    if (TButtonZone* b =
            FaceSkin->ButtonZones.Find([](const TButtonZone& z) { return z.Captured; })) {
        if (b->HitTest(x, y))
            b->Press();
        else
            b->Release();
        return;
    }
    if (TMoveZone* m = FaceSkin->MoveZones.Find([](const TMoveZone& z) { return z.Dragging; })) {
        m->PreviousX = m->LastX;
        m->PreviousY = m->LastY;
        m->LastX = x;
        m->LastY = y;
        m->CallDrag();
        return;
    }
    if (TLabelZone* l = FaceSkin->LabelZones.Find([](const TLabelZone& z) { return z.Dragging; })) {
        l->PreviousX = l->LastX;
        l->LastX = x;
        l->Scroll();
    }
}

void MainWindow::OnMouseUp(int x, int y) {
    if (!FaceSkin) return;
    if (TButtonZone* b =
            FaceSkin->ButtonZones.Find([](const TButtonZone& z) { return z.Captured; })) {
        b->Captured = false;
        b->Release();
        if (b->HitTest(x, y)) RunAction(b->Action);
        return;
    }
    FaceSkin->MoveZones.ForEach([](TMoveZone& z) { z.Dragging = false; });
    FaceSkin->LabelZones.ForEach([](TLabelZone& z) { z.Dragging = false; });
}

void MainWindow::OnDoubleClick() {
    if (!FaceSkin) return;
    if (TButtonZone* b = FaceSkin->ButtonZones.FindAt(LastPress.x(), LastPress.y())) {
        b->Captured = false;
        b->Release();
        RunAction(b->Action);
    }
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    OnMouseDown(event->button(), event->buttons(), event->modifiers(), false, p.x(), p.y());
}

// The double click comes before the second press, which captures nothing: a
// double click on a button runs its action once for the first click and once
// for the double click.
void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) OnDoubleClick();
    const QPoint p = event->position().toPoint();
    OnMouseDown(event->button(), event->buttons(), event->modifiers(), true, p.x(), p.y());
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    OnMouseMove(event->buttons(), p.x(), p.y());
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    OnMouseUp(p.x(), p.y());
}

// ---- Keys ------------------------------------------------------------------------------------

void MainWindow::OnKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (!FaceSkin || (modifiers & ShiftCtrlAlt)) return;
    const bool keypad = modifiers & Qt::KeypadModifier;
    if (key == Qt::Key_Left && !keypad) {
        const uint64_t elapsed = Playback.Elapsed();
        Playback.Seek(elapsed > SeekStep ? elapsed - SeekStep : 0);
    } else if (key == Qt::Key_Right && !keypad) {
        Playback.Seek(Playback.Elapsed() + SeekStep);
    } else if (key == Qt::Key_Up || (keypad && key == Qt::Key_8)) {
        if (Settings.Volume() < VolumeZone->Bottom - VolumeZone->Top) {
            DrawVolume(Settings.Volume() + 1);
        }
    } else if (key == Qt::Key_Down || (keypad && key == Qt::Key_2)) {
        if (Settings.Volume() > 0) {
            DrawVolume(Settings.Volume() - 1);
        }
    }
}

void MainWindow::OnKeyUp(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers held = modifiers & ShiftCtrlAlt;
    // Ctrl+P counts however its keys come up: P pressed under Ctrl alone is
    // enough, also when Ctrl is let go first.
    if (key == Qt::Key_P && std::exchange(ParametersKeyDown, false) && !held) {
        emit ParametersAsked();
        return;
    }
    if (held == Qt::ControlModifier) {
        if (key == Qt::Key_P) emit ParametersAsked();
        return;
    }
    if (held) return;
    const bool keypad = modifiers & Qt::KeypadModifier;
    if (key == Qt::Key_Z || (keypad && key == Qt::Key_4))
        Playback.Previous();
    else if (key == Qt::Key_X || (keypad && key == Qt::Key_5))
        Playback.Play();
    else if (key == Qt::Key_C || (keypad && key == Qt::Key_6))
        Playback.Next();
    else if (key == Qt::Key_V)
        Playback.Pause();
    else if (key == Qt::Key_B)
        Playback.Stop();
    else if (key == Qt::Key_L || (keypad && key == Qt::Key_0))
        OpenButtonAction();
    else if (key == Qt::Key_F1)
        ShowAbout();
    else if (key == Qt::Key_P)
        emit PlaylistAsked();
    else if (key == Qt::Key_O)
        ToggleVoicesView();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // The song list menu: the Menu key, or Shift+F10, as everywhere else.
    const Qt::KeyboardModifiers held = event->modifiers() & ShiftCtrlAlt;
    if ((event->key() == Qt::Key_Menu && !held) ||
        (event->key() == Qt::Key_F10 && held == Qt::ShiftModifier)) {
        ShowContextMenu(mapToGlobal(rect().center()));
        return;
    }
    if (!event->isAutoRepeat() && KeyByPlace(*event) == Qt::Key_P)
        ParametersKeyDown = held == Qt::ControlModifier;
    // 1-4 mute or bring back a voice; with Shift they play it alone.
    if (const int voice = VoiceOfKey(*event); voice >= 0 && !event->isAutoRepeat()) {
        if (!held)
            Playback.ToggleMute(voice);
        else if (held == Qt::ShiftModifier)
            Playback.Solo(voice);
        return;
    }
    OnKeyDown(event->key(), event->modifiers());
}

void MainWindow::wheelEvent(QWheelEvent* event) {
    // Over the volume bar, a notch of the wheel is a step of the volume.
    const QPoint p = event->position().toPoint();
    const int notch = event->angleDelta().y();
    if (!FaceSkin || !VolumeZone->HitTest(p.x(), p.y()) || notch == 0) {
        event->ignore();
        return;
    }
    const int volume = std::clamp(Settings.Volume() + (notch > 0 ? 1 : -1), 0,
                                  VolumeZone->Bottom - VolumeZone->Top);
    if (volume != Settings.Volume()) {
        DrawVolume(volume);
    }
    event->accept();
}

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) return;
    OnKeyUp(KeyByPlace(*event), event->modifiers());
}

// ---- Dropped files ----------------------------------------------------------------------------

void MainWindow::DropFiles(const QList<QUrl>& urls) {
    Playback.Stop();
    for (const QUrl& url : urls)
        if (url.isLocalFile()) {
            Playback.OpenAndPlay(PathOfUrl(url));
            return;
        }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (HasLocalFile(event->mimeData())) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (!HasLocalFile(event->mimeData())) return;
    event->acceptProposedAction();
    QTimer::singleShot(0, this, [this, urls = event->mimeData()->urls()] { DropFiles(urls); });
}
