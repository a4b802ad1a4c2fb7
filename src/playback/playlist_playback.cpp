// Playing the playlist (see playlist_playback.h).
#include "playback/playlist_playback.h"

#include <QFileInfo>

PlaylistPlayback::PlaylistPlayback(Player& player, PlaylistModel& model, QObject* parent)
    : QObject(parent), Playback(player), Model(model) {
    Playback.SetPlaylistSource(this);
    connect(&Playback, &Player::PlaylistSongStarted, this, [this](quint64 entry, int song) {
        Order.Played({entry, song});
        Model.SetCurrent(entry, song);
    });
    connect(&Model, &PlaylistModel::EntriesArrived, this, [this](int job, int first, int count) {
        if (job == StartJob) TryStart(first, count);
        if (job == CurrentJob) {
            // The file played is the last of the job that names it.
            for (int row = first + count - 1; row >= first; --row)
                if (Model.EntryAt(row).Path == CurrentFile) {
                    Model.SetCurrent(Model.EntryAt(row).Id, CurrentFileSong);
                    break;
                }
        }
    });
    connect(&Model, &PlaylistModel::AddingFinished, this, [this](int job) {
        if (job == StartJob) StartJob = 0;
        if (job == CurrentJob) CurrentJob = 0;
    });
}

PlaylistPlayback::~PlaylistPlayback() { Playback.SetPlaylistSource(nullptr); }

std::optional<PlaylistStep> PlaylistPlayback::NextStep() {
    for (int tries = 0; tries <= Model.Count(); ++tries) {
        const auto next = Order.Next(OrderItems(Model), Rendering, false);
        if (!next) return std::nullopt;
        const int row = Model.RowOf(next->Id);
        Model.ReadNow(row); // not read yet: the player needs it now
        if (!Model.EntryAt(row).Playable()) {
            Rendering = next; // skipped: the order goes on from it
            continue;
        }
        Rendering = next;
        return StepAt(*next);
    }
    return std::nullopt;
}

void PlaylistPlayback::StepFailed(const PlaylistStep& step, const QString& reason) {
    const int row = Model.RowOf(step.Entry);
    Model.MarkFailed(
        row, QFileInfo::exists(step.File) ? EntryStatus::Refused : EntryStatus::Missing, reason);
}

PlaylistStep PlaylistPlayback::StepAt(const PlaylistPosition& position) const {
    return {Model.EntryAt(Model.RowOf(position.Id)).Path, position.Song, position.Id};
}

std::optional<PlaylistPosition> PlaylistPlayback::Heard() const {
    if (Model.CurrentId() == 0) return std::nullopt;
    return PlaylistPosition{Model.CurrentId(), Model.CurrentSong()};
}

bool PlaylistPlayback::Play(quint64 id, int song) {
    // A file asked for by name is looked at again: it may be back.
    Model.ReadAgain(Model.RowOf(id));
    std::optional<PlaylistPosition> at = PlaylistPosition{id, song};
    // Each failure marks a file as not playable, so this ends within the list.
    for (int tries = 0; at && tries <= Model.Count() + 1; ++tries) {
        const int row = Model.RowOf(at->Id);
        if (row < 0) return false;
        Model.ReadNow(row);
        const PlaylistEntry& e = Model.EntryAt(row);
        if (e.Playable() && at->Song < e.Songs.size()) {
            Rendering = at;
            const QString reason = Playback.PlayFromPlaylist(StepAt(*at));
            if (reason.isEmpty()) {
                Order.Played(*at);
                return true;
            }
            Model.MarkFailed(
                row, QFileInfo::exists(e.Path) ? EntryStatus::Refused : EntryStatus::Missing,
                reason);
        }
        at = Order.Next(OrderItems(Model), at, true);
    }
    return false;
}

bool PlaylistPlayback::Cue(quint64 id, int song, uint64_t frame, bool paused) {
    if (Playback.NowPlaying().FileOpen || StartJob != 0) return false;
    const int row = Model.RowOf(id);
    if (row < 0) return false;
    Model.ReadNow(row);
    const PlaylistEntry& e = Model.EntryAt(row);
    if (!e.Playable() || song < 0 || song >= e.Songs.size()) return false;
    Rendering = PlaylistPosition{id, song};
    const QString reason = Playback.CueFromPlaylist(StepAt(*Rendering), frame, paused);
    if (reason.isEmpty()) return true;
    Model.MarkFailed(row, QFileInfo::exists(e.Path) ? EntryStatus::Refused : EntryStatus::Missing,
                     reason);
    return false;
}

void PlaylistPlayback::TryStart(int first, int count) {
    if (!StartAlways && Playback.State() != PlayState::Stopped) {
        StartJob = 0;
        return;
    }
    for (int row = first; row < first + count; ++row) {
        if (!Model.EntryAt(row).Playable()) continue;
        StartJob = 0;
        Play(Model.EntryAt(row).Id, 0);
        return;
    }
}

void PlaylistPlayback::Enqueue(const QStringList& paths) {
    const int job = Model.Add(paths);
    if (Playback.State() == PlayState::Stopped) {
        StartJob = job;
        StartAlways = false;
    }
}

void PlaylistPlayback::ReplaceWith(const QString& playlistFile) {
    Model.Clear();
    Order.Reset();
    Rendering.reset();
    StartJob = Model.Add({playlistFile}, true); // the list as it is, repeats and all
    StartAlways = true;
}

void PlaylistPlayback::AddAsCurrent(const QStringList& files, const QString& playing, int song) {
    CurrentFile = playing.isEmpty() ? QString() : QFileInfo(playing).absoluteFilePath();
    CurrentFileSong = song;
    QStringList paths;
    for (const QString& file : files) paths << QFileInfo(file).absoluteFilePath();
    // A file already listed is marked there, not listed again.
    if (const int row = Model.RowOfPath(CurrentFile); !CurrentFile.isEmpty() && row >= 0) {
        Model.SetCurrent(Model.EntryAt(row).Id, song);
        CurrentFile.clear();
    }
    const int job = Model.Add(paths);
    CurrentJob = CurrentFile.isEmpty() ? 0 : job;
}

bool PlaylistPlayback::Next() {
    const auto next = Order.Next(OrderItems(Model), Heard(), true);
    return next && Play(next->Id, next->Song);
}

bool PlaylistPlayback::Previous() {
    const auto heard = Heard();
    if (!heard) return false;
    const auto previous = Order.Previous(OrderItems(Model), *heard);
    return previous && Play(previous->Id, previous->Song);
}

bool PlaylistPlayback::CanGoNext() const {
    PlaylistOrder probe = Order; // a copy: asking must not move the shuffle
    return probe.Next(OrderItems(Model), Heard(), true).has_value();
}

bool PlaylistPlayback::CanGoPrevious() const {
    const auto heard = Heard();
    if (!heard) return false;
    PlaylistOrder probe = Order;
    return probe.Previous(OrderItems(Model), *heard).has_value();
}

void PlaylistPlayback::SetShuffle(bool shuffle) {
    if (Order.Shuffle == shuffle) return;
    Order.Shuffle = shuffle;
    Order.Reset();
    // The song heard counts as played: the shuffle does not come back to it first.
    if (const auto heard = Heard()) Order.Played(*heard);
    emit OrderChanged(Order.Shuffle, static_cast<int>(Order.Repeat));
}

void PlaylistPlayback::SetRepeat(RepeatMode repeat) {
    if (Order.Repeat == repeat) return;
    Order.Repeat = repeat;
    emit OrderChanged(Order.Shuffle, static_cast<int>(Order.Repeat));
}
