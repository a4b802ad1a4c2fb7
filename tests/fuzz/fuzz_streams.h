// The shared body of the register-stream fuzz targets (fuzz_ym.cpp,
// fuzz_vtx.cpp, fuzz_psg.cpp) and of the module targets (fuzz_pt3.cpp,
// fuzz_pt2.cpp, fuzz_modules.h).
#pragma once

#include "songs/register_player.h"

#include <cstdlib>
#include <span>
#include <string>
#include <vector>

// Plays one buffer of an accepted stream through the register player.
inline void FuzzPlayStream(const RegisterStream& stream) {
    if (stream.FrameCount == 0 || stream.LoopFrame >= stream.FrameCount) std::abort();
    SoundEngine engine;
    std::vector<int16_t> buffer(BufferValues);
    RegisterPlayer player;
    player.Start(engine, stream, buffer.data());
    player.FillBuffer(engine);
    if (engine.Chip.Cursor.OutputCount != BufferValues) std::abort();
}

inline void FuzzStream(StreamFormat format, const uint8_t* data, size_t size) {
    std::string refusal;
    const std::optional<RegisterStream> stream =
        ReadStreamFile(format, std::span<const uint8_t>(data, size), refusal);
    // A song list's read of the same bytes: a refusal there is the same.
    std::string listRefusal;
    const std::optional<RegisterStream> listed = ReadStreamFile(
        format, std::span<const uint8_t>(data, size), listRefusal, StreamDetail::ListOnly);
    if (!stream) {
        if (refusal.empty()) std::abort();    // a refusal always says why
        if (listed && listed->Packed) return; // damaged past the header a list reads
        if (listed || listRefusal != refusal) std::abort();
        return;
    }
    if (!listed || listed->FrameCount != stream->FrameCount || listed->Title != stream->Title)
        std::abort();
    FuzzPlayStream(*stream);
}
