// The main window's song list menu: the songs of the open file with their
// lengths, following song lengths, exporting the current song to WAV, the
// Parameters dialog, the About box and the recent files. Right-button presses
// do nothing else on the face, so the menu takes nothing away from it. And
// the tooltip with the time played of the song.
#include "platform/messages.h"
#include "ui/form1.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMenu>
#include <QProgressDialog>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

namespace {

// m:ss of a number of output frames.
QString MinutesAndSeconds(uint64_t frames) {
    const uint64_t seconds = frames / OutputRate;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

std::unique_ptr<QMenu> TForm1::BuildContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    const SongSession& session = Playback->Session;
    const SongList& list = session.List;
    if (list.FileOpen) {
        for (int i = 0; i < list.SongCount; ++i) {
            QString text = QStringLiteral("%1. %2").arg(i + 1).arg(SongText(session.SongTitle(i)));
            if (const SongTiming t = session.FileTiming(i); t.Frames != 0)
                text += QLatin1Char('\t') + MinutesAndSeconds(t.Frames);
            QAction* song = menu->addAction(text, this, [this, i] { Playback->PlaySongAt(i); });
            song->setCheckable(true);
            song->setChecked(i == list.CurrentSong);
        }
        menu->addSeparator();
    }
    QAction* follow = menu->addAction(QStringLiteral("Follow song lengths"));
    follow->setCheckable(true);
    follow->setChecked(Settings.FollowSongLengths);
    connect(follow, &QAction::toggled, this,
            [this](bool on) { Settings.SetFollowSongLengths(on); });
    QAction* exportSong =
        menu->addAction(QStringLiteral("Export song to WAV…"), this, [this] { ExportSong(); });
    exportSong->setEnabled(list.FileOpen && !Export.Running());
    menu->addSeparator();
    if (ShowPlaylist)
        menu->addAction(QStringLiteral("Playlist…"), this, [this] { ShowPlaylist(); });
    menu->addAction(QStringLiteral("Parameters…"), this, [this] { ShowParameters(); });
    menu->addAction(QStringLiteral("About"), this, [this] { ShowAbout(); });
    menu->addSeparator();
    QMenu* recent = menu->addMenu(QStringLiteral("Recent files"));
    recent->setEnabled(!Settings.RecentFiles.isEmpty());
    for (const QString& path : Settings.RecentFiles) {
        QAction* file = recent->addAction(path, this, [this, path] { OpenRecentFile(path); });
        file->setToolTip(path);
    }
    return menu;
}

void TForm1::ShowContextMenu(const QPoint& globalPosition) {
    std::unique_ptr<QMenu> menu = BuildContextMenu();
    menu->exec(globalPosition);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) {
    ShowContextMenu(event->globalPos());
    event->accept();
}

void TForm1::OpenRecentFile(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        Settings.ForgetRecentFile(path);
        ShowMessage(this,
                    QStringLiteral("The file \"%1\" no longer exists and was taken off the "
                                   "recent files.")
                        .arg(path),
                    QString::fromLatin1(ApplicationTitle), MessageIcon::Warning);
        return;
    }
    DropFiles({QUrl::fromLocalFile(path)});
}

void TForm1::ExportSong() {
    const SongList& list = Playback->List;
    if (!list.FileOpen || Export.Running()) return;
    SongExportRequest request;
    request.SongFile = Playback->FileName;
    request.Song = list.CurrentSong;
    request.ChipMode = Settings.ChipMode;
    request.BeeperSetting = Settings.BeeperSetting();
    request.Volume = Settings.Volume;

    ExportDialog.Title = QStringLiteral("Export song to WAV");
    ExportDialog.Filter = QStringLiteral("WAV files|*.wav");
    ExportDialog.Save = true;
    ExportDialog.InitialDir = DefaultExportName(request.SongFile, request.Song);
    if (!ExportDialog.Execute(this)) return;
    request.Target = ExportDialog.FileName;

    auto* progress = new QProgressDialog(QStringLiteral("Exporting %1").arg(request.Target),
                                         QStringLiteral("Cancel"), 0, 1000, this);
    progress->setWindowTitle(QStringLiteral("Export song to WAV"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setMinimumDuration(0);
    ExportProgress = progress;
    connect(progress, &QProgressDialog::canceled, &Export, &SongExport::Cancel);
    connect(&Export, &SongExport::Progress, progress, [progress](quint64 done, quint64 all) {
        progress->setValue(all ? static_cast<int>(done * 1000 / all) : 0);
    });
    connect(
        &Export, &SongExport::Finished, this,
        [this, progress = QPointer<QProgressDialog>(progress)](bool ok, const QString& error) {
            if (progress) progress->close();
            if (!ok && error != QLatin1String("cancelled"))
                ShowMessage(this, QStringLiteral("The song could not be exported: ") + error,
                            QString::fromLatin1(ApplicationTitle), MessageIcon::Error);
        },
        Qt::SingleShotConnection);
    progress->show();
    Export.Start(request);
}

QString TForm1::ElapsedText() const {
    const QString played = MinutesAndSeconds(Playback->ElapsedFrames());
    const SongList& list = Playback->List;
    if (!list.FileOpen) return played;
    const SongTiming t = Playback->Session.FileTiming(list.CurrentSong);
    return t.Frames == 0 ? played : played + QStringLiteral(" / ") + MinutesAndSeconds(t.Frames);
}

bool TForm1::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    TooltipAt = static_cast<QHelpEvent*>(event)->globalPos();
    QToolTip::showText(TooltipAt, ElapsedText(), this);
    if (!TooltipTimer) {
        TooltipTimer = new QTimer(this);
        TooltipTimer->setInterval(250);
        connect(TooltipTimer, &QTimer::timeout, this, [this] {
            if (!QToolTip::isVisible()) {
                TooltipTimer->stop();
                return;
            }
            QToolTip::showText(TooltipAt, ElapsedText(), this);
        });
    }
    TooltipTimer->start();
    return true;
}
