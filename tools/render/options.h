// zirrafon-render's command line: its options, their checks, the help text.
#pragma once

#include "render/render.h"
#include "songs/silence.h"

#include <optional>
#include <string>
#include <vector>

struct Options {
    std::optional<std::string> Output;
    int Song = 0; // 1-based; 0 = the file's first song
    bool AllSongs = false;
    bool Stems = false, Mix = true; // the voices apart; the mix
    std::optional<double> Seconds, Fade;
    double Start = 0;                       // seconds into the song
    unsigned MutedVoices = 0;               // a set of chip.h's `Voice`s left out of the mix
    double Silence = DefaultSilenceSeconds; // the silence rule (0: off)
    ChipSettings Settings;
    int Jobs = 1;
    bool Info = false, Json = false, Bench = false;
    bool Progress = false;              // progress and summary also when stderr is no terminal
    std::optional<OutputFormat> Format; // --format; else by -o's extension, else WAV
    std::vector<std::string> Files;
};

// Wrong usage: the text says what was wrong.
struct UsageError {
    std::string Text;
};

// The options of a command line; --help and --version print and end the
// process. Throws UsageError.
Options ParseOptions(int argc, char** argv);
