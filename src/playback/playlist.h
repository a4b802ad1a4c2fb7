// The playlist: an ordered list of song files (entries), each expanding to
// its songs, with what their headers say (texts, lengths) or why a file
// cannot be played. No widgets: the playlist window shows this model through
// a view, and the player asks it what comes next.
//
//     PlaylistModel list;
//     list.Add({"/music/Games", "/music/best.m3u8"});  // returns at once
//     // rows appear in order as a reader thread gets through the headers;
//     // AddingFinished(job) when the last of them is in
//     list.SetCurrent(list.EntryAt(0).Id, 0);          // the row the player plays
//
// The tree has one top-level row per entry and one child row per song. Files
// are read in a thread of their own, a batch at a time, so that adding a
// collection of thousands never holds up the window or the sound: a batch is
// handed over when it is large enough or old enough, whichever comes first.
// Devices, FIFOs and sockets are refused from their file status, never
// opened, so a name that points at one cannot block the reader.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <unordered_map>
#include <utility>

class SongSession;

enum class EntryStatus { Pending, Ready, Missing, Refused };

struct PlaylistSong {
    QString Title;       // the song's own name (AY), the file's title (AYM)
    uint64_t Frames = 0; // how long it plays from the list: RenderTiming's length
    bool FileGivesLength = false;
};

struct PlaylistEntry {
    quint64 Id = 0; // unique in this run: rows keep it through moves
    QString Path;   // absolute
    EntryStatus Status = EntryStatus::Pending;
    QString Reason; // why it is missing or refused
    QString Author, Misc, Title;
    int FirstSong = 0; // the song a plain open starts with
    QVector<PlaylistSong> Songs;

    bool Playable() const { return Status == EntryStatus::Ready && !Songs.isEmpty(); }
    uint64_t TotalFrames() const;
};

// Reads what the playlist keeps of one file, on any thread. The file is
// looked at with stat() first: a missing one is Missing ("File not found"),
// anything but a regular file is Refused without being opened, a file the
// readers refuse is Refused with their message.
PlaylistEntry ReadPlaylistEntry(const QString& path, SongSession& session);

// Whether a name has the extension of a playlist file (.m3u, .m3u8).
bool IsPlaylistFile(const QString& path);
// Whether a name has the extension of a song file the readers know.
bool IsSongFile(const QString& path);
// The song files that `paths` name, in order: a folder gives the song files
// below it (recursive; case-insensitively by name, folders before files at
// each level), a playlist file gives its entries (the song files it names,
// missing ones included, so that they show as missing), anything else stands
// for itself. Symbolic links to folders are followed once.
QStringList ExpandPlaylistPaths(const QStringList& paths);

// Reads a playlist file; nullopt when it cannot be read (`error` says why).
struct PlaylistFileContents {
    QStringList Paths;
    int CurrentEntry = -1, CurrentSong = 0;
    bool HasHeader = false;
};
std::optional<PlaylistFileContents> ReadPlaylistFile(const QString& path, QString* error = nullptr);

class PlaylistReader;

class PlaylistModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    enum Column { TitleColumn, AuthorColumn, LengthColumn, FileColumn, ColumnCount };
    // Item data roles beside Qt's own.
    enum Role {
        EntryIdRole = Qt::UserRole + 1, // quint64 of the entry
        SongRole,                       // int: song index, -1 on an entry row
        SortRole,                       // what a column sorts by
        PlayingRole,                    // bool: the current song (or its entry)
        SearchTextRole                  // title, author and file, for the filter
    };

    explicit PlaylistModel(QObject* parent = nullptr);
    ~PlaylistModel() override;

    // ---- Entries -------------------------------------------------------------------------
    // Adds files, folders and playlist files at the end, in order, as a reader
    // thread gets through them; returns the job's number.
    int Add(const QStringList& paths);
    // Drops every entry and every job not yet finished.
    void Clear();
    // Entries whose details are known already (a restored list's own files
    // are re-read all the same: they may have changed).
    int Count() const { return static_cast<int>(Entries.size()); }
    const PlaylistEntry& EntryAt(int row) const { return Entries[row]; }
    int RowOf(quint64 id) const; // -1 when gone
    void RemoveEntries(QVector<int> rows);
    // Moves entries to stand before row `before` (Count(): the end).
    void MoveEntries(QVector<int> rows, int before);
    // Reads a pending entry now, on this thread (the player needs it before
    // the reader gets there).
    void ReadNow(int row);
    // Marks an entry that failed to open when it was played.
    void MarkFailed(int row, EntryStatus status, const QString& reason);
    // A file that was missing or refused may be back (a folder moved back, a
    // disk plugged in again): ReadAgain reads entry `row` again now, on this
    // thread; RecheckMissing has the reader look again at every entry marked
    // missing and puts back those that are there.
    void ReadAgain(int row);
    void RecheckMissing();
    bool Busy() const; // jobs are running

    // ---- The current song ---------------------------------------------------------------
    quint64 CurrentId() const { return Current; }
    int CurrentSong() const { return CurrentSongIndex; }
    int CurrentRow() const { return RowOf(Current); }
    void SetCurrent(quint64 id, int song);
    QModelIndex CurrentIndex() const; // the current song's row (or its entry's)

    // Songs and their total length, of the entries that can be played.
    int SongCount() const { return Songs; }
    uint64_t TotalFrames() const { return Frames; }

    // ---- QAbstractItemModel ---------------------------------------------------------------
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

  signals:
    // Rows [first, first + count) of job `job` came in.
    void EntriesArrived(int job, int first, int count);
    void AddingFinished(int job);
    // The entries, their order or the current song changed: time to save.
    void Changed();
    // Entries became missing or refused (`count` of them): said once per batch.
    void EntriesFailed(int count, const QString& firstReason);
    void CurrentChanged();
    void TotalsChanged();

  private:
    std::deque<PlaylistEntry> Entries;
    quint64 NextId = 1;
    quint64 Current = 0;
    int CurrentSongIndex = 0;
    int Songs = 0;
    uint64_t Frames = 0;
    std::unique_ptr<PlaylistReader> Reader;
    std::set<int> OpenJobs;
    mutable std::unordered_map<quint64, int> RowById;
    mutable bool RowsDirty = false;
    int EntryRowOf(const QModelIndex& index) const;
    int NextJob = 1;

    bool Rechecking = false; // a RecheckMissing is under way
    void Arrive(int job, QVector<PlaylistEntry> batch);
    void Refresh(QVector<PlaylistEntry> batch);
    void Finish(int job);
    void Tally(const PlaylistEntry& e, int sign);
    void ReplaceEntry(int row, PlaylistEntry e);
    QString Display(const PlaylistEntry& e, int song, int column) const;
    QVariant SortKey(const PlaylistEntry& e, int song, int column) const;
};

// How playback moves through the list: in order (each file's songs from its
// first, then the next entry's), or shuffled across all songs of the list
// with none twice until all have played; repeat off, one song, or all.
enum class RepeatMode { Off, One, All };

struct PlaylistPosition {
    quint64 Id = 0;
    int Song = 0;
    bool operator==(const PlaylistPosition&) const = default;
    auto operator<=>(const PlaylistPosition&) const = default;
};

// What the order needs to know of an entry.
struct OrderItem {
    quint64 Id = 0;
    int Songs = 0; // 0: not playable now (missing, refused, unread)
};

class PlaylistOrder {
  public:
    explicit PlaylistOrder(uint32_t seed = std::random_device{}());
    bool Shuffle = false;
    RepeatMode Repeat = RepeatMode::Off;

    // The song after `from` when a song ends by itself (repeat one repeats
    // it) or on Next (`byUser`: repeat one moves on like repeat all); nullopt
    // at the end of the list or when nothing in it can be played. Entries
    // that cannot be played are skipped; a list with no playable song gives
    // nullopt at once, so a list of failures stops instead of spinning.
    std::optional<PlaylistPosition> Next(const QVector<OrderItem>& items,
                                         std::optional<PlaylistPosition> from, bool byUser);
    // The song before `from`: in order the previous song (crossing entries);
    // shuffled, the one played before it (and Next then goes forward again
    // through the songs that had followed it).
    std::optional<PlaylistPosition> Previous(const QVector<OrderItem>& items,
                                             PlaylistPosition from);
    // The song starts playing: shuffle counts it as played.
    void Played(PlaylistPosition position);
    // Forget what shuffle has played (a new list).
    void Reset();

  private:
    std::mt19937 Random;
    std::set<PlaylistPosition> PlayedSet;
    std::vector<PlaylistPosition> History; // shuffled: the songs heard, the current one last
    std::vector<PlaylistPosition> Ahead;   // gone back over: the next one forward last
};

QVector<OrderItem> OrderItems(const PlaylistModel& model);

// Frames (1/44,100 s) as "m:ss" or "h:mm:ss".
QString FramesText(uint64_t frames);
