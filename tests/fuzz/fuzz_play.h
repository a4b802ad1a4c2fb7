// What the song fuzz target and the regression test do with a file: open it
// as an ".ay" and as an ".aym" file, and play whatever a reader accepts (its
// last song started, then its first) for a few buffers, on the engine with
// every speed shortcut and on the tick-by-tick definition side by side. The
// player's settings change between buffers as the player changes them (chip
// mode, beeper level, volume, muted voices), since the fast paths branch on
// them.
#pragma once

#include "songs/session.h"

#include <cstdint>
#include <vector>

namespace fuzzplay {

constexpr int Buffers = 4;

// The settings before buffer n > 0, taken from `control` (the input's last
// bytes, which real files rarely spend on anything that matters).
inline void ChangeSettings(SoundEngine& engine, const uint8_t* control, int n) {
    const uint8_t a = control[(2 * n) % 4], b = control[(2 * n + 1) % 4];
    engine.Chip.Mix.BeeperSetting = (a * 129 + b) % 32769;
    engine.Chip.Mix.MutedVoices = static_cast<uint8_t>((a ^ b) >> 4 & AllVoices);
    SetChipAndChannels(engine.Chip, a % ChipModeCount, b % (VolumeSteps + 1), VolumeSteps);
}

enum class Outcome { Refused, Played, Differed };

// Opens `file` as `kind` twice and plays it both ways. Only the readers' own
// errors may come out (a format error is a refusal; an I/O error is thrown as
// SongIOError). A buffer of the wrong size or a sample that differs from the
// definition's is `Differed`.
inline Outcome PlayBothWays(const std::string& file, SongKind kind, const uint8_t (&control)[4]) {
    SongSession fast, definition;
    if (!fast.Open(file, kind, nullptr) || !definition.Open(file, kind, nullptr))
        return Outcome::Refused;
    definition.Engine->Chip.TickByTick = 1;
    std::vector<int16_t> a(BufferValues), b(BufferValues);
    for (SongSession* s : {&fast, &definition}) {
        if (s->List.SongCount > 1) s->LoadSong(s->List.SongCount - 1);
        s->LoadSong(s->StartingSong());
        s->StartPlayback(s == &fast ? a.data() : b.data());
    }
    for (int n = 0; n < Buffers; ++n) {
        if (n > 0) {
            ChangeSettings(*fast.Engine, control, n);
            ChangeSettings(*definition.Engine, control, n);
        }
        if (fast.FillBuffer(a.data()) != BufferValues) return Outcome::Differed;
        if (definition.FillBuffer(b.data()) != BufferValues) return Outcome::Differed;
        if (a != b) return Outcome::Differed;
    }
    return Outcome::Played;
}

// The last four bytes of an input (zeros where it is shorter).
inline void ControlBytes(const uint8_t* data, size_t size, uint8_t (&control)[4]) {
    for (int i = 0; i < 4; ++i) control[i] = size > size_t(i) ? data[size - 1 - i] : 0;
}

} // namespace fuzzplay
