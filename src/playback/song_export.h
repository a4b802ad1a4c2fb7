// Exporting a song to a WAV file (or FLAC, Ogg Vorbis, Opus or MP3, by the
// target's extension) while the player goes on playing: the song
// is rendered on a worker thread exactly as zirrafon-render renders it with
// the same chip mode, beeper level and volume (its length and fade too), into
// a temporary file that takes the target's place only when the song is
// complete. A cancelled or failed export leaves nothing behind and never
// touches a file that was there before.
//
//     SongExport job;
//     connect(&job, &SongExport::Progress, bar, ...);   // frames done, frames in all
//     connect(&job, &SongExport::Finished, ...);        // written, cancelled, or why not
//     job.Start(request);                               // returns at once
//     job.Cancel();                                     // the user changed their mind
#pragma once

#include "songs/session.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

struct SongExportRequest {
    QString SongFile;  // the song file
    int Song = 0;      // zero-based
    QString Target;    // the file to write: .flac, .ogg, .opus, .mp3, else WAV
    ChipSettings Chip; // as the player's settings have them
};

// How an export ended.
struct ExportResult {
    enum class Outcome { Written, Cancelled, Failed };
    Outcome How = Outcome::Written;
    QString Error; // why it failed (Failed only)
    bool operator==(const ExportResult&) const = default;
};

// The name an export suggests: STEM-NN.wav in the song file's folder (STEM:
// the file's name without its extension, NN: the song's number from 01).
QString DefaultExportName(const QString& songFile, int song);

class SongExport : public QObject {
    Q_OBJECT

  public:
    explicit SongExport(QObject* parent = nullptr);
    ~SongExport() override; // cancels and waits for the worker

    // Starts rendering on a worker thread; false when an export is running.
    bool Start(const SongExportRequest& request);
    void Cancel();
    bool Running() const { return Worker.joinable() && !Done; }
    // Called on the worker after every buffer with the frames done so far
    // (tests cancel at a point of their choosing with it).
    std::function<void(uint64_t framesDone)> WorkerHook;

  signals:
    // On the thread that started the export.
    void Progress(quint64 framesDone, quint64 framesInAll);
    void Finished(const ExportResult& result);

  private:
    void Run(SongExportRequest request);
    std::thread Worker;
    std::atomic<bool> CancelAsked{false};
    std::atomic<bool> Done{false};
};
