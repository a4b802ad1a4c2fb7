// zirrafon-render: the rendering half. Opens a song file the way the player
// does, starts one song on a fresh engine and hands out exactly the samples the
// player's buffer cycle produces (StartPlayback, then MakeBuffer again and
// again), cut to a length, with an optional linear fade at the end.
#pragma once

#include "songs/songs.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

constexpr int SampleRate = 44100;

// The chip mode names of the player's "/h" option, index = chip mode.
extern const char* const ChipModeNames[14];
// Index of a chip mode name (case-insensitive), or -1.
int ChipModeByName(const std::string& name);

enum class SongKind { Unknown, AY, AYM };
// By the name's extension like the player (".ay", ".aym", letter case and
// surrounding blanks ignored); for any other name by the file's first bytes.
SongKind KindOfFile(const std::string& fileName);

// A song file opened for reading its song list. Throws SongIOError for
// file-system errors and std::runtime_error with the format message for a
// file the readers refuse.
struct OpenedSongFile {
    SongKind Kind = SongKind::Unknown;
    SongList List;
    std::unique_ptr<SoundEngine> Engine; // holds an AYM file's memory image
};
std::unique_ptr<OpenedSongFile> OpenSongFile(const std::string& fileName);

// The song length and fade the file's header gives (AY only), in seconds; 0 when absent.
double HeaderSongSeconds(const OpenedSongFile& file, int song);
double HeaderFadeSeconds(const OpenedSongFile& file, int song);

struct RenderSettings {
    int ChipMode = 2;
    int BeeperSetting = 16384;
    int Volume = 39;
};

struct RenderJob {
    std::string FileName;
    int Song = 0;        // zero-based
    uint64_t Frames = 0; // stereo frames to produce
    uint64_t FadeFrames = 0;
    std::FILE* Output = nullptr; // WAV destination; null writes it to /dev/null (--bench)
};

struct RenderOutcome {
    double CpuSeconds = 0;    // thread CPU time of the whole song: opening, emulating, writing
    const char* Machine = ""; // "spectrum", "cpc" or "none": what the song's code drove
};

// Renders one song from its start. `progress` is told every buffer's frames.
// Throws SongIOError (reading the song, or writing the output) or
// std::runtime_error (the file no longer opens).
RenderOutcome RenderSong(const RenderJob& job, const RenderSettings& settings,
                         const std::function<void(uint64_t frames)>& progress);

// The 44-byte RIFF/WAVE header of 16-bit stereo PCM at 44,100 Hz.
void MakeWavHeader(uint8_t header[44], uint64_t frames);
