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
    : MainPlayer(std::move(waveOutFactory)),
      Window(std::make_unique<MainWindow>(MainPlayer, Export)) {
    MainWindow& face = *Window;
    const auto changeSkin = [&face](SkinSource source, const QString& path) {
        return face.ChangeSkin(source, path);
    };
    Dialog = new ParametersDialog(MainPlayer.Settings(), changeSkin, &face); // hidden
    QObject::connect(&face, &MainWindow::ParametersAsked, Dialog, [this] { Dialog->exec(); });

    // "Follow song lengths" and the recent files, stored beside the options.
    PlayerSettings& settings = MainPlayer.Settings();
    settings.SetStoreErrorHandler(
        [this](int code, const QString& text) { Dialog->RegError(Window.get(), code, text); });
    settings.LoadStored();

    Arguments = std::make_unique<ArgumentBatches>(MainPlayer, changeSkin);
    Mpris = std::make_unique<MediaPlayerInterface>(MainPlayer);

    // The playlist: kept in its file, played through the player, shown in its
    // own window, fed by the batches.
    ListStore = std::make_unique<PlaylistStore>(ListModel);
    ListPlayback = std::make_unique<PlaylistPlayback>(MainPlayer, ListModel);
    ListWindow = std::make_unique<PlaylistWindow>(ListModel);
    ListWindow->AddPositionBar(new PositionBar(MainPlayer, ListWindow.get(), true));
    Mpris->SetPlaylist(ListPlayback.get());
    PlaylistPlayback& lists = *ListPlayback;
    PlaylistWindow& window = *ListWindow;
    const auto showFailure = [&face](const QString& text, const QString& caption) {
        ShowMessage(&face, text, caption, MessageIcon::Warning);
    };
    QObject::connect(ListStore.get(), &PlaylistStore::Failed, &face, showFailure,
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
    Arguments->Enqueue = [&lists](const QStringList& paths) { lists.Enqueue(paths); };
    Arguments->ReplacePlaylist = [&lists](const QString& file) { lists.ReplaceWith(file); };
    Arguments->FilesGiven = [&lists](const QStringList& files, const QString& played, int song) {
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
        face.RestorePosition(position->toPoint());
    window.ShowOrder(lists.Shuffle(), static_cast<int>(lists.Repeat()));
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
    QObject::connect(Mpris.get(), &MediaPlayerInterface::QuitAsked, &face, &QWidget::close);
    const auto raise = [&face] {
        face.setWindowState(face.windowState() & ~Qt::WindowMinimized);
        face.show();
        face.raise();
        face.activateWindow();
    };
    QObject::connect(Mpris.get(), &MediaPlayerInterface::RaiseAsked, &face, raise);
    Arguments->Raise = raise;

    // The program ends with its main window, also while the playlist window
    // is open.
    window.setAttribute(Qt::WA_QuitOnClose, false);

    // The session comes back as it was left: the song, and where in it.
    face.installEventFilter(new CloseWatcher([this] { RememberSession(); }, &face));
    QObject::connect(ListStore.get(), &PlaylistStore::CurrentRestored, &face,
                     [this](quint64 id, int song) { ResumeSession(id, song); });
}

void PlayerApp::RememberSession() {
    const NowPlayingInfo now = MainPlayer.NowPlaying();
    const int row = ListModel.CurrentRow();
    QStringList resume;
    // The playlist's current song, also when a plain open played its file.
    if (now.FileOpen && row >= 0 &&
        QFileInfo(now.FileName).absoluteFilePath() == ListModel.EntryAt(row).Path &&
        now.Song == ListModel.CurrentSong())
        resume = {ListModel.EntryAt(row).Path, QString::number(now.Song),
                  QString::number(MainPlayer.Elapsed()),
                  MainPlayer.State() == PlayState::Paused ? QStringLiteral("paused")
                                                          : QStringLiteral("stopped")};
    MainPlayer.Settings().StoreValue(ResumeKey, resume);
}

void PlayerApp::ResumeSession(quint64 id, int song) {
    uint64_t frame = 0;
    bool paused = false;
    const int row = ListModel.RowOf(id);
    if (const auto stored = MainPlayer.Settings().StoredValue(ResumeKey); stored && row >= 0) {
        const QStringList resume = stored->toStringList();
        if (resume.size() == 4 && resume[0] == ListModel.EntryAt(row).Path &&
            resume[1] == QString::number(song)) {
            frame = resume[2].toULongLong();
            paused = resume[3] == QLatin1String("paused");
        }
    }
    ListPlayback->Cue(id, song, frame, paused);
}

PlayerApp::~PlayerApp() {
    // Whatever refers to the player and the export goes first.
    if (Window) MainPlayer.Settings().StoreValue(QStringLiteral("WindowPosition"), Window->pos());
    Mpris.reset();
    ListWindow.reset();
    ListPlayback.reset();
    ListStore.reset(); // saves what is not saved yet
    Arguments.reset();
    Window.reset();
}

bool PlayerApp::RegisterMediaPlayer() { return Mpris->Register(); }

void PlayerApp::Start(const QStringList& arguments) {
    ListStore->Restore();
    Arguments->CheckCommandLineAndReg(arguments);
    Window->show();
}
