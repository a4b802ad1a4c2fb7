// zirrafon-render's progress: songs done of songs, seconds of sound made and
// the speed, which the workers feed and the main thread shows on standard
// error (redrawn in place on a terminal, a line a second elsewhere), and the
// summary line at the end of a run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

class ProgressBar {
  public:
    ProgressBar(uint64_t totalFrames, uint64_t songs, bool terminal);
    void Add(uint64_t frames) { done_ += frames; }
    void SongDone() { ++songsDone_; }
    // Shows where the run is (on a terminal every time, elsewhere at most once a second).
    void Draw();
    // Takes the progress line away again and prints the summary, if any.
    void Finish(std::optional<uint64_t> filesWritten);

  private:
    double Seconds() const;
    double WallSeconds() const;
    std::atomic<uint64_t> done_{0};
    std::atomic<uint64_t> songsDone_{0};
    uint64_t total_, songs_;
    bool terminal_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastLine_ = start_;
};
