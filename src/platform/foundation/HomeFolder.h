#pragma once
// The user's home folder, always an absolute path: $HOME where it is one, else the password
// database's entry for the user (a service or a cron job may run without HOME, or with an
// empty or relative one), else "/". Folders built on it (pictures, videos, settings) then
// never land relative to wherever the program was started.
#include <filesystem>

namespace foundation {

std::filesystem::path homeFolder();

} // namespace foundation
