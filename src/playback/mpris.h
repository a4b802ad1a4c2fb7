// The desktop's media-player interface: MPRIS 2.2 on the D-Bus session bus,
// so that media keys, the desktop's sound menu and `playerctl` see and steer
// the player.
//
//     MediaPlayerInterface mpris(player);
//     connect(&mpris, &MediaPlayerInterface::QuitAsked, window, &QWidget::close);
//     mpris.Register(); // false without a session bus: the player plays on without it
//
// Bus name `org.mpris.MediaPlayer2.zirrafon` (with ".instance<pid>" appended
// when another player of the session holds it), object `/org/mpris/MediaPlayer2`,
// interfaces `org.mpris.MediaPlayer2` and `org.mpris.MediaPlayer2.Player`.
//
// Each call does what the matching button does, through the same `Player`
// action; closing and raising are asked of whoever owns the main window
// (`QuitAsked`, `RaiseAsked`), which acts as its close button and a task
// switcher do. Calls are answered first and acted on right after, from
// the event loop, so that a message box the action shows never keeps the
// caller waiting. Where the interface asks more than a button gives:
// - Play resumes a paused song (the play button would restart it) and does
//   nothing while a song plays; Pause does nothing unless a song plays;
//   PlayPause starts the current song when stopped, else pauses or resumes.
// - Next and Previous do nothing when CanGoNext / CanGoPrevious say so: at the
//   ends of the file, as the buttons, and also when no file is open. A song
//   that came from the playlist goes on across its entries.
// - Shuffle and LoopStatus ("None", "Track", "Playlist") are the playlist's
//   order; the track id names the playlist row and song, so each row has its own.
// - OpenUri plays a `file:` URI; other schemes are refused with an error. The
//   file is read before the song playing is stopped, so one that cannot be
//   played leaves it playing (and the face says which file failed).
// - Position is `Player::Elapsed` in microseconds: played time since the
//   song started, paused time not counted. Seek and SetPosition go through
//   `Player::Seek` (a position before the start counts as the start; one past
//   a followed song's end ends it); SetPosition for another track than the
//   one playing, or outside the song's length, does nothing, as the interface
//   asks. `Seeked` tells every seek, whoever asked for it.
// - Volume 0.0..1.0 maps onto the volume bar's 0..39 steps (rounded); setting
//   it moves the bar as the volume keys do.
// `PropertiesChanged` is sent once per turn of the event loop for everything
// that changed in it (state, song, texts, volume, the Can… flags).
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

class Player;
class PlaylistPlayback;

class MediaPlayerInterface : public QObject {
    Q_OBJECT

  public:
    explicit MediaPlayerInterface(Player& player, QObject* parent = nullptr);
    ~MediaPlayerInterface() override;

    // The playlist: Next and Previous cross its entries while the song came
    // from it; Shuffle and LoopStatus are its order.
    void SetPlaylist(PlaylistPlayback* lists);

    // Exports the object and claims the bus name on the session bus. False,
    // with nothing else done, when there is no session bus or it refuses.
    bool Register();
    QString BusName() const { return RegisteredName; } // empty until registered

    // ---- org.mpris.MediaPlayer2.Player, as the adaptors report and act ----------
    QString PlaybackStatus() const; // "Playing", "Paused" or "Stopped"
    QVariantMap Metadata() const;
    double Volume() const;
    void SetVolume(double volume);
    qlonglong Position() const; // microseconds
    bool CanSeek() const;       // a song plays or is paused
    void Seek(qlonglong offset);
    void SetPosition(const QString& track, qlonglong position);
    bool CanGoNext() const;
    bool CanGoPrevious() const;
    bool CanPlay() const; // a song file is open
    bool Shuffle() const;
    void SetShuffle(bool shuffle);
    QString LoopStatus() const; // "None", "Track" or "Playlist"
    void SetLoopStatus(const QString& status);
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    // False for a URI that is not a local file (nothing is done then).
    bool OpenUri(const QString& uri);
    // ---- org.mpris.MediaPlayer2 -------------------------------------------------------
    void Quit();
    void Raise();

  signals:
    void QuitAsked();                // close the main window, as its close button does
    void RaiseAsked();               // bring the main window to the front, unminimised
    void Seeked(qlonglong position); // microseconds

  private:
    // Runs `action` from the event loop, after the call has been answered.
    template <typename Action> void Later(Action action);
    void PropertiesMayHaveChanged();
    // Sends PropertiesChanged for what differs from what was last announced.
    void Announce();

    Player& Playback;
    PlaylistPlayback* Lists = nullptr;
    QString RegisteredName;
    QVariantMap Announced;
    bool AnnouncePending = false;
};
