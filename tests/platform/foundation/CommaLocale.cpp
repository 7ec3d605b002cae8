#include "CommaLocale.hpp"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

bool trySet() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            return true;
        }
    }
    return false;
}

bool buildLocale() {
    static const std::string folder = [] {
        const auto path = std::filesystem::temp_directory_path() / "velmora-test-locales";
        std::filesystem::create_directories(path);
        return path.string();
    }();
    const std::string target = folder + "/de_DE.UTF-8";
    if (!std::filesystem::exists(target + "/LC_NUMERIC")) {
        const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 && !std::filesystem::exists(target + "/LC_NUMERIC")) {
            return false;
        }
    }
    ::setenv("LOCPATH", folder.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

} // namespace

CommaLocale::CommaLocale() {
    active_ = trySet() || buildLocale();
    if (active_) {
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 1.5);
        active_ = std::string(probe) == "1,5";
    }
}

CommaLocale::~CommaLocale() {
    std::setlocale(LC_ALL, "C");
}
