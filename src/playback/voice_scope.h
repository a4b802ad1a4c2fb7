// The voices as the listener hears them, for the voices view: the last
// `WindowFrames` frames of channels A, B, C and the beeper up to the frame
// the player has played, each as zirrafon-render's stems split it
// (render/stems.h), so that the view and the stems show the same voices.
//
//     VoiceScope scope(player);
//     scope.Follow();                       // at every refresh of the view
//     scope.Window(VoiceA);                 // WindowFrames values, the last one heard now
//
// The player's own machine is left alone: the scope runs a machine of its
// own (a session on the same file, a song stream and a voice splitter as the
// stream's buffer maker) and follows the player only through its queries. It
// renders a buffer at a time and only as far as the player has played; when
// the song, the file, the song's timing, the chip type or the beeper level
// change, or the position jumps (a seek, a restart), it seeks its stream to
// the window's start and splits from there. A muted voice's window is all
// zero, as its stem is with that voice muted; the others do not change with
// muting, so a mute costs no new split.
//
// A seek never holds the player's thread up: near the song's start it costs
// a few buffers of silent emulation; further on, the stream maps the song on
// its worker thread from the start to a minute past the frame (or to the
// song's end), and the windows stay at zero until the map is near enough for
// the seek to cost no more than near the start. A song that plays on from its
// start, as the next song does, is never mapped.
//
// The voices are made at full volume: the view shows the song's voices, not
// how loud the volume bar plays them. No widgets; everything but the map runs
// on the player's thread.
#pragma once

#include "render/render.h"

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class Player;
class SongStream;
class VoiceSplitter;

class VoiceScope {
  public:
    // About 46 ms of sound: two periods of a 43 Hz bass note.
    static constexpr uint32_t WindowFrames = 2048;

    explicit VoiceScope(const Player& player);
    ~VoiceScope();
    VoiceScope(const VoiceScope&) = delete;
    VoiceScope& operator=(const VoiceScope&) = delete;

    // Brings the windows to the frame the player has played now; stopped,
    // they are all zero. Returns whether they changed. A song file that no
    // longer opens leaves them at zero until something else plays.
    bool Follow();
    // Frees the scope's machine (the next Follow makes a new one).
    void Close();
    bool HasMachine() const { return Session != nullptr; }

    // Voice `voice`'s window (a chip.h `Voice`): mono values at the chip's
    // mono mix level, faded as the player fades the song, the last one the
    // frame before the one heard; zero before the song's start, after its
    // end and while the voice is muted.
    std::span<const int16_t> Window(int voice) const { return Windows[voice]; }
    // The largest magnitude in the window, 0..32768.
    int Peak(int voice) const { return Peaks[voice]; }
    bool Muted(int voice) const { return (MutedSet >> voice) & 1; }
    // The windows wait for the song's map to reach the frame heard (they are
    // all zero meanwhile).
    bool Mapping() const { return Session && !Split && !Failed; }
    // The song frame the windows end at (the player's Elapsed at the last Follow).
    uint64_t Heard() const { return HeardFrames; }

  private:
    // What the scope's machine plays: when any of it changes, it splits anew.
    struct Source {
        QString File;
        int Song = -1;
        quint64 Entry = 0;
        SongTiming Timing;
        int ChipType = 0; // the mode's parity: AY or YM
        int32_t Beeper = 0;
        bool operator==(const Source& other) const;
    };
    Source SourceNow() const;
    // Opens the file and starts the song where needed, then seeks to `frame`
    // and splits from there. Returns false while the map does not yet reach
    // near `frame` (nothing is split then; the next call goes on), and when
    // the file fails.
    bool Resync(const Source& source, uint64_t frame);
    // Renders buffers until the voices reach frame `frame` (or the song's end).
    void RenderTo(uint64_t frame);
    void ClearWindows();

    const Player& Playback;
    Source LastSource;
    bool Failed = false; // `LastSource` could not be opened
    std::unique_ptr<SongSession> Session;
    std::unique_ptr<SongStream> Stream;
    RenderJob Job; // no outputs: the splitter keeps its voices for `FadedVoice`
    std::unique_ptr<VoiceSplitter> Splitter;
    std::vector<int16_t> Buffer; // the mix, unused
    // The voices' frames [First, First + Voices[v].size()) that were made.
    uint64_t First = 0;
    std::array<std::vector<int16_t>, VoiceCount> Voices;
    std::array<std::vector<int16_t>, VoiceCount> Windows;
    std::array<int, VoiceCount> Peaks{};
    unsigned MutedSet = 0;
    uint64_t HeardFrames = 0;
    bool Shown = false;    // the windows hold sound (not the stopped state's zeros)
    bool Split = false;    // the splitter makes the stream's buffers from `First` on
    uint64_t MappedTo = 0; // how far the stream's song is mapped (0: not at all)
};
