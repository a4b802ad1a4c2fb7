// Exporting a song to WAV on a worker thread (see song_export.h).
#include "playback/song_export.h"

#include "render/output.h"
#include "render/render.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <optional>
#include <stdexcept>

namespace {

// Thrown from the progress report to leave the rendering at once.
struct Cancelled {};

} // namespace

QString DefaultExportName(const QString& songFile, int song) {
    const QFileInfo info(songFile);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
           QStringLiteral("-%1.wav").arg(song + 1, 2, 10, QLatin1Char('0'));
}

SongExport::SongExport(QObject* parent) : QObject(parent) {}

SongExport::~SongExport() {
    Cancel();
    if (Worker.joinable()) Worker.join();
}

bool SongExport::Start(const SongExportRequest& request) {
    if (Running()) return false;
    if (Worker.joinable()) Worker.join();
    CancelAsked = false;
    Done = false;
    Worker = std::thread([this, request] { Run(request); });
    return true;
}

void SongExport::Cancel() { CancelAsked = true; }

void SongExport::Run(SongExportRequest request) {
    ExportResult result;
    try {
        const std::string songFile = QFile::encodeName(request.SongFile).toStdString();
        RenderJob job;
        job.FileName = songFile;
        job.Song = request.Song;
        // The length and fade zirrafon-render gives the song by default.
        const SongTiming timing = OpenSongFile(songFile)->RenderTiming(request.Song);
        job.Frames = timing.Frames;
        job.FadeFrames = timing.FadeFrames;
        // The format the target's name asks for (FLAC, Ogg, Opus, MP3), else WAV.
        job.Format = OutputFormatOfPath(QFile::encodeName(request.Target).toStdString())
                         .value_or(OutputFormat::Wav);

        OutputFile out(QFile::encodeName(request.Target).toStdString());
        job.Output = out.Stream();
        uint64_t done = 0;
        RenderSong(job, request.Chip, [&](uint64_t frames) {
            done += frames;
            if (WorkerHook) WorkerHook(done);
            if (CancelAsked) throw Cancelled{};
            QMetaObject::invokeMethod(
                this, [this, done, all = job.Frames] { emit Progress(done, all); },
                Qt::QueuedConnection);
        });
        if (CancelAsked) throw Cancelled{};
        out.Commit(); // only now does the file take the target's place
    } catch (const Cancelled&) {
        result.How = ExportResult::Outcome::Cancelled;
    } catch (const std::exception& e) {
        result.How = ExportResult::Outcome::Failed;
        result.Error = QString::fromLocal8Bit(e.what());
        if (result.Error.isEmpty()) result.Error = QStringLiteral("the song could not be rendered");
    }
    Done = true;
    QMetaObject::invokeMethod(
        this, [this, result] { emit Finished(result); }, Qt::QueuedConnection);
}
