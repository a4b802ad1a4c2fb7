// The argument batches (see argument_batches.h).
//
// Where it knowingly differs from the window-message batches it stands for:
// - On this system an absolute file name also begins with "/", the option
//   prefix: an argument that names an existing file is a file, whatever its
//   first character (so "/home/user/song.ay" plays and "/hYMACB" is an option).
// - Arguments are bytes in the system's file name encoding (UTF-8).
// - A hand-over batch is acted on after its end message has been
//   acknowledged, so the second start has ended before any message box of
//   the batch appears; a batch whose sender went away is dropped whole.
// - Setting ZIRRAFON_TRACE to a file name makes the player append one line to
//   that file for each batch message it acts on and each effect of one
//   ("begin 2", "arg TEXT", "chip 5", "beeper 8000", "priority 128",
//   "skin PATH", "file PATH", "end 3", "play PATH", "enqueue PATH",
//   "playlist PATH", "abandoned"). Off unless set; the end-to-end tests read it.
// - "--enqueue" (or "-e") is this player's addition: the files, folders and
//   playlist files after it go to the playlist instead of being played; a
//   playlist file as a batch's last file replaces the playlist.
#include "app/argument_batches.h"

#include "platform/settings.h"
#include "playback/playlist.h"

#include <QFile>
#include <QFileInfo>
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

BatchMessage BatchMessageOf(int wParam, int lParam) {
    if (lParam == Batch::BeginHandOver) return BatchMessage::BeginHandOver;
    if (lParam == Batch::BeginLocal) return BatchMessage::BeginLocal;
    if (wParam != 0) return BatchMessage::Argument;
    if (lParam == Batch::EndHandOver) return BatchMessage::EndHandOver;
    return BatchMessage::EndLocal;
}

ArgumentBatches::ArgumentBatches(Player& player, SkinChanger changeSkin, QObject* parent)
    : QObject(parent), Playback(player), ChangeSkin(std::move(changeSkin)) {}

void ArgumentBatches::CommandLineInterpreter(BatchMessage message) {
    switch (message) {
    case BatchMessage::BeginHandOver:
        Area.Close();
        // An area that cannot be opened: the arguments of this batch are ignored.
        Area.Open();
        HandOverOpen = true;
        HandOverArguments.clear();
        return;
    case BatchMessage::BeginLocal:
        Trace(QStringLiteral("begin 1"));
        PendingFileSet = false;
        BatchFiles.clear();
        Enqueuing = false;
        EnqueuePaths.clear();
        return;
    case BatchMessage::Argument:
        if (LocalArgumentSet)
            InterpretArgument(QFile::decodeName(LocalArgument));
        else if (HandOverOpen && Area.IsOpen())
            HandOverArguments << Area.Text(); // the sender writes the next one after our answer
        return;
    case BatchMessage::EndHandOver:
        Area.Close();
        if (!HandOverOpen) return;
        HandOverOpen = false;
        QMetaObject::invokeMethod(
            this,
            [this, arguments = std::exchange(HandOverArguments, {})] { RunHandOver(arguments); },
            Qt::QueuedConnection);
        return;
    case BatchMessage::EndLocal: EndBatch(message); return;
    }
}

void ArgumentBatches::RunHandOver(const QList<QByteArray>& arguments) {
    Trace(QStringLiteral("begin 2"));
    PendingFileSet = false;
    BatchFiles.clear();
    Enqueuing = false;
    EnqueuePaths.clear();
    for (const QByteArray& argument : arguments) InterpretArgument(QFile::decodeName(argument));
    EndBatch(BatchMessage::EndHandOver);
    // Files or options handed over from a file manager or a terminal: the
    // window the user is about to look at comes forward.
    if (Raise) Raise();
}

void ArgumentBatches::EndBatch(BatchMessage end) {
    Trace(end == BatchMessage::EndHandOver ? QStringLiteral("end 3") : QStringLiteral("end 0"));
    Enqueuing = false;
    if (const QStringList paths = std::exchange(EnqueuePaths, {}); !paths.isEmpty() && Enqueue)
        Enqueue(paths);
    if (PendingFileSet) {
        PendingFileSet = false;
        const QString file = std::exchange(PendingFile, QString());
        QStringList files = std::exchange(BatchFiles, {});
        if (IsPlaylistFile(file) && ReplacePlaylist) {
            Trace(QStringLiteral("playlist ") + file);
            ReplacePlaylist(file);
            return;
        }
        Trace(QStringLiteral("play ") + file);
        Playback.Stop();
        Playback.OpenAndPlay(file);
        // The batch's files join the playlist in order (a file manager hands
        // over a whole selection); a last file that could not be opened does not.
        const NowPlayingInfo now = Playback.NowPlaying();
        const bool played = now.FileOpen && now.FileName == file;
        if (!played && !files.isEmpty()) files.removeLast();
        if (FilesGiven && (played || !files.isEmpty()))
            FilesGiven(files, played ? file : QString(), now.Song);
    }
}

void ArgumentBatches::InterpretArgument(const QString& argument) {
    Trace(QStringLiteral("arg ") + argument);
    if (argument == QLatin1String("--enqueue") || argument == QLatin1String("-e")) {
        Enqueuing = true;
        return;
    }
    if (Enqueuing && !argument.isEmpty() && QFileInfo::exists(argument)) {
        EnqueuePaths << argument;
        Trace(QStringLiteral("enqueue ") + argument);
        return;
    }
    const bool existingFile = !argument.isEmpty() && QFileInfo(argument).isFile();
    if (existingFile || !argument.startsWith(QLatin1Char('/'))) {
        // A name that does not exist (also the empty token) is ignored.
        if (!existingFile) return;
        Playback.Stop();
        PendingFileSet = true;
        PendingFile = argument;
        BatchFiles << argument;
        Trace(QStringLiteral("file ") + argument);
        return;
    }
    if (argument.size() < 2) return;
    const QString value = argument.mid(2);
    switch (argument[1].toLower().unicode()) {
    case u'h': {
        const int index = ChipModeByName(value.left(ValueCharacters).toStdString());
        if (index < 0) return;
        Playback.Settings().SetChipMode(index);
        Trace(QStringLiteral("chip %1").arg(index));
        return;
    }
    case u'u': {
        bool ok = false;
        const int level = value.left(ValueCharacters).toInt(&ok);
        if (!ok || level < 0 || level > 32768) return;
        Playback.Settings().SetBeeperSetting(level);
        Trace(QStringLiteral("beeper %1").arg(level));
        return;
    }
    case u'r': {
        if (argument.size() != 3) return;
        const QChar letter = argument[2].toLower();
        Priority priority;
        if (letter == QLatin1Char('n'))
            priority = Priority::Normal;
        else if (letter == QLatin1Char('h'))
            priority = Priority::High;
        else
            return;
        Playback.Settings().SetPriorityClass(priority);
        Trace(priority == Priority::High ? QStringLiteral("priority high")
                                         : QStringLiteral("priority normal"));
        return;
    }
    case u'p': {
        // Empty: the built-in skin again.
        if (!ChangeSkin || !(value.isEmpty() ? ChangeSkin(SkinSource::BuiltIn, QString())
                                             : ChangeSkin(SkinSource::File, value)))
            return;
        Playback.Settings().SetSkinFile(value);
        Trace(QStringLiteral("skin ") + value);
        return;
    }
    default: return; // any other "/" argument
    }
}

void ArgumentBatches::DeliverArgument(const QByteArray& argument) {
    const bool previousSet = std::exchange(LocalArgumentSet, true);
    QByteArray previousText = std::exchange(LocalArgument, argument);
    CommandLineInterpreter(BatchMessage::Argument);
    LocalArgumentSet = previousSet;
    LocalArgument = std::move(previousText);
}

void ArgumentBatches::CheckCommandLineAndReg(const QStringList& commandLine) {
    // Stored options first, so that the command line can override them; each
    // source is a batch of its own and plays its own last file.
    if (const std::optional<QString> startup = SettingsStore().ReadStartup()) {
        CommandLineInterpreter(BatchMessage::BeginLocal);
        for (const QByteArray& token : SplitStartupOptions(QFile::encodeName(*startup)))
            DeliverArgument(token);
        CommandLineInterpreter(BatchMessage::EndLocal);
    }
    if (!commandLine.isEmpty()) {
        CommandLineInterpreter(BatchMessage::BeginLocal);
        for (const QString& argument : commandLine) DeliverArgument(QFile::encodeName(argument));
        CommandLineInterpreter(BatchMessage::EndLocal);
    }
}

void ArgumentBatches::AbandonHandOver() {
    Trace(QStringLiteral("abandoned"));
    Area.Close();
    HandOverOpen = false;
    HandOverArguments.clear();
}
