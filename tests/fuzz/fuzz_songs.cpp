// libFuzzer target for the song readers and the renderers behind them: the
// input is written to a file and opened as an ".ay" file, then as an ".aym"
// file; whatever is accepted plays a few buffers with the settings changing
// between them, on the fast renderers and on the definition (fuzz_play.h).
// Only the readers' own errors may come out; a difference between the two
// renderings aborts, and the sanitizers catch everything else.
#include "fuzz_play.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// One scratch file per fuzzing process.
const std::string& ScratchFile() {
    static const std::string name = [] {
        char pattern[] = "/tmp/zirrafon-fuzz-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(pattern);
    }();
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);

    uint8_t control[4];
    fuzzplay::ControlBytes(data, size, control);
    for (const SongKind kind : {SongKind::AY, SongKind::AYM}) {
        try {
            if (fuzzplay::PlayBothWays(ScratchFile(), kind, control) ==
                fuzzplay::Outcome::Differed) {
                std::fprintf(stderr, "the fast renderers and the definition differ\n");
                std::abort();
            }
        } catch (const SongIOError&) {
            // a refused file
        }
    }
    return 0;
}
