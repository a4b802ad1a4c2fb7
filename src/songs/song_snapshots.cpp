// Snapshots of one song's machine (see song_snapshots.h).
#include "songs/song_snapshots.h"

#include <algorithm>
#include <cstring>

namespace {

// The silent mix's beeper amplitude: not 0, so that a level tells whether
// the beeper's last write set it or cleared it.
constexpr int32_t SilentBeeperAmplitude = -1;

// No channel sounds; the beeper keeps its levels at `SilentBeeperAmplitude`.
void SilenceMix(ChipState& c) {
    std::memset(c.Mix.VolumeTable, 0, sizeof c.Mix.VolumeTable);
    if (++c.Mix.TableVersion == 0) c.Mix.TableVersion = 1; // the tables changed
    c.Mix.MutedVoices = 0;
    c.Mix.BeeperAmplitude = SilentBeeperAmplitude;
}

// A beeper level of one mix in another whose amplitude is `amplitude`: the
// level is either 0 or the mix's amplitude.
int32_t LevelIn(int32_t level, int32_t amplitude) { return level != 0 ? amplitude : 0; }

// Everything of `from` but the mix goes to `to`; `to` keeps its mix, the
// plan built from it, its renderer choice and its output buffer. `from`'s
// beeper levels must come from a mix whose amplitude is not 0.
void LoadChip(ChipState& to, const ChipState& from) {
    to.Registers = from.Registers;
    to.Generators = from.Generators;
    to.Machine = from.Machine;
    to.Deferred = from.Deferred;
    int16_t* const output = to.Cursor.OutputBuffer;
    to.Cursor = from.Cursor;
    to.Cursor.OutputBuffer = output;
    to.Beeper.Level = LevelIn(from.Beeper.Level, to.Mix.BeeperAmplitude);
    to.Beeper.NewLevel = LevelIn(from.Beeper.NewLevel, to.Mix.BeeperAmplitude);
    to.Caches.TicksToFill = 0; // measured again when the next buffer begins
}

void LoadProcessor(Z80State& to, const Z80Processor& from) {
    Z80Ports* const ports = to.Ports;
    static_cast<Z80Processor&>(to) = from;
    to.Ports = ports;
}

// One buffer of the song: from its Z80, or from its stream.
void MakeSongBuffer(SoundEngine& e, RegisterPlayer* streamer) {
    if (streamer)
        streamer->FillBuffer(e);
    else
        MakeBuffer(e);
}

} // namespace

SongSnapshots::SongSnapshots(const SoundEngine& start, uint64_t frames, bool ahead,
                             const RegisterPlayer* streamer,
                             std::shared_ptr<const RegisterStream> stream)
    : Buffers(((frames ? frames : UnendingFrames) + BufferValues / 2 - 1) / (BufferValues / 2)),
      Runner(std::make_unique<SoundEngine>()), Stream(std::move(stream)), Scratch(BufferValues) {
    if (streamer && Stream) {
        Streamer.emplace(*streamer);
        Streamer->Bind(*Stream);
    }
    SoundEngine& e = *Runner;
    e.Chip.TickByTick = start.Chip.TickByTick;
    SilenceMix(e.Chip);
    e.Z80 = start.Z80;
    e.Z80.Ports = &e;
    e.Chip.Cursor.OutputBuffer = Scratch.data();
    LoadChip(e.Chip, start.Chip);
    size_t added = 0;
    Taken.push_back(Take(e, Streamer ? &*Streamer : nullptr, 0, nullptr, added));
    Bytes = added;
    if (ahead && Buffers > 0) {
        Worker = std::jthread([this](std::stop_token stop) { Map(stop); });
    } else {
        Done = true;
        Runner.reset();
        Streamer.reset();
        Stream.reset();
    }
}

SongSnapshots::~SongSnapshots() = default; // the worker is asked to stop and joined

SongSnapshots::Snapshot SongSnapshots::Take(const SoundEngine& engine,
                                            const RegisterPlayer* streamer, uint64_t buffer,
                                            const Snapshot* previous, size_t& added) const {
    Snapshot s;
    s.Buffer = buffer;
    if (streamer) s.Streamer = *streamer;
    s.Processor = engine.Z80;
    s.MirrorByte = engine.Z80.MirrorByte();
    s.Chip = engine.Chip;
    s.Chip.Cursor.OutputBuffer = nullptr;
    added = sizeof s;
    for (size_t i = 0; i < PageCount; ++i) {
        const uint8_t* bytes = engine.Z80.Memory + i * PageSize;
        if (previous && std::memcmp(previous->Pages[i]->data(), bytes, PageSize) == 0) {
            s.Pages[i] = previous->Pages[i];
            continue;
        }
        auto page = std::make_shared<Page>();
        std::memcpy(page->data(), bytes, PageSize);
        s.Pages[i] = std::move(page);
        added += sizeof(Page);
    }
    return s;
}

void SongSnapshots::Map(std::stop_token stop) {
    SoundEngine& e = *Runner;
    Snapshot last = Taken.front();
    RegisterPlayer* const streamer = Streamer ? &*Streamer : nullptr;
    for (uint64_t b = 1; b <= Buffers && !stop.stop_requested(); ++b) {
        MakeSongBuffer(e, streamer);
        if (b % BuffersApart != 0) continue;
        size_t added = 0;
        last = Take(e, streamer, b, &last, added);
        const std::lock_guard<std::mutex> hold(Lock);
        Taken.push_back(last);
        Bytes += added;
    }
    Runner.reset(); // only the snapshots are kept
    Streamer.reset();
    Stream.reset();
    Scratch = {};
    {
        const std::lock_guard<std::mutex> hold(Lock);
        Done = true;
    }
    Mapped.notify_all();
}

SongSnapshots::Snapshot SongSnapshots::LatestAtOrBefore(uint64_t buffer) const {
    const std::lock_guard<std::mutex> hold(Lock);
    const auto after = std::upper_bound(Taken.begin(), Taken.end(), buffer,
                                        [](uint64_t b, const Snapshot& s) { return b < s.Buffer; });
    return *(after - 1); // the song's start is always there
}

void SongSnapshots::Reach(SoundEngine& engine, uint64_t buffer, RegisterPlayer* streamer) const {
    const Snapshot s = LatestAtOrBefore(buffer);
    // The stream player comes along, playing the caller's stream.
    std::optional<RegisterPlayer> runnerStreamer;
    if (streamer && s.Streamer) {
        runnerStreamer.emplace(*streamer);
        runnerStreamer->LoadState(*s.Streamer);
    }
    // The snapshot's machine in the silent mix, run to the buffer asked for.
    auto runner = std::make_unique<SoundEngine>();
    std::vector<int16_t> scratch(s.Buffer < buffer ? BufferValues : 0);
    SoundEngine& r = s.Buffer < buffer ? *runner : engine;
    if (s.Buffer < buffer) {
        r.Chip.TickByTick = engine.Chip.TickByTick;
        SilenceMix(r.Chip);
        r.Chip.Cursor.OutputBuffer = scratch.data();
    }
    LoadProcessor(r.Z80, s.Processor);
    for (size_t i = 0; i < PageCount; ++i)
        std::memcpy(r.Z80.Memory + i * PageSize, s.Pages[i]->data(), PageSize);
    r.Z80.MirrorByte() = s.MirrorByte;
    LoadChip(r.Chip, s.Chip);
    if (runnerStreamer) streamer->LoadState(*runnerStreamer);
    if (&r == &engine) return;
    for (uint64_t b = s.Buffer; b < buffer; ++b)
        MakeSongBuffer(r, runnerStreamer ? &*runnerStreamer : nullptr);
    if (runnerStreamer) streamer->LoadState(*runnerStreamer);
    LoadProcessor(engine.Z80, r.Z80);
    std::memcpy(engine.Z80.Memory, r.Z80.Memory, sizeof engine.Z80.Memory);
    LoadChip(engine.Chip, r.Chip);
}

uint64_t SongSnapshots::MappedBuffers() const {
    const std::lock_guard<std::mutex> hold(Lock);
    return Taken.back().Buffer;
}

size_t SongSnapshots::MemoryBytes() const {
    const std::lock_guard<std::mutex> hold(Lock);
    return Bytes;
}

void SongSnapshots::WaitMapped() const {
    std::unique_lock<std::mutex> hold(Lock);
    Mapped.wait(hold, [this] { return Done; });
}
