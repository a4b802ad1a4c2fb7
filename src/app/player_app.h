// The composition root of the player: it owns the Player (with its
// settings), the export, the argument batches, the playlist (its model, its
// file, its playback and its window) and the media-player interface, builds the face (the main
// window and its hidden Parameters dialog) and wires them together. Nothing else holds one of them
// by pointer: the face and the dialog get what they act on, and ask for the rest through signals.
//
//     PlayerApp app;                              // the real sound device
//     app.RegisterMediaPlayer();                  // on the session bus, when there is one
//     app.Start(arguments);                       // stored options, the command line, show
//     server handler: app.Batches().CommandLineInterpreter(BatchMessageOf(wParam, lParam));
#pragma once

#include "app/argument_batches.h"
#include "playback/mpris.h"
#include "playback/player.h"
#include "playback/playlist.h"
#include "playback/playlist_playback.h"
#include "playback/playlist_store.h"
#include "playback/song_export.h"
#include "ui/main_window.h"
#include "ui/parameters_dialog.h"
#include "ui/playlist_window.h"

#include <QStringList>
#include <memory>

class PlayerApp {
  public:
    // `waveOutFactory` makes the wave device at each playback start (the real
    // audio sink unless a test passes a fake).
    explicit PlayerApp(WaveOutFactory waveOutFactory = CreateSoundServerWaveOut);
    ~PlayerApp();
    PlayerApp(const PlayerApp&) = delete;
    PlayerApp& operator=(const PlayerApp&) = delete;

    Player& Playback() { return MainPlayer; }
    MainWindow& Face() { return *Window; }
    ParametersDialog& Parameters() { return *Dialog; }
    ArgumentBatches& Batches() { return *Arguments; }
    MediaPlayerInterface& MediaPlayer() { return *Mpris; }
    PlaylistModel& Playlist() { return ListModel; }
    PlaylistPlayback& PlaylistPlayer() { return *ListPlayback; }
    PlaylistWindow& PlaylistView() { return *ListWindow; }

    // Media keys, sound menus and playerctl steer the player through it; false
    // without a session bus (the player plays on without it, silently). Made
    // before the start-up batches so that it sees the first file open.
    bool RegisterMediaPlayer();
    // The saved playlist is restored, the stored "Startup" options and
    // `arguments` run as two batches, then the window is shown.
    void Start(const QStringList& arguments);

  private:
    // The song heard and where: stored as the window closes, put back in
    // place, silent, once the restored playlist has its current song.
    void RememberSession();
    void ResumeSession(quint64 id, int song);

    Player MainPlayer;
    SongExport Export;
    PlaylistModel ListModel;
    std::unique_ptr<PlaylistStore> ListStore;
    std::unique_ptr<PlaylistPlayback> ListPlayback;
    std::unique_ptr<PlaylistWindow> ListWindow;
    std::unique_ptr<MainWindow> Window;
    ParametersDialog* Dialog = nullptr; // owned by the face
    std::unique_ptr<ArgumentBatches> Arguments;
    std::unique_ptr<MediaPlayerInterface> Mpris;
};
