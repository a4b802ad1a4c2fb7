// The playlist kept between runs (see playlist_store.h).
#include "playback/playlist_store.h"

#include "formats/m3u.h"
#include "playback/playlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <chrono>

namespace {

// How long a change waits for the ones that follow it before the list is
// written: batches of a large folder come about ten a second.
constexpr int SaveDelayMilliseconds = 200;

std::string Local(const QString& path) { return QFile::encodeName(path).toStdString(); }

} // namespace

QString PlaylistStorePath() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        home = QDir::homePath() + QStringLiteral("/.local/share");
    return home + QStringLiteral("/Ostrowind/Zirrafon/playlist.m3u8");
}

M3UList PlaylistAsM3U(const PlaylistModel& model) {
    M3UList list;
    list.Entries.reserve(static_cast<size_t>(model.Count()));
    for (int row = 0; row < model.Count(); ++row) {
        const PlaylistEntry& e = model.EntryAt(row);
        M3UEntry m;
        m.Path = Local(e.Path);
        if (e.Playable()) m.Seconds = static_cast<int>((e.TotalFrames() + 22050) / 44100);
        m.Title =
            (e.Author.isEmpty() ? QString() : e.Author + QStringLiteral(" - ")).toStdString() +
            e.Title.toStdString();
        list.Entries.push_back(std::move(m));
    }
    list.CurrentEntry = model.CurrentRow();
    list.CurrentSong = list.CurrentEntry >= 0 ? model.CurrentSong() : 0;
    return list;
}

bool SavePlaylistFile(const PlaylistModel& model, const QString& path, QString* error) {
    return WritePlaylistFile(PlaylistAsM3U(model), path, error);
}

bool WritePlaylistFile(const M3UList& list, const QString& path, QString* error) {
    const QFileInfo info(path);
    const std::string text = WriteM3U(list, Local(info.absolutePath()));
    if (!QDir().mkpath(info.absolutePath())) {
        if (error) *error = QStringLiteral("Cannot make the folder %1").arg(info.absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != qint64(text.size()) ||
        !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

PlaylistStore::PlaylistStore(PlaylistModel& model, QString path, QObject* parent)
    : QObject(parent), Model(model), FilePath(std::move(path)) {
    Delay.setSingleShot(true);
    Delay.setInterval(SaveDelayMilliseconds);
    connect(&Delay, &QTimer::timeout, this, &PlaylistStore::Save);
    connect(&Model, &PlaylistModel::Changed, this, [this] {
        if (Restoring) return;
        Dirty = true;
        if (!Delay.isActive()) Delay.start();
    });
    connect(&Model, &PlaylistModel::EntriesArrived, this, [this](int job, int first, int count) {
        if (job != RestoreJob || RestoreEntry < first || RestoreEntry >= first + count) return;
        Model.SetCurrent(Model.EntryAt(RestoreEntry).Id, RestoreSong);
        emit CurrentRestored(Model.EntryAt(RestoreEntry).Id, RestoreSong);
    });
    connect(&Model, &PlaylistModel::AddingFinished, this, [this](int job) {
        if (job != RestoreJob) return;
        RestoreJob = 0;
        Restoring = false;
        // The entries' details are fresh now: save them with the list.
        Dirty = true;
        Delay.start();
    });
}

PlaylistStore::~PlaylistStore() {
    Flush();
    if (Writing.valid()) Writing.wait();
}

void PlaylistStore::Restore() {
    if (!QFileInfo::exists(FilePath)) return;
    QString error;
    const auto contents = ReadPlaylistFile(FilePath, &error);
    bool damaged = !contents;
    if (contents && !contents->HasHeader) {
        damaged = true;
        error = QStringLiteral("it is not a playlist this player wrote");
    }
    if (!damaged) {
        QFile file(FilePath);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains('\0')) {
            damaged = true;
            error = QStringLiteral("it holds binary data");
        }
    }
    if (damaged) {
        const QString kept = FilePath + QStringLiteral(".bad");
        QFile::remove(kept);
        QFile::rename(FilePath, kept);
        emit Failed(QStringLiteral("The saved playlist could not be read (%1).\n"
                                   "It was kept as %2, and the player starts with an empty "
                                   "playlist.")
                        .arg(error, kept),
                    QStringLiteral("Zirrafon"));
        return;
    }
    if (contents->Paths.isEmpty()) return;
    Restoring = true;
    RestoreEntry = contents->CurrentEntry;
    RestoreSong = contents->CurrentSong;
    // One entry per line: the entries are files, never folders or lists again.
    RestoreJob = Model.Add(contents->Paths);
}

void PlaylistStore::Flush() {
    if (Writing.valid()) WriteDone(Writing.get());
    if (!Dirty) return;
    Dirty = false;
    QString error;
    WritePlaylistFile(PlaylistAsM3U(Model), FilePath, &error);
    WriteDone(error);
}

void PlaylistStore::Save() {
    if (Writing.valid()) {
        if (Writing.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            Delay.start(); // the last write is still going: this one comes after it
            return;
        }
        WriteDone(Writing.get());
    }
    Delay.stop();
    Dirty = false;
    const unsigned number = ++WritesStarted;
    Writing = std::async(std::launch::async,
                         [list = PlaylistAsM3U(Model), path = FilePath, number, this] {
                             QString error;
                             WritePlaylistFile(list, path, &error);
                             // The notice may run before this function has
                             // returned: it then waits for that return only.
                             QMetaObject::invokeMethod(
                                 this,
                                 [this, number] {
                                     if (Writing.valid() && number == WritesStarted)
                                         WriteDone(Writing.get());
                                 },
                                 Qt::QueuedConnection);
                             return error;
                         });
}

void PlaylistStore::WriteDone(const QString& error) {
    if (error.isEmpty()) {
        emit Saved();
        return;
    }
    if (SaveErrorShown) return;
    SaveErrorShown = true;
    emit Failed(QStringLiteral("The playlist could not be saved to %1: %2").arg(FilePath, error),
                QStringLiteral("Zirrafon"));
}
