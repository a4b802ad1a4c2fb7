// Playing the playlist: ties the list, its order and the Player together.
//
//     PlaylistPlayback lists(player, model);
//     lists.Enqueue({"/music/Games"});      // added; plays the first song if nothing plays
//     lists.ReplaceWith("/music/best.m3u8"); // the list's entries, its first playable song
//     lists.Play(entryId, 0);               // a row of the window
//
// A song started here always ends (its RenderTiming, or silence) and the
// order picks the next one, which the Player starts from the very next frame,
// also from another file. Files that cannot be played are marked in the list
// with their reason and skipped without a box; a list in which nothing can be
// played stops instead of looking for ever.
#pragma once

#include "playback/player.h"
#include "playback/playlist.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class PlaylistPlayback : public QObject, public PlaylistSource {
    Q_OBJECT

  public:
    // The player plays the list's songs through this object from now on.
    PlaylistPlayback(Player& player, PlaylistModel& model, QObject* parent = nullptr);
    ~PlaylistPlayback() override; // the player forgets the list

    // Plays song `song` of entry `id`; when it cannot be played, the next
    // playable song in the order. False when nothing could be played.
    bool Play(quint64 id, int song);
    // Puts song `song` of entry `id` in the player without a sound, at
    // `frame`, stopped or paused (a restored session); only when the player
    // has no file and nothing added waits to start. False when it was not.
    bool Cue(quint64 id, int song, uint64_t frame, bool paused);
    // Adds files, folders and lists at the end; when the player is stopped,
    // the first song added that can be played starts.
    void Enqueue(const QStringList& paths);
    // Replaces the list with a playlist file's entries and plays its first
    // playable song.
    void ReplaceWith(const QString& playlistFile);
    // Files given together (a command line, a file manager's selection) join
    // the list in order; the one the seed's own paths are playing (`song` of
    // `playing`; none when empty) becomes its current entry.
    void AddAsCurrent(const QStringList& files, const QString& playing, int song);
    // Across entries, in the order; false when there is nothing that way.
    bool Next() override;
    bool Previous() override;
    bool CanGoNext() const override;
    bool CanGoPrevious() const override;

    bool Shuffle() const { return Order.Shuffle; }
    RepeatMode Repeat() const { return Order.Repeat; }
    void SetShuffle(bool shuffle);
    void SetRepeat(RepeatMode repeat);
    // A fresh order (shuffle and repeat off, nothing played) whose shuffle
    // draws from `seed`, so that a run can be repeated.
    void RestartOrder(uint32_t seed) { Order = PlaylistOrder(seed); }

    // What the player asks when a playlist song ends or cannot be opened.
    std::optional<PlaylistStep> NextStep() override;
    void StepFailed(const PlaylistStep& step, const QString& reason) override;

  signals:
    void OrderChanged(bool shuffle, int repeat);

  private:
    Player& Playback;
    PlaylistModel& Model;
    PlaylistOrder Order;
    std::optional<PlaylistPosition> Rendering; // the song the player renders now
    int StartJob = 0;                          // a job whose first playable song is to start
    bool StartAlways = false;
    int CurrentJob = 0; // AddAsCurrent's job
    QString CurrentFile;
    int CurrentFileSong = 0;
    std::optional<PlaylistPosition> Heard() const;
    PlaylistStep StepAt(const PlaylistPosition& position) const;
    void TryStart(int first, int count);
};
