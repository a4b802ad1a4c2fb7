// A player for the tests of the start-up options and the Parameters dialog:
// the program's composition root on a fake wave device (the main window with
// its hidden dialog, the batches), a real skin behind `SkinLoader`, every message box captured,
// emptied desktop folders (desktop_folders.h), a runtime folder and a trace file of its own, so
// nothing of the user's is read or written.
#pragma once

#include "app/player_app.h"
#include "desktop_folders.h"
#include "../playback/fake_wave_out.h"
#include "platform/messages.h"
#include "ui/main_window.h"
#include "ui/parameters_dialog.h"
#include "ui/skin.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

// Sets an environment variable for its lifetime.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const QString& value)
        : Name(name), Had(qEnvironmentVariableIsSet(name)), Old(qgetenv(name)) {
        qputenv(name, QFile::encodeName(value));
    }
    ~ScopedEnvironment() {
        if (Had)
            qputenv(Name, Old);
        else
            qunsetenv(Name);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* Name;
    bool Had;
    QByteArray Old;
};

inline QString MakeFolder(const QString& path) {
    QDir().mkpath(path);
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// A window's control found by its object name; a failure when there is none.
template <class W> W* Control(const QObject& window, const char* name) {
    W* control = window.findChild<W*>(QLatin1String(name));
    if (control == nullptr) ADD_FAILURE() << "no control " << name;
    return control;
}

class PlayerBed {
  public:
    const bool DesktopEmptied = ResetDesktopFolders();
    QTemporaryDir Root;
    ScopedEnvironment Runtime{"XDG_RUNTIME_DIR", MakeFolder(Root.filePath("runtime"))};
    ScopedEnvironment TraceFile{"ZIRRAFON_TRACE", Root.filePath("trace.txt")};

    FakeWaveOutDriver Driver;
    MessageRecorder Messages;
    Skin FaceSkin;
    std::vector<std::pair<SkinSource, QString>> SkinLoads; // (mode, path) of each load asked for
    std::unique_ptr<PlayerApp> App;
    Player* Playback = nullptr;
    MainWindow* Form = nullptr;
    ParametersDialog* Dialog = nullptr;
    ArgumentBatches* Batches = nullptr; // the start-up options and hand-overs

    PlayerBed() {
        EXPECT_TRUE(DesktopEmptied) << "GIO still sees the previous test's files";
        Messages.Install();
        MakePlayer();
    }
    ~PlayerBed() {
        if (Playback) Playback->Settings().SetPriorityClass(Priority::Normal);
    }

    // A new player, main window and dialog, as a new start makes them.
    void MakePlayer() {
        if (Playback) Playback->Settings().SetPriorityClass(Priority::Normal);
        App.reset();
        Driver.Names.clear();
        App = std::make_unique<PlayerApp>(Driver.Factory());
        Playback = &App->Playback();
        Form = &App->Face();
        Dialog = &App->Parameters();
        Batches = &App->Batches();
        Form->SkinLoader = [this](SkinSource source, const QString& path) {
            SkinLoads.emplace_back(source, path);
            return FaceSkin.LoadSkin(source, path);
        };
    }
    PlayerSettings& Settings() { return Playback->Settings(); }

    QString ConfigHome() const { return ::ConfigHome(); }
    QString SettingsFile() const { return ConfigHome() + "/Ostrowind/Zirrafon.conf"; }

    // The lines the player traced so far.
    QStringList Trace() const {
        QFile file(Root.filePath("trace.txt"));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList TraceStarting(const QString& prefix) const {
        QStringList lines;
        for (const QString& line : Trace())
            if (line.startsWith(prefix)) lines << line;
        return lines;
    }

    // A local batch of the given arguments.
    void Batch(const QStringList& arguments) {
        Batches->CommandLineInterpreter(BatchMessage::BeginLocal);
        for (const QString& a : arguments) Batches->DeliverArgument(QFile::encodeName(a));
        Batches->CommandLineInterpreter(BatchMessage::EndLocal);
        QCoreApplication::processEvents(); // what the batch shows
    }

    // A readable skin bitmap of the skin layout's size.
    QString WriteSkin(const QString& name) const {
        QImage image(240, 216, QImage::Format_RGB32);
        image.fill(QColor(10, 120, 200));
        const QString path = Root.filePath(name);
        EXPECT_TRUE(image.save(path, "BMP"));
        return path;
    }

    std::string MessageList() const {
        std::string out;
        for (const auto& m : Messages.Messages)
            out += m.Caption.toStdString() + ": " + m.Text.toStdString() + "\n";
        return out;
    }
};

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// zirrafon-render's WAV file for song `song` (counted from 1) of `file`.
inline QByteArray RenderedWav(const QString& file, int song, const QStringList& options = {}) {
    QTemporaryDir dir;
    const QString out = dir.filePath("ref.wav");
    QProcess render;
    render.setProcessChannelMode(QProcess::ForwardedChannels);
    render.start(QStringLiteral(ZIRRAFON_BINARY_DIR "/zirrafon-render"),
                 QStringList{"-o", out, "-s", QString::number(song)} + options + QStringList{file});
    EXPECT_TRUE(render.waitForFinished(60000) && render.exitCode() == 0);
    return ReadAll(out);
}

// Its samples (the header of our WAV files is always 44 bytes).
inline std::vector<int16_t> Rendered(const QString& file, int song,
                                     const QStringList& options = {}) {
    const QByteArray wav = RenderedWav(file, song, options);
    std::vector<int16_t> v(static_cast<size_t>(std::max<qsizetype>(wav.size() - 44, 0)) / 2);
    std::memcpy(v.data(), wav.constData() + 44, v.size() * 2);
    return v;
}

inline QString DemoSong(const char* name) {
    return QStringLiteral(ZIRRAFON_SOURCE_DIR "/assets/demo/") + QLatin1String(name);
}
