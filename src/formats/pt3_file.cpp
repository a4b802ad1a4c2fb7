// The ".pt3" reader: Pro Tracker 3.0-3.7 and Vortex Tracker II modules.
//
// The header (all offsets from the module's first byte, words little-endian):
//   0   "ProTracker 3." and the version digit, or "Vortex Tracker II ..."; with
//       the title at 30 and the author at 66 (32 characters each)
//   98  a blank, or in a Pro Tracker 3.7 two-chip module the pattern count the
//       two chips share
//   99  the note table number, 100 the tempo, 101 the position count (not
//       used: the list ends at 0xFF), 102 the loop position
//   103 the pattern table: three track offsets a pattern
//   105 the offsets of samples 0-31, 169 of ornaments 0-15 (0: none)
//   201 the position list: pattern number * 3 a position, ended by 0xFF
//
// A TurboSound file is two such modules, one for each chip, followed by 16
// bytes: "PT3!", the first module's size (a word), "PT3!", the second's, "02TS".
#include "formats/tracker_module.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t HeaderSize = 201;
constexpr char Signature[] = "ProTracker 3.";
constexpr char VortexSignature[] = "Vortex Tracker II";

uint16_t Word(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// The header's text at `at`, `length` characters, without the blanks and
// zeros that pad it.
std::string Text(std::span<const uint8_t> b, size_t at, size_t length) {
    std::string s(reinterpret_cast<const char*>(b.data() + at), length);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

bool Starts(std::span<const uint8_t> b, const char* text) {
    const size_t n = std::strlen(text);
    return b.size() >= n && std::memcmp(b.data(), text, n) == 0;
}

} // namespace

bool LooksLikePT3(std::span<const uint8_t> bytes) {
    return Starts(bytes, Signature) || Starts(bytes, VortexSignature);
}

namespace {

std::optional<TrackerModule> ReadModule(std::span<const uint8_t> bytes, std::string& refusal) {
    if (!LooksLikePT3(bytes)) {
        refusal = "Not .PT3 file";
        return std::nullopt;
    }
    const auto damaged = [&refusal](const std::string& what) {
        refusal = "Damaged .PT3 file: " + what;
        return std::nullopt;
    };
    if (bytes.size() < HeaderSize + 1) return damaged("shorter than its header");
    TrackerModule m;
    m.Format = TrackerFormat::PT3;
    m.Vortex = Starts(bytes, VortexSignature);
    const uint8_t digit = bytes[13];
    m.Version = !m.Vortex && digit >= '0' && digit <= '9' ? digit - '0' : 6;
    m.Title = Text(bytes, 30, 32);
    m.Author = Text(bytes, 66, 32);
    m.NoteTable = bytes[99];
    m.Tempo = bytes[100];
    m.LoopPosition = bytes[102];
    m.PatternsAt = Word(bytes, 103);
    for (int i = 0; i < 32; ++i) m.SampleAt[i] = Word(bytes, 105 + 2 * i);
    for (int i = 0; i < 16; ++i) m.OrnamentAt[i] = Word(bytes, 169 + 2 * i);
    m.PositionsAt = HeaderSize;

    size_t at = HeaderSize;
    for (; at < bytes.size() && bytes[at] != 0xFF; ++at) {
        if (bytes[at] % 3 != 0)
            return damaged("position " + std::to_string(at - HeaderSize + 1) + " names no pattern");
        m.Positions.push_back(bytes[at] / 3);
    }
    if (const std::string why = CheckModuleReferences(m, bytes, at); !why.empty())
        return damaged(why);
    // Pro Tracker 3.7's two-chip modules: byte 98 holds the pattern count the
    // two chips share instead of a blank.
    if (m.Version >= 7 && !m.Vortex && bytes[98] != ' ') {
        m.Chips = 2;
        m.SharedPatterns = bytes[98];
        for (uint8_t pattern : m.Positions) {
            const int second = m.SharedPatterns - 1 - pattern;
            if (second < 0 || m.PatternsAt + 6u * second + 6 > bytes.size())
                return damaged("the second chip's pattern for pattern " + std::to_string(pattern) +
                               " is missing");
            for (int i = 0; i < 3; ++i)
                if (Word(bytes, m.PatternsAt + 6u * second + 2 * i) >= bytes.size())
                    return damaged("a track of pattern " + std::to_string(second) +
                                   " is past the file's end");
        }
    }
    m.Data.assign(bytes.begin(), bytes.end());
    return m;
}

} // namespace

std::optional<TrackerModule> ReadPT3File(std::span<const uint8_t> bytes, std::string& refusal) {
    const size_t n = bytes.size();
    if (n < 16 || std::memcmp(bytes.data() + n - 4, "02TS", 4) != 0 ||
        std::memcmp(bytes.data() + n - 16, "PT3!", 4) != 0 ||
        std::memcmp(bytes.data() + n - 10, "PT3!", 4) != 0)
        return ReadModule(bytes, refusal);
    const size_t first = Word(bytes, n - 12), second = Word(bytes, n - 6);
    if (first + second + 16 > n) {
        refusal = "Damaged .PT3 file: its two modules are longer than the file";
        return std::nullopt;
    }
    std::optional<TrackerModule> m = ReadModule(bytes.first(first), refusal);
    if (!m) return m;
    std::optional<TrackerModule> other = ReadModule(bytes.subspan(first, second), refusal);
    if (!other) return other;
    m->Chips = 2;
    m->SharedPatterns = 0;
    m->SecondChip = std::make_shared<const TrackerModule>(std::move(*other));
    return m;
}
