#include "host/script/HeldControlCommands.h"

#include "capture/CameraControls.h"
#include "foundation/Print.h"
#include "host/HostCore.h"

namespace host {

void HeldControlCommands::perform(int line, const script::SetControl& command) {
    queue_.sync([&] {
        // Behind the ones held, even once the camera is back: they go first.
        if (!available_ || !held_.empty() || !device_->get())
            held_.push_back({line, command});
        else
            apply({line, command});
    });
}

void HeldControlCommands::cameraAvailable(bool available) {
    queue_.async([this, available] {
        available_ = available;
        if (!available || !device_->get())
            return;
        for (const Held& held : std::exchange(held_, {}))
            apply(held);
    });
}

void HeldControlCommands::apply(const Held& held) {
    const auto device = device_->get();
    const auto controls = device ? device->cameraControls() : nullptr;
    if (const std::string problem = script::performControl(controls.get(), held.command); !problem.empty())
        foundation::logError("script:" + std::to_string(held.line) + ": " + problem);
}

void HeldControlCommands::reportUnapplied() {
    queue_.sync([this] {
        if (held_.empty())
            return;
        std::string commands;
        for (const Held& held : held_)
            commands += (commands.empty() ? "" : ", ") + std::string("control ") + held.command.name + " " +
                        std::to_string(held.command.value) + " (line " + std::to_string(held.line) + ")";
        foundation::logError("script: the camera was not open by the end; not applied: " + commands);
        held_.clear();
    });
}

} // namespace host
