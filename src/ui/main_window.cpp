// The main window `MainWindow`: what the player reports, shown on the face, and
// its failures as message boxes (the skinned face, mouse, keys and drops are
// in main_window_face.cpp).
#include "ui/main_window.h"
#include "ui/position_bar.h"
#include "ui/voices_view.h"

#include "platform/messages.h"

#include <QCloseEvent>
#include <QDir>

MainWindow::MainWindow(Player& player, SongExport& exporter, QWidget* parent)
    : QWidget(parent), Playback(player), Settings(player.Settings()), Export(exporter) {
    setWindowTitle(QString::fromLatin1(MainWindowCaption));
    setFixedSize(240, 152);

    // The open dialog starts in the user's home folder, later in the folder
    // of the last song file opened (never in the program's own folder, which
    // on an installed system holds no songs).
    OpenDialog.Title = QStringLiteral("Open and play file");
    OpenDialog.Filter =
        QStringLiteral("All supported files|*.ay;*.aym;*.ym;*.vtx;*.psg;*.pt3;*.pt2|.AY files|*.ay|"
                       ".AYM files|*.aym|.YM files|*.ym|.VTX files|*.vtx|.PSG files|*.psg|"
                       ".PT3 files|*.pt3|.PT2 files|*.pt2");
    OpenDialog.InitialDir = QDir::homePath();

    connect(&Playback, &Player::NowPlayingChanged, this, &MainWindow::ShowNowPlaying);
    connect(&Playback, &Player::Failed, this,
            [this](const QString& text, const QString& caption, MessageIcon icon) {
                ShowMessage(this, text, caption, icon);
            });
    connect(&Settings, &PlayerSettings::VolumeChanged, this, [this] { PaintVolumeBar(); });

    OnCreate();
}

MainWindow::~MainWindow() { OnDestroy(); }

void MainWindow::ShowNowPlaying(NowPlayingParts parts) {
    if (parts & NowPlayingPart::File) {
        const QString fileName = Playback.NowPlaying().FileName;
        OpenDialog.InitialDir = fileName.left(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    }
    if (parts & NowPlayingPart::Texts)
        PaintLabels();
    else if (parts & NowPlayingPart::Title)
        PaintTitleLabel();
    if (parts & NowPlayingPart::Count) PrintNumber(2);
    if (parts & NowPlayingPart::Number) PrintNumber(1);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Playback.Shutdown();
    event->accept();
}

void MainWindow::OpenButtonAction() {
    if (OpenDialog.Execute(this)) Playback.OpenAndPlay(OpenDialog.FileName);
}

bool MainWindow::ChangeSkin(SkinSource source, const QString& path) {
    if (!SkinLoader || !SkinLoader(source, path)) return false;
    PrintNumber(1);
    PrintNumber(2);
    repaint();
    return true;
}
