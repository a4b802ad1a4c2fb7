// The song stream (see song_stream.h): a song's buffers from the frame loop,
// cut at the song's end and faded, handed out whole or in parts.
#include "songs/song_stream.h"

#include <algorithm>

SongStream::SongStream(SongSession& session)
    : Session(session), Maker([&session](int16_t* buffer) { session.FillBuffer(buffer); }) {}

void SongStream::Start(int index, const SongTiming& timing, uint64_t silenceFrames) {
    Session.LoadSong(index);
    // Every fill names the buffer it makes; none is made before that.
    Session.StartPlayback(nullptr);
    SongIndex = index;
    CurrentTiming = timing;
    SilenceFrames = silenceFrames;
    Silence = SilenceWatch(silenceFrames);
    Made = 0;
    HandedOut = 0;
    HeldAt = 0;
    Held = 0;
    Skip = 0;
    SnapshotStore.reset(); // the last song's, with its worker
    const bool stream = Session.List.Stream != nullptr;
    SnapshotStore =
        std::make_unique<SongSnapshots>(*Session.Engine, timing.Frames, MapAhead,
                                        stream ? &Session.Streamer : nullptr, Session.List.Stream);
}

void SongStream::Seek(uint64_t frame) {
    // The silence rule counts unchanged frames from where the listener is.
    Silence = SilenceWatch(SilenceFrames);
    Held = 0;
    HeldAt = 0;
    Skip = 0;
    if (CurrentTiming.Frames != 0 && frame >= CurrentTiming.Frames) {
        Made = HandedOut = CurrentTiming.Frames;
        return;
    }
    constexpr uint64_t BufferFrames = BufferValues / 2;
    const uint64_t buffer = frame / BufferFrames;
    SnapshotStore->Reach(*Session.Engine, buffer,
                         Session.List.Stream ? &Session.Streamer : nullptr);
    Made = buffer * BufferFrames;
    HandedOut = frame;
    Skip = static_cast<uint32_t>(frame - Made);
}

uint32_t SongStream::Make(int16_t* buffer) {
    Maker(buffer);
    uint64_t frames = BufferValues / 2;
    if (CurrentTiming.Frames != 0) {
        frames = std::min(frames, CurrentTiming.Frames - std::min(CurrentTiming.Frames, Made));
        ApplyFade(buffer, frames, Made, CurrentTiming);
    }
    // A song fallen silent ends with its silent stretch, as it is heard.
    frames = Silence.Watch(buffer, frames);
    Made += frames;
    return static_cast<uint32_t>(2 * frames);
}

uint32_t SongStream::Fill(int16_t* out, uint32_t values) {
    values = std::min<uint32_t>(values, BufferValues) & ~1u;
    uint32_t filled = 0;
    while (filled < values) {
        if (Held == 0) {
            if (EndsHere()) break;
            if (filled == 0 && values == BufferValues && Skip == 0) {
                // A whole buffer: made where it goes, nothing to copy.
                filled = Make(out);
                break;
            }
            if (!HeldBuffer) HeldBuffer = std::make_unique<int16_t[]>(BufferValues);
            Held = Make(HeldBuffer.get()) - 2 * Skip;
            HeldAt = 2 * Skip;
            Skip = 0;
            continue;
        }
        const uint32_t n = std::min(Held, values - filled);
        std::copy_n(HeldBuffer.get() + HeldAt, n, out + filled);
        filled += n;
        HeldAt += n;
        Held -= n;
    }
    HandedOut += filled / 2;
    return filled;
}

std::vector<int16_t> SongStream::Take(uint64_t frames) {
    std::vector<int16_t> out(2 * frames);
    size_t filled = 0;
    while (filled < out.size()) {
        const auto want =
            static_cast<uint32_t>(std::min<size_t>(BufferValues, out.size() - filled));
        const uint32_t n = Fill(out.data() + filled, want);
        if (n == 0) break;
        filled += n;
    }
    out.resize(filled);
    return out;
}
