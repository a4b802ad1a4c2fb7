// The shared body of the module fuzz targets (fuzz_pt3.cpp, fuzz_pt2.cpp): the
// input is read as a module file; what is accepted is played by the tracker
// engine to its end and through its loop (both chips of a two-chip module),
// and one buffer of it through the register player. Only refusals with a
// reason may come out; the sanitizers catch everything else.
#pragma once

#include "fuzz_streams.h"
#include "songs/tracker_engine.h"

// The frames the engine plays of an input at most (about three minutes):
// every rule is met within them, and the fuzzer keeps its pace.
constexpr uint32_t FuzzFrameLimit = 8192;

inline void FuzzModule(TrackerFormat format, const uint8_t* data, size_t size) {
    std::string refusal;
    const std::optional<RegisterStream> stream =
        ModuleFileStream(format, std::span<const uint8_t>(data, size), refusal, FuzzFrameLimit);
    if (!stream) {
        if (refusal.empty()) std::abort();
        return;
    }
    if (!stream->Module || stream->SongFrames == 0 || stream->SongFrames > stream->FrameCount)
        std::abort();
    if (stream->Module->Chips == 2) {
        const std::optional<RegisterStream> second =
            ModuleStream(*stream->Module, refusal, 1, FuzzFrameLimit);
        if (!second && refusal.empty()) std::abort();
    }
    FuzzPlayStream(*stream);
}
