/* zirrafondec: a GStreamer decoder for AY/YM chip music (.ay, .aym, .ym,
 * .vtx, .psg, .pt3, .pt2) on libzirrafon, built on GstNonstreamAudioDecoder, the base
 * class for music formats that are decoded from the whole file at once.
 *
 * The element plays one song of a file (the base class's "current-subsong";
 * by default the song the file names as its first), or with
 * subsong-mode=all every song one after another. Each song ends as
 * zirrafon-render ends it: at the length and fade its file gives, else after
 * 180 s, or earlier when its sound stays unchanged for 5 s; the samples are
 * zirrafon-render's, 44,100 Hz 16-bit stereo. Seeks land on the exact
 * sample (the library keeps snapshots of the song, taken ahead on a thread of
 * its own). A file the library refuses posts an error naming the reason. */
#include "gstzirrafondec.h"

#include <gst/audio/audio.h>
#include <gst/pbutils/pbutils.h>
#include <zirrafon/zirrafon.h>

GST_DEBUG_CATEGORY_STATIC(zirrafon_debug);
#define GST_CAT_DEFAULT zirrafon_debug

/* Frames per output buffer: about 93 ms, short enough for the controls of a
 * player to feel immediate. */
#define FRAMES_PER_BUFFER 4096

struct _GstZirrafonDec {
    GstNonstreamAudioDecoder parent;
    zirrafon* song_file;
    guint num_subsongs;
    guint current_subsong;
    gboolean all_songs;     /* every song one after another */
    GstClockTime all_start; /* where the current song begins in that sequence */
};

enum { PROP_0, PROP_NUM_SUBSONGS };

G_DEFINE_TYPE(GstZirrafonDec, gst_zirrafon_dec, GST_TYPE_NONSTREAM_AUDIO_DECODER)

/* The media types of the typefinders (zirrafontypefind.c) and GStreamer's
 * own name for .ay files, so that whichever found the type hands us the
 * file. */
static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-ay; audio/x-aym; audio/x-ym; audio/x-vtx; audio/x-psg; "
                    "audio/x-pt3; audio/x-pt2"));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(
        S16) ", "
             "layout = (string) interleaved, rate = (int) 44100, channels = (int) 2"));

static GstClockTime frames_to_time(guint64 frames) {
    return gst_util_uint64_scale_round(frames, GST_SECOND, ZIRRAFON_SAMPLE_RATE);
}

static guint64 time_to_frames(GstClockTime time) {
    return gst_util_uint64_scale_round(time, ZIRRAFON_SAMPLE_RATE, GST_SECOND);
}

/* How long song `song` plays, in frames; 0 when it plays until stopped. */
static guint64 song_frames(GstZirrafonDec* self, guint song) {
    zirrafon_song_info info;
    if (zirrafon_get_song_info(self->song_file, (int)song, &info) != ZIRRAFON_OK) return 0;
    return info.play_length;
}

static gboolean start_song(GstZirrafonDec* self, guint song) {
    if (zirrafon_start(self->song_file, (int)song) != ZIRRAFON_OK) {
        GST_ELEMENT_ERROR(
            self, STREAM, DECODE,
            ("Cannot start song %u: %s", song + 1, zirrafon_error_text(self->song_file)), (NULL));
        return FALSE;
    }
    self->current_subsong = song;
    return TRUE;
}

/* In the sequence of every song: the song that holds `frame`, and where it
 * begins. */
static guint song_at(GstZirrafonDec* self, guint64 frame, guint64* begins) {
    guint song;
    guint64 start = 0;
    for (song = 0; song + 1 < self->num_subsongs; ++song) {
        const guint64 length = song_frames(self, song);
        if (length == 0 || frame < start + length) break;
        start += length;
    }
    *begins = start;
    return song;
}

static gboolean gst_zirrafon_dec_load_from_buffer(GstNonstreamAudioDecoder* dec,
                                                  GstBuffer* source_data, guint initial_subsong,
                                                  GstNonstreamAudioSubsongMode initial_subsong_mode,
                                                  GstClockTime* initial_position,
                                                  GstNonstreamAudioOutputMode* initial_output_mode,
                                                  gint* initial_num_loops) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    GstMapInfo map;
    int status;
    (void)initial_num_loops;

    if (!gst_buffer_map(source_data, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Cannot read the song file's data"), (NULL));
        return FALSE;
    }
    status = zirrafon_open_memory(self->song_file, map.data, map.size);
    gst_buffer_unmap(source_data, &map);
    if (status != ZIRRAFON_OK) {
        GST_ELEMENT_ERROR(
            self, STREAM, DECODE,
            ("This AY/YM song file cannot be played: %s", zirrafon_error_text(self->song_file)),
            ("libzirrafon: %s", zirrafon_status_text(status)));
        return FALSE;
    }
    self->num_subsongs = (guint)zirrafon_song_count(self->song_file);
    self->all_songs = initial_subsong_mode == GST_NONSTREAM_AUDIO_SUBSONG_MODE_ALL;
    self->all_start = 0;
    /* Left at its default, the song is the one the file starts with. */
    if (initial_subsong_mode == GST_NONSTREAM_AUDIO_SUBSONG_MODE_DECODER_DEFAULT &&
        initial_subsong == 0)
        initial_subsong = (guint)zirrafon_first_song(self->song_file);
    if (self->all_songs || initial_subsong >= self->num_subsongs) initial_subsong = 0;
    if (!start_song(self, initial_subsong)) return FALSE;

    *initial_output_mode = GST_NONSTREAM_AUDIO_OUTPUT_MODE_STEADY;
    if (*initial_position != 0 && GST_CLOCK_TIME_IS_VALID(*initial_position)) {
        GstClockTime position = *initial_position;
        if (!GST_NONSTREAM_AUDIO_DECODER_GET_CLASS(dec)->seek(dec, &position)) return FALSE;
        *initial_position = position;
    }
    return gst_nonstream_audio_decoder_set_output_format_simple(dec, ZIRRAFON_SAMPLE_RATE,
                                                                GST_AUDIO_FORMAT_S16, 2);
}

static gboolean gst_zirrafon_dec_seek(GstNonstreamAudioDecoder* dec, GstClockTime* new_position) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    guint64 frame = time_to_frames(*new_position), begins = 0;
    if (self->all_songs) {
        const guint song = song_at(self, frame, &begins);
        if (song != self->current_subsong || zirrafon_ended(self->song_file)) {
            if (!start_song(self, song)) return FALSE;
        }
        self->all_start = frames_to_time(begins);
        frame -= begins;
    }
    if (zirrafon_seek(self->song_file, frame) != ZIRRAFON_OK) return FALSE;
    *new_position = frames_to_time(begins + frame);
    return TRUE;
}

static GstClockTime gst_zirrafon_dec_tell(GstNonstreamAudioDecoder* dec) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    const GstClockTime within = frames_to_time(zirrafon_position(self->song_file));
    return self->all_songs ? self->all_start + within : within;
}

static gboolean gst_zirrafon_dec_decode(GstNonstreamAudioDecoder* dec, GstBuffer** buffer,
                                        guint* num_samples) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    GstBuffer* out;
    GstMapInfo map;
    int frames;

    out = gst_nonstream_audio_decoder_allocate_output_buffer(dec, FRAMES_PER_BUFFER * 4);
    if (!out) return FALSE;
    gst_buffer_map(out, &map, GST_MAP_WRITE);
    frames = zirrafon_render(self->song_file, (int16_t*)map.data, FRAMES_PER_BUFFER);
    /* Every song one after another: the next one begins where one ends. */
    while (frames == 0 && self->all_songs && self->current_subsong + 1 < self->num_subsongs) {
        self->all_start += frames_to_time(zirrafon_position(self->song_file));
        if (!start_song(self, self->current_subsong + 1)) break;
        frames = zirrafon_render(self->song_file, (int16_t*)map.data, FRAMES_PER_BUFFER);
    }
    gst_buffer_unmap(out, &map);
    if (frames < 0) {
        GST_ELEMENT_ERROR(
            self, STREAM, DECODE,
            ("Song %u failed: %s", self->current_subsong + 1, zirrafon_error_text(self->song_file)),
            (NULL));
    }
    if (frames <= 0) {
        gst_buffer_unref(out);
        return FALSE;
    }
    gst_buffer_set_size(out, (gsize)frames * 4);
    *buffer = out;
    *num_samples = (guint)frames;
    return TRUE;
}

static guint gst_zirrafon_dec_get_num_subsongs(GstNonstreamAudioDecoder* dec) {
    return GST_ZIRRAFON_DEC(dec)->num_subsongs;
}

static guint gst_zirrafon_dec_get_current_subsong(GstNonstreamAudioDecoder* dec) {
    return GST_ZIRRAFON_DEC(dec)->current_subsong;
}

static gboolean gst_zirrafon_dec_set_current_subsong(GstNonstreamAudioDecoder* dec, guint subsong,
                                                     GstClockTime* initial_position) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    guint song;
    guint64 begins = 0;
    if (subsong >= self->num_subsongs) return FALSE;
    if (!start_song(self, subsong)) return FALSE;
    for (song = 0; self->all_songs && song < subsong; ++song) begins += song_frames(self, song);
    self->all_start = frames_to_time(begins);
    *initial_position = self->all_songs ? self->all_start : 0;
    return TRUE;
}

static GstClockTime gst_zirrafon_dec_get_subsong_duration(GstNonstreamAudioDecoder* dec,
                                                          guint subsong) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    guint64 frames = 0;
    guint song;
    if (!self->all_songs) {
        frames = song_frames(self, subsong);
    } else {
        for (song = 0; song < self->num_subsongs; ++song) {
            const guint64 length = song_frames(self, song);
            if (length == 0) return GST_CLOCK_TIME_NONE;
            frames += length;
        }
    }
    return frames ? frames_to_time(frames) : GST_CLOCK_TIME_NONE;
}

static const char* container_name(zirrafon_kind kind) {
    switch (kind) {
    case ZIRRAFON_KIND_AY: return "AY (ZXAYEMUL)";
    case ZIRRAFON_KIND_AYM: return "AYM";
    case ZIRRAFON_KIND_YM: return "YM";
    case ZIRRAFON_KIND_VTX: return "VTX";
    case ZIRRAFON_KIND_PSG: return "PSG";
    case ZIRRAFON_KIND_PT3: return "Pro Tracker 3";
    case ZIRRAFON_KIND_PT2: return "Pro Tracker 2";
    default: return "";
    }
}

static void add_text(GstTagList* tags, const char* tag, const char* text) {
    if (text && *text) gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, tag, text, NULL);
}

static GstTagList* gst_zirrafon_dec_get_main_tags(GstNonstreamAudioDecoder* dec) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    zirrafon_file_info info;
    GstTagList* tags = gst_tag_list_new_empty();
    if (zirrafon_get_file_info(self->song_file, &info) != ZIRRAFON_OK) return tags;
    gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_CONTAINER_FORMAT,
                     container_name(info.kind), GST_TAG_AUDIO_CODEC, "AY/YM chip music",
                     GST_TAG_TRACK_COUNT, (guint)info.song_count, NULL);
    add_text(tags, GST_TAG_ARTIST, info.author);
    return tags;
}

static GstTagList* gst_zirrafon_dec_get_subsong_tags(GstNonstreamAudioDecoder* dec, guint subsong) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    zirrafon_song_info info;
    GstTagList* tags;
    if (zirrafon_get_song_info(self->song_file, (int)subsong, &info) != ZIRRAFON_OK) return NULL;
    tags = gst_tag_list_new(GST_TAG_TRACK_NUMBER, subsong + 1, GST_TAG_TRACK_COUNT,
                            self->num_subsongs, NULL);
    add_text(tags, GST_TAG_TITLE, info.title);
    add_text(tags, GST_TAG_ARTIST, info.author);
    add_text(tags, GST_TAG_COMMENT, info.misc);
    return tags;
}

static gboolean gst_zirrafon_dec_set_subsong_mode(GstNonstreamAudioDecoder* dec,
                                                  GstNonstreamAudioSubsongMode mode,
                                                  GstClockTime* initial_position) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(dec);
    const gboolean all = mode == GST_NONSTREAM_AUDIO_SUBSONG_MODE_ALL;
    if (all == self->all_songs) return TRUE;
    self->all_songs = all;
    self->all_start = 0;
    if (all && !start_song(self, 0)) return FALSE;
    *initial_position = 0;
    return TRUE;
}

static guint gst_zirrafon_dec_get_supported_output_modes(GstNonstreamAudioDecoder* dec) {
    (void)dec;
    return 1u << GST_NONSTREAM_AUDIO_OUTPUT_MODE_STEADY;
}

static gboolean gst_zirrafon_dec_set_output_mode(GstNonstreamAudioDecoder* dec,
                                                 GstNonstreamAudioOutputMode mode,
                                                 GstClockTime* current_position) {
    (void)current_position;
    (void)dec;
    return mode == GST_NONSTREAM_AUDIO_OUTPUT_MODE_STEADY;
}

static void gst_zirrafon_dec_get_property(GObject* object, guint prop_id, GValue* value,
                                          GParamSpec* pspec) {
    GstZirrafonDec* self = GST_ZIRRAFON_DEC(object);
    switch (prop_id) {
    case PROP_NUM_SUBSONGS:
        GST_NONSTREAM_AUDIO_DECODER_LOCK_MUTEX(self);
        g_value_set_uint(value, self->num_subsongs);
        GST_NONSTREAM_AUDIO_DECODER_UNLOCK_MUTEX(self);
        break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec); break;
    }
}

static void gst_zirrafon_dec_finalize(GObject* object) {
    zirrafon_destroy(GST_ZIRRAFON_DEC(object)->song_file);
    G_OBJECT_CLASS(gst_zirrafon_dec_parent_class)->finalize(object);
}

static void gst_zirrafon_dec_class_init(GstZirrafonDecClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstNonstreamAudioDecoderClass* dec_class = GST_NONSTREAM_AUDIO_DECODER_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(zirrafon_debug, "zirrafondec", 0, "AY/YM chip music decoder");

    object_class->finalize = gst_zirrafon_dec_finalize;
    object_class->get_property = gst_zirrafon_dec_get_property;
    g_object_class_install_property(
        object_class, PROP_NUM_SUBSONGS,
        g_param_spec_uint("num-subsongs", "Number of songs", "How many songs the file holds", 0,
                          G_MAXUINT, 0, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(
        element_class, "AY/YM chip music decoder", "Codec/Decoder/Audio",
        "Plays .ay, .aym, .ym, .vtx, .psg, .pt3 and .pt2 chip music as the machine that made it",
        "Zirrafon project");

    dec_class->loads_from_sinkpad = TRUE;
    dec_class->load_from_buffer = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_load_from_buffer);
    dec_class->seek = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_seek);
    dec_class->tell = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_tell);
    dec_class->decode = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_decode);
    dec_class->get_main_tags = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_get_main_tags);
    dec_class->get_num_subsongs = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_get_num_subsongs);
    dec_class->get_current_subsong = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_get_current_subsong);
    dec_class->set_current_subsong = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_set_current_subsong);
    dec_class->get_subsong_duration = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_get_subsong_duration);
    dec_class->get_subsong_tags = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_get_subsong_tags);
    dec_class->set_subsong_mode = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_set_subsong_mode);
    dec_class->get_supported_output_modes =
        GST_DEBUG_FUNCPTR(gst_zirrafon_dec_get_supported_output_modes);
    dec_class->set_output_mode = GST_DEBUG_FUNCPTR(gst_zirrafon_dec_set_output_mode);
}

static void gst_zirrafon_dec_init(GstZirrafonDec* self) {
    self->song_file = zirrafon_create();
    /* Seeks anywhere cost a few seconds of emulation at most. */
    zirrafon_set_fast_seek(self->song_file, 1);
}
