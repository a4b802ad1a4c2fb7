// libFuzzer target for the playlist file reader: any bytes are read as a list
// in a folder; what was read is written back and read again, which must give
// the same entries (paths, lengths) and the same current position. Only the
// sanitizers and that check may stop it.
#include "formats/m3u.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const M3UList first = ReadM3U(text, "/lists");
    const M3UList second = ReadM3U(WriteM3U(first, "/lists"), "/lists");
    if (second.Entries.size() != first.Entries.size()) std::abort();
    for (size_t i = 0; i < first.Entries.size(); ++i) {
        const M3UEntry& a = first.Entries[i];
        const M3UEntry& b = second.Entries[i];
        // A path of another scheme was written as a file URI of the folder's
        // own: only local paths come back verbatim.
        if (!a.Path.empty() && a.Path.front() == '/' && a.Path != b.Path) std::abort();
        if (a.Seconds != b.Seconds) std::abort();
    }
    if (second.CurrentEntry != first.CurrentEntry) std::abort();
    return 0;
}
