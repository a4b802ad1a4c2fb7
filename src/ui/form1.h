// The main window, `TForm1`: owner of the player.
//
// It holds the emulated machine (one `SoundEngine` for the whole run), the open
// song file and its song list, the wave output with its two sample buffers,
// and the user-level playback actions (open and play, play, stop, pause,
// previous, next). Everything runs on the GUI thread: the wave device's
// completion notices arrive as events, and `wmdone` refills the returned
// buffer by running the emulation.
//
// The window's face is still a plain one that prints the texts and numbers;
// the skin, zones, mouse and keys are added around the player parts, which
// are grouped below so that the face only needs `PaintLabels`,
// `PrintNumber` and the actions.
#pragma once

#include "platform/opendialog.h"
#include "platform/waveout.h"
#include "platform/single_instance.h" // start-up options and hand-over
#include "songs/songs.h"

#include <QString>
#include <QPointer> // start-up options and hand-over
#include <QWidget>
#include <cstdint>
#include <memory>

class QCloseEvent;
class QEvent;
class QPaintEvent;
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
    // Shows the three label texts at once.
    void PaintLabels();
    // Shows the song number (1) or the song count (2) at once.
    void PrintNumber(int which);

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
};

// The extension of a file name as the player compares it: from the last "."
// after the last "/" on, without blanks and control characters at either end,
// in lower case; empty when there is none.
QString PlayerFileExtension(const QString& fileName);
