/* Plays a file through decodebin into an application sink, after a seek
 * when asked, and writes the samples it gets: what a GStreamer player that
 * seeks receives. It also says whether the pipeline answered the seeking
 * query as seekable, and the duration it reported.
 *
 * Usage: gst_seek FILE SECONDS OUT.raw
 * Prints "seekable DURATION_NS" on success; exits non-zero on an error
 * message from the pipeline. */
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <stdio.h>
#include <stdlib.h>

static GstMessage* wait_for(GstElement* pipeline, GstMessageType types) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, types | GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
        GError* error = NULL;
        gst_message_parse_error(m, &error, NULL);
        fprintf(stderr, "gst_seek: %s\n", error->message);
        g_error_free(error);
        gst_message_unref(m);
        return NULL;
    }
    return m;
}

int main(int argc, char** argv) {
    GstElement *pipeline, *sink;
    GstMessage* m;
    GstQuery* query;
    GError* error = NULL;
    gboolean seekable = FALSE;
    gint64 duration = -1;
    double seconds;
    char* description;
    FILE* out;
    GstSample* sample;

    gst_init(&argc, &argv);
    if (argc != 4) {
        fprintf(stderr, "usage: gst_seek FILE SECONDS OUT.raw\n");
        return 2;
    }
    seconds = atof(argv[2]);
    description = g_strdup_printf("filesrc location=\"%s\" ! decodebin ! audioconvert ! "
                                  "audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
                                  "appsink name=sink sync=false",
                                  argv[1]);
    pipeline = gst_parse_launch(description, &error);
    g_free(description);
    if (!pipeline) {
        fprintf(stderr, "gst_seek: %s\n", error->message);
        return 1;
    }
    sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    if (!(m = wait_for(pipeline, GST_MESSAGE_ASYNC_DONE))) return 1;
    gst_message_unref(m);

    query = gst_query_new_seeking(GST_FORMAT_TIME);
    if (gst_element_query(pipeline, query))
        gst_query_parse_seeking(query, NULL, &seekable, NULL, NULL);
    gst_query_unref(query);
    gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration);

    if (seconds > 0) {
        if (!gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                     GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE,
                                     (gint64)(seconds * GST_SECOND + 0.5))) {
            fprintf(stderr, "gst_seek: the seek was refused\n");
            return 1;
        }
        if (!(m = wait_for(pipeline, GST_MESSAGE_ASYNC_DONE))) return 1;
        gst_message_unref(m);
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    out = fopen(argv[3], "wb");
    if (!out) return 1;
    while ((sample = gst_app_sink_pull_sample(GST_APP_SINK(sink)))) {
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        fwrite(map.data, 1, map.size, out);
        gst_buffer_unmap(buffer, &map);
        gst_sample_unref(sample);
    }
    fclose(out);
    if (!(m = wait_for(pipeline, GST_MESSAGE_EOS))) return 1;
    gst_message_unref(m);
    printf("%s %" G_GINT64_FORMAT "\n", seekable ? "seekable" : "not-seekable", duration);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return 0;
}
