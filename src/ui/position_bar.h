// The position bar: the song's position as a slider over its length and the
// time played and the song's length beside it; a small window of its own, or
// a part of the playlist window. Dragging the slider, clicking beside its handle or the arrow keys
// on it seek the song (Player::Seek). While it is hidden it costs nothing; shown, it asks the
// player four times a second.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>

class Player;
class QLabel;
class QSlider;

class PositionBar final : public QWidget {
    Q_OBJECT

  public:
    // A window of its own, owned by `parent`; or, `embedded`, a part of it.
    explicit PositionBar(Player& player, QWidget* parent = nullptr, bool embedded = false);

    // What the bar shows now: "m:ss / m:ss", or "m:ss" for a song without a
    // length.
    QString TimeText() const;
    QSlider* Slider() const { return Bar; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void Refresh();
    void SeekToSlider();

    Player& Playback;
    QSlider* Bar;
    QLabel* Time;
    QTimer Timer;
};

// "m:ss" of a number of output frames.
QString MinutesAndSeconds(uint64_t frames);
// The time played, and the song's length where its file gives one:
// "m:ss / m:ss" or "m:ss" (the bar and the main window's tooltip).
QString PlayedText(const Player& player);
