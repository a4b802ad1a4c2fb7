// zirrafon-render's job pool (see job_pool.h).
#include "job_pool.h"

#include "progress.h"
#include "render/output.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

void RunTask(Task& task, const ChipSettings& settings, ProgressBar* bar) {
    if (StopSignal()) {
        task.Error = "interrupted";
        return;
    }
    // Outside the try, so that a failure can tell which file it hit; the
    // ones not committed remove their temporary files as they go.
    std::optional<OutputFile> mix, voices[VoiceCount];
    try {
        if (!task.OutputPath.empty()) task.Job.Output = mix.emplace(task.OutputPath).Stream();
        for (int v = 0; v < VoiceCount; ++v)
            if (!task.VoicePaths[v].empty())
                task.Job.Voices[v] = voices[v].emplace(task.VoicePaths[v]).Stream();
        task.Outcome = RenderSong(task.Job, settings, [bar](uint64_t n) {
            if (bar) bar->Add(n);
            if (StopSignal()) throw std::runtime_error("interrupted");
        });
        // Only a song rendered completely replaces its files.
        if (mix) mix->Commit();
        for (std::optional<OutputFile>& voice : voices)
            if (voice) voice->Commit();
        if (bar) bar->SongDone();
    } catch (const std::exception& e) {
        task.Error = e.what();
        // A failed write says which of the song's files it was.
        const OutputFile* failed = mix && mix->Failed() ? &*mix : nullptr;
        for (const std::optional<OutputFile>& voice : voices)
            if (!failed && voice && voice->Failed()) failed = &*voice;
        if (failed) task.Error = failed->Path() + ": " + task.Error;
    }
}

} // namespace

void RunTasks(std::vector<Task>& tasks, const ChipSettings& settings, int jobs, bool progress,
              bool summary) {
    uint64_t total = 0;
    for (const Task& t : tasks) total += t.Job.Frames - std::min(t.Job.StartFrame, t.Job.Frames);
    std::unique_ptr<ProgressBar> bar;
    const bool terminal = ::isatty(STDERR_FILENO);
    if (terminal || progress) bar = std::make_unique<ProgressBar>(total, tasks.size(), terminal);

    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    size_t running = std::min<size_t>(static_cast<size_t>(jobs), tasks.size());
    std::vector<std::thread> workers;
    for (size_t w = running; w > 0; --w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < tasks.size();) RunTask(tasks[i], settings, bar.get());
            std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
        });
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            if (bar) bar->Draw();
            // After a stop signal, a worker may wait in a write to a FIFO or
            // a pipe that nobody reads: it is woken until it has given up.
            if (StopSignal())
                for (std::thread& t : workers) NudgeThread(t.native_handle());
            finished.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
    for (std::thread& t : workers) t.join();
    if (!bar) return;
    if (!summary) {
        bar->Finish(std::nullopt);
        return;
    }
    uint64_t written = 0; // files that took their place (standard output is none)
    for (const Task& t : tasks) {
        if (!t.Error.empty()) continue;
        written += !t.OutputPath.empty() && t.OutputPath != "-";
        for (const std::string& voice : t.VoicePaths) written += !voice.empty();
    }
    bar->Finish(written);
}
