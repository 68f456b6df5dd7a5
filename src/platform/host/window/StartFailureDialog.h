#pragma once
// Why the program could not start, in a dialog on the desktop: a person who started it
// from the desktop's menu has no terminal to read standard error in.
#include <string_view>

struct SDL_Window;

namespace host {

// The dialog's title, which also names its window for the window manager.
inline constexpr const char* startFailureTitle = "Fernhold could not start";

// Shows `reason` over `parent` (or on its own) and returns once the person has closed it,
// or at once where no dialog can be shown.
void showStartFailure(std::string_view reason, SDL_Window* parent = nullptr);

} // namespace host
