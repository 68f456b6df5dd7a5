#include "host/GStreamerSupport.h"

#include <gst/gst.h>

#include <mutex>

namespace host {

bool gstreamerReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr); });
    return ready;
}

bool elementInstalled(const char* factory) {
    GstElementFactory* found = gst_element_factory_find(factory);
    if (found)
        gst_object_unref(found);
    return found != nullptr;
}

GstElement* childByName(GstElement* bin, const char* name) {
    return bin ? gst_bin_get_by_name(GST_BIN(bin), name) : nullptr;
}

GstElement* buildFromDescription(const std::string& description, bool asBranch, const char* fallback,
                                 std::string& problem) {
    GError* error = nullptr;
    GstElement* built = asBranch ? gst_parse_bin_from_description(description.c_str(), TRUE, &error)
                                 : gst_parse_launch(description.c_str(), &error);
    if (!built || error) {
        problem = error && error->message ? error->message : fallback;
        g_clear_error(&error);
        if (built)
            gst_object_unref(gst_object_ref_sink(built));
        return nullptr;
    }
    return GST_ELEMENT(gst_object_ref_sink(built));
}

GstBuffer* wrapFrameBytes(const std::shared_ptr<const std::vector<uint8_t>>& bytes, size_t size) {
    using Bytes = std::shared_ptr<const std::vector<uint8_t>>;
    auto* held = new Bytes(bytes);
    return gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(bytes->data()), size, 0,
                                       size, held, [](gpointer data) { delete static_cast<Bytes*>(data); });
}

} // namespace host
