// The main window, `MainWindow`: the player's face.
//
// The player itself (engine, song file, buffers, wave device, actions) is a
// `Player` (playback/player.h) that the program's composition root owns
// (app/player_app.h); the window maps mouse presses and keys to its actions
// and shows what it reports: the three label texts, the song number and
// count, its failures as message boxes.
//
// The face is the skin (ui/skin.h): a borderless 240x152 window whose back
// buffer `SkinBitmap` the zones paint into; mouse presses, drags and releases
// go to the zones, keys map to the actions and the volume, and files dropped
// on the window are played (main_window_face.cpp). The face is drawn only through
// `PaintLabels`, `PaintTitleLabel`, `PrintNumber` and `DrawVolume`.
#pragma once

#include "platform/opendialog.h"
#include "playback/player.h"
#include "playback/song_export.h"
#include "ui/skin.h"

#include <QIcon>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QCloseEvent;
class QContextMenuEvent;
class QMenu;
class QProgressDialog;
class QTimer;
class QDragEnterEvent;
class QDropEvent;
class QEvent;
class QKeyEvent;
class QMouseEvent;
class QPaintEvent;
class QShowEvent;
class QWheelEvent;
class PositionBar;
class VoicesView;

// The main window's caption; it identifies the running player.
inline constexpr const char* MainWindowCaption = "Zirrafon v1.0";

// The program's icon: "zirrafon" from the icon theme where the package put it
// there, else the copy built into the program.
QIcon ApplicationIcon();

class MainWindow : public QWidget {
    Q_OBJECT

  public:
    // Shows `player` and acts on it; exports go through `exporter`.
    MainWindow(Player& player, SongExport& exporter, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Loads a skin (mode 0: the built-in one, 1: the BMP file at `path`);
    // false, with nothing changed, when it cannot be read. The face installs
    // one on its own skin; tests replace it.
    std::function<bool(SkinSource source, const QString& path)> SkinLoader;
    // `SkinLoader`, and on success both numbers redrawn and the window repainted.
    bool ChangeSkin(SkinSource source, const QString& path);
    // The skin: `SkinBitmap` (the back buffer), the font, digit and volume
    // images and every zone.
    std::unique_ptr<Skin> FaceSkin;
    // Hands a press on the title zone to the window system, which then moves
    // the window with the pointer (on Wayland only it can); false when the
    // platform refuses (no window manager that offers it, the offscreen
    // platform), and the title zone moves the window itself. Tests replace it.
    std::function<bool()> SystemMove;
    // The dialogs of the open button and of "Export song to WAV…".
    FileOpenDialog OpenDialog;
    FileOpenDialog ExportDialog;
    // The song list menu as it would show now: the file's songs (number,
    // name, m:ss where the file gives a length; the current one checked),
    // "Follow song lengths", "Export song to WAV…", "Parameters…", "About"
    // and the recent files. Its actions act through the player, as buttons
    // and keys do.
    std::unique_ptr<QMenu> BuildContextMenu();
    // The window's tooltip: "m:ss / m:ss" (played / the song's length) or
    // "m:ss" when the file gives no length; kept up to date while shown.
    QString ElapsedText() const;
    // The tooltip: the title, author and misc texts in full (the labels
    // show only as much as fits), then the time played.
    QString TooltipText() const;
    // Where the window stood at the end of the last run: it opens there
    // instead of in the centre, unless no screen shows its title bar there.
    void RestorePosition(QPoint topLeft);

  signals:
    // The Parameters button, Ctrl+P or the menu: whoever owns the dialog shows it.
    void ParametersAsked();
    // The P key or the menu's "Playlist…": whoever owns the playlist window shows it.
    void PlaylistAsked();

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    Player& Playback;
    PlayerSettings& Settings; // the player's
    SongExport& Export;
    QPointer<QProgressDialog> ExportProgress;

    TLabelZone* AuthorLabel = nullptr; // the zones of the face, owned by FaceSkin
    TLabelZone* MiscLabel = nullptr;
    TLabelZone* TitleLabel = nullptr;
    TMoveZone* TitleZone = nullptr;        // drags the window
    TMoveZone* VolumeZone = nullptr;       // sets and drags the volume
    QPoint LastPress;                      // the last mouse press, for the double click
    bool ParametersKeyDown = false;        // P is down, pressed under Ctrl alone
    std::unique_ptr<PositionBar> Position; // made when first asked for
    std::unique_ptr<VoicesView> Voices;    // made when first asked for

    // ---- What the player tells the face ---------------------------------------------
    void ShowNowPlaying(NowPlayingParts parts);
    // Shows the three label texts at once, each from its first character.
    void PaintLabels();
    // Shows the title label's text at once (an AY song start names its song).
    void PaintTitleLabel();
    // Shows the song number (1) or the song count (2) at once: three digits
    // from the skin's digit strip at (48 * which, 104).
    void PrintNumber(int which);

    // ---- The skinned face (main_window_face.cpp) ----------------------------------------------
    // Sound settings, skin and zones, volume 39, drops; called by the constructor.
    void OnCreate();
    // Frees the zones and images; called by the destructor.
    void OnDestroy();
    // The mouse as the face sees it: `buttons` is the state after the event,
    // `secondPress` marks the second press of a double click.
    void OnMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                     Qt::KeyboardModifiers modifiers, bool secondPress, int x, int y);
    void OnMouseMove(Qt::MouseButtons buttons, int x, int y);
    void OnMouseUp(int x, int y);
    void OnDoubleClick();
    // Volume keys act on every press, auto-repeat included.
    void OnKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // Action keys act once, when the key is released.
    void OnKeyUp(int key, Qt::KeyboardModifiers modifiers);
    // Sets the volume (the sound follows) and shows it in the volume bar.
    void DrawVolume(int volume);
    // Shows the volume bar only.
    void PaintVolumeBar();
    void OpenButtonAction();
    // The About box.
    void ShowAbout();
    // Shows the voices view, or hides it when it is shown (O, the menu).
    void ToggleVoicesView();
    // Files dropped on the window: stops, then plays the first local file.
    void DropFiles(const QList<QUrl>& urls);

    // ---- The song list menu (right button, Menu key, Shift+F10) ---------------------
    void ShowContextMenu(const QPoint& globalPosition);
    // A recent file: read while the song plays on, then played; one that is
    // gone leaves the list with a message naming it.
    void OpenRecentFile(const QString& path);
    // Asks where to (a save dialog on STEM-NN.wav in the song's folder) and
    // renders the current song there on a worker thread with a progress
    // dialog that can cancel it.
    void ExportSong();

    QTimer* TooltipTimer = nullptr; // refreshes the tooltip while it shows
    QPoint TooltipAt;
    bool CentredOnce = false;         // placed in the centre of the screen at the first show
    std::optional<QPoint> RestoredAt; // or where it was at the end of the last run
};
