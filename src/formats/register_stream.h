// Register-stream songs: ".ym", ".vtx" and ".psg" files hold no player code,
// only the values the chip's registers take frame after frame. This header
// reads them into one in-memory form; songs/register_player.h plays that form
// on the chip engine without a Z80 and writes register dumps back out. The
// tracker engine (songs/tracker_engine.h) turns Pro Tracker modules into the
// same form.
//
//     std::string refusal;
//     std::optional<RegisterStream> song = ReadStreamFile(StreamFormat::YM, bytes, refusal);
//     if (!song) show(refusal);
//
// Every file is treated as hostile: every offset and count is checked against
// the bytes there are, the unpacked size is capped, and a refused file gives a
// message instead of a song.
#pragma once

#include "formats/tracker_module.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// YM, VTX and PSG are files of registers; PT3 and PT2 are tracker modules,
// whose registers the tracker engine makes.
enum class StreamFormat : uint8_t { YM, VTX, PSG, PT3, PT2 };

// The registers a frame carries: the chip's 14, and for YM5/YM6 two more
// whose bytes time the effects (the Atari's timer counts).
inline constexpr int StreamRegisters = 16;
// The biggest unpacked stream a reader accepts (about 5.8 hours of YM6 at 50 Hz).
inline constexpr size_t MaxStreamBytes = 16u << 20;
// The T-state clock of the engine's timeline (69888 T-states per 50 Hz frame).
inline constexpr uint32_t TStatesPerSecond = 3494400;
inline constexpr uint32_t SpectrumChipClock = 1773400;
inline constexpr uint32_t AtariChipClock = 2000000;

struct RegisterStream {
    StreamFormat Format = StreamFormat::YM;
    std::string Version; // "YM2!", "YM3!", "YM3b", "YM5!", "YM6!", "VTX", "PSG"
    bool Packed = false; // the file was LHA-packed (YM) or lh5 (VTX, always)
    bool Interleaved = true;
    uint32_t FrameCount = 0;
    uint32_t LoopFrame = 0;              // below FrameCount
    uint32_t ChipClock = AtariChipClock; // Hz
    uint32_t FrameRate = 50;             // frames per second
    std::string Title, Author, Comment;
    // What was wrong with the file but could be played past (a stream cut
    // short); empty for a sound file.
    std::string Warning;
    // VTX only: what the file declares (shown, never applied: the user's chip
    // mode decides the tables and the layout).
    std::string DeclaredChip, DeclaredLayout, Program, Tracker;
    uint16_t Year = 0;
    // YM5/YM6: the file's attribute bits and digidrums as chip levels 0..15.
    uint32_t Attributes = 0;
    std::vector<std::vector<uint8_t>> Digidrums;
    // StreamRegisters bytes per frame, frame after frame; bit r of Written[f]
    // says whether frame f writes register r (an envelope shape written
    // restarts the envelope even with the value it had).
    std::vector<uint8_t> Registers;
    std::vector<uint16_t> Written;
    // A tracker module's stream: the module, and the frames to its first end
    // (the song's length: the stream goes on with the module's loop, and
    // loops from LoopFrame only after that); 0 in a file of registers. And
    // whether the module made its player read bytes outside it, which
    // played as zeros.
    std::shared_ptr<const TrackerModule> Module;
    uint32_t SongFrames = 0;
    bool ReadPastModule = false;

    const uint8_t* Frame(uint32_t f) const { return &Registers[size_t{f} * StreamRegisters]; }
    // The YM5/YM6 effects (digidrums, SID voice, sync-buzzer) are in the stream.
    bool HasEffects() const { return Version == "YM5!" || Version == "YM6!"; }
    // The song's length: to a module's first end, else all the frames.
    uint32_t LengthFrames() const { return SongFrames ? SongFrames : FrameCount; }
    double Seconds() const { return FrameRate ? double(LengthFrames()) / FrameRate : 0; }
};

// How much of a file a reader takes in: all of it, or what a song list shows
// (version, texts, clock, rate, loop and the frame count) without the frames,
// for lists of thousands of files. A list-only stream cannot be played. A
// packed YM file is unpacked only as far as its header: one damaged past it
// (its CRC checked only when the header needed all of it) shows in a list
// and is refused when it is played. VTX and PSG files are read as a whole.
enum class StreamDetail : uint8_t { Whole, ListOnly };

// The readers, on a whole file's bytes. A refused file returns nothing and
// sets `refusal` to the message shown for it.
std::optional<RegisterStream> ReadYMFile(std::span<const uint8_t> bytes, std::string& refusal,
                                         StreamDetail detail = StreamDetail::Whole);
std::optional<RegisterStream> ReadVTXFile(std::span<const uint8_t> bytes, std::string& refusal);
std::optional<RegisterStream> ReadPSGFile(std::span<const uint8_t> bytes, std::string& refusal);
std::optional<RegisterStream> ReadStreamFile(StreamFormat format, std::span<const uint8_t> bytes,
                                             std::string& refusal,
                                             StreamDetail detail = StreamDetail::Whole);

// Unpacking (liblhasa). The only file of an LHA archive, at most `limit`
// bytes, its CRC checked; nothing when `bytes` is no archive or is damaged.
std::optional<std::vector<uint8_t>> UnpackLhaArchive(std::span<const uint8_t> bytes, size_t limit,
                                                     std::string& refusal);
// The first `wanted` bytes of that file (all of it when it is shorter), its
// whole length in `length`; the CRC is checked only when all of it came out.
std::optional<std::vector<uint8_t>> UnpackLhaArchiveStart(std::span<const uint8_t> bytes,
                                                          size_t limit, size_t wanted,
                                                          size_t& length, std::string& refusal);
// A raw "-lh5-" stream that unpacks to exactly `length` bytes.
std::optional<std::vector<uint8_t>> UnpackLh5(std::span<const uint8_t> bytes, size_t length,
                                              std::string& refusal);
