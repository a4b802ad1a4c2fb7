// The composition root (see player_app.h).
#include "app/player_app.h"

PlayerApp::PlayerApp(WaveOutFactory waveOutFactory)
    : Player_(std::move(waveOutFactory)), Face_(std::make_unique<TForm1>(Player_, Export)) {
    TForm1& face = *Face_;
    const auto changeSkin = [&face](int mode, const QString& path) {
        return face.ChangeSkin(mode, path);
    };
    Parameters_ = new TForm2(Player_.Settings(), changeSkin, &face); // hidden
    QObject::connect(&face, &TForm1::ParametersAsked, Parameters_, [this] { Parameters_->exec(); });

    // "Follow song lengths" and the recent files, stored beside the options.
    PlayerSettings& settings = Player_.Settings();
    settings.StoreError = [this](int code, const QString& text) {
        Parameters_->RegError(Face_.get(), code, text);
    };
    settings.LoadStored();

    Batches_ = std::make_unique<ArgumentBatches>(Player_, changeSkin);
    MediaPlayer_ = std::make_unique<MediaPlayerInterface>(Player_);
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
    MediaPlayer_.reset();
    Batches_.reset();
    Face_.reset();
}

bool PlayerApp::RegisterMediaPlayer() { return MediaPlayer_->Register(); }

void PlayerApp::Start(const QStringList& arguments) {
    Batches_->CheckCommandLineAndReg(arguments);
    Face_->show();
}
