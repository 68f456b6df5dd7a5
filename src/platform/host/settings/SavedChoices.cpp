#include "host/settings/SavedChoices.h"

#include <filesystem>

#include "foundation/Print.h"

namespace host {

std::shared_ptr<SettingsStore> openSettingsStore(const Options& options) {
    if (!options.settingsFile && (options.script || options.headless))
        return nullptr;
    return std::make_shared<SettingsStore>(options.settingsFile ? std::filesystem::path(*options.settingsFile)
                                                                : defaultSettingsPath(),
                                           !options.noRestore);
}

void applySavedChoices(Options& options, SettingsStore& store) {
    if (auto camera = store.hostChoice("camera"); camera && options.camera.empty()) {
        std::error_code error;
        if (*camera == "virtual" || std::filesystem::exists(*camera, error))
            options.camera = *camera;
    }
    if (auto size = store.hostChoice("size"); size && !options.sizeAsked) {
        if (auto parsed = parsePictureSize(*size))
            options.size = *parsed;
        else
            foundation::logError("settings: size = " + *size + " is no picture size; ignored");
    }
}

} // namespace host
