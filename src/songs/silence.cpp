// The silence rule (see silence.h).
#include "songs/silence.h"

#include "songs/session.h"

#include <cmath>

uint64_t SilenceFrames(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<uint64_t>(std::llround(seconds * OutputRate));
}

uint64_t SilenceWatch::Watch(const int16_t* values, uint64_t frames) {
    if (Limit == 0 || Over) return Over ? 0 : frames;
    for (uint64_t f = 0; f < frames; ++f) {
        const int16_t left = values[2 * f], right = values[2 * f + 1];
        if (Seen && left == Last[0] && right == Last[1]) {
            ++Run;
        } else {
            Last[0] = left;
            Last[1] = right;
            Run = 1;
            Seen = true;
        }
        if (Run >= Limit) {
            Over = true;
            return f + 1;
        }
    }
    return frames;
}
