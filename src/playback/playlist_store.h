// The playlist kept between runs: $XDG_DATA_HOME/Ostrowind/Zirrafon/
// playlist.m3u8 (~/.local/share/... when the variable is unset or not an
// absolute path), with the current entry and song.
//
//     PlaylistStore store(model);
//     store.Restore();   // at start: the saved entries are read again, the
//                        // current one marked once it is in
//     ...                // from then on every change is saved shortly after
//
// A save writes a temporary file beside the list and renames it over the old
// one, so a crash or a full disk never leaves half a list. A saved list that
// cannot be read back as one of ours is not thrown away: it is renamed to
// "playlist.m3u8.bad", `Failed` says so once, and the player starts with an
// empty list.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <future>
#include <string>

class PlaylistModel;
struct M3UList;

// $XDG_DATA_HOME (absolute) or ~/.local/share, then Ostrowind/Zirrafon/playlist.m3u8.
QString PlaylistStorePath();

// Writes the model's entries and current song as M3U8 to `path` through a
// temporary file; false with `error` set when it could not be written.
bool SavePlaylistFile(const PlaylistModel& model, const QString& path, QString* error = nullptr);
// The two halves of it: what the model holds as a list (on the model's
// thread), and the list's text written to `path` (on any thread).
M3UList PlaylistAsM3U(const PlaylistModel& model);
bool WritePlaylistFile(const M3UList& list, const QString& path, QString* error = nullptr);

class PlaylistStore : public QObject {
    Q_OBJECT

  public:
    explicit PlaylistStore(PlaylistModel& model, QString path = PlaylistStorePath(),
                           QObject* parent = nullptr);
    ~PlaylistStore() override; // a change not yet saved is saved

    QString Path() const { return FilePath; }
    // Reads the saved list into the (empty) model. Nothing saved: nothing to do.
    void Restore();
    // Saves now if anything changed since the last save.
    void Flush();

  signals:
    // A saved list was damaged and kept aside, or a save failed (said once a run).
    void Failed(const QString& text, const QString& caption);
    void Saved();
    // The restored list's current song is in the list again (its row read).
    void CurrentRestored(quint64 id, int song);

  private:
    PlaylistModel& Model;
    QString FilePath;
    QTimer Delay; // changes that come together are saved together
    bool Dirty = false;
    bool Restoring = false;
    bool SaveErrorShown = false;
    int RestoreJob = 0;
    int RestoreEntry = -1, RestoreSong = 0;
    // The file is written on a thread of its own, so that a list of ten
    // thousand files never holds the window up; one write at a time.
    std::future<QString> Writing;
    unsigned WritesStarted = 0; // tells a finished write's notice from a later write's
    void Save();
    void WriteDone(const QString& error);
};
