// The main window, `TForm1`: owner of the player.
//
// It holds the emulated machine (one `SoundEngine` for the whole run), the open
// song file and its song list, the wave output with its two sample buffers,
// and the user-level playback actions (open and play, play, stop, pause,
// previous, next). Everything runs on the GUI thread: the wave device's
// completion notices arrive as events, and `wmdone` refills the returned
// buffer by running the emulation.
//
// The window's face is the skin (ui/skin.h): a borderless 240x152 window whose
// back buffer `SkinBitmap` the zones paint into; mouse presses, drags and
// releases go to the zones, keys map to the actions and the volume, and files
// dropped on the window are played (form1_face.cpp). The player parts reach
// the face only through `PaintLabels`, `PaintTitleLabel` and `PrintNumber`.
#pragma once

#include "platform/opendialog.h"
#include "platform/single_instance.h" // start-up options and hand-over
#include "platform/waveout.h"
#include "songs/songs.h"
#include "ui/skin.h"

#include <QPoint>
#include <QPointer> // start-up options and hand-over
#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <memory>

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QEvent;
class QKeyEvent;
class QMouseEvent;
class QPaintEvent;
class QShowEvent;
class TForm2; // the Parameters dialog (form2.h)

// Process priority classes as the settings store them.
constexpr int32_t NormalPriorityClass = 0x20;
constexpr int32_t HighPriorityClass = 0x80;

// The application's title: caption of the general error report.
inline constexpr const char* ApplicationTitle = "Zirrafon";
// The main window's caption; it identifies the running player.
inline constexpr const char* MainWindowCaption = "Zirrafon v1.0";

class TForm1 : public QWidget {
    Q_OBJECT

  public:
    // `waveOutFactory` makes the wave device at each playback start (the real
    // audio sink unless a test passes a fake).
    explicit TForm1(WaveOutFactory waveOutFactory = CreateAudioSinkWaveOut,
                    QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- The emulated machine and the song file ----------------------------
    std::unique_ptr<SoundEngine> Engine; // the one Z80 and chip of the run
    SongList List;                       // FileKind, FileOpen, SongFile, CurrentSong, ...

    // ---- Wave output ---------------------------------------------------------
    std::unique_ptr<int16_t[]> Buffer1; // BufferValues 16-bit values (65,280 bytes)
    std::unique_ptr<int16_t[]> Buffer2;
    WaveHeader Header1;
    WaveHeader Header2;
    WaveOutFactory WaveOutMaker;
    std::unique_ptr<WaveOutDevice> WaveOut; // open while `Playing`
    uint64_t DeviceGeneration = 0;          // counts device opens and closes
    bool Playing = false;
    bool Paused = false;
    int32_t PriorityClass = NormalPriorityClass;

    // ---- Sound settings --------------------------------------------------------
    int ChipMode = DefaultChipMode; // 0..13: chip type (even AY, odd YM) and layout
    int32_t Volume = VolumeZoneHeight;

    // ---- What the face shows ---------------------------------------------------
    QString AuthorLabelText; // the texts of the author, misc and title labels
    QString MiscLabelText;
    QString TitleLabelText;
    int32_t SongNumberShown = 0; // 1-based number of the current song
    int32_t SongCountShown = 0;
    FileOpenDialog OpenDialog1;

    // ---- Wave output cycle -------------------------------------------------------
    // Opens the device, resets the engine, fills and queues both buffers.
    void PlayCurrent();
    // A buffer came back from the device: refill it and queue it again.
    void wmdone(WaveHeader* header);
    // Tears the device down; drops completion notices still queued.
    void StopPlaying();
    void SetPriority(int32_t priorityClass);
    // Closing the window: stop, close the song file, normal priority.
    void FormClose();

    // ---- User-level playback actions -----------------------------------------------
    void OpenAndPlay(const QString& fileName);
    void OpenButtonAction();
    void PlayButtonAction();
    void StopButtonAction();
    void PauseButtonAction();
    void PrevButtonAction();
    void NextButtonAction();

    // ---- Face hooks ------------------------------------------------------------------
    // Shows the three label texts at once, each from its first character.
    void PaintLabels();
    // Shows the title label's text at once (an AY song start names its song).
    void PaintTitleLabel();
    // Shows the song number (1) or the song count (2) at once: three digits
    // from the skin's digit strip at (48 * which, 104).
    void PrintNumber(int which);

    // ---- The skinned face (form1_face.cpp) ----------------------------------------------
    // The skin: `SkinBitmap` (the back buffer), the font, digit and volume
    // images and every zone. Made by FormCreate, freed by FormDestroy.
    std::unique_ptr<Skin> FaceSkin;
    TLabelZone* AuthorLabel = nullptr; // the zones of the face, owned by FaceSkin
    TLabelZone* MiscLabel = nullptr;
    TLabelZone* TitleLabel = nullptr;
    TMoveZone* TitleZone = nullptr;  // drags the window
    TMoveZone* VolumeZone = nullptr; // sets and drags the volume
    QPoint LastPress;                // the last mouse press, for the double click

    // Sound settings, skin and zones, volume 39, drops; called by the constructor.
    void FormCreate();
    // Frees the zones and images; called by the destructor.
    void FormDestroy();
    // The mouse as the face sees it: `buttons` is the state after the event,
    // `secondPress` marks the second press of a double click.
    void FormMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                       Qt::KeyboardModifiers modifiers, bool secondPress, int x, int y);
    void FormMouseMove(Qt::MouseButtons buttons, int x, int y);
    void FormMouseUp(int x, int y);
    void FormDblClick();
    // Volume keys act on every press, auto-repeat included.
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // Action keys act once, when the key is released.
    void FormKeyUp(int key, Qt::KeyboardModifiers modifiers);
    // Shows `Volume` in the volume bar and applies it to the sound.
    void DrawVolume();
    // The About box.
    void ShowAbout();
    // Files dropped on the window: stops, then plays the first local file.
    void DropFiles(const QList<QUrl>& urls);

    // ---- Start-up options and hand-over (form1_commands.cpp) --------------------
    // The Parameters dialog; set when it is made, right after this window.
    QPointer<TForm2> Form2;
    // Loads a skin (mode 0: the built-in one, 1: the BMP file at `path`);
    // false, with nothing changed, when it cannot be read. The skinned face
    // installs it; while it is empty no skin can be loaded.
    std::function<bool(int mode, const QString& path)> SkinLoader;
    // `SkinLoader`, and on success both numbers redrawn and the window repainted.
    bool ChangeSkin(int mode, const QString& path);
    // The `PendingFile` flag and name: the last existing file of a batch.
    bool PendingFileSet = false;
    QString PendingFile;
    // Where the current argument text is: a buffer of a local batch, or the
    // hand-over area while a hand-over batch is open.
    enum class ArgumentSource { None, Local, Area };
    ArgumentSource CurrentArgument = ArgumentSource::None;
    QByteArray LocalArgument;
    HandOverArea Area;
    // The batch messages: (0, 1) / (0, 2) begin, (1, 0) one argument,
    // (0, 0) / (0, 3) end.
    void CommandLineInterpreter(int wParam, int lParam);
    // One argument of a local batch, as the message (1, 0).
    void DeliverArgument(const QByteArray& argument);
    // The stored "Startup" options, then `commandLine`, as two local batches.
    void CheckCommandLineAndReg(const QStringList& commandLine);
    // A sender went away in the middle of its hand-over: let go of the area.
    void AbandonHandOver();
    // Shows the Parameters dialog modally.
    void ShowParameters();
    // An option or a file name of a batch.
    void InterpretArgument(const QString& argument);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // Shows a failed device call; false when, while the box was open, another
    // action closed or replaced the device, which ends the caller's steps.
    bool ReportWaveError(WaveResult code, const char* caption);
    void CloseDevice(); // forgets the device after its close
    // The bodies of the actions; SongIOError passes through them and is
    // reported once by the action the user started.
    void OpenAndPlayFile(const QString& fileName);
    void PlaySong();
    template <typename Body> void ReportingIOErrors(Body body);
    bool CentredOnce = false; // placed in the centre of the screen at the first show
};

// The extension of a file name as the player compares it: from the last "."
// after the last "/" on, without blanks and control characters at either end,
// in lower case; empty when there is none.
QString PlayerFileExtension(const QString& fileName);
