// zirrafon-render's progress line (see progress.h).
#include "progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

void ProgressBar::Draw() const {
    const double part = std::min(1.0, static_cast<double>(done_) / static_cast<double>(total_));
    const int width = 40, filled = static_cast<int>(part * width);
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), static_cast<int>(part * 100));
    std::fflush(stderr);
}

void ProgressBar::Clear() { std::fputs("\r\033[K", stderr); }
