// Tracker modules: Pro Tracker 3 (3.0-3.7, and Vortex Tracker II's modules,
// which are Pro Tracker 3 modules under another signature) and Pro Tracker 2.
// A module is a compiled song: a position list of patterns, each pattern three
// tracks of commands, and the samples and ornaments the tracks name. What the
// chip plays is made from it frame by frame by the tracker engine
// (songs/tracker_engine.h); this header only reads and checks it.
//
//     std::string refusal;
//     std::optional<TrackerModule> m = ReadPT3File(bytes, refusal);
//     if (!m) ShowError(refusal);     // "Damaged .PT3 file: ..."
//
// Every offset the header gives is checked against the file: the position
// list, every pattern it names and their three tracks, and the samples and
// ornaments. What the engine reads while it plays (a track, a sample's lines)
// may still run past the module's last byte in real modules; the engine takes
// those bytes as zeros.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class TrackerFormat : uint8_t { PT3, PT2 };

struct TrackerModule {
    TrackerFormat Format = TrackerFormat::PT3;
    // The module's bytes (of a TurboSound file: the first module's).
    std::vector<uint8_t> Data;
    // Pro Tracker 3: the digit after "3." (byte 13), or 6 for a Vortex Tracker
    // II module and for one whose byte 13 is no digit; it picks the note and
    // volume tables and a few rules. Pro Tracker 2: 2.
    int Version = 6;
    bool Vortex = false;      // signed "Vortex Tracker II"
    uint8_t NoteTable = 0;    // Pro Tracker 3's byte 99: 0..3 (only its low two bits count)
    uint8_t Tempo = 0;        // frames a row at the start
    uint8_t LoopPosition = 0; // the position a finished song goes on from
    // The position list: one pattern number a position, in playing order.
    std::vector<uint8_t> Positions;
    uint32_t PositionsAt = 0; // offset of the position list
    uint32_t PatternsAt = 0;  // offset of the pattern table (three track offsets a pattern)
    int PatternCount = 0;     // patterns the position list names (the highest + 1)
    std::array<uint16_t, 32> SampleAt{};
    std::array<uint16_t, 16> OrnamentAt{};
    std::string Title, Author;
    // Two chips: a TurboSound file (two modules and a footer), whose second
    // module is SecondChip, or a Pro Tracker 3.7 two-chip module, whose byte
    // 98 holds the pattern count N the chips share: the second chip plays
    // pattern N - 1 - p where the position list names p.
    int Chips = 1;
    std::shared_ptr<const TrackerModule> SecondChip;
    uint8_t SharedPatterns = 0;
};

// The readers, on a whole file's bytes. A refused file returns nothing and sets
// `refusal` to the message shown for it ("Damaged .PT3 file: ...").
std::optional<TrackerModule> ReadPT3File(std::span<const uint8_t> bytes, std::string& refusal);
std::optional<TrackerModule> ReadPT2File(std::span<const uint8_t> bytes, std::string& refusal);
// Whether the bytes begin as a Pro Tracker 3 module does ("ProTracker 3." or
// "Vortex Tracker II"): the kind-by-content rule.
bool LooksLikePT3(std::span<const uint8_t> bytes);
// What both readers check once the position list is read (it ends at
// `listEnd`, the 0xFF or the file's end): the list and its loop, every
// pattern it names with its three tracks, and the samples and ornaments, all
// within the file. Sets PatternCount. The reason a module is damaged, or
// empty.
std::string CheckModuleReferences(TrackerModule& m, std::span<const uint8_t> bytes, size_t listEnd);
