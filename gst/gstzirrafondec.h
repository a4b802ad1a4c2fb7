/* zirrafondec, the decoder element, and the typefinders of the plugin. */
#ifndef GST_ZIRRAFON_DEC_H
#define GST_ZIRRAFON_DEC_H

#include <gst/audio/gstnonstreamaudiodecoder.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_ZIRRAFON_DEC (gst_zirrafon_dec_get_type())
#define GST_ZIRRAFON_DEC(obj)                                                                      \
    (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_ZIRRAFON_DEC, GstZirrafonDec))
typedef struct _GstZirrafonDec GstZirrafonDec;
typedef struct _GstZirrafonDecClass {
    GstNonstreamAudioDecoderClass parent_class;
} GstZirrafonDecClass;
GType gst_zirrafon_dec_get_type(void);

/* Registers the typefinders of the song files' kinds with `plugin`. */
gboolean gst_zirrafon_register_typefinders(GstPlugin* plugin);

G_END_DECLS

#endif
