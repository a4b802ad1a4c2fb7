/* libzirrafon: the Zirrafon engine as a C library. It plays chip music of
 * 8-bit home computers: ".ay" files (Z80 player code and its music, run on an
 * emulated ZX Spectrum or Amstrad CPC), ".aym" files (a Z80 memory image), and
 * the chip's register streams ".ym" (packed or not), ".vtx" and ".psg", and
 * Pro Tracker 3 and 2 modules (".pt3", ".pt2"); the
 * sound is 16-bit signed stereo at 44,100 frames a second, the same samples
 * zirrafon-render writes for the same song and options.
 *
 *     zirrafon *z = zirrafon_create();
 *     if (zirrafon_open_file(z, "song.ay") != ZIRRAFON_OK) {
 *         fprintf(stderr, "%s\n", zirrafon_error_text(z));
 *     } else if (zirrafon_start(z, zirrafon_first_song(z)) == ZIRRAFON_OK) {
 *         int16_t pcm[2 * 4096];                   // left, right, left, ...
 *         int n;
 *         while ((n = zirrafon_render(z, pcm, 4096)) > 0) fwrite(pcm, 4, n, stdout);
 *     }
 *     zirrafon_destroy(z);
 *
 * Handles: one `zirrafon` holds one song file at a time and plays one of its
 * songs. The library keeps no global state: different handles may be used on
 * different threads at once; one handle must not be used by two threads at
 * the same time.
 *
 * Errors: functions that can fail return ZIRRAFON_OK (0) or a negative
 * `zirrafon_status`; the handle's `zirrafon_error_text` then says what went
 * wrong in words ("File not found", "Not .AY file", "no song 9 (the file has
 * 3)"). A function given a null handle returns ZIRRAFON_ERROR_ARGUMENT and
 * has nowhere to keep a text.
 *
 * Songs are numbered from 0. Lengths and positions are counted in frames: one
 * frame is one left and one right sample, 44,100 frames a second.
 *
 * Texts are UTF-8: a file's bytes that are valid UTF-8 pass unchanged, any
 * other bytes are taken as Latin-1. They stay valid until the handle opens
 * another file or is destroyed.
 *
 * Link with `pkg-config --cflags --libs zirrafon`. */
#ifndef ZIRRAFON_ZIRRAFON_H
#define ZIRRAFON_ZIRRAFON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header. `zirrafon_version()` gives the library's; the
 * interface stays compatible within one major version (soname
 * libzirrafon.so.1). */
#define ZIRRAFON_VERSION_MAJOR 1
#define ZIRRAFON_VERSION_MINOR 0
#define ZIRRAFON_VERSION_PATCH 0
#define ZIRRAFON_VERSION                                                                           \
    ((ZIRRAFON_VERSION_MAJOR << 16) | (ZIRRAFON_VERSION_MINOR << 8) | ZIRRAFON_VERSION_PATCH)

#define ZIRRAFON_SAMPLE_RATE 44100
#define ZIRRAFON_CHANNELS 2

#if defined(ZIRRAFON_BUILDING_LIBRARY) && defined(__GNUC__)
#define ZIRRAFON_API __attribute__((visibility("default")))
#else
#define ZIRRAFON_API
#endif

typedef struct zirrafon zirrafon;

typedef enum zirrafon_status {
    ZIRRAFON_OK = 0,
    ZIRRAFON_ERROR_ARGUMENT = -1, /* a null pointer, or a value out of its range */
    ZIRRAFON_ERROR_IO = -2,       /* the file cannot be read: missing, unreadable, cut short */
    ZIRRAFON_ERROR_FORMAT = -3,   /* no song file of a kind the library knows, or a damaged one */
    ZIRRAFON_ERROR_SONG = -4,     /* no such song; or no file open, or no song started */
    ZIRRAFON_ERROR_MEMORY = -5    /* out of memory */
} zirrafon_status;

typedef enum zirrafon_kind {
    ZIRRAFON_KIND_UNKNOWN = 0,
    ZIRRAFON_KIND_AY = 1,  /* ".ay": Z80 player code and data, one or more songs */
    ZIRRAFON_KIND_AYM = 2, /* ".aym": a Z80 memory image with a header */
    ZIRRAFON_KIND_YM = 3,  /* ".ym": register stream YM2! .. YM6!, LHA-packed or not */
    ZIRRAFON_KIND_VTX = 4, /* ".vtx": packed register stream */
    ZIRRAFON_KIND_PSG = 5, /* ".psg": register writes frame by frame */
    ZIRRAFON_KIND_PT3 = 6, /* ".pt3": Pro Tracker 3 module (Vortex Tracker II's too) */
    ZIRRAFON_KIND_PT2 = 7  /* ".pt2": Pro Tracker 2 module */
} zirrafon_kind;

/* The sound chip: its volume curve, and where its three channels A, B and C
 * sit in the stereo picture (MONO: all in the middle; ABC: A left, B middle,
 * C right; and so on). ZIRRAFON_CHIP_FILE is the chip the file was written
 * for: the YM2149F for .ym files and for .vtx files that name it, the
 * AY-3-8910 for every other kind (as zirrafon-render without --chip). */
typedef enum zirrafon_chip {
    ZIRRAFON_CHIP_AY = 0,
    ZIRRAFON_CHIP_YM = 1,
    ZIRRAFON_CHIP_FILE = 2
} zirrafon_chip;
typedef enum zirrafon_layout {
    ZIRRAFON_LAYOUT_MONO = 0,
    ZIRRAFON_LAYOUT_ABC = 1,
    ZIRRAFON_LAYOUT_ACB = 2,
    ZIRRAFON_LAYOUT_BAC = 3,
    ZIRRAFON_LAYOUT_BCA = 4,
    ZIRRAFON_LAYOUT_CAB = 5,
    ZIRRAFON_LAYOUT_CBA = 6
} zirrafon_layout;

/* The voices a mute mask names: bit (1 << voice). */
typedef enum zirrafon_voice {
    ZIRRAFON_VOICE_A = 0,
    ZIRRAFON_VOICE_B = 1,
    ZIRRAFON_VOICE_C = 2,
    ZIRRAFON_VOICE_BEEPER = 3
} zirrafon_voice;
#define ZIRRAFON_VOICE_COUNT 4

/* The defaults a new handle has (zirrafon-render's). */
#define ZIRRAFON_DEFAULT_BEEPER 16384 /* of 0 .. 32768 */
#define ZIRRAFON_MAX_BEEPER 32768
#define ZIRRAFON_MAX_VOLUME 39         /* 0 silent .. 39 full, the default */
#define ZIRRAFON_DEFAULT_SECONDS 180.0 /* a song whose file gives no length */
#define ZIRRAFON_DEFAULT_SILENCE 5.0   /* seconds of unchanged sound that end such a song */

/* ---- the library --------------------------------------------------------- */

/* The library's version, as ZIRRAFON_VERSION makes it. */
ZIRRAFON_API unsigned zirrafon_version(void);
/* A short text for a status code ("file cannot be read", ...). */
ZIRRAFON_API const char* zirrafon_status_text(int status);
/* The kind of song file the first bytes of a file say it is, from `size`
 * bytes at `data` (17 are enough): the signature alone, without reading the
 * rest; ZIRRAFON_KIND_UNKNOWN when none fits (also for a Pro Tracker 2
 * module, which has no signature). */
ZIRRAFON_API zirrafon_kind zirrafon_kind_of_content(const void* data, size_t size);
/* "ay", "aym", "ym", "vtx", "psg", "pt3", "pt2"; "" for ZIRRAFON_KIND_UNKNOWN. */
ZIRRAFON_API const char* zirrafon_kind_name(int kind);
/* "A", "B", "C", "beeper"; "" for a number that names no voice. */
ZIRRAFON_API const char* zirrafon_voice_name(int voice);

/* ---- handles ------------------------------------------------------------- */

/* A new handle with no file, and the defaults above (the file's chip, layout ABC,
 * beeper 16384, volume 39, nothing muted, song lengths followed, silence rule
 * 5 s). Null only when memory runs out. */
ZIRRAFON_API zirrafon* zirrafon_create(void);
/* Frees the handle and everything it holds; null is allowed. */
ZIRRAFON_API void zirrafon_destroy(zirrafon* z);
/* Opens a song file, closing the one open before (also when the new one
 * fails). The kind comes from the file's content, else from its name's
 * extension; a file that neither names is tried as a Pro Tracker 2 module.
 * No song is started yet. */
ZIRRAFON_API int zirrafon_open_file(zirrafon* z, const char* path);
/* The same from `size` bytes in memory (copied: the caller may free them). */
ZIRRAFON_API int zirrafon_open_memory(zirrafon* z, const void* data, size_t size);
/* What the last failing call on this handle said, "" when none failed. */
ZIRRAFON_API const char* zirrafon_error_text(const zirrafon* z);

/* ---- the open file ------------------------------------------------------- */

/* The two info structures keep their size and fields for all of major
 * version 1: facts added later come as functions of their own. */

typedef struct zirrafon_file_info {
    zirrafon_kind kind;
    int song_count;
    int first_song;       /* the song the file starts with */
    const char* format;   /* "ZXAYEMUL", "AYM", "YM2!" .. "YM6!", "VTX", "PSG", "PT3.0" ..
                             "PT3.7", "PT2" */
    const char* author;   /* of the file; "" when it names none */
    const char* misc;     /* the file's other text; "" when none */
    uint32_t chip_clock;  /* Hz; a Z80 file's is the Spectrum's 1,773,400 (a CPC song's code
                             drives 1,000,000 once it runs) */
    uint32_t frame_rate;  /* how many times a second the chip is driven (register streams) */
    uint32_t frame_count; /* a register stream's or module's frames; 0 for AY and AYM files */
    uint32_t loop_frame;  /* the frame it goes on from after its last */
    int packed;           /* the file was compressed (LHA, lh5) */
} zirrafon_file_info;

/* Facts of the open file. ZIRRAFON_ERROR_SONG when no file is open. */
ZIRRAFON_API int zirrafon_get_file_info(zirrafon* z, zirrafon_file_info* info);
/* The open file's song count and first song; 0 when no file is open. */
ZIRRAFON_API int zirrafon_song_count(const zirrafon* z);
ZIRRAFON_API int zirrafon_first_song(const zirrafon* z);

typedef struct zirrafon_song_info {
    const char* title; /* "" when the file names none */
    const char* author;
    const char* misc;
    uint64_t length;      /* frames the file gives the song; 0 when it gives none */
    uint64_t fade;        /* of those, the last ones the file fades over */
    uint64_t play_length; /* frames the song plays under the handle's rules; 0: until stopped */
    uint64_t play_fade;   /* of those, the faded ones */
} zirrafon_song_info;

/* Song `song`'s texts and lengths. ZIRRAFON_ERROR_SONG for a song the file
 * does not have. */
ZIRRAFON_API int zirrafon_get_song_info(zirrafon* z, int song, zirrafon_song_info* info);

/* ---- how songs end ------------------------------------------------------- */

/* These apply to every song started afterwards; the length and the fade also
 * to the song playing, from the next frame made. */

/* Whether a song ends (1, the default) or plays on until stopped (0; a
 * register stream then loops from its loop frame). */
ZIRRAFON_API int zirrafon_set_follow_lengths(zirrafon* z, int follow);
/* How long each song plays and over how many of its last seconds it fades,
 * as zirrafon-render's -t and --fade: a negative value keeps the rule (the
 * file's length and fade, else ZIRRAFON_DEFAULT_SECONDS without a fade); a
 * length of 0 is refused. */
ZIRRAFON_API int zirrafon_set_length(zirrafon* z, double seconds, double fade_seconds);
/* The silence rule: a song whose file gives no length ends once its sound has
 * stayed unchanged for `seconds` (ZIRRAFON_DEFAULT_SILENCE; 0 turns it off).
 * A length the file gives is never cut short. Applies from the next start. */
ZIRRAFON_API int zirrafon_set_silence(zirrafon* z, double seconds);

/* ---- the chip ------------------------------------------------------------ */

/* These apply at once: to the song playing from the next buffer the engine
 * makes (the engine works in buffers of 16,320 frames; frames already made
 * keep the settings they were made with), and to every song started later. */

ZIRRAFON_API int zirrafon_set_chip(zirrafon* z, zirrafon_chip chip, zirrafon_layout layout);
/* The Spectrum beeper's level, 0 .. ZIRRAFON_MAX_BEEPER. */
ZIRRAFON_API int zirrafon_set_beeper(zirrafon* z, int level);
/* The volume, 0 .. ZIRRAFON_MAX_VOLUME. */
ZIRRAFON_API int zirrafon_set_volume(zirrafon* z, int volume);
/* The voices left out of the mix, bit (1 << zirrafon_voice) each; the others
 * sound exactly as with every voice in. */
ZIRRAFON_API int zirrafon_set_mute(zirrafon* z, unsigned mask);

/* ---- playing ------------------------------------------------------------- */

/* Starts song `song` from its beginning, with exactly the machine a fresh
 * open of the file gives it (so a song sounds the same whichever songs were
 * played before it). */
ZIRRAFON_API int zirrafon_start(zirrafon* z, int song);
/* Writes the song's next frames to `out` (at most `frames` of them, two
 * int16_t each, in the machine's byte order). Returns how many it wrote:
 * `frames`, fewer only where the song ends, 0 once it has ended; or a
 * negative status. */
ZIRRAFON_API int zirrafon_render(zirrafon* z, int16_t* out, int frames);
/* Goes on from frame `frame` of the song playing, with exactly the samples a
 * play from the start makes there (fade and end count from the start); a
 * frame at or past the song's end ends it. */
ZIRRAFON_API int zirrafon_seek(zirrafon* z, uint64_t frame);
/* Whether seeks should be fast: 1 maps each song started from then on with
 * snapshots taken ahead on a worker thread of the handle, so that a seek
 * anywhere costs a few seconds of emulation at most; 0 (the default) starts
 * no thread, and a seek runs the song from its start. */
ZIRRAFON_API int zirrafon_set_fast_seek(zirrafon* z, int fast);
/* The song playing (-1: none), the frame the next render begins with, and
 * whether the song has ended (1) or not (0). */
ZIRRAFON_API int zirrafon_current_song(const zirrafon* z);
ZIRRAFON_API uint64_t zirrafon_position(const zirrafon* z);
ZIRRAFON_API int zirrafon_ended(const zirrafon* z);

#ifdef __cplusplus
}
#endif

#endif /* ZIRRAFON_ZIRRAFON_H */
