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
    return player.FromPlaylist() || player.Settings().FollowSongLengths();
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
    : QWidget(parent, embedded ? Qt::Widget : Qt::Tool), Playback(player),
      Bar(new QSlider(Qt::Horizontal, this)), Time(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Position"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(Bar, 1);
    layout->addWidget(Time);
    if (embedded)
        layout->setContentsMargins(0, 0, 0, 0);
    else
        resize(360, sizeHint().height());
    Bar->setPageStep(50); // 5 s, as Left and Right on the main window
    Bar->setSingleStep(10);
    connect(Bar, &QSlider::sliderReleased, this, &PositionBar::SeekToSlider);
    connect(Bar, &QSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderMove) return; // a drag seeks when let go
        // The slider takes the action's value after this signal.
        QTimer::singleShot(0, this, &PositionBar::SeekToSlider);
    });
    Timer.setInterval(250);
    connect(&Timer, &QTimer::timeout, this, &PositionBar::Refresh);
    connect(&Playback, &Player::Seeked, this, &PositionBar::Refresh);
    connect(&Playback, &Player::StateChanged, this, &PositionBar::Refresh);
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

QString PositionBar::TimeText() const { return PlayedText(Playback); }

void PositionBar::showEvent(QShowEvent* event) {
    Refresh();
    Timer.start();
    QWidget::showEvent(event);
}

void PositionBar::hideEvent(QHideEvent* event) {
    Timer.stop();
    QWidget::hideEvent(event);
}

void PositionBar::Refresh() {
    if (!isVisible()) return;
    Time->setText(TimeText());
    Bar->setEnabled(Playback.State() != PlayState::Stopped);
    if (Bar->isSliderDown()) return; // the user holds it
    const QSignalBlocker quiet(Bar);
    Bar->setRange(0, static_cast<int>(SpanOf(Playback) / FramesPerStep));
    Bar->setValue(static_cast<int>(Playback.Elapsed() / FramesPerStep));
}

void PositionBar::SeekToSlider() {
    Playback.Seek(static_cast<uint64_t>(Bar->value()) * FramesPerStep);
    Refresh();
}
