#pragma once

#include <filesystem>
#include <optional>

namespace velmora {

// One of the user's base folders as the XDG rules give it: the value of
// `variable` (XDG_CONFIG_HOME, XDG_DATA_HOME, ...) when it is absolute, as
// relative values are to be ignored; else `belowHome` in the home folder ($HOME,
// else the user database's). Nothing when there is no absolute home folder.
std::optional<std::filesystem::path> xdgBaseFolder(const char* variable,
                                                   const std::filesystem::path& belowHome);

} // namespace velmora
