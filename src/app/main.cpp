// Program entry of the player. One player runs per user session: a start that
// finds a player running hands its arguments over to it and ends; otherwise
// this start becomes the player. It listens for later starts before anything
// else is built, makes the player and its face (app/player_app.h) and the
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
#include "app/information_options.h"
#include "app/player_app.h"
#include "platform/single_instance.h"

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
    // A player is running: hand over and end (the player then brings its
    // window forward). Without arguments it is not contacted at all; a
    // hand-over that cannot be made ends quietly too.
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

    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    // What task bars and switchers name the window by, and the desktop entry
    // they find its name and icon in (zirrafon.desktop).
    QApplication::setApplicationDisplayName(QString::fromLatin1(ApplicationTitle));
    QGuiApplication::setDesktopFileName(QStringLiteral("zirrafon"));

    PlayerApp* player = nullptr;
    InstanceServer server([&player](int wParam, int lParam) {
        if (player) player->Batches().CommandLineInterpreter(BatchMessageOf(wParam, lParam));
    });
    server.Abandoned = [&player] {
        if (player) player->Batches().AbandonHandOver();
    };
    server.Listen(); // without it this player still works, it only takes no hand-overs
    lock.Release();

    QDir::setCurrent(QCoreApplication::applicationDirPath());
    PlayerApp app;
    player = &app;
    app.RegisterMediaPlayer();
    app.Start(arguments);
    const int status = QApplication::exec();
    player = nullptr;
    return status;
}
