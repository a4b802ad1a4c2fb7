// The voices view: a small window of its own with a trace of each voice (the
// chip's channels A, B and C and the beeper) over the last 46 ms heard, its
// level beside it and "muted" over a voice left out of the mix, redrawn at
// the display's rate from a VoiceScope (playback/voice_scope.h), which splits
// the voices as zirrafon-render's stems do.
//
// A window of its own rather than a part of the playlist window: it is
// watched while the song plays, beside the player or over anything else,
// and sized as the watcher likes, whether the playlist is open or not. Hidden, it
// has no timer and no machine: the scope is made at each show and dropped at
// each hide.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <memory>

class Player;
class VoiceScope;

class VoicesView final : public QWidget {
    Q_OBJECT

  public:
    explicit VoicesView(Player& player, QWidget* parent = nullptr);
    ~VoicesView() override;

    // What the traces show (null while hidden).
    const VoiceScope* Scope() const { return OwnScope.get(); }
    // Brings the scope to the player's position and redraws when it moved
    // (the timer's step; tests call it for a step of their own).
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // What changes only with the size and the mute: the back, the names,
    // "muted", the rows' lines and the level bars' frames.
    void PaintBack();
    int RowHeight() const;
    QRect Moving() const; // the traces and the level bars
    Player& Playback;
    std::unique_ptr<VoiceScope> OwnScope;
    QTimer Timer;
    QPixmap Back;
    unsigned BackMuted = 0; // the voices `Back` shows muted
};
