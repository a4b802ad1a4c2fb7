// The silence rule: a song whose output stays unchanged for a while has
// ended, although its file may give it minutes more (or no length at all).
// The player's playlist and zirrafon-render apply the same rule, so a song
// ends on the same frame in both.
//
//     SilenceWatch watch(SilenceFrames(DefaultSilenceSeconds));
//     uint64_t kept = watch.Watch(values, frames);  // frames that belong to the song
//     if (watch.Ended()) ...                        // the song ends after `kept` frames
//
// "Unchanged" means every stereo frame equal to the one before it, whatever
// the level: a chip left at a constant volume is as finished as one at zero.
// The song keeps the whole unchanged stretch and ends with its last frame, so
// the rule needs no look-ahead and a song that goes quiet only briefly is cut
// nowhere.
#pragma once

#include <cstdint>

// How long the output must stay unchanged, by default, in the player's
// playlist and in zirrafon-render (`--silence SECONDS`; 0 turns the rule off).
// The rule ends only songs whose file gives no length
// (`SongSession::SilenceLimit`): those play the default length, a guess that
// often runs long past a short jingle's end; a length the file gives is never
// cut short.
inline constexpr double DefaultSilenceSeconds = 5;

// Seconds as output frames (44,100 a second), rounded; 0 for 0 or less.
uint64_t SilenceFrames(double seconds);

class SilenceWatch {
  public:
    // `limitFrames` unchanged frames end the song; 0: never.
    SilenceWatch() = default;
    explicit SilenceWatch(uint64_t limitFrames) : Limit(limitFrames) {}

    // Looks at the next `frames` stereo frames of the song (2 values each);
    // returns how many of them the song keeps: all of them, or, when the
    // unchanged stretch reaches the limit among them, those up to its end.
    uint64_t Watch(const int16_t* values, uint64_t frames);
    bool Ended() const { return Over; }

  private:
    uint64_t Limit = 0;
    uint64_t Run = 0; // frames equal to `Last`, `Last` included
    int16_t Last[2] = {0, 0};
    bool Seen = false; // a frame has been looked at
    bool Over = false;
};
