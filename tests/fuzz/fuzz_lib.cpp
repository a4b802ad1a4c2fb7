// libFuzzer target for libzirrafon: the input is a song file handed over in
// memory, of whatever kind its content says. An accepted file plays a song
// chosen by the input's last bytes through the C interface as a caller would
// use it: renders of odd sizes, settings changed between them, a seek, and
// the refusals of songs and settings out of range. A refusal is fine; a
// crash, a sanitizer report, or a render or position that breaks the
// interface's promises aborts.
#include "zirrafon/zirrafon.h"

#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zirrafon* z = zirrafon_create();
    if (zirrafon_open_memory(z, data, size) != ZIRRAFON_OK) {
        Require(zirrafon_error_text(z)[0] != '\0' && zirrafon_song_count(z) == 0);
        zirrafon_destroy(z);
        return 0;
    }
    const uint8_t a = size > 0 ? data[size - 1] : 0, b = size > 1 ? data[size - 2] : 0;
    const int count = zirrafon_song_count(z);
    Require(count > 0);
    zirrafon_file_info file;
    zirrafon_song_info song;
    Require(zirrafon_get_file_info(z, &file) == ZIRRAFON_OK && file.song_count == count);
    Require(zirrafon_get_song_info(z, count, &song) == ZIRRAFON_ERROR_SONG);
    const int index = a % count;
    Require(zirrafon_get_song_info(z, index, &song) == ZIRRAFON_OK);
    zirrafon_set_chip(z, static_cast<zirrafon_chip>(a & 1),
                      static_cast<zirrafon_layout>((a >> 1) % 7));
    zirrafon_set_mute(z, b & 15u);
    if (b & 16) zirrafon_set_length(z, 2.5, 1);
    if (zirrafon_start(z, index) == ZIRRAFON_OK) {
        std::vector<int16_t> pcm(2 * 20000);
        const int sizes[] = {1 + a * 7, 16320, 333};
        for (int step = 0; step < 3; ++step) {
            const uint64_t before = zirrafon_position(z);
            const int n = zirrafon_render(z, pcm.data(), sizes[step]);
            Require(n >= 0 && n <= sizes[step]);
            Require(zirrafon_position(z) == before + static_cast<uint64_t>(n));
            Require(n == sizes[step] || zirrafon_ended(z));
            zirrafon_set_volume(z, b % 40);
            zirrafon_set_beeper(z, (a * 129 + b) % 32769);
        }
        // Back into what was played, or on past it; a seek runs the song
        // from its start, so it stays within the first second.
        const uint64_t to = (static_cast<uint64_t>(a) << 8 | b) % 40000;
        Require(zirrafon_seek(z, to) == ZIRRAFON_OK);
        Require(zirrafon_position(z) == to || zirrafon_ended(z));
        Require(zirrafon_render(z, pcm.data(), 1000) >= 0);
    }
    zirrafon_destroy(z);
    return 0;
}
