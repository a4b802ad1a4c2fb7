// zirrafon-render's progress line (see progress.h).
#include "progress.h"

#include "songs/session.h"

#include <algorithm>
#include <cstdio>
#include <string>

ProgressBar::ProgressBar(uint64_t totalFrames, uint64_t songs, bool terminal)
    : total_(totalFrames > 0 ? totalFrames : 1), songs_(songs), terminal_(terminal) {}

double ProgressBar::Seconds() const { return static_cast<double>(done_) / OutputRate; }

double ProgressBar::WallSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressBar::Draw() {
    const auto now = std::chrono::steady_clock::now();
    if (!terminal_ && now - lastLine_ < std::chrono::seconds(1)) return;
    lastLine_ = now;
    const double part = std::min(1.0, static_cast<double>(done_) / static_cast<double>(total_));
    const double wall = WallSeconds();
    const int width = 30, filled = static_cast<int>(part * width);
    std::fprintf(stderr, "%s[%s%s] %3d%%  %llu/%llu songs  %.1f s of sound  %.1fx%s",
                 terminal_ ? "\r" : "", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), static_cast<int>(part * 100),
                 static_cast<unsigned long long>(songsDone_.load()),
                 static_cast<unsigned long long>(songs_), Seconds(),
                 wall > 0 ? Seconds() / wall : 0.0, terminal_ ? "\033[K" : "\n");
    std::fflush(stderr);
}

void ProgressBar::Finish(std::optional<uint64_t> filesWritten) {
    if (terminal_) std::fputs("\r\033[K", stderr);
    if (filesWritten)
        std::fprintf(stderr, "zirrafon-render: %llu file%s written, %.1f s of sound in %.1f s\n",
                     static_cast<unsigned long long>(*filesWritten), *filesWritten == 1 ? "" : "s",
                     Seconds(), WallSeconds());
    std::fflush(stderr);
}
