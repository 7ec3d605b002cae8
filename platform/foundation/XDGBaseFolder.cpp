#include "foundation/XDGBaseFolder.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace velmora {

std::optional<std::filesystem::path> xdgBaseFolder(const char* variable,
                                                   const std::filesystem::path& belowHome) {
    if (const char* base = std::getenv(variable); base != nullptr && base[0] == '/') {
        return std::filesystem::path(base);
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(home) / belowHome;
}

} // namespace velmora
