#pragma once
// From the command line to a host ready to run: what UIApplicationMain calls first.
#include <memory>

#include "ui/UIApplication.h"

namespace host {

// Parses the command line, loads and checks the script, installs the capture device
// factory for --camera, makes the GPU context and picks the window or headless host.
// Returns null when the run ends before it starts, with `exitStatus` set: 0 after
// --help or --version, 2 for bad usage or a bad script, 1 when the GPU context or the
// output folder cannot be had; the reason is already on standard error.
std::shared_ptr<UIApplicationHost> makeCommandLineHost(int argc, char** argv, int& exitStatus);

} // namespace host
