#pragma once
// An emulated UVC webcam for tests that run a program against /dev/videoN on a machine
// without V4L2. The program runs with environment() in front of it:
//   FERNHOLD_EMULATED_DEV=<folder> LD_PRELOAD=<emulator> fernhold --camera /dev/video0 ...
// and the test makes, breaks and reads the nodes through ctl(), e.g.
//   webcam.ctl("create video0 --formats MJPG"); webcam.ctl("unplug video0");
//   webcam.show("video0")["interval"] == "1/5";
//   webcam.ctl("set video0 " + std::to_string(V4L2_CID_GAIN) + " 40")  // another program's S_CTRL
// (support/webcam/EmulatedWebcamCtl.cpp lists the commands, EmulatedWebcam.cpp the behaviour.)
//
// Sanitizer builds: EMULATED_WEBCAM_PRELOAD holds the whole preload list, and CMake picks it.
// - ASan+UBSan: the sanitizer's runtime must be the first library of an ASan program, so
//   the list is "libasan.so:libemulated_webcam.so" (the emulator is built with ASan too).
//   Preloading the emulator alone stops the program at start ("ASan runtime does not come
//   first").
// - TSan: the emulator is built without TSan and preloaded alone. TSan's poll() wrapper
//   stops following locks while the real poll() runs, and the emulator's poll() runs there
//   taking its own locks, which an instrumented emulator reports as races.
// Give environment() to the program itself (`env <environment()> fernhold ...`), not to a
// shell or `timeout` in front of it: a sanitizer runtime preloaded into those is only waste.
//
// Limits: a handle is shared by dup() but not by fork(), and it answers as a non-blocking
// one (DQBUF and DQEVENT never wait: poll(), ppoll() and select() see its readiness).
// Other programs (v4l2-ctl, GStreamer, ffmpeg) find a node through stat() and sysfs's
// uevent file, both emulated (support/webcam/EmulatedOtherClients.cpp).
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/capture/TempDirectory.h"

namespace webcamtest {

class EmulatedWebcam {
  public:
    // The folder of nodes is fresh, and removed with the object.
    const std::string& dir() const { return dir_; }
    std::string environment() const {
        return "FERNHOLD_EMULATED_DEV='" + dir_ + "' LD_PRELOAD='" + EMULATED_WEBCAM_PRELOAD + "'";
    }

    // Runs `command` (a shell command line) with the emulator in front of it: its exit
    // status (-1 when it did not exit) and its standard output.
    std::pair<int, std::string> run(const std::string& command) const {
        FILE* pipe = popen(("env " + environment() + " " + command).c_str(), "r");
        std::string out;
        for (int c; pipe && (c = fgetc(pipe)) != EOF;)
            out += char(c);
        const int status = pipe ? pclose(pipe) : -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }

    // Runs the control tool on this folder and returns its standard output; throws when it
    // fails (its complaint is on standard error).
    std::string ctl(const std::string& arguments) const {
        // Appended, not added: GCC 12 at -O3 takes `"'" + std::string(...)` for an overlapping copy.
        std::string command("'");
        command.append(EMULATED_WEBCAM_CTL).append("' '").append(dir_).append("' ").append(arguments);
        auto [status, out] = run(command);
        if (status != 0)
            throw std::runtime_error("emulated_webcam_ctl " + arguments + ": " + out);
        return out;
    }

    // The node's state as `ctl show` reports it: format, size, streaming, interval, frames...
    std::map<std::string, std::string> show(const std::string& node) const {
        std::map<std::string, std::string> fields;
        std::istringstream line(ctl("show " + node));
        for (std::string field; line >> field;)
            if (auto eq = field.find('='); eq != std::string::npos)
                fields[field.substr(0, eq)] = field.substr(eq + 1);
        return fields;
    }

  private:
    capturetest::TempDirectory folder_;
    std::string dir_ = folder_.path().string();
};

} // namespace webcamtest
