// The composition root (see player_app.h).
#include "app/player_app.h"

#include "platform/messages.h"
#include "ui/position_bar.h"

#include <QEvent>
#include <QFileInfo>
#include <utility>

namespace {

// Calls `OnClose` when the watched window is about to close, before the
// window's own handler has stopped the song.
class CloseWatcher final : public QObject {
  public:
    explicit CloseWatcher(std::function<void()> onClose, QObject* parent)
        : QObject(parent), OnClose(std::move(onClose)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) OnClose();
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> OnClose;
};

// The settings' key of where the current song was left: its file, its song
// index, the frame heard and "paused" or "stopped".
const QString ResumeKey = QStringLiteral("Resume");

} // namespace

PlayerApp::PlayerApp(WaveOutFactory waveOutFactory)
    : Player_(std::move(waveOutFactory)), Face_(std::make_unique<MainWindow>(Player_, Export)) {
    MainWindow& face = *Face_;
    const auto changeSkin = [&face](SkinSource source, const QString& path) {
        return face.ChangeSkin(source, path);
    };
    Parameters_ = new ParametersDialog(Player_.Settings(), changeSkin, &face); // hidden
    QObject::connect(&face, &MainWindow::ParametersAsked, Parameters_,
                     [this] { Parameters_->exec(); });

    // "Follow song lengths" and the recent files, stored beside the options.
    PlayerSettings& settings = Player_.Settings();
    settings.StoreError = [this](int code, const QString& text) {
        Parameters_->RegError(Face_.get(), code, text);
    };
    settings.LoadStored();

    Batches_ = std::make_unique<ArgumentBatches>(Player_, changeSkin);
    MediaPlayer_ = std::make_unique<MediaPlayerInterface>(Player_);

    // The playlist: kept in its file, played through the player, shown in its
    // own window, fed by the batches.
    Store_ = std::make_unique<PlaylistStore>(Playlist_);
    Lists_ = std::make_unique<PlaylistPlayback>(Player_, Playlist_);
    PlaylistWindow_ = std::make_unique<PlaylistWindow>(Playlist_);
    PlaylistWindow_->AddPositionBar(new PositionBar(Player_, PlaylistWindow_.get(), true));
    MediaPlayer_->SetPlaylist(Lists_.get());
    PlaylistPlayback& lists = *Lists_;
    PlaylistWindow& window = *PlaylistWindow_;
    const auto showFailure = [&face](const QString& text, const QString& caption) {
        ShowMessage(&face, text, caption, MessageIcon::Warning);
    };
    QObject::connect(Store_.get(), &PlaylistStore::Failed, &face, showFailure,
                     Qt::QueuedConnection);
    QObject::connect(&window, &PlaylistWindow::Failed, &face, showFailure);
    QObject::connect(&window, &PlaylistWindow::PlayRequested, &face,
                     [&lists](quint64 id, int song) { lists.Play(id, song); });
    QObject::connect(&window, &PlaylistWindow::OpenPlaylistRequested, &face,
                     [&lists](const QString& path) { lists.ReplaceWith(path); });
    QObject::connect(&window, &PlaylistWindow::ShuffleChosen, &face,
                     [&lists](bool on) { lists.SetShuffle(on); });
    QObject::connect(&window, &PlaylistWindow::RepeatChosen, &face,
                     [&lists](int repeat) { lists.SetRepeat(static_cast<RepeatMode>(repeat)); });
    QObject::connect(&face, &MainWindow::PlaylistAsked, &window, [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    });
    Batches_->Enqueue = [&lists](const QStringList& paths) { lists.Enqueue(paths); };
    Batches_->ReplacePlaylist = [&lists](const QString& file) { lists.ReplaceWith(file); };
    Batches_->FilesGiven = [&lists](const QStringList& files, const QString& played, int song) {
        lists.AddAsCurrent(files, played, song);
    };

    // Volume, window position, shuffle and repeat, beside "Follow song lengths".
    if (const auto volume = settings.StoredValue(QStringLiteral("Volume"))) {
        bool ok = false;
        const int v = volume->toInt(&ok);
        if (ok && v >= 0 && v <= VolumeSteps) settings.SetVolume(v);
    }
    if (const auto shuffle = settings.StoredValue(QStringLiteral("Shuffle")))
        lists.SetShuffle(shuffle->toString() == QLatin1String("true"));
    if (const auto repeat = settings.StoredValue(QStringLiteral("Repeat"))) {
        const int r = repeat->toInt();
        if (r >= 0 && r <= 2) lists.SetRepeat(static_cast<RepeatMode>(r));
    }
    if (const auto position = settings.StoredValue(QStringLiteral("WindowPosition")))
        face.move(position->toPoint());
    window.ShowOrder(lists.Order.Shuffle, static_cast<int>(lists.Order.Repeat));
    QObject::connect(&settings, &PlayerSettings::VolumeChanged, &face, [&settings](int volume) {
        settings.StoreValue(QStringLiteral("Volume"), volume);
    });
    QObject::connect(&lists, &PlaylistPlayback::OrderChanged, &face,
                     [&settings, &window](bool shuffle, int repeat) {
                         settings.StoreValue(QStringLiteral("Shuffle"),
                                             shuffle ? QStringLiteral("true")
                                                     : QStringLiteral("false"));
                         settings.StoreValue(QStringLiteral("Repeat"), repeat);
                         window.ShowOrder(shuffle, repeat);
                     });
    QObject::connect(MediaPlayer_.get(), &MediaPlayerInterface::QuitAsked, &face, &QWidget::close);
    const auto raise = [&face] {
        face.setWindowState(face.windowState() & ~Qt::WindowMinimized);
        face.show();
        face.raise();
        face.activateWindow();
    };
    QObject::connect(MediaPlayer_.get(), &MediaPlayerInterface::RaiseAsked, &face, raise);
    Batches_->Raise = raise;

    // The program ends with its main window, also while the playlist window
    // is open.
    window.setAttribute(Qt::WA_QuitOnClose, false);

    // The session comes back as it was left: the song, and where in it.
    face.installEventFilter(new CloseWatcher([this] { RememberSession(); }, &face));
    QObject::connect(Store_.get(), &PlaylistStore::CurrentRestored, &face,
                     [this](quint64 id, int song) { ResumeSession(id, song); });
}

void PlayerApp::RememberSession() {
    const NowPlayingInfo now = Player_.NowPlaying();
    const int row = Playlist_.CurrentRow();
    QStringList resume;
    // The playlist's current song, also when a plain open played its file.
    if (now.FileOpen && row >= 0 &&
        QFileInfo(now.FileName).absoluteFilePath() == Playlist_.EntryAt(row).Path &&
        now.Song == Playlist_.CurrentSong())
        resume = {Playlist_.EntryAt(row).Path, QString::number(now.Song),
                  QString::number(Player_.Elapsed()),
                  Player_.State() == PlayState::Paused ? QStringLiteral("paused")
                                                       : QStringLiteral("stopped")};
    Player_.Settings().StoreValue(ResumeKey, resume);
}

void PlayerApp::ResumeSession(quint64 id, int song) {
    uint64_t frame = 0;
    bool paused = false;
    const int row = Playlist_.RowOf(id);
    if (const auto stored = Player_.Settings().StoredValue(ResumeKey); stored && row >= 0) {
        const QStringList resume = stored->toStringList();
        if (resume.size() == 4 && resume[0] == Playlist_.EntryAt(row).Path &&
            resume[1] == QString::number(song)) {
            frame = resume[2].toULongLong();
            paused = resume[3] == QLatin1String("paused");
        }
    }
    Lists_->Cue(id, song, frame, paused);
}

PlayerApp::~PlayerApp() {
    // Whatever refers to the player and the export goes first.
    if (Face_) Player_.Settings().StoreValue(QStringLiteral("WindowPosition"), Face_->pos());
    MediaPlayer_.reset();
    PlaylistWindow_.reset();
    Lists_.reset();
    Store_.reset(); // saves what is not saved yet
    Batches_.reset();
    Face_.reset();
}

bool PlayerApp::RegisterMediaPlayer() { return MediaPlayer_->Register(); }

void PlayerApp::Start(const QStringList& arguments) {
    Store_->Restore();
    Batches_->CheckCommandLineAndReg(arguments);
    Face_->show();
}
