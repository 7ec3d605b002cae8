#include "CommaLocale.hpp"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

bool trySet() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            return true;
        }
    }
    return false;
}

// Other test runs may build the same locale at the same time: each builds in a
// folder of its own and renames the result into the shared place.
bool buildLocale() {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "velmora-test-locales";
    const fs::path target = folder / "de_DE.UTF-8";
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::exists(target / "LC_NUMERIC")) {
        std::string scratch = (folder / "build-XXXXXX").string();
        if (::mkdtemp(scratch.data()) == nullptr) {
            return false;
        }
        const fs::path built = fs::path(scratch) / "de_DE.UTF-8";
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + built.string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0 || fs::exists(built / "LC_NUMERIC")) {
            fs::rename(built, target, error);
        }
        fs::remove_all(scratch, error);
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
