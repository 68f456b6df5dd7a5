#include "host/HostLauncher.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "capture/CaptureDeviceFactory.h"
#include "capture/v4l2/V4L2CameraListing.h"
#include "capture/v4l2/V4L2OutputNodes.h"
#include "capture/virtual/SimulatedCaptureDevice.h"
#include "foundation/Print.h"
#include "host/SignalWatcher.h"
#include "host/headless/HeadlessHost.h"
#include "host/output/LoopbackOutput.h"
#include "host/settings/SavedChoices.h"
#include "host/window/StartFailureDialog.h"
#include "host/window/WindowHost.h"
#include "pipeline/GPUContext.h"
#include "pipeline/ImagePipeline.h"

namespace host {
namespace {

// A script is a person's list of steps: these bounds are far past any of those, and keep
// an endless source (a device, a pipe that never ends) from filling memory.
constexpr size_t maximumScriptBytes = 1 << 20;
constexpr size_t maximumScriptLines = 10000;

// At most `limit` + 1 bytes of `in`: one more than allowed says the source is too long.
std::string readBounded(std::istream& in, size_t limit) {
    std::string text(limit + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    return text;
}

bool readScript(const std::string& name, std::string& text, std::string& why) {
    std::ifstream file;
    if (name != "-") {
        // A folder opens as a stream on Linux and reads as nothing; it is no script either.
        std::error_code ignored;
        file.open(name, std::ios::binary);
        if (!file || std::filesystem::is_directory(name, ignored)) {
            why = "cannot read script '" + name + "'";
            return false;
        }
    }
    std::istream& in = name == "-" ? std::cin : file;
    text = readBounded(in, maximumScriptBytes);
    if (in.bad()) {
        why = "cannot read script '" + name + "'";
        return false;
    }
    if (text.size() > maximumScriptBytes) {
        why = "script '" + name + "' is longer than 1 MiB";
        return false;
    }
    if (size_t(std::count(text.begin(), text.end(), '\n')) > maximumScriptLines) {
        why = "script '" + name + "' has more than " + std::to_string(maximumScriptLines) + " lines";
        return false;
    }
    // Some editors begin a UTF-8 file with a byte-order mark; it is no part of the first line.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.erase(0, 3);
    return true;
}

bool hasDisplay() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// The script named on the command line, checked as a whole before anything opens; false
// (with the status) when it cannot be read or has a bad line.
bool loadScript(HostConfiguration& configuration, int& exitStatus) {
    const auto& name = configuration.options.script;
    if (!name)
        return true;
    std::string text, why;
    if (!readScript(*name, text, why)) {
        foundation::logError("fernhold: " + why + "; see --help");
        exitStatus = 2;
        return false;
    }
    auto script = script::parseScript(text);
    if (auto* problem = std::get_if<script::ParseError>(&script)) {
        foundation::logError(problem->describe());
        exitStatus = 2;
        return false;
    }
    configuration.script = std::get<script::Script>(std::move(script));
    return true;
}

// Whether this run would open a window: then a failure to start is also shown in a dialog.
bool wouldOpenWindow(const Options& options) {
    return !options.headless && hasDisplay();
}

// A reason the run cannot start: on standard error, and where a window would have opened,
// in a dialog too.
void reportStartFailure(const Options& options, const std::string& reason) {
    foundation::logError("fernhold: " + reason);
    if (wouldOpenWindow(options))
        showStartFailure(reason);
}

bool prepareOutputFolder(const Options& options, int& exitStatus) {
    if (options.outputDirectory.empty())
        return true;
    std::error_code error;
    std::filesystem::create_directories(options.outputDirectory, error);
    if (!error && std::filesystem::is_directory(options.outputDirectory))
        return true;
    reportStartFailure(options, "cannot create the output folder '" + options.outputDirectory +
                                    "': " + (error ? error.message() : "not a folder"));
    exitStatus = 1;
    return false;
}

// With no --camera: the first webcam, else the virtual camera. Said on standard error, as a
// run that quietly opened a camera (or did not) would puzzle.
void chooseDefaultCamera(Options& options) {
    if (!options.camera.empty())
        return;
    if (auto webcam = firstCaptureNode()) {
        options.camera = webcam->path;
        foundation::logError("fernhold: using the webcam " + webcam->path + " (" + webcam->cardName +
                             "); --camera virtual shows the synthetic scene");
    } else {
        options.camera = "virtual";
        foundation::logError("fernhold: no webcam found; using the virtual camera");
    }
}

// The camera opens its device lazily, through this factory; a failure there is the
// application's to report. The device follows the machine's thermal state itself.
void installDeviceFactory(const HostConfiguration& configuration) {
    std::shared_ptr<OpenedDevice> opened = configuration.device;
    CaptureDeviceOptions deviceOptions;
    deviceOptions.onFailure = [opened](const NSError&) { opened->reportFailure(); };
    deviceOptions.onAvailabilityChange = [opened](bool available) { opened->reportAvailability(available); };
    // The picture size reaches the camera through its options and everything after it
    // through the pipeline's framebuffer size; a picture sized on purpose is filled.
    const Options& options = configuration.options;
    deviceOptions.pictureSize = options.size;
    deviceOptions.stillImageFit = options.sizeAsked ? StillImageFit::fill : StillImageFit::whole;
    setSharedFramebufferSize(Size{float(options.size.width), float(options.size.height)});
    // FERNHOLD_UNTHROTTLED=1 (soak tests): a simulated camera makes frames as fast as the
    // machine allows instead of at its frame rate.
    const char* unthrottled = std::getenv("FERNHOLD_UNTHROTTLED");
    deviceOptions.unlimitedFrameRate = unthrottled && std::string(unthrottled) == "1";
    AVCaptureDevice::setDefaultDeviceFactory(
        [opened, deviceOptions, source = options.camera, settings = configuration.settings,
         output = configuration.output](AVCaptureDevicePosition,
                                        NSError* error) -> std::shared_ptr<AVCaptureDevice> {
            auto device = openCaptureDevice(source, deviceOptions, error);
            if (device && settings)
                settings->adoptCamera(device->cameraControls()); // before its first frame
            // Readers of the output are told the camera's own rate, not a guess.
            if (device && output)
                output->setFrameInterval(device->activeVideoMinFrameDuration());
            if (device)
                opened->set(device);
            return device;
        });
}

// The output node, opened and set before the run begins, so that one no program can read
// from stops the run at once rather than after the window has opened.
bool openOutput(HostConfiguration& configuration, int& exitStatus) {
    const Options& options = configuration.options;
    if (!options.output)
        return true;
    std::string path = *options.output, problem;
    if (path == "auto") {
        if (auto found = firstLoopbackNode())
            path = *found;
        else
            problem = "--output auto: no v4l2loopback node (modprobe v4l2loopback; see the README)";
    }
    if (problem.empty())
        configuration.output = LoopbackOutput::open(path, options.size.width, options.size.height,
                                                    outputFramesPerSecond, problem);
    if (configuration.output)
        return true;
    reportStartFailure(options, problem);
    exitStatus = 1;
    return false;
}

// The view server and the publisher, started before the run begins: an address that
// cannot be bound stops the run at once.
bool openServing(HostConfiguration& configuration, int& exitStatus) {
    std::string problem;
    configuration.serve = ServeSession::open(configuration.options, problem);
    if (configuration.serve || problem.empty())
        return true;
    reportStartFailure(configuration.options, problem);
    exitStatus = 1;
    return false;
}

bool initializeGpu(const Options& options, int& exitStatus) {
    NSError gpuError;
    if (GPUContext::initialize(&gpuError))
        return true;
    reportStartFailure(options, "could not create the OpenGL ES context: " + gpuError.localizedDescription());
    exitStatus = 1;
    return false;
}

} // namespace

std::shared_ptr<UIApplicationHost> makeCommandLineHost(int argc, char** argv, int& exitStatus) {
    auto parsed = parseCommandLine(argc, argv);
    if (auto* request = std::get_if<ExitRequest>(&parsed)) {
        // --help and --version are what was asked for, not part of a run: standard output,
        // as other programs print them. A usage error is a diagnostic: standard error.
        if (request->status == 0) {
            const std::string text = request->message + "\n";
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        } else
            foundation::logError(request->message);
        exitStatus = request->status;
        return nullptr;
    }
    // From here on a run is starting: a signal now ends it once it has started.
    SignalWatcher::catchEarly();
    HostConfiguration configuration;
    configuration.options = std::get<Options>(std::move(parsed));
    const Options& options = configuration.options;
    if (options.listCameras) {
        // A table for a person, asked for explicitly: the one output on standard output
        // that is not the application's own.
        const std::string table = describeCameras();
        std::fwrite(table.data(), 1, table.size(), stdout);
        std::fflush(stdout);
        exitStatus = 0;
        return nullptr;
    }
    if (!loadScript(configuration, exitStatus) || !prepareOutputFolder(options, exitStatus))
        return nullptr;
    if (!openOutput(configuration, exitStatus))
        return nullptr;
    configuration.settings = openSettingsStore(options);
    if (configuration.settings)
        applySavedChoices(configuration.options, *configuration.settings);
    chooseDefaultCamera(configuration.options);
    if (configuration.settings) {
        configuration.settings->setHostChoice("camera", options.camera);
        configuration.settings->setHostChoice("size", describePictureSize(options.size));
    }
    installDeviceFactory(configuration);
    if (!openServing(configuration, exitStatus))
        return nullptr;

    exitStatus = 0;
    // A window makes the image graph's context itself, sharing its own (see WindowHost).
    if (wouldOpenWindow(options)) {
        NSError windowError;
        if (auto window = WindowHost::create(configuration, &windowError))
            return window;
        // Without a GPU context there is no headless run either: that is said below.
        if (windowError.domain() != "GPUContext")
            foundation::logError("fernhold: no window (" + windowError.localizedDescription() +
                                 "); running headless");
    }
    if (!initializeGpu(options, exitStatus))
        return nullptr;
    return std::make_shared<HeadlessHost>(std::move(configuration));
}

} // namespace host

namespace {
// The program's host comes from its command line; UIApplicationMain asks for it.
const bool commandLineHostInstalled = [] {
    UISetApplicationHostFactory(host::makeCommandLineHost);
    return true;
}();
} // namespace
