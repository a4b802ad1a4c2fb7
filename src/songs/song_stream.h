// The song stream: one song of a session's open file played from its start,
// handed out the way the player's buffer cycle makes it (whole buffers of
// BufferValues values from the frame loop), cut where the song ends and faded
// over its last frames with `ApplyFade`. The player's followed songs,
// zirrafon-render, the export, the stems, the benchmarks and the tests all
// take a song's samples from here, so that a song ends and fades alike
// everywhere.
//
//     SongStream stream(session);                             // a session with a file open
//     stream.Start(song, session.RenderTiming(song));         // load, reset, no sample yet
//     while (!stream.Ended()) {
//         const uint32_t values = stream.Fill(buffer, BufferValues);
//         write(buffer, values);                              // all BufferValues but the last
//     }
//
// A whole buffer asked for while nothing is held back is made in the caller's
// buffer itself; a part of one (the rest of a buffer after a song that ended
// inside it, or after a seek to a frame inside a buffer) comes from a buffer
// the stream makes and keeps until handed out, so whoever asks keeps the size
// of its own buffers.
//
// A seek goes on from any frame of the song with exactly the values a play
// from the start hands out there, faded alike: the machine comes from the
// song's snapshots (song_snapshots.h), run forward without output to the
// buffer that holds the frame. No Qt and no audio device; SongIOError passes
// through.
#pragma once

#include "songs/session.h"
#include "songs/silence.h"
#include "songs/song_snapshots.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class SongStream {
  public:
    explicit SongStream(SongSession& session);
    SongStream(const SongStream&) = delete;
    SongStream& operator=(const SongStream&) = delete;

    // Loads song `index` of the session's open file and resets chip and
    // processor for its start (throws SongIOError when a block cannot be
    // read). Timing with Frames 0: the song never ends. `silenceFrames`
    // unchanged frames end it too (the silence rule, silence.h; 0: never).
    void Start(int index, const SongTiming& timing = {}, uint64_t silenceFrames = 0);
    // Where the song ends and fades from now on (the player's "Follow song
    // lengths" may change while a song plays). Values already made keep the
    // cut and fade they were made with; an end already passed ends the song
    // with the next fill.
    void SetTiming(const SongTiming& timing) { CurrentTiming = timing; }

    // Hands out the song's next values into `out`, at most `values` (even, at
    // most BufferValues); returns how many: fewer only where the song ends,
    // and 0 once it has ended. A whole buffer may hold values past the ones
    // counted (what the frame loop made beyond the song's end).
    uint32_t Fill(int16_t* out, uint32_t values);
    // The song's next `frames` frames (fewer where it ends), as one block.
    std::vector<int16_t> Take(uint64_t frames);

    // Goes on from frame `frame` of the song (counted from its start). A frame
    // at or past the song's end ends it. The silence rule starts counting
    // afresh from there.
    void Seek(uint64_t frame);
    // Whether each song started from now on is mapped ahead on a worker
    // thread, so that a seek anywhere costs at most a few seconds of
    // emulation (the player); without, a seek runs from the song's start
    // (zirrafon-render, which seeks once).
    void MapSongsAhead(bool ahead) { MapAhead = ahead; }
    // The snapshots of the song playing (null before a start).
    const SongSnapshots* Snapshots() const { return SnapshotStore.get(); }

    // The song's last frame has been handed out.
    bool Ended() const { return EndsHere() && Held == 0; }
    int Song() const { return SongIndex; }
    const SongTiming& Timing() const { return CurrentTiming; }
    // Frames handed out since the start.
    uint64_t Frames() const { return HandedOut; }

    // Who makes the song's buffers: by default the session's frame loop
    // (`SongSession::FillBuffer`). zirrafon-render's stems run the loop
    // themselves to note every port write on the way.
    using BufferMaker = std::function<void(int16_t* buffer)>;
    void SetBufferMaker(BufferMaker maker) { Maker = std::move(maker); }

  private:
    // True when the values made so far reach the song's end.
    bool EndsHere() const {
        return (CurrentTiming.Frames != 0 && Made >= CurrentTiming.Frames) || Silence.Ended();
    }
    // Makes the next buffer into `buffer`, cuts and fades it; returns the
    // values that count.
    uint32_t Make(int16_t* buffer);

    SongSession& Session;
    BufferMaker Maker;
    int SongIndex = 0;
    SongTiming CurrentTiming;
    SilenceWatch Silence;
    uint64_t SilenceFrames = 0;
    uint64_t Made = 0;      // frames made (and counted) since the start
    uint64_t HandedOut = 0; // frames handed out since the start
    // A buffer made for a part request, and what of it is still to hand out.
    std::unique_ptr<int16_t[]> HeldBuffer;
    uint32_t HeldAt = 0, Held = 0;
    // Frames of the next buffer made that a seek passes over.
    uint32_t Skip = 0;
    bool MapAhead = false;
    std::unique_ptr<SongSnapshots> SnapshotStore;
};
