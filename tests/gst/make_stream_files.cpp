// Makes the register-stream files the plugin's tests play: from an
// uncompressed YM6 file (a zirrafon-render register dump of a real song) an
// LHA-packed copy of it and a VTX file of the same frames.
// Usage: make_stream_files SONG.ym PACKED.ym SONG.vtx
#include "formats/register_stream.h"
#include "stream_writer.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_stream_files SONG.ym PACKED.ym SONG.vtx\n");
        return 2;
    }
    const Bytes ym = ReadFileBytes(argv[1]);
    std::string refusal;
    const std::optional<RegisterStream> song = ReadYMFile(ym, refusal);
    if (!song) {
        std::fprintf(stderr, "%s: %s\n", argv[1], refusal.c_str());
        return 1;
    }
    VTXPlan vtx;
    vtx.Clock = song->ChipClock;
    vtx.Rate = static_cast<uint8_t>(song->FrameRate);
    vtx.Texts[0] = song->Title;
    vtx.Texts[1] = song->Author;
    vtx.Texts[4] = song->Comment;
    for (uint32_t f = 0; f < song->FrameCount; ++f)
        vtx.Frames.emplace_back(song->Frame(f), song->Frame(f) + StreamRegisters);
    const Bytes packed = stream_writer::Lha(ym);
    const Bytes vtxBytes = MakeVTX(vtx);
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(packed.data()),
               static_cast<std::streamsize>(packed.size()));
    std::ofstream(argv[3], std::ios::binary)
        .write(reinterpret_cast<const char*>(vtxBytes.data()),
               static_cast<std::streamsize>(vtxBytes.size()));
    return 0;
}
