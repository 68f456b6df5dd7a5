#include "host/window/StartFailureDialog.h"

#include <SDL2/SDL.h>

#include <string>

namespace host {

void showStartFailure(std::string_view reason, SDL_Window* parent) {
    const std::string text(reason);
    // Without a display this fails at once, which is all a run without one needs.
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, startFailureTitle, text.c_str(), parent);
}

} // namespace host
