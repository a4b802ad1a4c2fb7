// The composition root (see player_app.h).
#include "app/player_app.h"

#include "platform/messages.h"
#include "ui/position_bar.h"

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
    Batches_->FilePlayed = [&lists](const QString& file, int song) {
        lists.AddAsCurrent(file, song);
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
    QObject::connect(MediaPlayer_.get(), &MediaPlayerInterface::RaiseAsked, &face, [&face] {
        face.setWindowState(face.windowState() & ~Qt::WindowMinimized);
        face.show();
        face.raise();
        face.activateWindow();
    });
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
