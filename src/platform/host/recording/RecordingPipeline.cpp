#include "host/recording/RecordingPipeline.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "host/GStreamerSupport.h"
#include "host/recording/SharedPicture.h"
#include "host/serve/LiveEncoder.h"

namespace host {

struct RecordingPipeline::State {
    GstElement* pipeline = nullptr;
    GstElement* frames = nullptr; // the appsrc
    GstElement* sound = nullptr;  // pulsesrc, or null
    GstClockTime base = 0;
    // Sound captured from here on (running time) is not recorded (see endSoundAt).
    std::atomic<GstClockTime> soundEnd{GST_CLOCK_TIME_NONE};
    std::mutex lastMutex;
    GstBuffer* last = nullptr;             // the last frame pushed, repeated at the end
    std::unique_ptr<SharedPicture> shared; // the picture from the live stream, when served
    EndHandler ended;
    ~State() {
        shared.reset();
        if (last)
            gst_buffer_unref(last);
        for (GstElement* element : {sound, frames, pipeline})
            if (element)
                gst_object_unref(element);
    }
};

namespace {

struct Encoder {
    const char* factory;
    const char* description; // what follows the conversion to I420
};

// Hardware first: a machine that has one spends no CPU on the picture.
const Encoder videoEncoders[] = {
    {"vah264enc", "vah264enc ! h264parse"},
    {"nvh264enc", "nvh264enc ! h264parse"},
    {"x264enc", "x264enc speed-preset=veryfast tune=zerolatency ! h264parse"},
};
const char* const audioEncoders[] = {"fdkaacenc", "avenc_aac", "voaacenc"};

struct Message {
    GstMessage* message;
    ~Message() {
        if (message)
            gst_message_unref(message);
    }
};

// "No space left on the resource.": GStreamer's own words, from the element that failed.
std::string describeError(GstMessage* message, bool* fromSink = nullptr) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    std::string text = error && error->message ? error->message : "unknown error";
    if (fromSink)
        *fromSink = error && error->domain == GST_RESOURCE_ERROR;
    g_clear_error(&error);
    return text;
}

// Whether the default audio source answers: pulsesrc opens its server going to READY.
bool soundServerAnswers() {
    GstElement* probe = gst_element_factory_make("pulsesrc", nullptr);
    if (!probe)
        return false;
    const bool answers = gst_element_set_state(probe, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(probe, GST_STATE_NULL);
    gst_object_unref(probe);
    return answers;
}

// Between each encoder and the muxer: the muxer holds the picture until the sound's first
// samples come (a sound server takes a second or so), and a queue's default second would
// fill and stall the encoder, which would drop frames at the start. Encoded frames are
// small: a few seconds of them are kept instead.
constexpr const char* encodedQueue = "queue max-size-buffers=0 max-size-bytes=0 max-size-time=5000000000";

// The picture taken already encoded, from the live stream (see SharedPicture).
const Encoder sharedEncoder{"", "h264parse"};

std::string describePipeline(const Encoder& video, const char* audioEncoder) {
    std::string text = "appsrc name=frames format=time is-live=true do-timestamp=false min-latency=0 ! ";
    if (&video != &sharedEncoder)
        text += "videoconvert ! video/x-raw,format=I420 ! ";
    text += std::string(video.description) + " ! " + encodedQueue + " ! mux. ";
    if (audioEncoder)
        text +=
            std::string(
                "pulsesrc name=sound ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2 ! ") +
            // A sound server takes a moment to deliver its first samples: silence
            // fills the time from the start, so picture and sound begin together.
            "audiorate ! " + std::string(audioEncoder) + " ! aacparse ! " + encodedQueue + " ! mux. ";
    // Fragments of a second, each complete on disk, with a first moov that the clean end
    // rewrites into an ordinary file's.
    return text +
           "mp4mux name=mux fragment-duration=1000 ! filesink name=file buffer-mode=unbuffered sync=false";
}

// On the sound source's output: the sound ends where the picture does, at the stop, however
// late the end of its stream follows.
GstPadProbeReturn cutSoundAtStop(GstPad*, GstPadProbeInfo* info, gpointer data) {
    const auto* state = static_cast<const RecordingPipeline::State*>(data);
    const GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime end = state->soundEnd.load();
    if (end == GST_CLOCK_TIME_NONE || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_PAD_PROBE_OK;
    const GstClockTime last =
        GST_BUFFER_PTS(buffer) + (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
    return last > end ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// Builds and plays one candidate; null with `problem` (and `fileFault` when the file was at
// fault, which no other encoder would mend).
std::shared_ptr<RecordingPipeline::State> play(const RecordingPipeline::Settings& settings,
                                               const std::string& description, std::string& problem,
                                               bool& fileFault) {
    auto state = std::make_shared<RecordingPipeline::State>();
    state->pipeline = buildFromDescription(description, false, "cannot build the encoder", problem);
    if (!state->pipeline)
        return nullptr;
    state->frames = childByName(state->pipeline, "frames");
    state->sound = childByName(state->pipeline, "sound");
    if (state->sound) {
        // The state outlives the pipeline's streaming: it is stopped before the state goes.
        GstPad* soundOut = gst_element_get_static_pad(state->sound, "src");
        gst_pad_add_probe(soundOut, GST_PAD_PROBE_TYPE_BUFFER, cutSoundAtStop, state.get(), nullptr);
        gst_object_unref(soundOut);
    }
    GstElement* mux = childByName(state->pipeline, "mux");
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(mux), "fragment-mode"))
        gst_util_set_object_arg(G_OBJECT(mux), "fragment-mode", "first-moov-then-finalise");
    gst_object_unref(mux);
    GstElement* file = childByName(state->pipeline, "file");
    g_object_set(file, "location", settings.file.c_str(), nullptr);
    gst_object_unref(file);
    if (!settings.shared) { // a shared picture's caps are the live stream's
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBA", "width",
                                            G_TYPE_INT, settings.width, "height", G_TYPE_INT, settings.height,
                                            "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
        gst_app_src_set_caps(GST_APP_SRC(state->frames), caps);
        gst_caps_unref(caps);
    }

    // One clock for picture and sound: the monotonic clock the capture times are read
    // from, with the recording's start as time zero, so a frame's capture time is its
    // timestamp and pulsesrc keeps its samples in step with it.
    GstClock* clock = gst_system_clock_obtain();
    g_object_set(clock, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr);
    gst_pipeline_use_clock(GST_PIPELINE(state->pipeline), clock);
    gst_object_unref(clock);
    state->base = monotonicNanoseconds(settings.start);
    gst_element_set_start_time(state->pipeline, GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(state->pipeline, state->base);

    if (gst_element_set_state(state->pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
        return state;
    GstBus* bus = gst_element_get_bus(state->pipeline);
    Message failure{gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)};
    gst_object_unref(bus);
    problem = failure.message ? describeError(failure.message, &fileFault) : "the encoder did not start";
    gst_element_set_state(state->pipeline, GST_STATE_NULL);
    return nullptr;
}

// The pipeline's own thread: waits on its bus for the end of the stream or an error, then
// stops it and says how it ended.
void watch(std::shared_ptr<RecordingPipeline::State> state) {
    GstBus* bus = gst_element_get_bus(state->pipeline);
    RecordingEnd end;
    Message message{gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                               GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR))};
    if (GST_MESSAGE_TYPE(message.message) == GST_MESSAGE_EOS)
        end.clean = true;
    else
        end.problem = describeError(message.message);
    gst_element_set_state(state->pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    state->ended(end);
}

} // namespace

std::unique_ptr<RecordingPipeline> RecordingPipeline::start(const Settings& settings, EndHandler ended,
                                                            std::string& problem, std::string& notes) {
    if (!gstreamerReady()) {
        problem = "GStreamer cannot start";
        return nullptr;
    }
    const char* audioEncoder = nullptr;
    if (settings.audio) {
        for (const char* candidate : audioEncoders)
            if (!audioEncoder && elementInstalled(candidate))
                audioEncoder = candidate;
        if (!elementInstalled("pulsesrc") || !audioEncoder)
            notes = "recording: no AAC encoder or audio source installed; recording the picture alone";
        else if (!soundServerAnswers())
            notes = "recording: no audio server; recording the picture alone";
        if (!notes.empty())
            audioEncoder = nullptr;
    }
    if (settings.shared)
        return startShared(settings, std::move(ended), audioEncoder, problem);
    problem = "no H.264 encoder is installed (x264enc is in gstreamer1.0-plugins-ugly)";
    for (const Encoder& encoder : videoEncoders) {
        if (!elementInstalled(encoder.factory))
            continue;
        bool fileFault = false;
        auto state = play(settings, describePipeline(encoder, audioEncoder), problem, fileFault);
        if (!state) {
            if (fileFault)
                break;
            continue;
        }
        state->ended = std::move(ended);
        std::unique_ptr<RecordingPipeline> recording(new RecordingPipeline);
        recording->state_ = state;
        recording->encoder_ = encoder.factory;
        recording->audio_ = audioEncoder != nullptr;
        std::thread(watch, state).detach();
        problem.clear();
        return recording;
    }
    return nullptr;
}

std::unique_ptr<RecordingPipeline> RecordingPipeline::startShared(const Settings& settings, EndHandler ended,
                                                                  const char* audioEncoder,
                                                                  std::string& problem) {
    bool fileFault = false;
    auto state = play(settings, describePipeline(sharedEncoder, audioEncoder), problem, fileFault);
    if (!state)
        return nullptr;
    state->shared = SharedPicture::attach(settings.shared, state->frames, state->base,
                                          settings.sharedFrameTaken, problem);
    if (!state->shared) {
        gst_element_set_state(state->pipeline, GST_STATE_NULL);
        return nullptr;
    }
    state->ended = std::move(ended);
    std::unique_ptr<RecordingPipeline> recording(new RecordingPipeline);
    recording->state_ = state;
    recording->encoder_ = "shared " + settings.shared->encoderName();
    recording->audio_ = audioEncoder != nullptr;
    std::thread(watch, state).detach();
    problem.clear();
    return recording;
}

RecordingPipeline::~RecordingPipeline() = default;

bool RecordingPipeline::sharesEncoder() const {
    return state_->shared != nullptr;
}

uint64_t RecordingPipeline::sharedFrames() const {
    return state_->shared ? state_->shared->frames() : 0;
}

std::optional<std::chrono::steady_clock::time_point> RecordingPipeline::startTime() const {
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(state_->base));
}

bool RecordingPipeline::push(const FramePixels& pixels) {
    GstAppSrc* source = GST_APP_SRC(state_->frames);
    if (gst_app_src_get_current_level_buffers(source) >= maximumQueuedFrames || !pixels.rgba)
        return false;
    // The encoder reads the read-back bytes where they lie.
    GstBuffer* buffer = wrapFrameBytes(pixels.rgba, pixels.rgba->size());
    GST_BUFFER_PTS(buffer) = monotonicNanoseconds(pixels.captureTime) - state_->base;
    {
        std::lock_guard lock(state_->lastMutex);
        // The first frame stands from the start, while the encoder was starting, as the
        // sound does: both tracks then last the whole recording.
        if (!state_->last)
            GST_BUFFER_PTS(buffer) = 0;
        gst_buffer_replace(&state_->last, buffer);
    }
    return gst_app_src_push_buffer(source, buffer) == GST_FLOW_OK;
}

void RecordingPipeline::endSoundAt(std::chrono::steady_clock::time_point stop) {
    const GstClockTime stopTime = monotonicNanoseconds(stop);
    state_->soundEnd = stopTime > state_->base ? stopTime - state_->base : 0;
}

void RecordingPipeline::finish(std::chrono::steady_clock::time_point stop) {
    endSoundAt(stop);
    const GstClockTime stopTime = monotonicNanoseconds(stop);
    if (state_->shared) {
        // The live stream goes on for its viewers; the file's last frame is shown until the stop.
        state_->shared->finish(stopTime);
    } else {
        GstBuffer* last = nullptr;
        {
            std::lock_guard lock(state_->lastMutex);
            std::swap(last, state_->last);
        }
        const GstClockTime frame = GST_SECOND / 30;
        if (last && stopTime > state_->base + GST_BUFFER_PTS(last) + 2 * frame) {
            GstBuffer* repeat = gst_buffer_copy(last); // shares the bytes
            GST_BUFFER_PTS(repeat) = stopTime - state_->base - frame;
            GST_BUFFER_DURATION(repeat) = frame;
            gst_app_src_push_buffer(GST_APP_SRC(state_->frames), repeat);
        }
        if (last)
            gst_buffer_unref(last);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(state_->frames));
    if (state_->sound)
        gst_element_send_event(state_->sound, gst_event_new_eos());
}

} // namespace host
