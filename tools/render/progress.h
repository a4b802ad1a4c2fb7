// zirrafon-render's progress on a terminal: one line on standard error that
// the workers feed and the main thread redraws.
#pragma once

#include <atomic>
#include <cstdint>

class ProgressBar {
  public:
    explicit ProgressBar(uint64_t total) : total_(total > 0 ? total : 1) {}
    void Add(uint64_t frames) { done_ += frames; }
    void Draw() const;
    static void Clear();

  private:
    std::atomic<uint64_t> done_{0};
    uint64_t total_;
};
