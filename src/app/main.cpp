// Program entry of the player. One player runs per user session: a start that
// finds a player running hands its arguments over to it and ends; otherwise
// this start becomes the player. It listens for later starts before anything
// else is built, makes the main window, the hidden Parameters dialog and the
// media-player interface on the session bus (when there is one), then
// delivers the stored "Startup" options and its own command line as two
// batches, shows the window and runs until the window closes.
//
// Before anything else, relative file names on the command line (and the
// path of "/p") are made absolute against the folder the program was started
// in: the player works in its own folder, and a hand-over carries the names to
// another process (see AbsoluteArguments in platform/single_instance.h for
// how an option and an absolute file name are told apart).
//
// Two starts at the same moment (a file manager starts one per file) must
// end with one player: the choice between handing over and listening is made
// under a session-wide lock, and the player listens before its windows
// exist, so a start that comes meanwhile waits in the socket's backlog.
#include "app/argument_batches.h"
#include "app/information_options.h"
#include "platform/messages.h"
#include "platform/single_instance.h"
#include "playback/mpris.h"
#include "playback/playlist_playback.h"
#include "playback/playlist_store.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/playlist_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>

int main(int argc, char* argv[]) {
    QStringList given;
    for (int i = 1; i < argc; ++i) given << QFile::decodeName(argv[i]);
    if (const auto status = AnswerInformationOptions(given)) return *status;
    const QStringList arguments = AbsoluteArguments(given, QDir::currentPath());

    InstanceLock lock;
    lock.Acquire();
    // A player is running: hand over and end. Without arguments it is not
    // contacted at all; a hand-over that cannot be made ends quietly too.
    {
        InstanceConnection player;
        if (player.Connect(InstanceServerPath())) {
            lock.Release();
            QList<QByteArray> bytes;
            for (const QString& argument : arguments) bytes << QFile::encodeName(argument);
            HandOver(player, bytes);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    // What task bars and switchers name the window by, and the desktop entry
    // they find its name and icon in (zirrafon.desktop).
    QApplication::setApplicationDisplayName(QString::fromLatin1(ApplicationTitle));
    QGuiApplication::setDesktopFileName(QStringLiteral("zirrafon"));

    TForm1* face = nullptr;
    ArgumentBatches* batches = nullptr;
    InstanceServer server([&face](int wParam, int lParam) {
        if (face) face->CommandLineInterpreter(wParam, lParam);
    });
    server.Abandoned = [&batches] {
        if (batches) batches->AbandonHandOver();
    };
    server.Listen(); // without it this player still works, it only takes no hand-overs
    lock.Release();

    QDir::setCurrent(QCoreApplication::applicationDirPath());
    TForm1 form;
    new TForm2(&form); // hidden; owned by the main window, which keeps it as Form2
    // "Follow song lengths" and the recent files, stored beside the options.
    form.Settings.StoreError = [&form](int code, const QString& text) {
        if (form.Form2) form.Form2->RegError(&form, code, text);
    };
    form.Settings.LoadStored();
    ArgumentBatches argumentBatches(*form.Playback, [&form](int mode, const QString& path) {
        return form.ChangeSkin(mode, path);
    });
    form.ArgumentBatchHandler = [&argumentBatches](int wParam, int lParam) {
        argumentBatches.CommandLineInterpreter(wParam, lParam);
    };
    face = &form;
    batches = &argumentBatches;

    // The playlist: restored from the last run, saved after every change,
    // shown in its own window, fed by the batches.
    PlaylistModel playlist;
    PlaylistStore playlistStore(playlist);
    PlaylistPlayback playlistPlayback(*form.Playback, playlist);
    PlaylistWindow playlistWindow(playlist);
    const auto showFailure = [&form](const QString& text, const QString& caption) {
        ShowMessage(&form, text, caption, MessageIcon::Warning);
    };
    QObject::connect(&playlistStore, &PlaylistStore::Failed, &form, showFailure,
                     Qt::QueuedConnection);
    QObject::connect(&playlistWindow, &PlaylistWindow::Failed, &form, showFailure);
    QObject::connect(
        &playlistWindow, &PlaylistWindow::PlayRequested, &form,
        [&playlistPlayback](quint64 id, int song) { playlistPlayback.Play(id, song); });
    QObject::connect(
        &playlistWindow, &PlaylistWindow::OpenPlaylistRequested, &form,
        [&playlistPlayback](const QString& path) { playlistPlayback.ReplaceWith(path); });
    QObject::connect(&playlistWindow, &PlaylistWindow::ShuffleChosen, &form,
                     [&playlistPlayback](bool on) { playlistPlayback.SetShuffle(on); });
    QObject::connect(&playlistWindow, &PlaylistWindow::RepeatChosen, &form,
                     [&playlistPlayback](int repeat) {
                         playlistPlayback.SetRepeat(static_cast<RepeatMode>(repeat));
                     });
    form.ShowPlaylist = [&playlistWindow] {
        playlistWindow.show();
        playlistWindow.raise();
        playlistWindow.activateWindow();
    };
    argumentBatches.Enqueue = [&playlistPlayback](const QStringList& paths) {
        playlistPlayback.Enqueue(paths);
    };
    argumentBatches.ReplacePlaylist = [&playlistPlayback](const QString& file) {
        playlistPlayback.ReplaceWith(file);
    };
    argumentBatches.FilePlayed = [&playlistPlayback, &form](const QString& file) {
        playlistPlayback.AddAsCurrent(file, form.Playback->List.CurrentSong);
    };

    // Volume, window position, shuffle and repeat, beside "Follow song lengths".
    PlayerSettings& settings = form.Settings;
    if (const auto volume = settings.StoredValue(QStringLiteral("Volume"))) {
        bool ok = false;
        const int v = volume->toInt(&ok);
        if (ok && v >= 0 && v <= VolumeZoneHeight) settings.SetVolume(v);
    }
    if (const auto shuffle = settings.StoredValue(QStringLiteral("Shuffle")))
        playlistPlayback.SetShuffle(shuffle->toString() == QLatin1String("true"));
    if (const auto repeat = settings.StoredValue(QStringLiteral("Repeat"))) {
        const int r = repeat->toInt();
        if (r >= 0 && r <= 2) playlistPlayback.SetRepeat(static_cast<RepeatMode>(r));
    }
    if (const auto position = settings.StoredValue(QStringLiteral("WindowPosition")))
        if (const QPoint at = position->toPoint(); !at.isNull() || position->isValid())
            form.move(at);
    playlistWindow.ShowOrder(playlistPlayback.Order.Shuffle,
                             static_cast<int>(playlistPlayback.Order.Repeat));
    QObject::connect(&settings, &PlayerSettings::VolumeChanged, &form, [&settings](int volume) {
        settings.StoreValue(QStringLiteral("Volume"), volume);
    });
    QObject::connect(&playlistPlayback, &PlaylistPlayback::OrderChanged, &form,
                     [&settings, &playlistWindow](bool shuffle, int repeat) {
                         settings.StoreValue(QStringLiteral("Shuffle"),
                                             shuffle ? QStringLiteral("true")
                                                     : QStringLiteral("false"));
                         settings.StoreValue(QStringLiteral("Repeat"), repeat);
                         playlistWindow.ShowOrder(shuffle, repeat);
                     });
    playlistStore.Restore();
    // Media keys, sound menus and playerctl steer the player through it. Made
    // before the start-up batches so that it sees the first file open; without
    // a session bus the player plays on without it, silently.
    MediaPlayerInterface mediaPlayer(*form.Playback, form);
    mediaPlayer.SetPlaylist(&playlistPlayback);
    mediaPlayer.Register();

    argumentBatches.CheckCommandLineAndReg(arguments);
    form.show();
    const int status = app.exec();
    settings.StoreValue(QStringLiteral("WindowPosition"), form.pos());
    playlistStore.Flush();
    face = nullptr;
    batches = nullptr;
    return status;
}
