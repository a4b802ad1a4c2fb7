// The ".pt2" reader: Pro Tracker 2 modules.
//
// The header (offsets from the module's first byte, words little-endian):
//   0   the tempo (frames a row), 1 the position count (not used: the list
//       ends at 0xFF), 2 the loop position
//   3   the offsets of samples 0-31, 67 of ornaments 0-15
//   99  the pattern table's offset: three track offsets a pattern
//   101 the title, 30 characters
//   131 the position list: one pattern number a position, ended by 0xFF
#include "formats/tracker_module.h"

#include <algorithm>

namespace {

constexpr size_t HeaderSize = 131;

uint16_t Word(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

} // namespace

std::optional<TrackerModule> ReadPT2File(std::span<const uint8_t> bytes, std::string& refusal) {
    const auto damaged = [&refusal](const std::string& what) {
        refusal = "Damaged .PT2 file: " + what;
        return std::nullopt;
    };
    if (bytes.size() < HeaderSize + 1) return damaged("shorter than its header");
    TrackerModule m;
    m.Format = TrackerFormat::PT2;
    m.Version = 2;
    m.Tempo = bytes[0];
    m.LoopPosition = bytes[2];
    for (int i = 0; i < 32; ++i) m.SampleAt[i] = Word(bytes, 3 + 2 * i);
    for (int i = 0; i < 16; ++i) m.OrnamentAt[i] = Word(bytes, 67 + 2 * i);
    m.PatternsAt = Word(bytes, 99);
    std::string title(reinterpret_cast<const char*>(bytes.data() + 101), 30);
    while (!title.empty() && (title.back() == ' ' || title.back() == '\0')) title.pop_back();
    m.Title = title;
    m.PositionsAt = HeaderSize;
    size_t at = HeaderSize;
    for (; at < bytes.size() && bytes[at] != 0xFF; ++at) m.Positions.push_back(bytes[at]);
    if (const std::string why = CheckModuleReferences(m, bytes, at); !why.empty())
        return damaged(why);
    m.Data.assign(bytes.begin(), bytes.end());
    return m;
}
