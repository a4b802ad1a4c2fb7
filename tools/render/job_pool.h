// zirrafon-render's job pool: the songs of a run rendered on a few threads,
// each into outputs that only a complete song replaces; a stop signal ends
// the run with every unfinished song's outputs left as they were.
#pragma once

#include "render/render.h"

#include <string>
#include <vector>

// One song of a run: what to render and where it goes.
struct Task {
    RenderJob Job;
    std::string Label;                  // "FILE #N" for messages and the bench
    std::string OutputPath;             // the mix; empty for none, "-" for standard output
    std::string VoicePaths[VoiceCount]; // empty without --stems
    double Seconds = 0;
    // Filled by the worker
    RenderOutcome Outcome;
    std::string Error;
};

// Renders every task, `jobs` at once; a task's failure goes to its `Error`.
// Shows the progress (and with `summary` a closing summary line) on a
// terminal, or with `progress` anywhere.
void RunTasks(std::vector<Task>& tasks, const ChipSettings& settings, int jobs, bool progress,
              bool summary);
