// The song stream (see song_stream.h): a song's buffers from the frame loop,
// cut at the song's end and faded, handed out whole or in parts.
#include "songs/song_stream.h"

#include <algorithm>

SongStream::SongStream(SongSession& session)
    : session_(session), maker_([&session](int16_t* buffer) { session.FillBuffer(buffer); }) {}

void SongStream::Start(int index, const SongTiming& timing, uint64_t silenceFrames) {
    session_.LoadSong(index);
    // Every fill names the buffer it makes; none is made before that.
    session_.StartPlayback(nullptr);
    song_ = index;
    timing_ = timing;
    silenceFrames_ = silenceFrames;
    silence_ = SilenceWatch(silenceFrames);
    made_ = 0;
    handedOut_ = 0;
    heldAt_ = 0;
    held_ = 0;
    skip_ = 0;
    snapshots_.reset(); // the last song's, with its worker
    const bool stream = session_.List.Stream != nullptr;
    snapshots_ = std::make_unique<SongSnapshots>(*session_.Engine, timing.Frames, mapAhead_,
                                                 stream ? &session_.Streamer : nullptr,
                                                 session_.List.Stream);
}

void SongStream::Seek(uint64_t frame) {
    // The silence rule counts unchanged frames from where the listener is.
    silence_ = SilenceWatch(silenceFrames_);
    held_ = 0;
    heldAt_ = 0;
    skip_ = 0;
    if (timing_.Frames != 0 && frame >= timing_.Frames) {
        made_ = handedOut_ = timing_.Frames;
        return;
    }
    constexpr uint64_t BufferFrames = BufferValues / 2;
    const uint64_t buffer = frame / BufferFrames;
    snapshots_->Reach(*session_.Engine, buffer,
                      session_.List.Stream ? &session_.Streamer : nullptr);
    made_ = buffer * BufferFrames;
    handedOut_ = frame;
    skip_ = static_cast<uint32_t>(frame - made_);
}

uint32_t SongStream::Make(int16_t* buffer) {
    maker_(buffer);
    uint64_t frames = BufferValues / 2;
    if (timing_.Frames != 0) {
        frames = std::min(frames, timing_.Frames - std::min(timing_.Frames, made_));
        ApplyFade(buffer, frames, made_, timing_);
    }
    // A song fallen silent ends with its silent stretch, as it is heard.
    frames = silence_.Watch(buffer, frames);
    made_ += frames;
    return static_cast<uint32_t>(2 * frames);
}

uint32_t SongStream::Fill(int16_t* out, uint32_t values) {
    values = std::min<uint32_t>(values, BufferValues) & ~1u;
    uint32_t filled = 0;
    while (filled < values) {
        if (held_ == 0) {
            if (EndsHere()) break;
            if (filled == 0 && values == BufferValues && skip_ == 0) {
                // A whole buffer: made where it goes, nothing to copy.
                filled = Make(out);
                break;
            }
            if (!heldBuffer_) heldBuffer_ = std::make_unique<int16_t[]>(BufferValues);
            held_ = Make(heldBuffer_.get()) - 2 * skip_;
            heldAt_ = 2 * skip_;
            skip_ = 0;
            continue;
        }
        const uint32_t n = std::min(held_, values - filled);
        std::copy_n(heldBuffer_.get() + heldAt_, n, out + filled);
        filled += n;
        heldAt_ += n;
        held_ -= n;
    }
    handedOut_ += filled / 2;
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
