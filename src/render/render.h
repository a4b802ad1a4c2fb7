// Rendering one song to WAV, for zirrafon-render and the player's export:
// opens the song file the way the player does, starts the song on a fresh
// engine and writes exactly the samples the player's buffer cycle produces
// (a SongStream), cut to a length, with an optional linear fade at the end,
// and, when asked, each voice on its own (stems.h).
//
//     RenderJob job{.FileName = name, .Song = 0, .Frames = timing.Frames,
//                   .FadeFrames = timing.FadeFrames};
//     OutputFile out(target);                 // output.h: never destroys a file
//     job.Output = out.Stream();
//     RenderSong(job, settings, progress);    // throws on a failure
//     out.Commit();
#pragma once

#include "render/encoder.h"
#include "songs/session.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

// The voices a song can be split into (chip.h's `Voice`s).
extern const char* const VoiceNames[VoiceCount]; // "A", "B", "C", "beeper"

// What a job writes instead of sound: the chip's registers at every frame end.
enum class DumpFormat { None, YM, PSG };

struct RenderJob {
    std::string FileName;
    int Song = 0;        // zero-based
    uint64_t Frames = 0; // stereo frames to produce
    uint64_t FadeFrames = 0;
    // The first frame written: the output is frames [StartFrame, Frames) of
    // the song as a render from its start makes them (the fade and the end
    // still count from the song's start).
    uint64_t StartFrame = 0;
    unsigned MutedVoices = 0; // a set of chip.h's `Voice`s left out of the mix
    // Unchanged frames that end the song early (the silence rule; 0: never).
    // The WAV header is then rewritten with the length made, where the output
    // can seek; a stream keeps the header's full length.
    uint64_t SilenceFrames = 0;
    std::FILE* Output = nullptr; // WAV destination; null writes it to /dev/null (--bench)
    // Mono WAV destinations of the voices on their own (see stems.h); all
    // null: the voices are not rendered apart.
    std::FILE* Voices[VoiceCount]{};
    DumpFormat Dump = DumpFormat::None; // not None: `Output` gets a register dump
    // What `Output` gets of the sound: WAV, or a compressed format with the
    // song's tags (TagsOf); those need a regular file.
    OutputFormat Format = OutputFormat::Wav;
};

// The tags of song `index` of an open file: its name (else the file's
// title) as title, the author as artist, the file's title (an AY file, which
// has none, and one without: the file's name without its extension) as album, the misc text as comment, the song's
// number and the file's song count.
SongTags TagsOf(const SongSession& session, const std::string& fileName, int index);

struct RenderOutcome {
    double CpuSeconds = 0;    // thread CPU time of the whole song: opening, emulating, writing
    const char* Machine = ""; // "spectrum", "cpc" or "none": what the song's code drove
};

// Renders one song, from its start or from `StartFrame`. `progress` is told every buffer's frames.
// Throws SongIOError (reading the song, or writing the output) or
// std::runtime_error (the file no longer opens).
RenderOutcome RenderSong(const RenderJob& job, const ChipSettings& settings,
                         const std::function<void(uint64_t frames)>& progress);

// The 44-byte RIFF/WAVE header of 16-bit PCM at 44,100 Hz, stereo or mono.
void MakeWavHeader(uint8_t header[44], uint64_t frames, int channels = 2);
