// The silence rule (see silence.h).
#include "songs/silence.h"

#include "songs/session.h"

#include <cmath>
#include <cstring>

uint64_t SilenceFrames(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<uint64_t>(std::llround(seconds * OutputRate));
}

uint64_t SilenceWatch::Watch(const int16_t* values, uint64_t frames) {
    if (Limit == 0 || Over) return Over ? 0 : frames;
    if (frames == 0) return 0;
    // Every frame of every rendered song passes here, a frame compared as
    // one word.
    const auto frameAt = [values](uint64_t f) {
        uint32_t v;
        std::memcpy(&v, values + 2 * f, sizeof v);
        return v;
    };
    uint32_t last;
    std::memcpy(&last, Last, sizeof last);
    if (Limit > frames) {
        // No stretch that lies within these frames can reach the limit: only
        // the one that goes on from before, and the one they end with, are
        // looked at.
        uint64_t on = 0;
        if (Seen)
            while (on < frames && frameAt(on) == last) ++on;
        if (Seen && Run + on >= Limit) {
            const uint64_t kept = Limit - Run;
            Run = Limit;
            Over = true;
            return kept;
        }
        if (on == frames) {
            Run += frames;
            return frames;
        }
        // A change at `on`: the stretch the frames end with starts there or later.
        last = frameAt(frames - 1);
        uint64_t run = 1;
        while (run < frames - on && frameAt(frames - 1 - run) == last) ++run;
        std::memcpy(Last, &last, sizeof last);
        Run = run;
        Seen = true;
        return frames;
    }
    uint64_t run = Run, f = 0, kept = frames;
    if (!Seen) {
        Seen = true;
        last = frameAt(0);
        run = 1;
        if (run >= Limit) kept = 1;
        f = 1;
    }
    for (; f < frames && kept == frames; ++f) {
        const uint32_t v = frameAt(f);
        if (v == last) {
            ++run;
        } else {
            last = v;
            run = 1;
        }
        if (run >= Limit) kept = f + 1;
    }
    std::memcpy(Last, &last, sizeof last);
    Run = run;
    Over = kept < frames || run >= Limit;
    return kept;
}
