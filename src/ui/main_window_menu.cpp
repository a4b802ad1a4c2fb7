// The main window's song list menu: the songs of the open file with their
// lengths, following song lengths, exporting the current song to WAV, the
// Parameters dialog, the About box and the recent files. Right-button presses
// do nothing else on the face, so the menu takes nothing away from it. And
// the tooltip with the song's texts in full and the time played.
#include "platform/file_names.h"
#include "platform/messages.h"
#include "playback/playlist.h"
#include "ui/main_window.h"
#include "ui/position_bar.h"
#include "ui/voices_view.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMenu>
#include <QProgressDialog>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

namespace {

// A recent file as the menu names it: the song title its file gives, then
// the file's name; the name alone when the file gives none or cannot be read.
QString RecentFileText(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    QString title;
    try {
        title = SongText(OpenSongFile(QFile::encodeName(path).toStdString())->List.SongNameText)
                    .trimmed();
    } catch (const std::exception&) {
    }
    QString text = title.isEmpty() ? name : title + QStringLiteral(" — ") + name;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&")); // not a shortcut mark
}

} // namespace

std::unique_ptr<QMenu> MainWindow::BuildContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    const NowPlayingInfo now = Playback.NowPlaying();
    if (now.FileOpen) {
        for (int i = 0; i < static_cast<int>(now.Songs.size()); ++i) {
            const SongEntry& entry = now.Songs[static_cast<size_t>(i)];
            QString text = QStringLiteral("%1. %2").arg(i + 1).arg(entry.Title);
            if (entry.Length.Frames != 0)
                text +=
                    QLatin1Char('\t') + FramesText(entry.Length.Frames); // as the playlist rounds
            QAction* song = menu->addAction(text, this, [this, i] { Playback.PlaySongAt(i); });
            song->setCheckable(true);
            song->setChecked(i == now.Song);
        }
        menu->addSeparator();
    }
    QAction* follow = menu->addAction(QStringLiteral("Follow song lengths"));
    follow->setCheckable(true);
    follow->setChecked(Settings.FollowSongLengths());
    connect(follow, &QAction::toggled, this,
            [this](bool on) { Settings.SetFollowSongLengths(on); });
    // The voices: checked while heard; 1-4 and Shift+1-4 do the same.
    QMenu* voices = menu->addMenu(QStringLiteral("Voices"));
    static const char* const VoiceTitles[VoiceCount] = {"Channel A", "Channel B", "Channel C",
                                                        "Beeper"};
    const unsigned muted = Playback.MutedVoices();
    for (int v = 0; v < VoiceCount; ++v) {
        QAction* voice = voices->addAction(QStringLiteral("%1\t%2").arg(VoiceTitles[v]).arg(v + 1),
                                           this, [this, v] { Playback.ToggleMute(v); });
        voice->setCheckable(true);
        voice->setChecked(!((muted >> v) & 1));
    }
    voices->addSeparator();
    for (int v = 0; v < VoiceCount; ++v)
        voices->addAction(QStringLiteral("%1 alone\tShift+%2").arg(VoiceTitles[v]).arg(v + 1), this,
                          [this, v] { Playback.Solo(v); });
    menu->addAction(QStringLiteral("Position bar"), this, [this] {
        if (!Position) Position = std::make_unique<PositionBar>(Playback, this);
        Position->show();
        Position->raise();
    });
    QAction* voicesView =
        menu->addAction(QStringLiteral("Voices view\tO"), this, [this] { ToggleVoicesView(); });
    voicesView->setCheckable(true);
    voicesView->setChecked(Voices && Voices->isVisible());
    QAction* exportSong =
        menu->addAction(QStringLiteral("Export song to WAV…"), this, [this] { ExportSong(); });
    exportSong->setEnabled(now.FileOpen && !Export.Running());
    menu->addSeparator();
    menu->addAction(QStringLiteral("Playlist…"), this, [this] { emit PlaylistAsked(); });
    menu->addAction(QStringLiteral("Parameters…"), this, [this] { emit ParametersAsked(); });
    menu->addAction(QStringLiteral("About"), this, [this] { ShowAbout(); });
    menu->addSeparator();
    QMenu* recent = menu->addMenu(QStringLiteral("Recent files"));
    recent->setEnabled(!Settings.RecentFiles().isEmpty());
    for (const QString& path : Settings.RecentFiles()) {
        QAction* file =
            recent->addAction(RecentFileText(path), this, [this, path] { OpenRecentFile(path); });
        file->setToolTip(path);
    }
    return menu;
}

void MainWindow::ToggleVoicesView() {
    if (!Voices) Voices = std::make_unique<VoicesView>(Playback, this);
    if (Voices->isVisible()) {
        Voices->hide();
        return;
    }
    Voices->show();
    Voices->raise();
}

void MainWindow::ShowContextMenu(const QPoint& globalPosition) {
    std::unique_ptr<QMenu> menu = BuildContextMenu();
    menu->exec(globalPosition);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    ShowContextMenu(event->globalPos());
    event->accept();
}

void MainWindow::OpenRecentFile(const QString& path) {
    if (!IsRegularFile(path)) {
        Settings.ForgetRecentFile(path);
        ShowMessage(this,
                    QStringLiteral("The file \"%1\" no longer exists and was taken off the "
                                   "recent files.")
                        .arg(path),
                    QString::fromLatin1(ApplicationTitle), MessageIcon::Warning);
        return;
    }
    Playback.OpenAndPlayIfReadable(path);
}

void MainWindow::ExportSong() {
    const NowPlayingInfo now = Playback.NowPlaying();
    if (!now.FileOpen || Export.Running()) return;
    SongExportRequest request;
    request.SongFile = now.FileName;
    request.Song = now.Song;
    request.Chip = Settings.Chip();

    ExportDialog.Title = QStringLiteral("Export song to WAV");
    ExportDialog.Filter = QStringLiteral("WAV files|*.wav|FLAC files|*.flac|Ogg Vorbis files|*.ogg|"
                                         "Opus files|*.opus|MP3 files|*.mp3");
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
        [this, progress = QPointer<QProgressDialog>(progress)](const ExportResult& result) {
            if (progress) progress->close();
            if (result.How == ExportResult::Outcome::Failed)
                ShowMessage(this, QStringLiteral("The song could not be exported: ") + result.Error,
                            QString::fromLatin1(ApplicationTitle), MessageIcon::Error);
        },
        Qt::SingleShotConnection);
    progress->show();
    Export.Start(request);
}

QString MainWindow::ElapsedText() const { return PlayedText(Playback); }

QString MainWindow::TooltipText() const {
    const NowPlayingInfo now = Playback.NowPlaying();
    QStringList lines;
    for (const QString& text : {now.Title, now.Author, now.Misc})
        if (!text.trimmed().isEmpty()) lines << text.trimmed();
    lines << ElapsedText();
    return lines.join(QLatin1Char('\n'));
}

bool MainWindow::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    TooltipAt = static_cast<QHelpEvent*>(event)->globalPos();
    QToolTip::showText(TooltipAt, TooltipText(), this);
    if (!TooltipTimer) {
        TooltipTimer = new QTimer(this);
        TooltipTimer->setInterval(250);
        connect(TooltipTimer, &QTimer::timeout, this, [this] {
            if (!QToolTip::isVisible()) {
                TooltipTimer->stop();
                return;
            }
            QToolTip::showText(TooltipAt, TooltipText(), this);
        });
    }
    TooltipTimer->start();
    return true;
}
