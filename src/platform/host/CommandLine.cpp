#include "host/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "capture/CaptureDeviceFactory.h"

namespace host {
namespace {

ExitRequest usageError(const std::string& what) {
    return ExitRequest{2, "fernhold: " + what + "; see --help"};
}

bool endsWithIgnoringCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size())
        return false;
    return std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char wanted, char given) {
        return std::tolower(static_cast<unsigned char>(given)) == wanted;
    });
}

// The forms the capture factory knows; anything else would only fail later, at camera
// creation, with a less helpful message.
std::optional<std::string> checkCameraSource(const std::string& source) {
    if (source.empty())
        return "--camera needs a source";
    if (source == "virtual" || isWebcamPath(source))
        return std::nullopt;
    for (const char* suffix : {".png", ".jpg", ".jpeg"})
        if (endsWithIgnoringCase(source, suffix))
            return std::nullopt;
    return "--camera '" + source +
           "' is not 'virtual', an image file (.png, .jpg) or a video device under /dev (see "
           "--list-cameras)";
}

std::optional<std::string> parseSeconds(const std::string& text, double& seconds) {
    const std::string problem =
        "--seconds '" + text + "' must be a number of seconds above 0 and at most 1000000";
    const char* end = text.data() + text.size();
    auto [next, error] = std::from_chars(text.data(), end, seconds);
    if (error != std::errc{} || next != end || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > maximumRunSeconds)
        return problem;
    return std::nullopt;
}

} // namespace

bool parseHostAndPort(const std::string& text, std::string& host, int& port) {
    std::string name, number = text;
    if (text.starts_with('[')) {
        const size_t close = text.find("]:");
        if (close == std::string::npos)
            return false;
        name = text.substr(1, close - 1);
        number = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        name = text.substr(0, colon);
        number = text.substr(colon + 1);
        if (name.find(':') != std::string::npos)
            return false; // an IPv6 address without brackets
    }
    const char* end = number.data() + number.size();
    int value = 0;
    auto [next, error] = std::from_chars(number.data(), end, value);
    if (error != std::errc{} || next != end || value < 0 || value > 65535 ||
        (text.find(':') != std::string::npos && name.empty()))
        return false;
    if (!name.empty())
        host = name;
    port = value;
    return true;
}

std::variant<Options, ExitRequest> parseCommandLine(int argc, const char* const* argv) {
    Options options;
    std::string seconds, script, out, size, photos, output, videos;
    bool noAudio = false;
    CLI::App app{"Fernhold: a live camera with GPU filters, bright-region outlines and manual controls.",
                 "fernhold"};
    app.set_version_flag("--version", std::string("fernhold ") + FERNHOLD_VERSION);
    app.add_option(
        "--camera", options.camera,
        "where frames come from: virtual, an image file (.png, .jpg) or a video device under /dev; "
        "default: the first webcam, else virtual");
    app.add_flag("--headless", options.headless, "run without a window (also when there is no display)");
    app.add_option("--script", script, "play the commands in FILE ('-': standard input), then quit")
        ->type_name("FILE");
    app.add_option("--out", out, "directory for relative snapshot and capture names (created if missing)")
        ->type_name("DIR");
    app.add_option("--photos", photos,
                   "directory for the shutter's photos (default: the Pictures folder's Fernhold)")
        ->type_name("DIR");
    app.add_option("--videos", videos, "directory for recordings (default: the Videos folder's Fernhold)")
        ->type_name("DIR");
    app.add_flag("--record", options.record, "record from the start until the program ends");
    app.add_flag("--no-audio", noAudio, "record the picture without sound");
    app.add_option("--seconds", seconds, "quit after S seconds")->type_name("S");
    app.add_option("--size", size,
                   "size of the picture, both sides even, 160x120 to 3840x2160 (default 640x480)")
        ->type_name("WxH");
    app.add_option("--output", output,
                   "write the picture as shown to a video output device under /dev (a v4l2loopback "
                   "node, which other programs read as a webcam); 'auto': the first v4l2loopback node")
        ->type_name("DEV");
    std::string settings;
    app.add_option("--settings", settings,
                   "keep settings in FILE (default: ~/.config/fernhold/settings.ini, none for "
                   "--script and --headless runs)")
        ->type_name("FILE");
    app.add_flag("--no-restore", options.noRestore, "start from default settings this once");
    std::string serve, serveTokenFile, publish;
    int serveViewers = 4;
    bool serveControl = false;
    app.add_option("--serve", serve,
                   "serve the picture to browsers over WebRTC on [HOST:]PORT (host 127.0.0.1 unless given); "
                   "the address with its token goes to standard error")
        ->type_name("[HOST:]PORT");
    app.add_option("--serve-token-file", serveTokenFile,
                   "the token to watch with, from FILE, instead of a random one")
        ->type_name("FILE");
    app.add_flag("--serve-control", serveControl,
                 "a second token, for a link whose page also works the filter and the assists");
    app.add_option("--serve-viewers", serveViewers, "browsers that may watch at once (default 4)")
        ->type_name("N");
    app.add_option("--publish", publish,
                   "send the picture as H.264 over RTP to a gateway (a Janus streaming mountpoint)")
        ->type_name("rtp://HOST:PORT");
    app.add_flag("--stats", options.statistics, "frame statistics on standard error once a second");
    app.add_flag("--list-cameras", options.listCameras,
                 "list the webcams (/dev/video*) with their formats, sizes and frame rates, then quit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::string help = app.help();
        while (!help.empty() && help.back() == '\n')
            help.pop_back();
        return ExitRequest{0, help};
    } catch (const CLI::CallForVersion& version) {
        return ExitRequest{0, version.what()};
    } catch (const CLI::ParseError& error) {
        return usageError(error.what());
    }

    if (app.count("--camera"))
        if (auto problem = checkCameraSource(options.camera))
            return usageError(*problem);
    if (app.count("--script")) {
        if (script.empty())
            return usageError("--script needs a file name ('-' for standard input)");
        options.script = script;
    }
    if (app.count("--out")) {
        if (out.empty())
            return usageError("--out needs a directory");
        options.outputDirectory = out;
    }
    if (app.count("--photos")) {
        if (photos.empty())
            return usageError("--photos needs a directory");
        options.photoDirectory = photos;
    }
    if (app.count("--settings")) {
        if (settings.empty())
            return usageError("--settings needs a file name");
        options.settingsFile = settings;
    }
    if (app.count("--videos")) {
        if (videos.empty())
            return usageError("--videos needs a directory");
        options.videoDirectory = videos;
    }
    options.audio = !noAudio;
    if (app.count("--seconds")) {
        double value = 0;
        if (auto problem = parseSeconds(seconds, value))
            return usageError(*problem);
        options.seconds = value;
    }
    if (app.count("--output")) {
        if (output != "auto" && !isWebcamPath(output))
            return usageError("--output '" + output + "' is not 'auto' or a video device under /dev");
        options.output = output;
    }
    if (app.count("--serve")) {
        ServeOptions served;
        if (!parseHostAndPort(serve, served.host, served.port))
            return usageError("--serve '" + serve +
                              "' must be [HOST:]PORT, the port from 1 to 65535 (0: any free one)");
        if (app.count("--serve-token-file")) {
            if (serveTokenFile.empty())
                return usageError("--serve-token-file needs a file name");
            served.tokenFile = serveTokenFile;
        }
        if (serveViewers < 1 || serveViewers > 64)
            return usageError("--serve-viewers must be from 1 to 64");
        served.control = serveControl;
        served.maximumViewers = serveViewers;
        options.serve = served;
    } else if (app.count("--serve-token-file") || app.count("--serve-viewers") || serveControl)
        return usageError("--serve-token-file, --serve-control and --serve-viewers go with --serve");
    if (app.count("--publish")) {
        PublishTarget target;
        if (!publish.starts_with("rtp://") ||
            !parseHostAndPort(publish.substr(6), target.host, target.port) || target.host.empty() ||
            target.port == 0)
            return usageError("--publish '" + publish + "' must be rtp://HOST:PORT");
        options.publish = target;
    }
    if (app.count("--size")) {
        auto parsed = parsePictureSize(size);
        if (!parsed)
            return usageError("--size '" + size + "' must be WIDTHxHEIGHT with both sides even, from " +
                              describePictureSize(smallestPictureSize) + " to " +
                              describePictureSize(largestPictureSize));
        options.size = *parsed;
        options.sizeAsked = true;
    }
    return options;
}

} // namespace host
