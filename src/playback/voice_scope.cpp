// The voices as the listener hears them (see voice_scope.h).
#include "playback/voice_scope.h"

#include "playback/player.h"
#include "render/stems.h"
#include "songs/song_stream.h"

#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr uint64_t BufferFrames = BufferValues / 2;
// Further ahead than this, a seek from the song's snapshots costs less than
// splitting every buffer in between.
constexpr uint64_t MostRenderedAhead = 2 * BufferFrames;

} // namespace

VoiceScope::VoiceScope(const Player& player) : player_(player) {
    for (std::vector<int16_t>& window : windows_) window.assign(WindowFrames, 0);
}

VoiceScope::~VoiceScope() { Close(); }

void VoiceScope::Close() {
    // The splitter hands the engine its ports back, so it goes before the
    // engine's session.
    splitter_.reset();
    split_ = false;
    stream_.reset();
    session_.reset();
    mappedTo_ = 0;
    source_ = Source{};
    failed_ = false;
    for (std::vector<int16_t>& voice : voices_) voice.clear();
    buffer_ = {};
}

bool VoiceScope::Source::operator==(const Source& other) const {
    return File == other.File && Song == other.Song && Entry == other.Entry &&
           Timing.Frames == other.Timing.Frames && Timing.FadeFrames == other.Timing.FadeFrames &&
           ChipType == other.ChipType && Beeper == other.Beeper;
}

VoiceScope::Source VoiceScope::SourceNow() const {
    const NowPlayingInfo now = player_.NowPlaying();
    Source source;
    source.File = now.FileName;
    source.Song = now.Song;
    source.Entry = now.Entry;
    // A playlist song always ends where its entry says, another one only
    // while song lengths are followed: then the player fades it there.
    const SongEntry* entry = now.Current();
    if (entry && (now.Entry != 0 || player_.Settings().FollowSongLengths))
        source.Timing = entry->Length;
    const ChipSettings chip = player_.Settings().Chip();
    source.ChipType = player_.Settings().ChipModeInForce() & 1; // a mono mode of that chip
    source.Beeper = chip.BeeperSetting;
    return source;
}

void VoiceScope::ClearWindows() {
    for (std::vector<int16_t>& window : windows_) std::fill(window.begin(), window.end(), 0);
    peaks_.fill(0);
}

bool VoiceScope::Resync(const Source& source, uint64_t frame) {
    // The splitter stands between the engine and its ports: it goes before
    // the seek moves the machine, and a new one starts from there.
    splitter_.reset();
    split_ = false;
    for (std::vector<int16_t>& voice : voices_) voice.clear();
    const bool sameSong = session_ && source.File == source_.File && source.Song == source_.Song &&
                          source.Entry == source_.Entry &&
                          source.Timing.Frames == source_.Timing.Frames &&
                          source.Timing.FadeFrames == source_.Timing.FadeFrames;
    const ChipSettings chip{source.ChipType, source.Beeper, VolumeSteps};
    source_ = source;
    // Near the start, the song's first snapshot is near enough; further on,
    // the map must reach the frame, unless the song ends before it.
    constexpr uint64_t Apart = SongSnapshots::BuffersApart;
    const uint64_t buffer = frame / BufferFrames;
    const uint64_t end = source.Timing.Frames;
    const bool far = buffer >= Apart && (end == 0 || frame < end);
    try {
        if (!sameSong) {
            stream_.reset();
            session_.reset();
            mappedTo_ = 0;
            // Opened afresh, as zirrafon-render opens it for each song.
            session_ = OpenSongFile(QFile::encodeName(source.File).toStdString());
            ApplyChipSettings(session_->Engine->Chip, chip, false);
            stream_ = std::make_unique<SongStream>(*session_);
        } else {
            // A seek gives the engine back its own mix, the new one.
            ApplyChipSettings(session_->Engine->Chip, chip, false);
        }
        if (!sameSong || (far && mappedTo_ <= frame)) {
            // The map goes as far as the stream's timing at the start says;
            // the song's own timing follows at once.
            constexpr uint64_t Margin = 60ull * OutputRate;
            mappedTo_ = far ? (end != 0 ? std::min(end, frame + Margin) : frame + Margin) : 0;
            stream_->MapSongsAhead(far);
            stream_->Start(source.Song, far ? SongTiming{mappedTo_, 0} : source.Timing);
            stream_->SetTiming(source.Timing);
        }
        if (far && stream_->Snapshots()->MappedBuffers() < buffer - buffer % Apart) return false;
        stream_->Seek(frame);
        SoundEngine* engine = session_->Engine.get();
        splitter_ = std::make_unique<VoiceSplitter>(
            *engine, chip, job_, session_->List.Stream ? &session_->Streamer : nullptr);
        stream_->SetBufferMaker(
            [splitter = splitter_.get()](int16_t* buffer) { splitter->MakeBuffer(buffer); });
    } catch (const std::exception&) {
        Close();
        source_ = source;
        failed_ = true;
        return false;
    }
    failed_ = false;
    split_ = true;
    first_ = frame;
    buffer_.resize(BufferValues);
    return true;
}

void VoiceScope::RenderTo(uint64_t frame) {
    while (first_ + voices_[0].size() < frame && !stream_->Ended()) {
        const uint64_t at = stream_->Frames();
        // The rest of the buffer that holds `at`, so that every fill is one
        // buffer the frame loop made and the voices' buffers line up with it.
        const auto offset = static_cast<uint32_t>(at % BufferFrames);
        const uint32_t values = stream_->Fill(buffer_.data(), BufferValues - 2 * offset);
        const uint64_t frames = values / 2;
        for (int v = 0; v < VoiceCount; ++v) {
            const int16_t* made = splitter_->FadedVoice(v, at, frames, stream_->Timing(), offset);
            for (uint64_t f = 0; f < frames; ++f) voices_[v].push_back(made[2 * f]);
        }
    }
}

bool VoiceScope::Follow() {
    const unsigned muted = player_.MutedVoices();
    if (player_.State() == PlayState::Stopped) {
        if (!shown_ && muted == muted_) return false;
        shown_ = false;
        muted_ = muted;
        heard_ = 0;
        ClearWindows();
        return true;
    }
    const uint64_t heard = player_.Elapsed();
    const Source source = SourceNow();
    const bool sameSource = source == source_;
    // A song that failed to open stays silent until something else plays;
    // while the map is on its way, every step looks again.
    if (shown_ && muted == muted_ && sameSource && !Mapping() && (heard == heard_ || failed_))
        return false;
    heard_ = heard;
    muted_ = muted;
    shown_ = true;
    const uint64_t from = heard > WindowFrames ? heard - WindowFrames : 0;
    try {
        const uint64_t made = first_ + voices_[0].size();
        const bool inStep = split_ && sameSource && from >= first_ &&
                            (heard <= made + MostRenderedAhead || stream_->Ended());
        if (!inStep && !(failed_ && sameSource)) Resync(source, from);
        if (split_) RenderTo(heard);
    } catch (const std::exception&) {
        // The machine fell out of step with itself: it is given up, and the
        // song is not tried again until something else plays.
        Close();
        source_ = source;
        failed_ = true;
    }
    // Keep what a window can still show: the frames from the window's start.
    if (from > first_ + MostRenderedAhead) {
        const uint64_t drop = std::min<uint64_t>(from - first_, voices_[0].size());
        for (std::vector<int16_t>& voice : voices_)
            voice.erase(voice.begin(), voice.begin() + static_cast<ptrdiff_t>(drop));
        first_ += drop;
    }
    for (int v = 0; v < VoiceCount; ++v) {
        std::vector<int16_t>& window = windows_[v];
        std::fill(window.begin(), window.end(), 0);
        peaks_[v] = 0;
        if (Muted(v)) continue;
        // Window index i shows frame heard - WindowFrames + i.
        const std::vector<int16_t>& voice = voices_[v];
        const uint64_t last = std::min<uint64_t>(heard, first_ + voice.size());
        for (uint64_t f = std::max(from, first_); f < last; ++f) {
            const int16_t value = voice[f - first_];
            window[WindowFrames - (heard - f)] = value;
            peaks_[v] = std::max(peaks_[v], std::abs(int{value}));
        }
    }
    return true;
}
