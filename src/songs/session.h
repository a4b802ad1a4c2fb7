// The song session: everything between a song file's name and the samples of
// its songs, shared by the player, zirrafon-render, the benchmarks and the
// tests, so that the sequence exists once.
//
//     SongSession session;                                   // owns one SoundEngine
//     if (!session.Open(name, SongKindByExtension(name), onFormatError)) return;
//     session.LoadSong(session.StartingSong());              // the machine for song N
//     session.StartPlayback(buffer1);                        // silent chip, Z80 at T 0
//     session.FillBuffer(buffer1);                           // BufferValues samples
//     session.FillBuffer(buffer2);                           // ... and so on
//
// The engine outlives the files: an AYM file's memory image stays in it from
// one song to the next, as the player has always kept it. No Qt and no audio
// device here; file-system errors are thrown as `SongIOError`.
#pragma once

#include "formats/song_file.h"
#include "songs/register_player.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The chip modes by index (even: AY-3-8910, odd: YM2149F; mode div 2 is the
// channel layout): the names of the "/h" option and of zirrafon-render's --chip.
inline constexpr int ChipModeCount = 14;
extern const char* const ChipModeNames[ChipModeCount];
// The index of a chip mode name, letter case ignored; -1 when there is none.
int ChipModeByName(std::string_view name);
// The volume scale of the player and of zirrafon-render's --volume: 0 is
// silent, 39 full (one step per pixel of the face's volume bar).
inline constexpr int VolumeSteps = 39;
inline constexpr int32_t DefaultBeeperSetting = 16384;

// What configures the chip for a playback or a rendering: the chip mode (by
// index, as above), the beeper level 0..32768 and the volume 0..VolumeSteps.
// The player's settings, zirrafon-render's options and the player's export
// each hand one on.
struct ChipSettings {
    int Mode = DefaultChipMode;
    int32_t BeeperSetting = DefaultBeeperSetting;
    int Volume = VolumeSteps;
};
// Gives the chip these settings: the beeper level, the volume tables for the
// mode and volume, and the beeper's amplitude that goes with them.
void ApplyChipSettings(ChipState& chip, const ChipSettings& settings);

// A file name's extension as the player compares it: from the last "." after
// the last "/" on, without blanks and control characters at either end, in
// lower case; empty when there is none.
std::string SongFileExtension(std::string_view fileName);
// The player's rule: ".ay", ".aym", ".ym", ".vtx", ".psg", ".pt3" and ".pt2"
// by extension, anything else Unknown.
SongKind SongKindByExtension(std::string_view fileName);
// zirrafon-render's rule: by extension, else by the file's first bytes ("ZXAY",
// "AYM", "YM", an LHA archive, "PSG" 0x1A, VTX's "ay" or "ym", "ProTracker 3."
// or "Vortex Tracker II"); a file that cannot be opened counts as AY so that
// the reader reports its error.
SongKind KindOfFile(const std::string& fileName);
// The kind the first bytes of a file (`size` of them at `head`; 17 are enough)
// say it is, by the signatures above; Unknown when none fits.
SongKind KindOfContent(const uint8_t* head, size_t size);

// How long a song plays and over how many of its last frames it fades, in
// output frames (44,100 a second). Frames 0: the song plays until stopped.
struct SongTiming {
    uint64_t Frames = 0;
    uint64_t FadeFrames = 0; // never more than Frames
};
inline constexpr int OutputRate = 44100;
// How long a song the file gives no length plays in a rendering.
inline constexpr double DefaultSongSeconds = 180;

// The timing for `seconds` of sound fading over the last `fadeSeconds`
// (rounded to the nearest frame; the fade is cut to the length).
SongTiming TimingOfSeconds(double seconds, double fadeSeconds);

// Fades `frames` stereo frames in place that start at frame `first` of a song
// of the given timing: a frame f at or past the fade's start is scaled by
// (Frames - f) / FadeFrames, truncated toward zero, so the level is full at the
// fade's start and 1/FadeFrames on the song's last frame. Frames before the
// fade are left as they are.
void ApplyFade(int16_t* values, uint64_t frames, uint64_t first, const SongTiming& timing);

class SongSession {
  public:
    SongSession();
    ~SongSession();
    SongSession(const SongSession&) = delete;
    SongSession& operator=(const SongSession&) = delete;

    std::unique_ptr<SoundEngine> Engine; // the one Z80 and chip of the session
    SongList List;                       // Kind, FileOpen, SongFile, CurrentSong, ...
    RegisterPlayer Streamer;             // drives the chip for a register-stream file

    // Opens a file of the given kind and builds its song list (the old file is
    // closed first). Unknown kinds change nothing and return false without a
    // message. A format error goes to `formatError` and returns false (no file
    // is open then); I/O errors are thrown.
    bool Open(const std::string& fileName, SongKind kind, const FormatErrorSink& formatError);
    // The same for a song list only: the texts and the songs with their
    // lengths as Open gives them, without reading a register stream's frames
    // (a packed file is unpacked only as far as its header), so that folders
    // of them are listed quickly. What is opened so cannot be played: a
    // playback start throws std::logic_error.
    bool OpenForList(const std::string& fileName, SongKind kind,
                     const FormatErrorSink& formatError);
    // Closes the song file, if one is open.
    void Close();
    // Builds the machine for song `index` of the open file. Throws SongIOError
    // when a block cannot be read.
    void LoadSong(int index);
    // Resets chip and processor for a playback start; output goes to `firstBuffer`.
    void StartPlayback(int16_t* firstBuffer);
    // Runs the machine until `buffer` holds BufferValues 16-bit values, going
    // on exactly where the previous buffer ended; returns the values written.
    uint32_t FillBuffer(int16_t* buffer);
    // The same, telling `observer` of every frame end (register dumps).
    uint32_t FillBuffer(int16_t* buffer, FrameEndObserver* observer);

    SongKind Kind() const { return List.Kind; }
    // The song a newly opened file starts with: its first song, or song 0 when
    // the file names one beyond its count.
    int StartingSong() const;
    // What a song list shows of song `index`: an AY song's own name, an AYM
    // file's title.
    const std::string& SongTitle(int index) const;
    // The song and fade lengths the file gives (AY; a register stream's
    // length), in 1/50 s frames and in seconds; 0 when the file gives none.
    uint32_t SongFrames(int index) const;
    uint32_t FadeFrames(int index) const;
    double SongSeconds(int index) const;
    double FadeSeconds(int index) const { return FadeFrames(index) / 50.0; }
    // The song's length and fade as the file gives them, in output frames;
    // no length (Frames 0) when the file gives none.
    SongTiming FileTiming(int index) const;
    // What zirrafon-render (and the player's export) makes of song `index`:
    // `seconds` when given, else the file's length, else DefaultSongSeconds;
    // `fadeSeconds` when given, else the file's fade when it gives a length,
    // else none.
    SongTiming RenderTiming(int index, std::optional<double> seconds = {},
                            std::optional<double> fadeSeconds = {}) const;
    // The silence rule's limit for song `index` (silence.h): `seconds` of
    // unchanged output, in frames, for a song whose file gives no length; 0
    // (never) for one whose file gives a length.
    uint64_t SilenceLimit(int index, double seconds) const;
    // What the song's code drove since the last start: "spectrum", "cpc" or
    // "none"; a register stream's format ("ym", "vtx", "psg").
    const char* MachineName() const;
};

// The steps of a song start on any engine, for tests that run one song on two
// engines side by side (the session uses them on its own engine): the
// machine for song `index` of the file `list` holds, by the file's kind; and
// that, then the reset of a playback start with output to `firstBuffer`.
void LoadSongOn(SongList& list, SoundEngine& engine, int index);
void StartSongOn(SongList& list, SoundEngine& engine, int index, int16_t* firstBuffer);

// zirrafon-render's open: a fresh session with the file opened by KindOfFile.
// Throws SongIOError for file-system errors and std::runtime_error with the
// format message for a file the readers refuse.
std::unique_ptr<SongSession> OpenSongFile(const std::string& fileName);
