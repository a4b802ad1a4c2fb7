// What the Pro Tracker 3 and 2 readers share.
#include "formats/tracker_module.h"

#include <algorithm>
#include <string>

std::string CheckModuleReferences(TrackerModule& m, std::span<const uint8_t> bytes,
                                  size_t listEnd) {
    const auto word = [&bytes](size_t at) {
        return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    };
    if (listEnd >= bytes.size()) return "its position list has no end";
    if (m.Positions.empty()) return "no positions";
    if (m.LoopPosition >= m.Positions.size()) return "the loop position is past the last position";
    m.PatternCount = *std::max_element(m.Positions.begin(), m.Positions.end()) + 1;
    for (uint8_t pattern : m.Positions) {
        const size_t entry = m.PatternsAt + 6u * pattern;
        if (entry + 6 > bytes.size())
            return "pattern " + std::to_string(pattern) + " is past the file's end";
        for (int i = 0; i < 3; ++i)
            if (word(entry + 2 * i) >= bytes.size())
                return "a track of pattern " + std::to_string(pattern) + " is past the file's end";
    }
    for (uint16_t sample : m.SampleAt)
        if (sample != 0 && size_t{sample} + 2 > bytes.size())
            return "a sample is past the file's end";
    for (uint16_t ornament : m.OrnamentAt)
        if (ornament != 0 && size_t{ornament} + 2 > bytes.size())
            return "an ornament is past the file's end";
    return {};
}
