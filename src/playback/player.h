// The player: one song session, the two sample buffers with their headers, the
// wave device, and the user-level actions on them (open and play, play, stop,
// pause, previous, next). No widgets: the face (ui/main_window.h) calls the actions,
// asks the queries and shows what the signals tell it, failures included;
// tests drive it on a fake wave device.
//
//     Player player(CreateSoundServerWaveOut);
//     connect(&player, &Player::Failed, ...);  // text, caption, icon: show a box
//     player.OpenAndPlay("/music/song.ay");   // stop, open by extension, play
//     player.Next();                          // the file's next song
//     player.Settings().SetVolume(20);        // heard within two buffers
//     player.NowPlaying().Title;              // what the face shows
//
// Everything runs on the thread that owns the player: the wave device posts a
// completion notice for every buffer it has played, and `OnBufferPlayed` refills that
// buffer by running the emulation.
//
// Where it knowingly differs from a classic wave-out player:
// - The completion notice is a posted Qt event; `StopPlaying` removes the
//   notices still queued, so no refill runs for a closed device.
// - A song file whose first song lies beyond its song count starts on song 0.
// - A failure does not hold the player up while its box is shown: `Failed`
//   is queued, the player finishes the steps the failure leaves (closing
//   the device, say) at once, and the box comes up from the event loop. So
//   whatever the user does while a box is open (a stop, a file handed over)
//   meets a player that is already in a state of its own.
// - Song texts are bytes without a code page; each byte becomes one character
//   (Latin-1), so the face can map them back to the skin font one to one.
#pragma once

#include "platform/message_icon.h"
#include "playback/player_settings.h"
#include "playback/waveout.h"
#include "songs/session.h"
#include "songs/silence.h"
#include "songs/song_stream.h"

#include <QFlags>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The application's title: caption of the general error report.
inline constexpr const char* ApplicationTitle = "Zirrafon";
// The caption when the sound output cannot be opened at a playback start.
inline constexpr const char* NoSoundCaption = "The sound output could not be opened";

enum class PlayState { Stopped, Playing, Paused };

// Which part of what is playing changed.
enum class NowPlayingPart : unsigned {
    File = 1,   // another file was opened (FileName, Songs)
    Texts = 2,  // the author, misc and title texts all at once
    Title = 4,  // the title text alone: an AY song names its song when it starts
    Number = 8, // the song number shown
    Count = 16, // the song count shown
};
Q_DECLARE_FLAGS(NowPlayingParts, NowPlayingPart)
Q_DECLARE_OPERATORS_FOR_FLAGS(NowPlayingParts)

// One song of the open file as a song list shows it.
struct SongEntry {
    QString Title;     // an AY song's own name, an AYM file's title
    SongTiming Length; // as the file gives it; Frames 0 when it gives none
};

// What is playing, as the face and the media-player interface show it.
struct NowPlayingInfo {
    bool FileOpen = false;
    QString FileName;                 // the file last opened, as it was given
    QString Author, Misc, Title;      // the three label texts on show
    int Number = 0;                   // the song number on show, from 1
    int Count = 0;                    // the song count on show
    int Song = 0;                     // the current song, from 0
    quint64 Entry = 0;                // the playlist row it came from; 0: not from the list
    std::vector<SongEntry> Songs;     // the open file's songs (empty without a file)
    const SongEntry* Current() const; // the current song's entry, or null
};

// A song of the playlist: its file, its index there and the row it came from.
struct PlaylistStep {
    QString File;
    int Song = 0;
    quint64 Entry = 0; // the playlist row it came from
};

// The playlist as the player sees it while it plays the list's songs: what
// comes next, where Next and Previous lead once the file's own songs are
// behind them, and what to do with a file that could not be opened. The
// playlist's playback implements it (playback/playlist_playback.h).
class PlaylistSource {
  public:
    virtual ~PlaylistSource() = default;
    // The song after the one ending; nothing at the end of the list.
    virtual std::optional<PlaylistStep> NextStep() = 0;
    // A file the list led to could not be opened (`reason`): the list marks
    // it, and is asked again.
    virtual void StepFailed(const PlaylistStep& step, const QString& reason) = 0;
    // The list's Next and Previous, for when the buttons reach the ends of a
    // file that came from the list; false when there was nothing that way.
    virtual bool Next() = 0;
    virtual bool Previous() = 0;
    virtual bool CanGoNext() const = 0;
    virtual bool CanGoPrevious() const = 0;
};

class Player : public QObject {
    Q_OBJECT

  public:
    // `waveOutFactory` makes the wave device at each playback start (the real
    // audio sink unless a test passes a fake).
    explicit Player(WaveOutFactory waveOutFactory = CreateSoundServerWaveOut,
                    QObject* parent = nullptr);
    ~Player() override;

    // The player applies the settings to its engine as they change (chip
    // mode, beeper level, volume, mutes), so they live with it; the face, the dialog, the
    // start-up options and the media-player interface all change them here.
    PlayerSettings& Settings() { return OwnSettings; }
    const PlayerSettings& Settings() const { return OwnSettings; }
    // The chip as the settings have built it (its tables, the beeper level).
    const SoundEngine& Engine() const { return *Session.Engine; }

    // ---- Queries ------------------------------------------------------------
    PlayState State() const;
    // Time since the current song started, as frames of 1/44,100 s that the
    // sound device has played: paused time does not count, nor does sound
    // still waiting in the buffers. When stopped, where Play will start: 0,
    // or where a restored session left the song. The elapsed time the
    // player shows and the media-player interface's position both use it.
    uint64_t Elapsed() const;
    // Whether Next and Previous have a song to go to: a file is open and the
    // current song is not its last (first) one.
    bool CanGoNext() const;
    bool CanGoPrevious() const;
    NowPlayingInfo NowPlaying() const;

    // ---- User-level actions -------------------------------------------------
    // Stops, opens the file by its extension, shows its texts, plays its first song.
    void OpenAndPlay(const QString& fileName);
    // The same, but the file is read first, while the current song plays on:
    // a file that cannot be played costs nothing, and the message names it
    // ("File not found: /music/x.ay"). For the ways in this project adds
    // (the media-player interface, the recent files).
    void OpenAndPlayIfReadable(const QString& fileName);
    // (Re)starts the current song from its beginning; a song a restored
    // session put in place (CueFromPlaylist) starts where it was left.
    void Play();
    void Stop();  // the file stays open and the song selected
    void Pause(); // pauses, or resumes a paused song
    // At the first (last) song they do nothing; without a file only the song
    // index moves. A song from the playlist moves in the playlist's order.
    void Previous();
    void Next();
    // Plays song `index` of the open file (the song list's choice).
    void PlaySongAt(int index);
    // Goes on from `frame` (1/44,100 s from the start of the song heard),
    // heard at once: the sound already queued is dropped, and the song goes on
    // exactly as a play from its start has it there, faded alike. With song
    // lengths followed, a frame at or past the song's end ends it (the next
    // song follows, or playback stops after the last). Only while a song
    // plays or is paused (it stays paused).
    void Seek(uint64_t frame);
    // The voices left out of the mix (a set of chip.h's `Voice`s), heard at
    // once, whoever changes them: what the sound device holds is rendered
    // again from the frame it has got to, as a seek does; not stored.
    unsigned MutedVoices() const { return OwnSettings.MutedVoices(); }
    void ToggleMute(int voice);
    // The voice alone; soloed again, every voice comes back.
    void Solo(int voice);
    // The player's part of closing the window: stop, close the song file,
    // normal priority.
    void Shutdown();

    // ---- Songs from the playlist ----------------------------------------------
    // A song started from the playlist always ends: at its RenderTiming (the
    // file's length and fade, else the default length, or, without a length
    // from the file, where its output has stayed unchanged for
    // `SetSilenceSeconds`), whatever "Follow song lengths" says; the next one comes from
    // the playlist source and follows from the very next frame, also from another file.
    // Songs started by the open button, a plain argument or a drop keep the switch's rule.
    // The source stays the caller's; null (as before any is set) plays no list.
    void SetPlaylistSource(PlaylistSource* source) { Playlist = source; }
    // Seconds of unchanged output that end a playlist song (0: never).
    void SetSilenceSeconds(double seconds) { SilenceSeconds = seconds; }
    // Opens `step`'s file (read first: a file that cannot be opened stops
    // nothing and is reported by the return value, not by a box) and plays its
    // song as a playlist song. Empty on success, else the reason.
    QString PlayFromPlaylist(const PlaylistStep& step);
    // The same without a sound: `step`'s song is put in place at `frame`,
    // stopped (Play starts it there) or, with `paused`, paused there (a
    // resume goes on from it), as a session was left. A place beyond the
    // song's end is its start.
    QString CueFromPlaylist(const PlaylistStep& step, uint64_t frame, bool paused);
    // The playing (or last played) song came from the playlist.
    bool FromPlaylist() const { return PlaylistLed; }

  signals:
    void StateChanged(PlayState state);
    // A seek put the song heard at `frame`.
    void Seeked(uint64_t frame);
    void NowPlayingChanged(NowPlayingParts parts);
    // Something failed: the text and caption of the box to show. Delivered
    // from the event loop, after the action that failed has ended.
    void Failed(const QString& text, const QString& caption, MessageIcon icon);
    // A playlist song is heard from now on (row `entry`, song index `song`).
    void PlaylistSongStarted(quint64 entry, int song);

  protected:
    void customEvent(QEvent* event) override;

  private:
    SongSession Session;
    SongList& List; // the session's
    PlayerSettings OwnSettings;
    NowPlayingInfo Shown; // texts and numbers as last announced

    std::unique_ptr<int16_t[]> Buffer1; // BufferValues 16-bit values (65,280 bytes)
    std::unique_ptr<int16_t[]> Buffer2;
    WaveHeader Header1;
    WaveHeader Header2;
    WaveOutFactory WaveOutMaker;
    std::unique_ptr<WaveOutDevice> WaveOut; // open while `Playing`
    bool Playing = false;
    bool Paused = false;

    // ---- Wave output cycle --------------------------------------------------
    // Opens the device, resets the engine, fills and queues both buffers; the
    // stream stands at `from` already; `paused`: nothing is heard until a resume.
    void PlayCurrent(uint64_t from = 0, bool paused = false);
    // A buffer came back from the device: refill it and queue it again.
    void OnBufferPlayed(WaveHeader* header);
    // Tears the device down; drops completion notices still queued.
    void StopPlaying();
    // Fills `buffer` (the one of `header`) with the next BufferValues values:
    // straight from the session, or, when song lengths are followed, cut,
    // faded and continued with the next song.
    void FillNext(int16_t* buffer, const WaveHeader& header);
    // A device call failed: its text, under the call's caption.
    void ReportWaveError(WaveResult code, const char* caption);
    void Fail(const QString& text, const QString& caption, MessageIcon icon);
    void CloseDevice(); // forgets the device after its close
    void SetPlaying(bool playing, bool paused);
    void Announce(NowPlayingParts parts) { emit NowPlayingChanged(parts); }
    // A setting of the mix changed: the engine takes it at once.
    void ApplyMix(MixChange what);

    // Song lengths: with the settings' FollowSongLengths and a file that
    // gives the song a length, the song fades and ends at that length exactly
    // as zirrafon-render renders it (the same song stream), the next song of
    // the file follows from the next frame on, and after the last one
    // playback stops. The song being rendered runs a buffer ahead of the one
    // heard; what a playback start resets:
    SongStream Stream{Session};
    struct SongRun {
        uint64_t Queued = 0;                  // frames handed to the device since the start
        int64_t HeardFrom = 0;                // where in that stream the song heard began
                                              // (before it, after a seek into the song)
        const WaveHeader* StartsIn = nullptr; // the buffer in which the next song starts,
        int NextSong = 0;                     // which one,
        uint64_t NextFrom = 0;                // and where in the stream
        const WaveHeader* EndsWith = nullptr; // the buffer with the last song's end
        bool Over = false;                    // the last song has ended
        PlaylistStep NextStep;                // the playlist's song that starts next
        bool NextFromList = false;
    } Run;
    // Where song `index` ends and fades while song lengths are followed.
    SongTiming FollowedTiming(int index) const;
    // Names the song that starts within the buffer now playing.
    void AnnounceSong(int index);
    // Shows song `index`'s number, and an AY song's name as the title.
    void ShowSong(int index);
    // The bodies of the actions; SongIOError passes through them and is
    // reported once by the action the user started.
    void OpenAndPlayFile(const QString& fileName);
    void PlaySong(uint64_t from = 0, bool paused = false);
    QString OpenFromPlaylist(const PlaylistStep& step, bool cue, uint64_t frame, bool paused);
    uint64_t Cue = 0; // where Play starts the song a restored session put in place
    template <typename Body> void ReportingIOErrors(Body body);
    bool PriorityRefusalShown = false;
    PlaylistSource* Playlist = nullptr;
    double SilenceSeconds = DefaultSilenceSeconds;
    bool PlaylistLed = false; // the song was started from the playlist
    quint64 CurrentEntry = 0; // its playlist row
    uint64_t SilenceLimit(int index) const;
    // At a song's end within the buffer cycle: starts the file's song
    // `index`; false, said once, when its blocks cannot be read.
    bool StartFollowedSong(int index);
    // At a song's end within the buffer cycle: opens the playlist's next
    // song's file and starts the song on the stream; false when there is none.
    bool LoadNextFromPlaylist();
    // Opens a file in the session by its extension and puts the chip in the
    // mode for it; false (with the format error told) when it is refused.
    bool OpenInSession(const QString& fileName, const FormatErrorSink& formatError);
    // The seek's way: drops the sound queued and goes on from frame `to` of
    // the song heard, or, without one, from where the sound heard has got to
    // (what is rendered changed, and is heard at once).
    void Requeue(std::optional<uint64_t> to);
    // Shows a newly opened file's texts and count.
    void ShowFile(const QString& fileName);
};

// Song texts are bytes; each becomes one character.
QString SongText(const std::string& bytes);

// The message shown when the system refuses the priority `priority`
// with `error`: the reason and how to grant it.
QString PriorityRefusalText(Priority priority, int error);
