// The recorder's encoder, alone: how long x264 (the settings a recording uses when no
// hardware encoder starts) takes per frame of the processed picture, from RGBA through the
// colour conversion to H.264, at the sizes a recording is made at. The appsrc blocks while
// the encoder is behind, so the time per iteration is the encoder's time per frame.
#include <benchmark/benchmark.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void BM_RecordingEncoderPerFrame(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    gst_init(nullptr, nullptr);
    const std::string description =
        "appsrc name=frames is-live=false block=true format=time max-buffers=4 ! videoconvert ! "
        "video/x-raw,format=I420 ! x264enc speed-preset=veryfast tune=zerolatency ! fakesink sync=false";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline || error) {
        state.SkipWithError(error ? error->message : "no pipeline");
        return;
    }
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "frames");
    GstCaps* caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBA", "width", G_TYPE_INT, width,
                            "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(source), caps);
    gst_caps_unref(caps);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    // A picture with detail and movement, so the encoder has work of a camera's kind.
    std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
    uint64_t frame = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < rgba.size(); ++i)
            rgba[i] = uint8_t((i * 7 + frame * 13 + (i / size_t(width * 4)) * 3) & 0xff);
        GstBuffer* buffer = gst_buffer_new_memdup(rgba.data(), rgba.size());
        GST_BUFFER_PTS(buffer) = frame * GST_SECOND / 30;
        GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
        ++frame;
        gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    GstBus* bus = gst_element_get_bus(pipeline);
    if (GstMessage* end = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND,
                                                     GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)))
        gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(source);
    gst_object_unref(pipeline);
    state.SetItemsProcessed(int64_t(frame));
}
BENCHMARK(BM_RecordingEncoderPerFrame)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->ArgNames({"w", "h"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
