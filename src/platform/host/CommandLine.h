#pragma once
// The program's command line: what a person asks of one run. Parsing is pure (no output,
// no files touched) so every rule can be checked on its own; the launcher acts on the
// result.
#include <optional>
#include <string>
#include <variant>

#include "capture/PictureSize.h"

namespace host {

// --serve and its companions: the page to watch from a browser.
struct ServeOptions {
    std::string host = "127.0.0.1"; // loopback unless told otherwise
    int port = 8090;
    std::optional<std::string> tokenFile; // a fixed view token instead of a random one
    bool control = false;                 // a second token that works the page's controls
    int maximumViewers = 4;
};

// --publish rtp://HOST:PORT.
struct PublishTarget {
    std::string host;
    int port = 0;
};

struct Options {
    std::string camera;    // "virtual", an image file, a video device; empty: the first webcam, else virtual
    bool headless = false; // never open a window
    std::optional<std::string> script;         // a script file, "-" for standard input
    std::string outputDirectory;               // where relative snapshot names land; empty: the cwd
    std::optional<double> seconds;             // quit after this long
    bool statistics = false;                   // frame statistics once a second
    bool listCameras = false;                  // print the webcams and their modes, then quit
    std::optional<std::string> photoDirectory; // where the shutter's photos go (else Pictures)
    std::optional<std::string> videoDirectory; // where recordings go (else Videos)
    bool record = false;                       // record from the start until the end of the run
    bool audio = true;                         // record sound with the picture (--no-audio: not)
    PictureSize size;                          // of the camera picture and everything after it
    bool sizeAsked = false;                    // --size given (a still picture then fills it)
    std::optional<std::string> output;         // a video output node to write to, or "auto"
    std::optional<std::string> settingsFile;   // --settings: where settings are kept, also for scripts
    bool noRestore = false;                    // start from defaults this once
    std::optional<ServeOptions> serve;         // serve the picture to browsers
    std::optional<PublishTarget> publish;      // send the picture as RTP to a gateway
};

// The run ends before it starts: help or version asked (status 0) or bad usage (2).
// `message` is what to show on standard error, without a trailing newline.
struct ExitRequest {
    int status = 0;
    std::string message;
};

std::variant<Options, ExitRequest> parseCommandLine(int argc, const char* const* argv);

// "[HOST:]PORT" (an IPv6 host in brackets) into `host` (kept when the text names none)
// and `port`; false when it is not that.
bool parseHostAndPort(const std::string& text, std::string& host, int& port);

// The longest run --seconds accepts (about eleven days).
inline constexpr double maximumRunSeconds = 1e6;

} // namespace host
