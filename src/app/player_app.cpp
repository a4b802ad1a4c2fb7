// The composition root (see player_app.h).
#include "app/player_app.h"

#include "platform/messages.h"
#include "ui/position_bar.h"

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
    Arguments->FilePlayed = [&lists](const QString& file, int song) {
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
    QObject::connect(Mpris.get(), &MediaPlayerInterface::RaiseAsked, &face, [&face] {
        face.setWindowState(face.windowState() & ~Qt::WindowMinimized);
        face.show();
        face.raise();
        face.activateWindow();
    });
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
