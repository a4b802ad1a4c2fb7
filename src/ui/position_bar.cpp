// The position bar (see position_bar.h).
#include "ui/position_bar.h"

#include "playback/player.h"
#include "playback/playlist.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <algorithm>

namespace {

// The slider counts tenths of a second.
constexpr uint64_t FramesPerStep = OutputRate / 10;

// Whether the song ends at the length its entry gives: a playlist song
// always does, another one only while song lengths are followed (else it
// plays on past it).
bool LengthEndsSong(const Player& player) {
    return player.FromPlaylist() || player.Settings().FollowSongLengths;
}

// The span the slider covers: the song's length when the song ends there;
// for a song without one, the default rendering length, or longer once the
// song has played past it (also past a length it does not end at).
uint64_t SpanOf(const Player& player) {
    const NowPlayingInfo now = player.NowPlaying();
    const SongEntry* song = now.Current();
    if (song && song->Length.Frames != 0) {
        if (LengthEndsSong(player)) return song->Length.Frames;
        return std::max(song->Length.Frames, player.Elapsed() + 30 * OutputRate);
    }
    const auto fallback = static_cast<uint64_t>(DefaultSongSeconds * OutputRate);
    return std::max(fallback, player.Elapsed() + 30 * OutputRate);
}

} // namespace

PositionBar::PositionBar(Player& player, QWidget* parent, bool embedded)
    : QWidget(parent, embedded ? Qt::Widget : Qt::Tool), player_(player),
      slider_(new QSlider(Qt::Horizontal, this)), time_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Position"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(slider_, 1);
    layout->addWidget(time_);
    if (embedded)
        layout->setContentsMargins(0, 0, 0, 0);
    else
        resize(360, sizeHint().height());
    slider_->setPageStep(50); // 5 s, as Left and Right on the main window
    slider_->setSingleStep(10);
    connect(slider_, &QSlider::sliderReleased, this, &PositionBar::SeekToSlider);
    connect(slider_, &QSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderMove) return; // a drag seeks when let go
        // The slider takes the action's value after this signal.
        QTimer::singleShot(0, this, &PositionBar::SeekToSlider);
    });
    timer_.setInterval(250);
    connect(&timer_, &QTimer::timeout, this, &PositionBar::Refresh);
    connect(&player_, &Player::Seeked, this, &PositionBar::Refresh);
    connect(&player_, &Player::StateChanged, this, &PositionBar::Refresh);
}

QString MinutesAndSeconds(uint64_t frames) {
    const uint64_t seconds = frames / OutputRate;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString PlayedText(const Player& player) {
    const QString played = MinutesAndSeconds(player.Elapsed());
    const NowPlayingInfo now = player.NowPlaying();
    const SongEntry* song = now.Current();
    if (song == nullptr || song->Length.Frames == 0) return played;
    // Lengths rounded as the song menu and the playlist round them. A song
    // that plays on past its length shows the length as the file's, not as
    // an end ("7:02 / 0:52" would say the impossible).
    const QString length = FramesText(song->Length.Frames);
    if (!LengthEndsSong(player)) return played + QStringLiteral(" (length ") + length + u')';
    return played + QStringLiteral(" / ") + length;
}

QString PositionBar::TimeText() const { return PlayedText(player_); }

void PositionBar::showEvent(QShowEvent* event) {
    Refresh();
    timer_.start();
    QWidget::showEvent(event);
}

void PositionBar::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

void PositionBar::Refresh() {
    if (!isVisible()) return;
    time_->setText(TimeText());
    slider_->setEnabled(player_.State() != PlayState::Stopped);
    if (slider_->isSliderDown()) return; // the user holds it
    const QSignalBlocker quiet(slider_);
    slider_->setRange(0, static_cast<int>(SpanOf(player_) / FramesPerStep));
    slider_->setValue(static_cast<int>(player_.Elapsed() / FramesPerStep));
}

void PositionBar::SeekToSlider() {
    player_.Seek(static_cast<uint64_t>(slider_->value()) * FramesPerStep);
    Refresh();
}
