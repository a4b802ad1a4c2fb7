/* libzirrafon as a C99 program sees it (built with -std=c99 -pedantic
 * -Werror against the public header alone): every song of the table must
 * come out of the library exactly as zirrafon-render writes it with the same
 * options (whole songs with their end, fade and silence rule; seeks; chip,
 * layout, volume, beeper and muted voices; files opened by name and from
 * memory; each kind of file), and every refusal must be a status with a text.
 *
 * Usage: test_capi ZIRRAFON_RENDER TESTDATA_DIR DEMO_DIR SCRATCH_DIR */
#define _POSIX_C_SOURCE 200809L /* threads */
#include <zirrafon/zirrafon.h>

#include <math.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures;

#define CHECK(cond, what)                                                                          \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            ++failures;                                                                            \
            fprintf(stderr, "%s:%d: FAILED: %s (%s)\n", __FILE__, __LINE__, what, #cond);          \
        }                                                                                          \
    } while (0)

static const char *render_tool, *testdata, *demo, *scratch;

typedef struct bytes {
    unsigned char* data;
    size_t size;
} bytes;

static bytes read_file(const char* path) {
    bytes b = {NULL, 0};
    FILE* f = fopen(path, "rb");
    long size;
    if (!f) return b;
    if (fseek(f, 0, SEEK_END) == 0 && (size = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
        b.data = malloc((size_t)size + 1);
        if (b.data) b.size = fread(b.data, 1, (size_t)size, f);
    }
    fclose(f);
    return b;
}

static void write_file(const char* path, const void* data, size_t size) {
    FILE* f = fopen(path, "wb");
    CHECK(f && fwrite(data, 1, size, f) == size, path);
    if (f) fclose(f);
}

static const char* in_dir(const char* dir, const char* name) {
    static char paths[4][1024];
    static int next;
    char* p = paths[next++ % 4];
    snprintf(p, sizeof paths[0], "%s/%s", dir, name);
    return p;
}

/* Runs zirrafon-render with `options` on `file`; 0 when it succeeded. */
static int render(const char* options, const char* output, const char* file) {
    char command[4096];
    snprintf(command, sizeof command, "'%s' %s -o '%s' '%s'", render_tool, options, output, file);
    return system(command);
}

/* One song through the library and through zirrafon-render. */
typedef struct render_case {
    const char* label;
    const char* dir; /* testdata, demo or scratch */
    const char* file;
    int song;            /* counted from 0 */
    const char* options; /* zirrafon-render's options for the same song */
    zirrafon_chip chip;
    zirrafon_layout layout;
    int beeper, volume;
    unsigned mute;
    double seconds, fade, silence; /* seconds < 0: the rule */
    double start;                  /* seconds */
    int from_memory;
} render_case;

static void compare_song(const render_case* c) {
    const char* file = in_dir(c->dir, c->file);
    const char* wav = in_dir(scratch, "expected.wav");
    char options[512];
    bytes expected, got_file;
    zirrafon* z = zirrafon_create();
    int16_t* got;
    size_t frames, made = 0, i, first_difference = (size_t)-1;
    int step = 0;
    /* Odd sizes, so that renders straddle the engine's buffers. */
    static const int steps[] = {1000, 17, 16320, 44100, 1};

    snprintf(options, sizeof options, "-s %d %s", c->song + 1, c->options);
    remove(wav);
    if (render(options, wav, file) != 0) {
        CHECK(0, c->label);
        fprintf(stderr, "  zirrafon-render %s %s failed\n", options, file);
        zirrafon_destroy(z);
        return;
    }
    expected = read_file(wav);
    frames = expected.size >= 44 ? (expected.size - 44) / 4 : 0;

    if (c->from_memory) {
        got_file = read_file(file);
        CHECK(zirrafon_open_memory(z, got_file.data, got_file.size) == ZIRRAFON_OK, c->label);
        memset(got_file.data, 0, got_file.size); /* the library keeps its own copy */
        free(got_file.data);
    } else {
        CHECK(zirrafon_open_file(z, file) == ZIRRAFON_OK, c->label);
    }
    CHECK(zirrafon_set_chip(z, c->chip, c->layout) == ZIRRAFON_OK, c->label);
    CHECK(zirrafon_set_beeper(z, c->beeper) == ZIRRAFON_OK, c->label);
    CHECK(zirrafon_set_volume(z, c->volume) == ZIRRAFON_OK, c->label);
    CHECK(zirrafon_set_mute(z, c->mute) == ZIRRAFON_OK, c->label);
    CHECK(zirrafon_set_length(z, c->seconds, c->fade) == ZIRRAFON_OK, c->label);
    CHECK(zirrafon_set_silence(z, c->silence) == ZIRRAFON_OK, c->label);
    CHECK(zirrafon_start(z, c->song) == ZIRRAFON_OK, c->label);
    if (c->start > 0) {
        const uint64_t at = (uint64_t)llround(c->start * ZIRRAFON_SAMPLE_RATE);
        CHECK(zirrafon_seek(z, at) == ZIRRAFON_OK, c->label);
        CHECK(zirrafon_position(z) == at, c->label);
    }
    got = malloc(4 * (frames + 50000));
    for (;;) {
        const int want = steps[step++ % 5];
        const int n = zirrafon_render(z, got + 2 * made, want);
        CHECK(n >= 0 && n <= want, c->label);
        if (n <= 0) break;
        made += (size_t)n;
        if (made > frames + 40000) break; /* far past the end: no end at all */
    }
    CHECK(zirrafon_ended(z) == 1, c->label);
    CHECK(zirrafon_render(z, got, 100) == 0, c->label);
    for (i = 0; i < 2 * frames && i < 2 * made; ++i) {
        const unsigned char* b = expected.data + 44 + 2 * i;
        const int16_t want = (int16_t)(uint16_t)(b[0] | b[1] << 8);
        if (got[i] != want) {
            first_difference = i / 2;
            break;
        }
    }
    if (made != frames || first_difference != (size_t)-1) {
        CHECK(0, c->label);
        fprintf(stderr,
                "  %s: the library made %zu frames, zirrafon-render %zu; first "
                "difference at frame %ld\n",
                c->label, made, frames,
                first_difference == (size_t)-1 ? -1L : (long)first_difference);
    } else {
        printf("%s: %zu frames equal\n", c->label, frames);
    }
    free(got);
    free(expected.data);
    zirrafon_destroy(z);
}

/* Register dumps of a real song, so that the register-stream kinds are played
 * from files the project's own tool made. */
static void make_streams(void) {
    const char* song = in_dir(testdata, "ay/Renegade.ay");
    CHECK(render("-s 1 -t 20", in_dir(scratch, "renegade.ym"), song) == 0, "YM dump made");
    CHECK(render("-s 1 -t 20", in_dir(scratch, "renegade.psg"), song) == 0, "PSG dump made");
}

static void check_songs(void) {
    static const render_case cases[] = {
        /* label, dir, file, song, render options, chip, layout, beeper, volume, mute, seconds,
           fade, silence, start, from memory */
        {"AY song 2 of 17", "t", "ay/Renegade.ay", 1, "", ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC,
         16384, 39, 0, -1, -1, 5, 0, 0},
        {"AY seek into the fade", "t", "ay/Renegade.ay", 0, "--start 25.5", ZIRRAFON_CHIP_AY,
         ZIRRAFON_LAYOUT_ABC, 16384, 39, 0, -1, -1, 5, 25.5, 1},
        {"beeper song", "t", "ay/Alien8.AY", 0, "", ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC, 16384,
         39, 0, -1, -1, 5, 0, 0},
        {"no length: 180 s", "t", "ay/AcousticDreams.ay", 1, "", ZIRRAFON_CHIP_AY,
         ZIRRAFON_LAYOUT_ABC, 16384, 39, 0, -1, -1, 5, 0, 1},
        {"no length: the silence rule ends it", "d", "demo.aym", 0, "--silence 0.05",
         ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC, 16384, 39, 0, -1, -1, 0.05, 0, 0},
        {"no length, silence off, own length and fade", "t", "ay/AcousticDreams.ay", 4,
         "--silence 0 -t 12.5 --fade 2.25", ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC, 16384, 39, 0,
         12.5, 2.25, 0, 0, 0},
        {"AYM, YM chip CBA, volume, beeper, B muted", "d", "demo.aym", 0,
         "-m YMCBA -v 20 -b 30000 --mute B -t 30", ZIRRAFON_CHIP_YM, ZIRRAFON_LAYOUT_CBA, 30000, 20,
         1u << ZIRRAFON_VOICE_B, 30, -1, 5, 0, 1},
        {"AY beeper song, A and beeper muted, mono", "d", "demo.ay", 2, "--mute A,beeper -m AYMONO",
         ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_MONO, 16384, 39,
         1u << ZIRRAFON_VOICE_A | 1u << ZIRRAFON_VOICE_BEEPER, -1, -1, 5, 0, 0},
        {"CPC song, seek", "d", "demo.ay", 1, "--start 47.3 -m YMBAC", ZIRRAFON_CHIP_YM,
         ZIRRAFON_LAYOUT_BAC, 16384, 39, 0, -1, -1, 5, 47.3, 0},
        {"YM6 register stream, on its own chip", "s", "renegade.ym", 0, "", ZIRRAFON_CHIP_FILE,
         ZIRRAFON_LAYOUT_ABC, 16384, 39, 0, -1, -1, 5, 0, 1},
        {"YM6 seek, own length", "s", "renegade.ym", 0, "-t 15 --start 7.7 -m AYABC",
         ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC, 16384, 39, 0, 15, -1, 5, 7.7, 0},
        {"PSG register stream", "s", "renegade.psg", 0, "-m YMACB", ZIRRAFON_CHIP_YM,
         ZIRRAFON_LAYOUT_ACB, 16384, 39, 0, -1, -1, 5, 0, 0},
        {"Pro Tracker 3 module, seek", "t", "pt3/autumn_colors.pt3", 0, "--start 12.5",
         ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC, 16384, 39, 0, -1, -1, 5, 12.5, 0},
        {"Pro Tracker 2 module from memory: no signature", "t", "pt3/13.pt2", 0, "",
         ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC, 16384, 39, 0, -1, -1, 5, 0, 1},
    };
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        render_case c = cases[i];
        c.dir = c.dir[0] == 't' ? testdata : c.dir[0] == 'd' ? demo : scratch;
        compare_song(&c);
    }
}

/* What the library says of a file: its songs, texts and lengths. */
static void check_info(void) {
    zirrafon* z = zirrafon_create();
    zirrafon_file_info file;
    zirrafon_song_info song;

    CHECK(zirrafon_open_file(z, in_dir(testdata, "ay/Renegade.ay")) == ZIRRAFON_OK, "open");
    CHECK(zirrafon_get_file_info(z, &file) == ZIRRAFON_OK, "file info");
    CHECK(file.kind == ZIRRAFON_KIND_AY && file.song_count == 17 && file.first_song == 0,
          "AY file facts");
    CHECK(strcmp(file.author, "Fred Gray") == 0 && strcmp(file.format, "ZXAYEMUL") == 0,
          "AY file texts");
    CHECK(zirrafon_get_song_info(z, 0, &song) == ZIRRAFON_OK, "song info");
    CHECK(strcmp(song.title, "Renegade - Title/Hi-Score (AY)") == 0, "song title");
    CHECK(song.length == 31 * 44100 && song.fade == 10 * 44100, "the file's length and fade");
    CHECK(song.play_length == song.length && song.play_fade == song.fade, "played as given");
    CHECK(zirrafon_set_follow_lengths(z, 0) == ZIRRAFON_OK, "follow off");
    CHECK(zirrafon_get_song_info(z, 0, &song) == ZIRRAFON_OK && song.play_length == 0,
          "without following lengths a song plays until stopped");

    /* Without following lengths a song plays on past its length. */
    CHECK(zirrafon_start(z, 1) == ZIRRAFON_OK, "start song 2");
    CHECK(zirrafon_seek(z, 10 * 44100) == ZIRRAFON_OK, "seek past the length");
    {
        int16_t pcm[2 * 1000];
        CHECK(zirrafon_render(z, pcm, 1000) == 1000 && !zirrafon_ended(z), "plays on");
        int n, after = 0;
        /* Following lengths again ends the song once the buffer made
           before is handed out: its end has passed. */
        CHECK(zirrafon_set_follow_lengths(z, 1) == ZIRRAFON_OK, "follow on");
        while ((n = zirrafon_render(z, pcm, 1000)) > 0) after += n;
        CHECK(n == 0 && zirrafon_ended(z) && after < 16320, "ended");
    }
    CHECK(zirrafon_current_song(z) == 1, "current song");

    CHECK(zirrafon_open_file(z, in_dir(testdata, "ay/AcousticDreams.ay")) == ZIRRAFON_OK,
          "open another");
    CHECK(zirrafon_current_song(z) == -1, "a new file has no song playing");
    CHECK(zirrafon_first_song(z) == 9 && zirrafon_song_count(z) == 10, "the file's first song");
    CHECK(zirrafon_get_song_info(z, 3, &song) == ZIRRAFON_OK && song.length == 0 &&
              song.play_length == 180 * 44100 && song.play_fade == 0,
          "no length: the default length");

    CHECK(zirrafon_open_file(z, in_dir(scratch, "renegade.ym")) == ZIRRAFON_OK, "open YM");
    CHECK(zirrafon_get_file_info(z, &file) == ZIRRAFON_OK && file.kind == ZIRRAFON_KIND_YM &&
              strcmp(file.format, "YM6!") == 0 && file.frame_rate == 50 &&
              file.frame_count == 1000 && file.chip_clock == 1773400,
          "YM facts");
    CHECK(zirrafon_get_song_info(z, 0, &song) == ZIRRAFON_OK &&
              strcmp(song.title, "Renegade - Title/Hi-Score (AY)") == 0 &&
              song.length == 20 * 44100,
          "YM song: the dump's title and length");
    zirrafon_destroy(z);

    CHECK(zirrafon_kind_of_content("ZXAYEMUL", 8) == ZIRRAFON_KIND_AY, "AY by content");
    CHECK(zirrafon_kind_of_content("PSG\x1a", 4) == ZIRRAFON_KIND_PSG, "PSG by content");
    CHECK(zirrafon_kind_of_content("RIFF", 4) == ZIRRAFON_KIND_UNKNOWN, "WAV is none");
    CHECK(strcmp(zirrafon_kind_name(ZIRRAFON_KIND_VTX), "vtx") == 0, "kind name");
    CHECK(strcmp(zirrafon_voice_name(ZIRRAFON_VOICE_BEEPER), "beeper") == 0 &&
              strcmp(zirrafon_voice_name(4), "") == 0,
          "voice names");
    CHECK(zirrafon_version() == ZIRRAFON_VERSION, "the library is the header's version");
}

/* Every refusal is a status and a text, and leaves the handle usable. */
static void check_refusals(void) {
    zirrafon* z = zirrafon_create();
    zirrafon_file_info file;
    zirrafon_song_info song;
    int16_t pcm[64];
    bytes ay = read_file(in_dir(testdata, "ay/Renegade.ay"));
    static const char text[] = "Just some words in a text file.\n";
    static const unsigned char damaged[] = "ZXAYEMUL\x02\x00\x00\x00\xff\xff\x00\x02";

    CHECK(zirrafon_open_file(z, in_dir(scratch, "no-such-file.ay")) == ZIRRAFON_ERROR_IO,
          "missing file");
    CHECK(strcmp(zirrafon_error_text(z), "File not found") == 0, "missing file's text");
    CHECK(zirrafon_song_count(z) == 0, "nothing open after a failure");
    CHECK(zirrafon_open_file(z, scratch) == ZIRRAFON_ERROR_IO, "a folder");
    {
        char command[1200];
        snprintf(command, sizeof command, "rm -f '%s' && mkfifo '%s'", in_dir(scratch, "fifo.ay"),
                 in_dir(scratch, "fifo.ay"));
        CHECK(system(command) == 0, "FIFO made");
        CHECK(zirrafon_open_file(z, in_dir(scratch, "fifo.ay")) == ZIRRAFON_ERROR_IO &&
                  strcmp(zirrafon_error_text(z), "Not a regular file") == 0,
              "a FIFO is refused, not waited on");
    }

    write_file(in_dir(scratch, "words.ay"), text, sizeof text - 1);
    CHECK(zirrafon_open_file(z, in_dir(scratch, "words.ay")) == ZIRRAFON_ERROR_FORMAT,
          "text named .ay");
    CHECK(strcmp(zirrafon_error_text(z), "Not .AY file") == 0, "text file's message");
    CHECK(zirrafon_open_memory(z, text, sizeof text - 1) == ZIRRAFON_ERROR_FORMAT,
          "text in memory");
    CHECK(strstr(zirrafon_error_text(z), "Not an .ay") != NULL, "unknown kind's message");
    CHECK(zirrafon_open_memory(z, damaged, sizeof damaged - 1) < 0 &&
              zirrafon_error_text(z)[0] != '\0',
          "damaged AY header");
    CHECK(ay.size > 300, "real AY read");
    CHECK(zirrafon_open_memory(z, ay.data, 300) < 0 && zirrafon_error_text(z)[0] != '\0',
          "AY cut short");
    CHECK(zirrafon_open_memory(z, "", 0) == ZIRRAFON_ERROR_FORMAT, "empty");
    CHECK(zirrafon_render(z, pcm, 32) == ZIRRAFON_ERROR_SONG, "render with no song");

    CHECK(zirrafon_open_memory(z, ay.data, ay.size) == ZIRRAFON_OK, "real AY from memory");
    CHECK(zirrafon_error_text(z)[0] == '\0', "a success clears the text");
    CHECK(zirrafon_start(z, 17) == ZIRRAFON_ERROR_SONG, "song out of range");
    CHECK(strstr(zirrafon_error_text(z), "no song 17") != NULL, "its text");
    CHECK(zirrafon_start(z, -1) == ZIRRAFON_ERROR_SONG, "negative song");
    CHECK(zirrafon_get_song_info(z, 17, &song) == ZIRRAFON_ERROR_SONG, "info out of range");
    CHECK(zirrafon_seek(z, 0) == ZIRRAFON_ERROR_SONG, "seek with no song");
    CHECK(zirrafon_set_chip(z, (zirrafon_chip)3, ZIRRAFON_LAYOUT_ABC) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_chip(z, ZIRRAFON_CHIP_AY, (zirrafon_layout)7) == ZIRRAFON_ERROR_ARGUMENT,
          "chip out of range");
    CHECK(zirrafon_set_beeper(z, 32769) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_volume(z, 40) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_mute(z, 16) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_length(z, 0, -1) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_length(z, NAN, -1) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_silence(z, -1) == ZIRRAFON_ERROR_ARGUMENT,
          "settings out of range");
    CHECK(zirrafon_start(z, 1) == ZIRRAFON_OK, "still usable");
    CHECK(zirrafon_render(z, pcm, -1) == ZIRRAFON_ERROR_ARGUMENT, "negative count");
    CHECK(zirrafon_render(z, NULL, 10) == ZIRRAFON_ERROR_ARGUMENT, "null buffer");
    CHECK(zirrafon_render(z, pcm, 32) == 32, "renders after the refusals");

    /* Null arguments. */
    CHECK(zirrafon_open_file(z, NULL) == ZIRRAFON_ERROR_ARGUMENT, "null path");
    CHECK(zirrafon_open_memory(z, NULL, 10) == ZIRRAFON_ERROR_ARGUMENT, "null data");
    CHECK(zirrafon_get_file_info(z, NULL) == ZIRRAFON_ERROR_ARGUMENT, "null file info");
    CHECK(zirrafon_open_file(NULL, "x") == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_open_memory(NULL, "x", 1) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_get_file_info(NULL, &file) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_get_song_info(NULL, 0, &song) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_start(NULL, 0) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_render(NULL, pcm, 1) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_seek(NULL, 0) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_chip(NULL, ZIRRAFON_CHIP_AY, ZIRRAFON_LAYOUT_ABC) ==
                  ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_mute(NULL, 0) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_set_length(NULL, 1, 1) == ZIRRAFON_ERROR_ARGUMENT &&
              zirrafon_song_count(NULL) == 0 && zirrafon_current_song(NULL) == -1 &&
              zirrafon_position(NULL) == 0 && zirrafon_ended(NULL) == 0 &&
              strcmp(zirrafon_error_text(NULL), "") == 0 &&
              zirrafon_kind_of_content(NULL, 4) == ZIRRAFON_KIND_UNKNOWN,
          "null handle");
    zirrafon_destroy(NULL);
    free(ay.data);
    zirrafon_destroy(z);
}

/* Several handles on several threads at once make what each makes alone: the
 * library and the engine keep no state between handles. */
typedef struct threaded_song {
    const char* file;
    int song, beeper;
    unsigned checksum;
    int frames;
} threaded_song;

static void* play_song(void* arg) {
    threaded_song* t = arg;
    zirrafon* z = zirrafon_create();
    int16_t pcm[2 * 3000];
    int n, i;
    t->checksum = 0;
    t->frames = 0;
    if (zirrafon_open_file(z, t->file) == ZIRRAFON_OK && zirrafon_set_beeper(z, t->beeper) == 0 &&
        zirrafon_set_length(z, 8, 1) == ZIRRAFON_OK && zirrafon_start(z, t->song) == ZIRRAFON_OK) {
        while ((n = zirrafon_render(z, pcm, 3000)) > 0) {
            for (i = 0; i < 2 * n; ++i) t->checksum = t->checksum * 31u + (uint16_t)pcm[i];
            t->frames += n;
        }
    }
    zirrafon_destroy(z);
    return NULL;
}

static void check_threads(void) {
    threaded_song alone[4], together[4];
    pthread_t threads[4];
    int i;
    for (i = 0; i < 4; ++i) {
        threaded_song t = {NULL, 0, 0, 0, 0};
        t.file = in_dir(i % 2 ? testdata : demo, i % 2 ? "ay/Renegade.ay" : "demo.ay");
        t.file = strcpy(malloc(strlen(t.file) + 1), t.file);
        t.song = i;
        t.beeper = 8000 * i;
        alone[i] = together[i] = t;
        play_song(&alone[i]);
    }
    for (i = 0; i < 4; ++i)
        CHECK(pthread_create(&threads[i], NULL, play_song, &together[i]) == 0, "thread started");
    for (i = 0; i < 4; ++i) pthread_join(threads[i], NULL);
    for (i = 0; i < 4; ++i) {
        CHECK(alone[i].frames == 8 * 44100, "a song alone plays its 8 s");
        CHECK(together[i].frames == alone[i].frames && together[i].checksum == alone[i].checksum,
              "four songs on four threads at once sound as each alone");
        free((void*)alone[i].file);
    }
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: test_capi ZIRRAFON_RENDER TESTDATA_DIR DEMO_DIR SCRATCH_DIR\n");
        return 2;
    }
    render_tool = argv[1];
    testdata = argv[2];
    demo = argv[3];
    scratch = argv[4];
    {
        char command[1200];
        snprintf(command, sizeof command, "mkdir -p '%s'", scratch);
        if (system(command) != 0) return 2;
    }
    make_streams();
    check_songs();
    check_info();
    check_refusals();
    check_threads();
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
