// The tracker engine: plays a Pro Tracker 3 or 2 module frame by frame, at
// 50 Hz, as the standard Z80 player of these formats does, and gives the chip's
// registers after every frame. No Z80 runs: the module's rows, samples and
// ornaments are interpreted here directly, with the player's own arithmetic
// (its 8-bit counters and sums, its tables), so every register of every frame
// is what that player writes.
//
//     std::string refusal;
//     std::optional<RegisterStream> s = ModuleStream(module, refusal);
//     RegisterPlayer player; player.Start(engine, *s, buffer1);   // as any register stream
//
// The stream holds the song up to its end (where the player finds its
// position list run out and goes back to the loop position; SongFrames) and
// goes on as the player does, from the loop position with the channels as the
// song left them: the engine plays on until its whole state comes back to one
// it had at an earlier end, or at the loop position's first frame, and the
// stream loops there, so it repeats exactly what the player would. A state
// that never comes back is cut after eight passes and loops to the last one.
//
// Where this knowingly differs from the player on the Spectrum: bytes the
// player would read outside the module (a track, sample or ornament that
// runs off its end, or the tone offset of the player's own silent sample,
// which follows it in the player's memory; about one real module in twenty
// needs one) are zeros here, where the machine has whatever memory lies
// there; the stream notes that it happened.
#pragma once

#include "formats/register_stream.h"
#include "formats/tracker_module.h"

#include <optional>
#include <span>
#include <string>

// The longest song a module may have before its first end, and the most
// frames a stream holds (the song and its loop passes together): 5.8 hours.
inline constexpr uint32_t MaxModuleFrames = 1u << 20;

// The register stream a module plays: 16 bytes a frame (registers 14 and 15
// zero) and whether the frame wrote register 13. Refused (nothing, with
// `refusal` set) when the song does not end within `frameLimit` frames (the
// fuzz targets keep it short). `chip` 1: what a two-chip module plays on its
// second chip.
std::optional<RegisterStream> ModuleStream(const TrackerModule& module, std::string& refusal,
                                           int chip = 0, uint32_t frameLimit = MaxModuleFrames);
// A module file's bytes read and played: the stream with its module, or a
// refusal ("Damaged .PT3 file: ...").
std::optional<RegisterStream> ModuleFileStream(TrackerFormat format, std::span<const uint8_t> bytes,
                                               std::string& refusal,
                                               uint32_t frameLimit = MaxModuleFrames);
