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

VoiceScope::VoiceScope(const Player& player) : Playback(player) {
    for (std::vector<int16_t>& window : Windows) window.assign(WindowFrames, 0);
}

VoiceScope::~VoiceScope() { Close(); }

void VoiceScope::Close() {
    // The splitter hands the engine its ports back, so it goes before the
    // engine's session.
    Splitter.reset();
    Split = false;
    Stream.reset();
    Session.reset();
    MappedTo = 0;
    LastSource = Source{};
    Failed = false;
    for (std::vector<int16_t>& voice : Voices) voice.clear();
    Buffer = {};
}

bool VoiceScope::Source::operator==(const Source& other) const {
    return File == other.File && Song == other.Song && Entry == other.Entry &&
           Timing.Frames == other.Timing.Frames && Timing.FadeFrames == other.Timing.FadeFrames &&
           ChipType == other.ChipType && Beeper == other.Beeper;
}

VoiceScope::Source VoiceScope::SourceNow() const {
    const NowPlayingInfo now = Playback.NowPlaying();
    Source source;
    source.File = now.FileName;
    source.Song = now.Song;
    source.Entry = now.Entry;
    // A playlist song always ends where its entry says, another one only
    // while song lengths are followed: then the player fades it there.
    const SongEntry* entry = now.Current();
    if (entry && (now.Entry != 0 || Playback.Settings().FollowSongLengths()))
        source.Timing = entry->Length;
    const ChipSettings chip = Playback.Settings().Chip();
    source.ChipType = Playback.Settings().ChipModeInForce() & 1; // a mono mode of that chip
    source.Beeper = chip.BeeperSetting;
    return source;
}

void VoiceScope::ClearWindows() {
    for (std::vector<int16_t>& window : Windows) std::fill(window.begin(), window.end(), 0);
    Peaks.fill(0);
}

bool VoiceScope::Resync(const Source& source, uint64_t frame) {
    // The splitter stands between the engine and its ports: it goes before
    // the seek moves the machine, and a new one starts from there.
    Splitter.reset();
    Split = false;
    for (std::vector<int16_t>& voice : Voices) voice.clear();
    const bool sameSong = Session && source.File == LastSource.File &&
                          source.Song == LastSource.Song && source.Entry == LastSource.Entry &&
                          source.Timing.Frames == LastSource.Timing.Frames &&
                          source.Timing.FadeFrames == LastSource.Timing.FadeFrames;
    const ChipSettings chip{source.ChipType, source.Beeper, VolumeSteps};
    LastSource = source;
    // Near the start, the song's first snapshot is near enough; further on,
    // the map must reach the frame, unless the song ends before it.
    constexpr uint64_t Apart = SongSnapshots::BuffersApart;
    const uint64_t buffer = frame / BufferFrames;
    const uint64_t end = source.Timing.Frames;
    const bool far = buffer >= Apart && (end == 0 || frame < end);
    try {
        if (!sameSong) {
            Stream.reset();
            Session.reset();
            MappedTo = 0;
            // Opened afresh, as zirrafon-render opens it for each song.
            Session = OpenSongFile(QFile::encodeName(source.File).toStdString());
            ApplyChipSettings(Session->Engine->Chip, chip, false);
            Stream = std::make_unique<SongStream>(*Session);
        } else {
            // A seek gives the engine back its own mix, the new one.
            ApplyChipSettings(Session->Engine->Chip, chip, false);
        }
        if (!sameSong || (far && MappedTo <= frame)) {
            // The map goes as far as the stream's timing at the start says;
            // the song's own timing follows at once.
            constexpr uint64_t Margin = 60ull * OutputRate;
            MappedTo = far ? (end != 0 ? std::min(end, frame + Margin) : frame + Margin) : 0;
            Stream->MapSongsAhead(far);
            Stream->Start(source.Song, far ? SongTiming{MappedTo, 0} : source.Timing);
            Stream->SetTiming(source.Timing);
        }
        if (far && Stream->Snapshots()->MappedBuffers() < buffer - buffer % Apart) return false;
        Stream->Seek(frame);
        SoundEngine* engine = Session->Engine.get();
        Splitter = std::make_unique<VoiceSplitter>(
            *engine, chip, Job, Session->List.Stream ? &Session->Streamer : nullptr);
        Stream->SetBufferMaker(
            [splitter = Splitter.get()](int16_t* buffer) { splitter->MakeBuffer(buffer); });
    } catch (const std::exception&) {
        Close();
        LastSource = source;
        Failed = true;
        return false;
    }
    Failed = false;
    Split = true;
    First = frame;
    Buffer.resize(BufferValues);
    return true;
}

void VoiceScope::RenderTo(uint64_t frame) {
    while (First + Voices[0].size() < frame && !Stream->Ended()) {
        const uint64_t at = Stream->Frames();
        // The rest of the buffer that holds `at`, so that every fill is one
        // buffer the frame loop made and the voices' buffers line up with it.
        const auto offset = static_cast<uint32_t>(at % BufferFrames);
        const uint32_t values = Stream->Fill(Buffer.data(), BufferValues - 2 * offset);
        const uint64_t frames = values / 2;
        for (int v = 0; v < VoiceCount; ++v) {
            const int16_t* made = Splitter->FadedVoice(v, at, frames, Stream->Timing(), offset);
            for (uint64_t f = 0; f < frames; ++f) Voices[v].push_back(made[2 * f]);
        }
    }
}

bool VoiceScope::Follow() {
    const unsigned muted = Playback.MutedVoices();
    if (Playback.State() == PlayState::Stopped) {
        if (!Shown && muted == MutedSet) return false;
        Shown = false;
        MutedSet = muted;
        HeardFrames = 0;
        ClearWindows();
        return true;
    }
    const uint64_t heard = Playback.Elapsed();
    const Source source = SourceNow();
    const bool sameSource = source == LastSource;
    // A song that failed to open stays silent until something else plays;
    // while the map is on its way, every step looks again.
    if (Shown && muted == MutedSet && sameSource && !Mapping() && (heard == HeardFrames || Failed))
        return false;
    HeardFrames = heard;
    MutedSet = muted;
    Shown = true;
    const uint64_t from = heard > WindowFrames ? heard - WindowFrames : 0;
    try {
        const uint64_t made = First + Voices[0].size();
        const bool inStep = Split && sameSource && from >= First &&
                            (heard <= made + MostRenderedAhead || Stream->Ended());
        if (!inStep && !(Failed && sameSource)) Resync(source, from);
        if (Split) RenderTo(heard);
    } catch (const std::exception&) {
        // The machine fell out of step with itself: it is given up, and the
        // song is not tried again until something else plays.
        Close();
        LastSource = source;
        Failed = true;
    }
    // Keep what a window can still show: the frames from the window's start.
    if (from > First + MostRenderedAhead) {
        const uint64_t drop = std::min<uint64_t>(from - First, Voices[0].size());
        for (std::vector<int16_t>& voice : Voices)
            voice.erase(voice.begin(), voice.begin() + static_cast<ptrdiff_t>(drop));
        First += drop;
    }
    for (int v = 0; v < VoiceCount; ++v) {
        std::vector<int16_t>& window = Windows[v];
        std::fill(window.begin(), window.end(), 0);
        Peaks[v] = 0;
        if (Muted(v)) continue;
        // Window index i shows frame heard - WindowFrames + i.
        const std::vector<int16_t>& voice = Voices[v];
        const uint64_t last = std::min<uint64_t>(heard, First + voice.size());
        for (uint64_t f = std::max(from, First); f < last; ++f) {
            const int16_t value = voice[f - First];
            window[WindowFrames - (heard - f)] = value;
            Peaks[v] = std::max(Peaks[v], std::abs(int{value}));
        }
    }
    return true;
}
