// The playlist model, its reader thread and the order rules (see playlist.h).
#include "playback/playlist.h"

#include "formats/m3u.h"
#include "songs/session.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>

namespace {

QString Latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

constexpr auto EntryMime = "application/x-zirrafon-playlist-rows";

} // namespace

uint64_t PlaylistEntry::TotalFrames() const {
    uint64_t total = 0;
    for (const PlaylistSong& s : Songs) total += s.Frames;
    return total;
}

QString FramesText(uint64_t frames) {
    const uint64_t seconds = (frames + OutputRate / 2) / OutputRate;
    const uint64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

bool IsPlaylistFile(const QString& path) {
    return path.endsWith(QLatin1String(".m3u"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive);
}

bool IsSongFile(const QString& path) {
    return SongKindByExtension(QFile::encodeName(path).toStdString()) != SongKind::Unknown;
}

PlaylistEntry ReadPlaylistEntry(const QString& path, SongSession& session) {
    PlaylistEntry e;
    e.Path = path;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int error = errno;
        e.Status =
            error == ENOENT || error == ENOTDIR ? EntryStatus::Missing : EntryStatus::Refused;
        e.Reason = error == ENOENT || error == ENOTDIR
                       ? QStringLiteral("File not found")
                       : QString::fromLocal8Bit(std::strerror(error));
        return e;
    }
    if (!S_ISREG(st.st_mode)) {
        e.Status = EntryStatus::Refused;
        e.Reason = S_ISDIR(st.st_mode) ? QStringLiteral("A folder, not a song file")
                                       : QStringLiteral("Not a regular file");
        return e;
    }
    const std::string local = name.toStdString();
    const SongKind kind = SongKindByExtension(local);
    if (kind == SongKind::Unknown) {
        e.Status = EntryStatus::Refused;
        e.Reason = QStringLiteral("Not an .ay or .aym file");
        return e;
    }
    std::string refusal;
    try {
        if (!session.OpenForList(local, kind, [&refusal](const std::string& t) { refusal = t; })) {
            e.Status = EntryStatus::Refused;
            e.Reason = QString::fromStdString(refusal);
            return e;
        }
    } catch (const SongIOError& error) {
        e.Status = EntryStatus::Refused;
        e.Reason = QString::fromLocal8Bit(error.what());
        return e;
    }
    const SongList& list = session.List;
    e.Status = EntryStatus::Ready;
    e.Author = Latin1(list.AuthorText);
    e.Misc = Latin1(list.MiscText);
    e.Title = Latin1(list.SongNameText);
    e.FirstSong = session.StartingSong();
    e.Songs.reserve(list.SongCount);
    for (int i = 0; i < list.SongCount; ++i) {
        PlaylistSong s;
        s.Title = Latin1(session.SongTitle(i));
        s.Frames = session.RenderTiming(i).Frames;
        s.FileGivesLength = session.SongFrames(i) != 0;
        e.Songs.push_back(s);
    }
    session.Close();
    return e;
}

namespace {

// Folders before files, each case-insensitively by name (then exactly, so
// that the order never depends on the order the system lists them in).
void AddFolder(const QString& folder, QStringList& out, std::set<QString>& seen, int depth) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || !seen.insert(canonical).second || depth > 64) return;
    QDir dir(folder);
    QFileInfoList items =
        dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::System);
    std::sort(items.begin(), items.end(), [](const QFileInfo& a, const QFileInfo& b) {
        if (a.isDir() != b.isDir()) return a.isDir();
        const int c = a.fileName().compare(b.fileName(), Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.fileName() < b.fileName();
    });
    for (const QFileInfo& item : items) {
        if (item.isDir())
            AddFolder(item.filePath(), out, seen, depth + 1);
        else if (IsSongFile(item.fileName()))
            out << item.filePath();
    }
}

} // namespace

std::optional<PlaylistFileContents> ReadPlaylistFile(const QString& path, QString* error) {
    QFile file(path);
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (error) *error = QStringLiteral("Not a regular file");
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = file.errorString();
        return std::nullopt;
    }
    const std::string folder = QFile::encodeName(QFileInfo(path).absolutePath()).toStdString();
    const M3UList list =
        ReadM3U(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), folder);
    PlaylistFileContents contents;
    contents.HasHeader = list.HasHeader;
    contents.CurrentEntry = list.CurrentEntry;
    contents.CurrentSong = list.CurrentSong;
    for (const M3UEntry& e : list.Entries)
        contents.Paths << QFile::decodeName(QByteArray::fromStdString(e.Path));
    return contents;
}

QStringList ExpandPlaylistPaths(const QStringList& paths) {
    QStringList out;
    std::set<QString> seen;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            AddFolder(info.absoluteFilePath(), out, seen, 0);
        } else if (IsPlaylistFile(path) && info.isFile()) {
            if (const auto contents = ReadPlaylistFile(info.absoluteFilePath()))
                out << contents->Paths;
        } else {
            out << info.absoluteFilePath();
        }
    }
    return out;
}

// ---- The reader thread ------------------------------------------------------------------------

// One thread that works through the jobs in the order they were given,
// handing each batch to the model's thread as a queued call.
class PlaylistReader {
  public:
    explicit PlaylistReader(PlaylistModel* model) : Model(model), Thread([this] { Run(); }) {}
    ~PlaylistReader() {
        {
            std::lock_guard lock(Mutex);
            Stopping = true;
            Jobs.clear();
        }
        Wake.notify_all();
        Thread.join();
    }
    void Queue(int job, QStringList paths) {
        {
            std::lock_guard lock(Mutex);
            Jobs.push_back({job, std::move(paths), {}});
        }
        Wake.notify_all();
    }
    // Entries to read again, each by its id and path; they come back through
    // `Refresh`, then `RecheckDone`.
    void QueueRecheck(QVector<QPair<quint64, QString>> entries) {
        {
            std::lock_guard lock(Mutex);
            Jobs.push_back({0, {}, std::move(entries)});
        }
        Wake.notify_all();
    }
    // Jobs before this one are dropped, also the one being read.
    void CancelAll() {
        std::lock_guard lock(Mutex);
        Jobs.clear();
        ++Generation;
    }

    std::function<void(int, QVector<PlaylistEntry>)> Deliver;
    std::function<void(int)> Done;
    std::function<void(QVector<PlaylistEntry>)> Refresh;
    std::function<void()> RecheckDone;

  private:
    struct Job {
        int Number;
        QStringList Paths;
        QVector<QPair<quint64, QString>> Recheck;
    };
    // A batch goes out when it holds this many entries or is this old.
    static constexpr int BatchEntries = 200;
    static constexpr int BatchMilliseconds = 100;

    PlaylistModel* Model;
    std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<Job> Jobs;
    bool Stopping = false;
    uint64_t Generation = 0;
    std::thread Thread;

    void Post(std::function<void()> call) {
        QMetaObject::invokeMethod(Model, std::move(call), Qt::QueuedConnection);
    }

    void Run() {
        SongSession session;
        for (;;) {
            Job job;
            uint64_t generation = 0;
            {
                std::unique_lock lock(Mutex);
                Wake.wait(lock, [this] { return Stopping || !Jobs.empty(); });
                if (Stopping) return;
                job = std::move(Jobs.front());
                Jobs.pop_front();
                generation = Generation;
            }
            const auto cancelled = [&] {
                std::lock_guard lock(Mutex);
                return Stopping || Generation != generation;
            };
            if (!job.Recheck.isEmpty()) {
                QVector<PlaylistEntry> again;
                for (const auto& [id, path] : job.Recheck) {
                    again.push_back(ReadPlaylistEntry(path, session));
                    again.back().Id = id;
                }
                if (!cancelled())
                    Post([this, b = std::move(again)]() mutable {
                        Refresh(std::move(b));
                        RecheckDone();
                    });
                continue;
            }
            const QStringList files = ExpandPlaylistPaths(job.Paths);
            QVector<PlaylistEntry> batch;
            QElapsedTimer age;
            age.start();
            for (const QString& file : files) {
                batch.push_back(ReadPlaylistEntry(file, session));
                if (batch.size() >= BatchEntries || age.elapsed() >= BatchMilliseconds) {
                    if (cancelled()) break;
                    Post([this, n = job.Number, b = std::move(batch)]() mutable {
                        Deliver(n, std::move(b));
                    });
                    batch = {};
                    age.restart();
                }
            }
            if (cancelled()) continue;
            if (!batch.isEmpty())
                Post([this, n = job.Number, b = std::move(batch)]() mutable {
                    Deliver(n, std::move(b));
                });
            Post([this, n = job.Number] { Done(n); });
        }
    }
};

// ---- The model
// -----------------------------------------------------------------------------------

// Internal ids: an entry row's is 0, a song row's is its entry's id, so a
// song row stays valid while its entry moves.
PlaylistModel::PlaylistModel(QObject* parent)
    : QAbstractItemModel(parent), Reader(std::make_unique<PlaylistReader>(this)) {
    Reader->Deliver = [this](int job, QVector<PlaylistEntry> batch) {
        Arrive(job, std::move(batch));
    };
    Reader->Done = [this](int job) { Finish(job); };
    Reader->Refresh = [this](QVector<PlaylistEntry> batch) { Refresh(std::move(batch)); };
    Reader->RecheckDone = [this] { Rechecking = false; };
}

PlaylistModel::~PlaylistModel() { Reader.reset(); }

int PlaylistModel::Add(const QStringList& paths) {
    const int job = NextJob++;
    OpenJobs.insert(job);
    Reader->Queue(job, paths);
    return job;
}

bool PlaylistModel::Busy() const { return !OpenJobs.empty(); }

void PlaylistModel::Clear() {
    Reader->CancelAll();
    Rechecking = false;
    const std::set<int> cancelled = std::move(OpenJobs);
    OpenJobs.clear();
    beginResetModel();
    Entries.clear();
    RowsDirty = true;
    Songs = 0;
    Frames = 0;
    Current = 0;
    CurrentSongIndex = 0;
    endResetModel();
    for (const int job : cancelled) emit AddingFinished(job);
    emit TotalsChanged();
    emit CurrentChanged();
    emit Changed();
}

void PlaylistModel::Tally(const PlaylistEntry& e, int sign) {
    if (!e.Playable()) return;
    Songs += sign * static_cast<int>(e.Songs.size());
    Frames = sign > 0 ? Frames + e.TotalFrames() : Frames - e.TotalFrames();
}

void PlaylistModel::Arrive(int job, QVector<PlaylistEntry> batch) {
    if (!OpenJobs.contains(job) || batch.isEmpty()) return;
    const int first = Count();
    int failed = 0;
    QString firstReason;
    beginInsertRows({}, first, first + static_cast<int>(batch.size()) - 1);
    for (PlaylistEntry& e : batch) {
        e.Id = NextId++;
        if (e.Status == EntryStatus::Missing || e.Status == EntryStatus::Refused) {
            if (failed++ == 0)
                firstReason = QFileInfo(e.Path).fileName() + QStringLiteral(": ") + e.Reason;
        }
        Tally(e, +1);
        if (!RowsDirty) RowById[e.Id] = Count();
        Entries.push_back(std::move(e));
    }
    endInsertRows();
    emit EntriesArrived(job, first, static_cast<int>(batch.size()));
    if (failed) emit EntriesFailed(failed, firstReason);
    emit TotalsChanged();
    emit Changed();
}

void PlaylistModel::Finish(int job) {
    if (OpenJobs.erase(job) == 0) return;
    emit AddingFinished(job);
}

int PlaylistModel::RowOf(quint64 id) const {
    if (id == 0) return -1;
    if (RowsDirty) {
        RowById.clear();
        for (int row = 0; row < Count(); ++row) RowById[Entries[row].Id] = row;
        RowsDirty = false;
    }
    const auto found = RowById.find(id);
    return found == RowById.end() ? -1 : found->second;
}

int PlaylistModel::EntryRowOf(const QModelIndex& index) const {
    return index.internalId() == 0 ? index.row() : RowOf(index.internalId());
}

void PlaylistModel::ReplaceEntry(int row, PlaylistEntry e) {
    Tally(Entries[row], -1);
    const int before = static_cast<int>(Entries[row].Songs.size());
    const int after = static_cast<int>(e.Songs.size());
    const QModelIndex parent = index(row, 0);
    e.Id = Entries[row].Id;
    if (before > 0) {
        beginRemoveRows(parent, 0, before - 1);
        Entries[row].Songs.clear();
        endRemoveRows();
    }
    if (after > 0) {
        QVector<PlaylistSong> songs = std::move(e.Songs);
        e.Songs.clear();
        Entries[row] = std::move(e);
        beginInsertRows(parent, 0, after - 1);
        Entries[row].Songs = std::move(songs);
        endInsertRows();
    } else {
        Entries[row] = std::move(e);
    }
    Tally(Entries[row], +1);
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    emit TotalsChanged();
    emit Changed();
}

void PlaylistModel::ReadNow(int row) {
    if (row < 0 || row >= Count() || Entries[row].Status != EntryStatus::Pending) return;
    SongSession session;
    ReplaceEntry(row, ReadPlaylistEntry(Entries[row].Path, session));
}

void PlaylistModel::ReadAgain(int row) {
    if (row < 0 || row >= Count()) return;
    const EntryStatus status = Entries[row].Status;
    if (status != EntryStatus::Missing && status != EntryStatus::Refused) return;
    SongSession session;
    PlaylistEntry e = ReadPlaylistEntry(Entries[row].Path, session);
    if (e.Status != status || e.Reason != Entries[row].Reason) ReplaceEntry(row, std::move(e));
}

void PlaylistModel::RecheckMissing() {
    if (Rechecking) return;
    QVector<QPair<quint64, QString>> missing;
    for (const PlaylistEntry& e : Entries)
        if (e.Status == EntryStatus::Missing) missing.push_back({e.Id, e.Path});
    if (missing.isEmpty()) return;
    Rechecking = true;
    Reader->QueueRecheck(std::move(missing));
}

void PlaylistModel::Refresh(QVector<PlaylistEntry> batch) {
    for (PlaylistEntry& e : batch) {
        const int row = RowOf(e.Id);
        // Only what is still missing here and is not missing any more.
        if (row < 0 || Entries[row].Status != EntryStatus::Missing ||
            e.Status == EntryStatus::Missing)
            continue;
        ReplaceEntry(row, std::move(e));
    }
}

void PlaylistModel::MarkFailed(int row, EntryStatus status, const QString& reason) {
    if (row < 0 || row >= Count()) return;
    PlaylistEntry e = Entries[row];
    e.Status = status;
    e.Reason = reason;
    e.Songs.clear();
    ReplaceEntry(row, std::move(e));
    emit EntriesFailed(1, QFileInfo(e.Path).fileName() + QStringLiteral(": ") + reason);
}

void PlaylistModel::RemoveEntries(QVector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    bool currentGone = false;
    // From the end, in runs of adjacent rows.
    for (int i = static_cast<int>(rows.size()) - 1; i >= 0;) {
        const int last = rows[i];
        int first = last;
        while (i > 0 && rows[i - 1] == first - 1 && rows[i - 1] >= 0) first = rows[--i];
        --i;
        if (first < 0 || last >= Count()) continue;
        beginRemoveRows({}, first, last);
        for (int r = first; r <= last; ++r) {
            Tally(Entries[r], -1);
            currentGone |= Entries[r].Id == Current;
        }
        Entries.erase(Entries.begin() + first, Entries.begin() + last + 1);
        RowsDirty = true;
        endRemoveRows();
    }
    if (currentGone) {
        Current = 0;
        CurrentSongIndex = 0;
        emit CurrentChanged();
    }
    emit TotalsChanged();
    emit Changed();
}

void PlaylistModel::MoveEntries(QVector<int> rows, int before) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [this](int r) { return r < 0 || r >= Count(); }),
        rows.end());
    if (rows.isEmpty()) return;
    before = std::clamp(before, 0, Count());

    // A layout change keeps every view's selection and expansion on the
    // entries themselves: persistent entry rows follow their entry's id (song
    // rows name their entry by id and need nothing).
    emit layoutAboutToBeChanged();
    const QModelIndexList old = persistentIndexList();
    QVector<quint64> oldIds;
    for (const QModelIndex& i : old)
        oldIds << (i.internalId() == 0 && i.row() < Count() ? Entries[i.row()].Id : 0);

    std::vector<bool> take(Entries.size(), false);
    for (const int r : rows) take[r] = true;
    std::deque<PlaylistEntry> moved, rest;
    int insertAt = 0;
    for (int r = 0; r < Count(); ++r) {
        if (r == before) insertAt = static_cast<int>(rest.size());
        (take[r] ? moved : rest).push_back(std::move(Entries[r]));
    }
    if (before == Count()) insertAt = static_cast<int>(rest.size());
    Entries = std::move(rest);
    Entries.insert(Entries.begin() + insertAt, std::make_move_iterator(moved.begin()),
                   std::make_move_iterator(moved.end()));
    RowsDirty = true;

    QModelIndexList now;
    for (int k = 0; k < old.size(); ++k)
        now << (oldIds[k] == 0 ? old[k]
                               : createIndex(RowOf(oldIds[k]), old[k].column(), quintptr(0)));
    changePersistentIndexList(old, now);
    emit layoutChanged();
    emit Changed();
}

void PlaylistModel::SetCurrent(quint64 id, int song) {
    if (id == Current && song == CurrentSongIndex) return;
    const int oldRow = RowOf(Current);
    Current = id;
    CurrentSongIndex = song;
    for (const int row : {oldRow, RowOf(id)}) {
        if (row < 0) continue;
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
        const int songs = static_cast<int>(Entries[row].Songs.size());
        if (songs > 0)
            emit dataChanged(index(0, 0, index(row, 0)),
                             index(songs - 1, ColumnCount - 1, index(row, 0)));
    }
    emit CurrentChanged();
    emit Changed();
}

QModelIndex PlaylistModel::CurrentIndex() const {
    const int row = CurrentRow();
    if (row < 0) return {};
    const QModelIndex entry = index(row, 0);
    if (CurrentSongIndex >= 0 && CurrentSongIndex < Entries[row].Songs.size())
        return index(CurrentSongIndex, 0, entry);
    return entry;
}

QModelIndex PlaylistModel::index(int row, int column, const QModelIndex& parent) const {
    if (column < 0 || column >= ColumnCount || row < 0) return {};
    if (!parent.isValid())
        return row < Count() ? createIndex(row, column, quintptr(0)) : QModelIndex();
    if (parent.internalId() != 0 || parent.row() >= Count()) return {};
    const PlaylistEntry& e = Entries[parent.row()];
    if (row >= e.Songs.size()) return {};
    return createIndex(row, column, quintptr(e.Id));
}

QModelIndex PlaylistModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == 0) return {};
    const int row = RowOf(child.internalId());
    return row < 0 ? QModelIndex() : createIndex(row, 0, quintptr(0));
}

int PlaylistModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return Count();
    if (parent.internalId() != 0 || parent.column() != 0 || parent.row() >= Count()) return 0;
    return static_cast<int>(Entries[parent.row()].Songs.size());
}

int PlaylistModel::columnCount(const QModelIndex&) const { return ColumnCount; }

QString PlaylistModel::Display(const PlaylistEntry& e, int song, int column) const {
    const bool entryRow = song < 0;
    switch (column) {
    case TitleColumn:
        if (!entryRow)
            return e.Songs[song].Title.trimmed().isEmpty() ? QStringLiteral("Song %1").arg(song + 1)
                                                           : e.Songs[song].Title;
        if (e.Status == EntryStatus::Pending) return QFileInfo(e.Path).fileName();
        if (e.Status != EntryStatus::Ready)
            return QFileInfo(e.Path).fileName() + QStringLiteral(" — ") + e.Reason;
        return e.Title.trimmed().isEmpty() ? QFileInfo(e.Path).completeBaseName() : e.Title;
    case AuthorColumn: return e.Author;
    case LengthColumn:
        if (!entryRow) return FramesText(e.Songs[song].Frames);
        return e.Playable() ? FramesText(e.TotalFrames()) : QString();
    case FileColumn: return entryRow ? QFileInfo(e.Path).fileName() : QString();
    default: return {};
    }
}

QVariant PlaylistModel::SortKey(const PlaylistEntry& e, int song, int column) const {
    switch (column) {
    case LengthColumn:
        return QVariant::fromValue<qulonglong>(song < 0 ? e.TotalFrames() : e.Songs[song].Frames);
    case FileColumn: return e.Path.toLower();
    default: return Display(e, song, column).toLower();
    }
}

QVariant PlaylistModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const bool songRow = index.internalId() != 0;
    const int row = EntryRowOf(index);
    if (row < 0 || row >= Count()) return {};
    const PlaylistEntry& e = Entries[row];
    const int song = songRow ? index.row() : -1;
    if (songRow && song >= e.Songs.size()) return {};
    const bool playing = e.Id == Current && (song < 0 || song == CurrentSongIndex);
    switch (role) {
    case Qt::DisplayRole:
        // The playing song is marked where it is read first.
        if (playing && song >= 0 && index.column() == TitleColumn)
            return QStringLiteral("▶ ") + Display(e, song, index.column());
        return Display(e, song, index.column());
    case Qt::ToolTipRole:
        return e.Status == EntryStatus::Ready ? e.Path : e.Path + QStringLiteral("\n") + e.Reason;
    case EntryIdRole: return QVariant::fromValue<quint64>(e.Id);
    case SongRole: return song;
    case SortRole: return SortKey(e, song, index.column());
    case PlayingRole: return playing;
    case SearchTextRole:
        return Display(e, song, TitleColumn) + QLatin1Char('\n') + e.Author + QLatin1Char('\n') +
               QFileInfo(e.Path).fileName();
    case Qt::FontRole:
        if (playing) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::ForegroundRole:
        if (e.Status == EntryStatus::Missing || e.Status == EntryStatus::Refused)
            return QColor(Qt::gray);
        return {};
    default: return {};
    }
}

QVariant PlaylistModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case TitleColumn: return QStringLiteral("Title");
    case AuthorColumn: return QStringLiteral("Author");
    case LengthColumn: return QStringLiteral("Length");
    case FileColumn: return QStringLiteral("File");
    default: return {};
    }
}

Qt::ItemFlags PlaylistModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractItemModel::flags(index);
    if (!index.isValid()) return f | Qt::ItemIsDropEnabled;
    // Files are dragged as a whole; songs come along with them.
    return index.internalId() == 0 ? f | Qt::ItemIsDragEnabled : f;
}

Qt::DropActions PlaylistModel::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

QStringList PlaylistModel::mimeTypes() const {
    return {QString::fromLatin1(EntryMime), QStringLiteral("text/uri-list")};
}

QMimeData* PlaylistModel::mimeData(const QModelIndexList& indexes) const {
    QByteArray ids;
    std::set<quint64> seen;
    for (const QModelIndex& i : indexes) {
        if (!i.isValid()) continue;
        const int row = EntryRowOf(i);
        if (row >= 0 && row < Count() && seen.insert(Entries[row].Id).second)
            ids += QByteArray::number(Entries[row].Id) + ' ';
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(EntryMime), ids);
    return data;
}

bool PlaylistModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                 const QModelIndex& parent) {
    if (!data || action == Qt::IgnoreAction) return false;
    // A drop on a song goes before its file's successor; on a file, before it.
    int before = row;
    if (parent.isValid())
        before = parent.internalId() == 0 ? parent.row() : RowOf(parent.internalId()) + 1;
    if (before < 0) before = Count();
    if (data->hasFormat(QString::fromLatin1(EntryMime))) {
        QVector<int> rows;
        for (const QByteArray& id : data->data(QString::fromLatin1(EntryMime)).split(' '))
            if (const int r = RowOf(id.toULongLong()); r >= 0) rows << r;
        MoveEntries(rows, before);
        // Moved here already: the view must not remove the source rows.
        return false;
    }
    if (data->hasUrls()) {
        QStringList paths;
        for (const QUrl& url : data->urls())
            if (url.isLocalFile()) paths << url.toLocalFile();
        if (paths.isEmpty()) return false;
        Add(paths);
        return true;
    }
    return false;
}

QVector<OrderItem> OrderItems(const PlaylistModel& model) {
    QVector<OrderItem> items;
    items.reserve(model.Count());
    for (int row = 0; row < model.Count(); ++row) {
        const PlaylistEntry& e = model.EntryAt(row);
        // An entry not read yet is tried: the player reads it when it gets there.
        const int songs = e.Status == EntryStatus::Pending ? 1
                          : e.Playable()                   ? static_cast<int>(e.Songs.size())
                                                           : 0;
        items.push_back({e.Id, songs});
    }
    return items;
}

// ---- The order
// ------------------------------------------------------------------------------------

PlaylistOrder::PlaylistOrder(uint32_t seed) : Random(seed) {}

void PlaylistOrder::Reset() {
    PlayedSet.clear();
    History.clear();
    Ahead.clear();
}

void PlaylistOrder::Played(PlaylistPosition position) {
    PlayedSet.insert(position);
    if (!History.empty() && History.back() == position) return; // the same song again
    // Forward again through songs gone back over; any other song starts a new way on.
    if (!Ahead.empty() && Ahead.back() == position)
        Ahead.pop_back();
    else
        Ahead.clear();
    History.push_back(position);
}

std::optional<PlaylistPosition> PlaylistOrder::Next(const QVector<OrderItem>& items,
                                                    std::optional<PlaylistPosition> from,
                                                    bool byUser) {
    int total = 0;
    for (const OrderItem& item : items) total += item.Songs;
    if (total == 0) return std::nullopt;
    if (from && Repeat == RepeatMode::One && !byUser) {
        for (const OrderItem& item : items)
            if (item.Id == from->Id && from->Song < item.Songs) return from;
    }
    if (Shuffle) {
        // After going back, on again through the songs that had followed.
        const auto holds = [&](PlaylistPosition p) {
            for (const OrderItem& item : items)
                if (item.Id == p.Id) return p.Song < item.Songs;
            return false;
        };
        while (!Ahead.empty() && !holds(Ahead.back())) Ahead.pop_back();
        if (!Ahead.empty()) return Ahead.back();
        const auto unplayed = [&] {
            int n = 0;
            for (const OrderItem& item : items)
                for (int s = 0; s < item.Songs; ++s) n += !PlayedSet.contains({item.Id, s});
            return n;
        };
        int left = unplayed();
        if (left == 0) {
            if (Repeat == RepeatMode::Off) return std::nullopt;
            PlayedSet.clear();
            // Not the song just heard again first, when there is another.
            if (from && total > 1) PlayedSet.insert(*from);
            left = unplayed();
        }
        int pick = std::uniform_int_distribution<int>(0, left - 1)(Random);
        for (const OrderItem& item : items)
            for (int s = 0; s < item.Songs; ++s) {
                if (PlayedSet.contains({item.Id, s})) continue;
                if (pick-- == 0) return PlaylistPosition{item.Id, s};
            }
        return std::nullopt;
    }
    // In order: the next song of the same entry, else the first song of the
    // next playable entry, wrapping round with repeat.
    int row = -1;
    if (from)
        for (int r = 0; r < items.size(); ++r)
            if (items[r].Id == from->Id) row = r;
    if (row >= 0 && from->Song + 1 < items[row].Songs)
        return PlaylistPosition{from->Id, from->Song + 1};
    const int count = static_cast<int>(items.size());
    for (int step = 1; step <= count; ++step) {
        const int r = row + step;
        if (r >= count && Repeat == RepeatMode::Off) return std::nullopt;
        const OrderItem& item = items[r % count];
        if (item.Songs > 0) return PlaylistPosition{item.Id, 0};
    }
    return std::nullopt;
}

std::optional<PlaylistPosition> PlaylistOrder::Previous(const QVector<OrderItem>& items,
                                                        PlaylistPosition from) {
    const auto exists = [&](PlaylistPosition p) {
        for (const OrderItem& item : items)
            if (item.Id == p.Id) return p.Song < item.Songs;
        return false;
    };
    if (Shuffle) {
        // Back through the songs heard (those gone from the list passed
        // over); the ones left behind come again on Next.
        size_t n = History.size();
        while (n > 0 && History[n - 1] == from) --n;
        while (n > 0 && !exists(History[n - 1])) --n;
        if (n == 0) return std::nullopt;
        for (size_t k = History.size(); k > n; --k)
            if (exists(History[k - 1]) && (Ahead.empty() || Ahead.back() != History[k - 1]))
                Ahead.push_back(History[k - 1]);
        History.resize(n);
        return History.back();
    }
    int row = -1;
    for (int r = 0; r < items.size(); ++r)
        if (items[r].Id == from.Id) row = r;
    if (row < 0) return std::nullopt;
    if (from.Song > 0 && from.Song - 1 < items[row].Songs)
        return PlaylistPosition{from.Id, from.Song - 1};
    const int count = static_cast<int>(items.size());
    for (int step = 1; step <= count; ++step) {
        int r = row - step;
        if (r < 0 && Repeat != RepeatMode::All) return std::nullopt;
        r = ((r % count) + count) % count;
        if (items[r].Songs > 0) return PlaylistPosition{items[r].Id, items[r].Songs - 1};
    }
    return std::nullopt;
}
