// The argument batches: the stored start-up options, the command line and the
// hand-overs of later starts all arrive as batches of text arguments, which
// set the player's settings ("/h" chip mode, "/u" beeper level, "/r"
// priority, "/p" skin) and name files; the last existing file named is played
// when the batch ends.
//
//     ArgumentBatches batches(player, changeSkin);
//     batches.CheckCommandLineAndReg({"/hYMABC", "/music/song.ay"});  // stored options, then these
//     server handler: batches.CommandLineInterpreter(BatchMessageOf(wParam, lParam));
//
// A hand-over batch is acknowledged message by message as it arrives (each
// argument is copied out of the shared area at once) and acted on as a whole
// right after its end, from the event loop: a second start never waits for
// what the batch does (a message box about a bad file, say).
#pragma once

#include "platform/single_instance.h"
#include "playback/player.h"
#include "ui/skin.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

// What a batch message says. The hand-over carries them as a pair of numbers
// (wParam, lParam): (0, 1) / (0, 2) begin a local / hand-over batch, (1, 0)
// one argument, (0, 0) / (0, 3) end a local / hand-over batch.
enum class BatchMessage { BeginLocal, BeginHandOver, Argument, EndLocal, EndHandOver };

// The message of a pair as the hand-over carries it; a pair of no other
// meaning ends a local batch, as (0, 0) does.
BatchMessage BatchMessageOf(int wParam, int lParam);

class ArgumentBatches : public QObject {
    Q_OBJECT

  public:
    // Loads a skin (mode 0: the built-in one, 1: the BMP file at `path`) and
    // shows it; false, with nothing changed, when it cannot be read.
    using SkinChanger = std::function<bool(SkinSource source, const QString& path)>;

    ArgumentBatches(Player& player, SkinChanger changeSkin, QObject* parent = nullptr);

    void CommandLineInterpreter(BatchMessage message);
    // One argument of a local batch, as the message Argument.
    void DeliverArgument(const QByteArray& argument);
    // The stored "Startup" options, then `commandLine`, as two local batches.
    void CheckCommandLineAndReg(const QStringList& commandLine);
    // A sender went away in the middle of its hand-over: let go of the area
    // and of what it had sent.
    void AbandonHandOver();
    // An option or a file name of a batch.
    void InterpretArgument(const QString& argument);

    // The playlist's part (set by the composition root; unset: ignored).
    // "--enqueue" / "-e": the files, folders and lists after it in the batch
    // are added to the playlist when the batch ends.
    std::function<void(const QStringList& paths)> Enqueue;
    // A batch's last file is a playlist file: it replaces the playlist.
    std::function<void(const QString& playlistFile)> ReplacePlaylist;
    // A batch's files join the playlist in order; the last one was opened and
    // plays (`song` of it) unless `played` is empty.
    std::function<void(const QStringList& files, const QString& played, int song)> FilesGiven;
    // A second start without arguments: the main window comes to the front.
    std::function<void()> Raise;

    // The `PendingFile` flag and name: the last existing file of a batch.
    bool PendingFileSet = false;
    QString PendingFile;
    // Every existing file of the batch, in order (the last is `PendingFile`).
    QStringList BatchFiles;
    // The hand-over area while a hand-over batch is open.
    HandOverArea Area;

  private:
    void EndBatch(BatchMessage end);
    // Acts on a hand-over batch whose arguments have all arrived.
    void RunHandOver(const QList<QByteArray>& arguments);

    Player& Playback;
    SkinChanger ChangeSkin;
    // "--enqueue" came in this batch, and what followed it.
    bool Enqueuing = false;
    QStringList EnqueuePaths;
    // A local batch's current argument.
    bool LocalArgumentSet = false;
    QByteArray LocalArgument;
    // The arguments of the hand-over batch being received.
    bool HandOverOpen = false;
    QList<QByteArray> HandOverArguments;
};
