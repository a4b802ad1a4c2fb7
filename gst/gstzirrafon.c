/* The plugin: the zirrafondec element and a typefinder for each kind of song
 * file it plays.
 *
 * A typefinder decides by content. A file whose whole bytes it can see (a
 * local file) is opened with libzirrafon: one that opens is claimed for
 * certain, and one that carries an unmistakable signature but does not open
 * is still claimed, as likely, so that the decoder says what is wrong with it
 * instead of the pipeline finding no type. With only the first bytes (a
 * stream), the signature and, where the signature is short, the header's
 * plausibility decide. Anything else (sound files of other kinds, pictures,
 * text) is left alone. */
#include "gstzirrafondec.h"

#include <string.h>
#include <zirrafon/zirrafon.h>

/* Beyond this a file is no song file: it is not read whole to be sure. */
#define MAX_WHOLE_FILE (16u << 20)

typedef struct finder {
    zirrafon_kind kind;
    const char *name, *media_type, *extensions;
} finder;

static const finder finders[] = {
    {ZIRRAFON_KIND_AY, "zirrafon-ay", "audio/x-ay", "ay"},
    {ZIRRAFON_KIND_AYM, "zirrafon-aym", "audio/x-aym", "aym"},
    {ZIRRAFON_KIND_YM, "zirrafon-ym", "audio/x-ym", "ym"},
    {ZIRRAFON_KIND_VTX, "zirrafon-vtx", "audio/x-vtx", "vtx"},
    {ZIRRAFON_KIND_PSG, "zirrafon-psg", "audio/x-psg", "psg"},
    {ZIRRAFON_KIND_PT3, "zirrafon-pt3", "audio/x-pt3", "pt3"},
    {ZIRRAFON_KIND_PT2, "zirrafon-pt2", "audio/x-pt2", "pt2"},
};

static gboolean starts(const guint8* h, gsize n, gsize at, const char* text) {
    const gsize len = strlen(text);
    return n >= at + len && memcmp(h + at, text, len) == 0;
}

static guint32 le32(const guint8* p) {
    return (guint32)p[0] | (guint32)p[1] << 8 | (guint32)p[2] << 16 | (guint32)p[3] << 24;
}

/* An LHA archive's header (levels 0 to 2) with an lh method. */
static gboolean lha_header(const guint8* h, gsize n) {
    return n >= 22 && h[2] == '-' && h[3] == 'l' && h[4] == 'h' && h[6] == '-' &&
           (h[5] == '0' || h[5] == '4' || h[5] == '5' || h[5] == '6' || h[5] == '7') && h[20] <= 2;
}

/* A VTX header: chip "ay" or "ym", a layout 0..6, a chip clock and a frame
 * rate a machine had, and whole frames of 14 registers to unpack. */
static gboolean vtx_header(const guint8* h, gsize n) {
    guint32 clock, size;
    if (n < 16 || !(starts(h, n, 0, "ay") || starts(h, n, 0, "ym")) || h[2] > 6) return FALSE;
    clock = le32(h + 5);
    size = le32(h + 12);
    return clock >= 500000 && clock <= 10000000 && h[9] >= 1 && h[9] <= 200 && size > 0 &&
           size % 14 == 0;
}

/* A Pro Tracker 2 header, which has no signature: a tempo, offsets of
 * samples, ornaments and patterns that lie within a file that 16-bit offsets
 * can address, and a title of printable characters. */
static gboolean pt2_header(const guint8* h, gsize n, guint64 length) {
    int i;
    if (n < 131 || length < 132 || length > 0x10000 || h[0] == 0) return FALSE;
    for (i = 3; i < 101; i += 2)
        if ((guint)(h[i] | h[i + 1] << 8) >= length) return FALSE;
    for (i = 101; i < 131; ++i)
        if (h[i] != 0 && (h[i] < 0x20 || h[i] > 0x7e)) return FALSE;
    return TRUE;
}

/* How surely the first bytes say `kind`: 2 for a signature no other file
 * has, 1 for a weak one that needs the whole file opened to be sure, 0 when
 * they say something else. */
static int signature(zirrafon_kind kind, const guint8* h, gsize n) {
    switch (kind) {
    case ZIRRAFON_KIND_AY: return starts(h, n, 0, "ZXAYEMUL") ? 2 : 0;
    case ZIRRAFON_KIND_AYM: return starts(h, n, 0, "AYM0") ? 2 : 0;
    case ZIRRAFON_KIND_PSG: return starts(h, n, 0, "PSG\x1a") ? 2 : 0;
    case ZIRRAFON_KIND_YM:
        if ((starts(h, n, 0, "YM5!") || starts(h, n, 0, "YM6!")) && starts(h, n, 4, "LeOnArD!"))
            return 2;
        if (starts(h, n, 0, "YM2!") || starts(h, n, 0, "YM3!") || starts(h, n, 0, "YM3b")) return 2;
        return lha_header(h, n) ? 1 : 0;
    case ZIRRAFON_KIND_VTX: return vtx_header(h, n) ? 1 : 0;
    case ZIRRAFON_KIND_PT3: return zirrafon_kind_of_content(h, n) == ZIRRAFON_KIND_PT3 ? 2 : 0;
    default: return 0;
    }
}

/* Whether the whole file opens as `kind`. */
static gboolean opens_as(zirrafon_kind kind, const guint8* data, gsize size) {
    zirrafon* z = zirrafon_create();
    zirrafon_file_info info;
    gboolean yes = z && zirrafon_open_memory(z, data, size) == ZIRRAFON_OK &&
                   zirrafon_get_file_info(z, &info) == ZIRRAFON_OK && info.kind == kind;
    zirrafon_destroy(z);
    return yes;
}

static void find_type(GstTypeFind* tf, gpointer user_data) {
    const finder* f = user_data;
    const guint64 length = gst_type_find_get_length(tf);
    gsize seen = 24;
    const guint8* head = gst_type_find_peek(tf, 0, (guint)seen);
    const guint8* whole;
    int sure;
    if (f->kind == ZIRRAFON_KIND_PT2) {
        /* Only a whole small file that opens: likely then, since the header
         * and every offset in it have been found sound, but less than a
         * signature makes certain. */
        head = gst_type_find_peek(tf, 0, 131);
        if (!head || !pt2_header(head, 131, length)) return;
        whole = gst_type_find_peek(tf, 0, (guint)length);
        if (whole && opens_as(f->kind, whole, (gsize)length))
            gst_type_find_suggest_empty_simple(tf, GST_TYPE_FIND_LIKELY, f->media_type);
        return;
    }
    if (!head) head = gst_type_find_peek(tf, 0, (guint)(seen = 8));
    if (!head || (sure = signature(f->kind, head, seen)) == 0) return;
    whole =
        length > 0 && length <= MAX_WHOLE_FILE ? gst_type_find_peek(tf, 0, (guint)length) : NULL;
    if (whole) {
        if (opens_as(f->kind, whole, (gsize)length))
            gst_type_find_suggest_empty_simple(tf, GST_TYPE_FIND_MAXIMUM, f->media_type);
        else if (sure == 2)
            gst_type_find_suggest_empty_simple(tf, GST_TYPE_FIND_LIKELY, f->media_type);
        return;
    }
    gst_type_find_suggest_empty_simple(
        tf, sure == 2 ? GST_TYPE_FIND_LIKELY : GST_TYPE_FIND_POSSIBLE, f->media_type);
}

gboolean gst_zirrafon_register_typefinders(GstPlugin* plugin) {
    gsize i;
    for (i = 0; i < G_N_ELEMENTS(finders); ++i) {
        GstCaps* caps = gst_caps_new_empty_simple(finders[i].media_type);
        const gboolean done =
            gst_type_find_register(plugin, finders[i].name, GST_RANK_PRIMARY, find_type,
                                   finders[i].extensions, caps, (gpointer)&finders[i], NULL);
        gst_caps_unref(caps);
        if (!done) return FALSE;
    }
    return TRUE;
}

static gboolean plugin_init(GstPlugin* plugin) {
    /* Above the other decoders of .ay files (GStreamer's libgme element is
     * PRIMARY), so that decodebin and playbin choose this one. */
    return gst_element_register(plugin, "zirrafondec", GST_RANK_PRIMARY + 1,
                                GST_TYPE_ZIRRAFON_DEC) &&
           gst_zirrafon_register_typefinders(plugin);
}

#ifndef PACKAGE
#define PACKAGE "zirrafon"
#endif

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zirrafon,
                  "AY/YM chip music: .ay, .aym, .ym, .vtx, .psg, .pt3 and .pt2 files", plugin_init,
                  ZIRRAFON_PLUGIN_VERSION, "unknown", "zirrafon", "Zirrafon project")
