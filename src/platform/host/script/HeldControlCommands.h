#pragma once
// A script's `control` commands while the camera is not open (not yet, or away after an
// unplug): held in order and applied once it is open again, so that a script's settings
// are not lost to a camera's absence. What is still held when the run ends is said in one
// line on standard error.
//
// Threads: commands come from the script's thread, which waits for its own to be applied
// or held; the camera's comings and goings arrive on its device thread. Both are handed to
// one serial queue, which keeps their order; it never waits for either.
#include <memory>
#include <string>
#include <vector>

#include "dispatch/DispatchQueue.h"
#include "host/script/ControlCommands.h"

namespace host {

class OpenedDevice;

class HeldControlCommands {
  public:
    explicit HeldControlCommands(std::shared_ptr<OpenedDevice> device) : device_(std::move(device)) {}

    // Script thread: applies `command` (script line `line`) now, or holds it while the camera
    // is not open. A control the open camera does not have is one line, as before.
    void perform(int line, const script::SetControl& command);
    // Any thread: the camera went away (false) or is open again (true).
    void cameraAvailable(bool available);
    // As the run ends: one line for the commands never applied.
    void reportUnapplied();

  private:
    struct Held {
        int line;
        script::SetControl command;
    };
    void apply(const Held& held); // on queue_

    std::shared_ptr<OpenedDevice> device_;
    bool available_ = true;  // on queue_
    std::vector<Held> held_; // on queue_
    DispatchQueue queue_{"control commands"};
};

} // namespace host
