#pragma once

#include <filesystem>
#include <system_error>

namespace velmora {

// Makes `folder` and every missing parent with mode 0700, as the XDG rules ask of
// the user's own data; an existing folder is left as it is. False with `error`
// set when a component cannot be made or is not a folder.
bool createPrivateFolder(const std::filesystem::path& folder, std::error_code& error);

} // namespace velmora
