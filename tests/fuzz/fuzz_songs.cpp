// libFuzzer target for the song readers: the input is written to a file and
// opened as an ".ay" file, then as an ".aym" file; whatever is accepted starts
// its first and last songs and renders one buffer of the first. Only the
// readers' own errors may come out; the sanitizers catch everything else.
#include "songs/session.h"
#include "songs/song_stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

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

void Play(SongSession& session) {
    const SongList& list = session.List;
    if (list.SongCount > 1) session.LoadSong(list.SongCount - 1);
    SongStream stream(session);
    stream.Start(list.FirstSong);
    std::vector<int16_t> buffer(BufferValues);
    if (stream.Fill(buffer.data(), BufferValues) != BufferValues) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);

    for (const SongKind kind : {SongKind::AY, SongKind::AYM}) {
        SongSession session;
        try {
            if (session.Open(ScratchFile(), kind, nullptr)) Play(session);
        } catch (const SongIOError&) {
            // a refused file
        }
    }
    return 0;
}
