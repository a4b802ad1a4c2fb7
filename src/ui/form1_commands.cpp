// The main window's argument batches: the stored start-up options, the
// command line and the hand-overs of later starts all arrive as batches of
// text arguments at `CommandLineInterpreter`, which applies the options
// ("/h" chip mode, "/u" beeper level, "/r" priority, "/p" skin), keeps the
// last existing file named and plays it when the batch ends.
//
// Where it knowingly differs from the original:
// - On this system an absolute file name also begins with "/", the option
//   prefix: an argument that names an existing file is a file, whatever its
//   first character (so "/home/user/song.ay" plays and "/hYMACB" is an option).
// - Arguments are bytes in the system's file name encoding (UTF-8).
// - Setting ZIRRAFON_TRACE to a file name makes the player append one line to
//   that file for each batch message it handles and each effect of one
//   ("begin 2", "arg TEXT", "chip 5", "beeper 8000", "priority 128",
//   "skin PATH", "file PATH", "end 3", "play PATH", "abandoned"). Off unless
//   set; the end-to-end tests read it.
#include "platform/settings.h"
#include "ui/form1.h"
#include "ui/form2.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <utility>

namespace {

void Trace(const QString& line) {
    const QString path = qEnvironmentVariable("ZIRRAFON_TRACE");
    if (path.isEmpty()) return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.write(line.toUtf8() + '\n');
}

constexpr int ValueCharacters = 31; // of "/h" and "/u", the characters considered

} // namespace

bool TForm1::ChangeSkin(int mode, const QString& path) {
    if (!SkinLoader || !SkinLoader(mode, path)) return false;
    PrintNumber(1);
    PrintNumber(2);
    repaint();
    return true;
}

void TForm1::ShowParameters() {
    if (Form2) Form2->exec();
}

void TForm1::CommandLineInterpreter(int wParam, int lParam) {
    if (lParam == Batch::BeginHandOver) {
        Trace(QStringLiteral("begin 2"));
        Area.Close();
        // An area that cannot be opened: the arguments of this batch are ignored.
        CurrentArgument = Area.Open() ? ArgumentSource::Area : ArgumentSource::None;
        PendingFileSet = false;
        return;
    }
    if (lParam == Batch::BeginLocal) {
        Trace(QStringLiteral("begin 1"));
        PendingFileSet = false;
        return;
    }
    if (wParam != 0) {
        if (CurrentArgument == ArgumentSource::None) return;
        const QByteArray text =
            CurrentArgument == ArgumentSource::Area ? Area.Text() : LocalArgument;
        InterpretArgument(QFile::decodeName(text));
        return;
    }
    Trace(QStringLiteral("end %1").arg(lParam));
    if (lParam == Batch::EndHandOver) {
        Area.Close();
        if (CurrentArgument == ArgumentSource::Area) CurrentArgument = ArgumentSource::None;
    }
    if (PendingFileSet) {
        PendingFileSet = false;
        const QString file = std::exchange(PendingFile, QString());
        Trace(QStringLiteral("play ") + file);
        StopPlaying();
        OpenAndPlay(file);
    }
}

void TForm1::InterpretArgument(const QString& argument) {
    Trace(QStringLiteral("arg ") + argument);
    const bool existingFile = !argument.isEmpty() && QFileInfo(argument).isFile();
    if (existingFile || !argument.startsWith(QLatin1Char('/'))) {
        // A name that does not exist (also the empty token) is ignored.
        if (!existingFile) return;
        StopPlaying();
        PendingFileSet = true;
        PendingFile = argument;
        Trace(QStringLiteral("file ") + argument);
        return;
    }
    if (argument.size() < 2) return;
    const QString value = argument.mid(2);
    switch (argument[1].toLower().unicode()) {
    case u'h': {
        const int index = ChipModeIndex(value.left(ValueCharacters));
        if (index < 0) return;
        ChipMode = index;
        SetChipAndChannels(Engine->Chip, index, Volume);
        if (Form2) Form2->ComboBox1->setCurrentIndex(index);
        Trace(QStringLiteral("chip %1").arg(index));
        return;
    }
    case u'u': {
        bool ok = false;
        const int level = value.left(ValueCharacters).toInt(&ok);
        if (!ok || level < 0 || level > 32768) return;
        Engine->Chip.BeeperSetting = level;
        Engine->Chip.BeeperAmplitude = ComputeBeeperAmplitude(level, Volume);
        if (Form2) Form2->Edit1->setText(QString::number(level));
        Trace(QStringLiteral("beeper %1").arg(level));
        return;
    }
    case u'r': {
        if (argument.size() != 3) return;
        const QChar letter = argument[2].toLower();
        int32_t priorityClass;
        if (letter == QLatin1Char('n'))
            priorityClass = NormalPriorityClass;
        else if (letter == QLatin1Char('h'))
            priorityClass = HighPriorityClass;
        else
            return;
        SetPriority(priorityClass);
        if (Form2)
            (priorityClass == HighPriorityClass ? Form2->RadioButton2 : Form2->RadioButton1)
                ->setChecked(true);
        Trace(QStringLiteral("priority %1").arg(priorityClass));
        return;
    }
    case u'p': {
        // Empty: the built-in skin again.
        if (!(value.isEmpty() ? ChangeSkin(0, QString()) : ChangeSkin(1, value))) return;
        if (Form2) Form2->Edit2->setText(value);
        Trace(QStringLiteral("skin ") + value);
        return;
    }
    default: return; // any other "/" argument
    }
}

void TForm1::DeliverArgument(const QByteArray& argument) {
    // A hand-over may be open around a local batch (a message box at the end
    // of one runs the event loop): give its area back afterwards.
    const ArgumentSource previousSource = std::exchange(CurrentArgument, ArgumentSource::Local);
    QByteArray previousText = std::exchange(LocalArgument, argument);
    CommandLineInterpreter(1, 0);
    CurrentArgument = previousSource;
    LocalArgument = std::move(previousText);
}

void TForm1::CheckCommandLineAndReg(const QStringList& commandLine) {
    // Stored options first, so that the command line can override them; each
    // source is a batch of its own and plays its own last file.
    if (const std::optional<QString> startup = SettingsStore().ReadStartup()) {
        CommandLineInterpreter(0, Batch::BeginLocal);
        for (const QByteArray& token : SplitStartupOptions(QFile::encodeName(*startup)))
            DeliverArgument(token);
        CommandLineInterpreter(0, 0);
    }
    if (!commandLine.isEmpty()) {
        CommandLineInterpreter(0, Batch::BeginLocal);
        for (const QString& argument : commandLine) DeliverArgument(QFile::encodeName(argument));
        CommandLineInterpreter(0, 0);
    }
}

void TForm1::AbandonHandOver() {
    Trace(QStringLiteral("abandoned"));
    Area.Close();
    if (CurrentArgument == ArgumentSource::Area) CurrentArgument = ArgumentSource::None;
    PendingFileSet = false;
    PendingFile.clear();
}
