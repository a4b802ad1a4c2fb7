// Snapshots of one song's machine, for seeking: the emulation is
// deterministic, so a song's state at the start of any buffer is the state of
// an earlier buffer run forward. A worker thread runs a copy of the machine
// from the song's start ahead of the listener, without output, and keeps its
// whole state (Z80 with its memory, chip, the buffer it stands at) every
// `BuffersApart` buffers; reaching a buffer then costs a copy and at most
// that many buffers of emulation, wherever the song stands.
//
//     SongSnapshots map(engine, timing.Frames);  // engine: just started
//     map.Reach(engine, buffer);                 // engine now stands at that buffer
//     MakeBuffer(engine);                        // exactly that buffer's samples
//
// The snapshots are taken in a silent mix (no channel sounds, so the
// generators catch up in closed form and the run costs little more than the
// Z80), and `Reach` gives the engine it brings there its own mix back: its
// volume tables, beeper level and muted voices, with the beeper at the level
// its last write set, as a play from the start with that mix would have it.
// Memory is kept in pages; a page that did not change since the snapshot
// before is shared with it. A register-stream song's machine is the chip and
// the stream player's place in the stream; the worker plays its own
// reference to the stream, so the session may open another file meanwhile.
#pragma once

#include "chip/chip.h"
#include "songs/register_player.h"

#include <optional>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class SongSnapshots {
  public:
    // About 3 s of sound between two snapshots.
    static constexpr uint64_t BuffersApart = 8;
    // A song that never ends is mapped this far (in output frames).
    static constexpr uint64_t UnendingFrames = 30ull * 60 * 44100;

    // Maps the song that `start` has just started (its machine as the first
    // buffer finds it) for `frames` output frames (0: `UnendingFrames`). The
    // first snapshot is taken here; with `ahead`, a worker thread takes the
    // others at once, else `Reach` runs from the song's start. A
    // register-stream song names its player and stream too.
    SongSnapshots(const SoundEngine& start, uint64_t frames, bool ahead = true,
                  const RegisterPlayer* streamer = nullptr,
                  std::shared_ptr<const RegisterStream> stream = {});
    // Stops the worker.
    ~SongSnapshots();
    SongSnapshots(const SongSnapshots&) = delete;
    SongSnapshots& operator=(const SongSnapshots&) = delete;

    // Brings `engine` to the start of the song's buffer `buffer` (counted
    // from 0): the latest snapshot at or before it, then the buffers between
    // run without output. The engine keeps its mix, its output buffer and
    // where its Z80's port calls go; a register-stream song's `streamer`
    // (playing the song's stream) is brought there with it.
    void Reach(SoundEngine& engine, uint64_t buffer, RegisterPlayer* streamer = nullptr) const;

    // How far the snapshots reach, in buffers, and the memory they hold.
    uint64_t MappedBuffers() const;
    size_t MemoryBytes() const;
    // Waits until the worker has mapped what it was asked to (tests and
    // measurements).
    void WaitMapped() const;

    static constexpr size_t PageSize = 1024;
    static constexpr size_t PageCount = 0x10000 / PageSize;
    using Page = std::array<uint8_t, PageSize>;

  private:
    struct Snapshot {
        uint64_t Buffer = 0; // buffers made before it
        Z80Processor Processor;
        std::array<std::shared_ptr<const Page>, PageCount> Pages;
        uint8_t MirrorByte = 0;
        ChipState Chip; // in the silent mix
        std::optional<RegisterPlayer> Streamer;
    };

    // Keeps `engine`'s state as a snapshot at `buffer`, sharing the pages that
    // equal the previous snapshot's; returns the bytes it added.
    Snapshot Take(const SoundEngine& engine, const RegisterPlayer* streamer, uint64_t buffer,
                  const Snapshot* previous, size_t& added) const;
    // The snapshot at or before `buffer`, copied out under the lock.
    Snapshot LatestAtOrBefore(uint64_t buffer) const;
    void Map(std::stop_token stop);

    const uint64_t Buffers; // to map
    std::unique_ptr<SoundEngine> Runner;
    std::shared_ptr<const RegisterStream> Stream; // the worker's, while it maps
    std::optional<RegisterPlayer> Streamer;       // the worker's, bound to `Stream`
    std::vector<int16_t> Scratch;
    mutable std::mutex Lock;
    mutable std::condition_variable Mapped;
    std::vector<Snapshot> Taken; // by buffer, the song's start first
    size_t Bytes = 0;
    bool Done = false;
    std::jthread Worker;
};
