// The main window `TForm1`: the wave output cycle and the user-level playback
// actions (the skinned face, mouse, keys and drops are in form1_face.cpp).
//
// Where it knowingly differs from a classic wave-out player:
// - The completion notice is a posted Qt event; `StopPlaying` removes the
//   notices still queued for this window, so no refill runs for a closed device.
// - A song file whose first song lies beyond its song count starts on song 0.
// - Priority classes map to nice values (normal 0, high -10); an ordinary user
//   may not raise the priority, and the result is not checked.
// - A message box runs the event loop, so another action (a stop, a file
//   handed over) can run while a device failure is shown; the interrupted
//   action then ends instead of working on a device that is no longer its own.
// - Song texts are bytes without a code page; each byte becomes one character
//   (Latin-1), so the face can map them back to the skin font one to one.
#include "ui/form1.h"

#include "platform/messages.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <sys/resource.h>

namespace {

constexpr uint32_t BufferBytes = 2 * BufferValues; // 65,280

std::string LocalFileName(const QString& name) { return QFile::encodeName(name).toStdString(); }

QString SongText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

QString PlayerFileExtension(const QString& fileName) {
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash) return QString();
    QString ext = fileName.mid(dot);
    qsizetype first = 0, last = ext.size();
    while (first < last && ext[first].unicode() <= ' ') ++first;
    while (last > first && ext[last - 1].unicode() <= ' ') --last;
    return ext.mid(first, last - first).toLower();
}

// ---- Creation and destruction -------------------------------------------------------

TForm1::TForm1(WaveOutFactory waveOutFactory, QWidget* parent)
    : QWidget(parent), Engine(std::make_unique<SoundEngine>()),
      Buffer1(std::make_unique<int16_t[]>(BufferValues)),
      Buffer2(std::make_unique<int16_t[]>(BufferValues)), WaveOutMaker(std::move(waveOutFactory)) {
    setWindowTitle(QString::fromLatin1(MainWindowCaption));
    setFixedSize(240, 152);

    // The program's folder is where the open dialog starts.
    OpenDialog1.Title = QStringLiteral("Open and play file");
    OpenDialog1.Filter =
        QStringLiteral("All supported files|*.ay;*.aym|.AY files|*.ay|.AYM files|*.aym");
    OpenDialog1.InitialDir = QCoreApplication::applicationDirPath();

    FormCreate();
}

TForm1::~TForm1() {
    // The device must not outlive the buffers it refers to.
    if (WaveOut) {
        WaveOut->Reset();
        WaveOut.reset();
    }
    QCoreApplication::removePostedEvents(this, WaveDoneEventType);
    FormDestroy();
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TForm1::FormClose() {
    StopPlaying();
    if (List.FileOpen) {
        List.SongFile.Close();
        List.FileOpen = false;
    }
    SetPriority(NormalPriorityClass);
}

// ---- Wave output cycle ----------------------------------------------------------------

bool TForm1::ReportWaveError(WaveResult code, const char* caption) {
    const uint64_t generation = DeviceGeneration;
    const QString text = WaveOut ? WaveOut->ErrorText(code) : WaveErrorText(code);
    ShowMessage(this, text.left(256), QString::fromLatin1(caption), MessageIcon::None);
    // The box ran the event loop: another start or stop may have taken over.
    return DeviceGeneration == generation;
}

void TForm1::CloseDevice() {
    WaveOut.reset();
    ++DeviceGeneration;
}

void TForm1::PlayCurrent() {
    WaveOut = WaveOutMaker ? WaveOutMaker() : nullptr;
    ++DeviceGeneration;
    if (!WaveOut) {
        ShowMessage(this, WaveErrorText(WaveErrorNoDevice), QStringLiteral("WaveOutOpen"));
        return;
    }
    if (WaveResult r = WaveOut->Open(this); r != WaveNoError) {
        if (ReportWaveError(r, "WaveOutOpen")) CloseDevice();
        return;
    }

    StartPlayback(*Engine, Buffer1.get());

    Engine->Chip.OutputBuffer = Buffer1.get();
    MakeBuffer(*Engine);
    Header1 = WaveHeader{};
    Header1.Data = Buffer1.get();
    Header1.BufferLength = 2u * Engine->Chip.OutputCount;
    if (WaveResult r = WaveOut->PrepareHeader(Header1); r != WaveNoError) {
        if (!ReportWaveError(r, "WaveOutPrepareHeaderN1")) return;
        if (WaveResult c = WaveOut->Close(); c != WaveNoError)
            if (!ReportWaveError(c, "WaveOutClose(Init1)")) return;
        CloseDevice();
        return;
    }
    if (WaveResult r = WaveOut->Write(Header1); r != WaveNoError) {
        if (!ReportWaveError(r, "WaveOutWriteN1")) return;
        if (WaveResult u = WaveOut->UnprepareHeader(Header1); u != WaveNoError)
            if (!ReportWaveError(u, "WaveOutUnprepareHeader1(Init)")) return;
        if (WaveResult c = WaveOut->Close(); c != WaveNoError)
            if (!ReportWaveError(c, "WaveOutClose(Init2)")) return;
        CloseDevice();
        return;
    }
    Playing = true;
    Paused = false;

    Engine->Chip.OutputBuffer = Buffer2.get();
    MakeBuffer(*Engine);
    Header2 = WaveHeader{};
    Header2.Data = Buffer2.get();
    Header2.BufferLength = 2u * Engine->Chip.OutputCount;
    if (WaveResult r = WaveOut->PrepareHeader(Header2); r != WaveNoError)
        if (!ReportWaveError(r, "WaveOutPrepareHeaderN2")) return;
    if (WaveResult r = WaveOut->Write(Header2); r != WaveNoError)
        ReportWaveError(r, "WaveOutWriteN2");
}

void TForm1::wmdone(WaveHeader* header) {
    if (!WaveOut) return; // only a stray notice can get here without a device
    const bool first = header == &Header1;
    WaveHeader& h = first ? Header1 : Header2;
    Engine->Chip.OutputBuffer = first ? Buffer1.get() : Buffer2.get();
    MakeBuffer(*Engine);
    if (WaveResult r = WaveOut->Write(h); r != WaveNoError)
        ReportWaveError(r, first ? "WaveOutWriteN1A" : "WaveOutWriteN2A");
}

void TForm1::StopPlaying() {
    if (!Playing) return;
    if (WaveResult r = WaveOut->Reset(); r != WaveNoError)
        if (!ReportWaveError(r, "WaveOutReset")) return;
    // The buffers the reset handed back must not be refilled, also not if the
    // audio system runs the event loop during the steps below.
    QCoreApplication::removePostedEvents(this, WaveDoneEventType);
    if (WaveResult r = WaveOut->UnprepareHeader(Header1); r != WaveNoError)
        if (!ReportWaveError(r, "WaveOutUnprepareHeader1(Stop)")) return;
    if (WaveResult r = WaveOut->UnprepareHeader(Header2); r != WaveNoError)
        if (!ReportWaveError(r, "WaveOutUnprepareHeader2(Stop)")) return;
    if (WaveResult r = WaveOut->Close(); r != WaveNoError)
        if (!ReportWaveError(r, "WaveOutClose(Stop)")) return;
    CloseDevice();
    Playing = false;
    // Notices of the closed device must not refill anything.
    QCoreApplication::removePostedEvents(this, WaveDoneEventType);
}

void TForm1::PauseButtonAction() {
    if (!Playing) return;
    if (Paused) {
        if (WaveResult r = WaveOut->Restart(); r != WaveNoError)
            ReportWaveError(r, "WaveOutRestart");
        else
            Paused = false;
    } else {
        if (WaveResult r = WaveOut->Pause(); r != WaveNoError)
            ReportWaveError(r, "WaveOutPause");
        else
            Paused = true;
    }
}

void TForm1::SetPriority(int32_t priorityClass) {
    const int niceValue = priorityClass == HighPriorityClass ? -10 : 0;
    (void)setpriority(PRIO_PROCESS, 0, niceValue); // not checked: may need privileges
    PriorityClass = priorityClass;
}

void TForm1::customEvent(QEvent* event) {
    if (event->type() == WaveDoneEventType) {
        wmdone(static_cast<WaveDoneEvent*>(event)->Header);
        return;
    }
    QWidget::customEvent(event);
}

// ---- User-level playback actions ----------------------------------------------------------

template <typename Body> void TForm1::ReportingIOErrors(Body body) {
    try {
        body();
    } catch (const SongIOError& e) {
        ShowMessage(this, QString::fromLocal8Bit(e.what()), QString::fromLatin1(ApplicationTitle),
                    MessageIcon::Error);
    }
}

void TForm1::OpenAndPlay(const QString& fileName) {
    ReportingIOErrors([&] { OpenAndPlayFile(fileName); });
}

void TForm1::OpenAndPlayFile(const QString& fileName) {
    StopPlaying();
    const QString ext = PlayerFileExtension(fileName);
    const FormatErrorSink formatError = [this](const std::string& text) {
        ShowMessage(this, QString::fromStdString(text), QStringLiteral("Error"),
                    MessageIcon::Warning);
    };
    bool accepted = false;
    if (ext == QLatin1String(".ay")) {
        List.FileKind = 0;
        accepted = OpenAYFile(List, LocalFileName(fileName), formatError);
    } else if (ext == QLatin1String(".aym")) {
        List.FileKind = 1;
        accepted = OpenAYMFile(List, LocalFileName(fileName), formatError, *Engine);
    }
    if (!accepted) return;

    OpenDialog1.InitialDir = fileName.left(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    AuthorLabelText = SongText(List.AuthorText);
    MiscLabelText = SongText(List.MiscText);
    TitleLabelText = SongText(List.SongNameText);
    PaintLabels();

    // A file that asks for a song beyond its count starts on its first song.
    List.CurrentSong = List.FirstSong < List.SongCount ? List.FirstSong : 0;
    SongCountShown = List.SongCount;
    PrintNumber(2);
    PlaySong();
}

void TForm1::OpenButtonAction() {
    if (OpenDialog1.Execute(this)) OpenAndPlay(OpenDialog1.FileName);
}

void TForm1::PlayButtonAction() {
    ReportingIOErrors([&] { PlaySong(); });
}

void TForm1::PlaySong() {
    if (!List.FileOpen) return;
    StopPlaying();
    if (List.FileKind == 0) {
        LoadAYSong(List, *Engine, List.CurrentSong);
        // Each AY song shows its own name; an AYM file keeps the file's name.
        TitleLabelText = SongText(List.SongNames[static_cast<size_t>(List.CurrentSong)]);
        PaintTitleLabel();
    } else {
        LoadAYMSong(List, *Engine, List.CurrentSong);
    }
    SongNumberShown = List.CurrentSong + 1;
    PrintNumber(1);
    PlayCurrent();
}

void TForm1::StopButtonAction() { StopPlaying(); }

void TForm1::PrevButtonAction() {
    if (List.CurrentSong == 0) return;
    --List.CurrentSong;
    PlayButtonAction();
}

void TForm1::NextButtonAction() {
    if (List.CurrentSong == List.SongCount - 1) return;
    ++List.CurrentSong;
    PlayButtonAction();
}
