#include "Extensions/AppKitExtensions.hpp"

#include "foundation/ErrorDescription.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace velmora {

std::shared_ptr<NSAlert> makeAlert(const std::exception& error) {
    if (const auto* described = dynamic_cast<const DescribedError*>(&error)) {
        const ErrorDescription description = described->errorDescription();
        auto alert = std::make_shared<NSAlert>();
        alert->messageText = description.messageText;
        alert->informativeText = description.informativeText;
        return alert;
    }
    return NSAlert::alertWithError(error);
}

std::shared_ptr<NSAlert> makeAlert(std::exception_ptr error) {
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const std::exception& thrown) {
        return makeAlert(thrown);
    } catch (const DescribedError& thrown) {
        const ErrorDescription description = thrown.errorDescription();
        auto alert = std::make_shared<NSAlert>();
        alert->messageText = description.messageText;
        alert->informativeText = description.informativeText;
        return alert;
    } catch (...) {
    }
    auto alert = std::make_shared<NSAlert>();
    alert->messageText = "The operation couldn’t be completed.";
    return alert;
}

std::string homeFolderPath() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir) {
        return found->pw_dir;
    }
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

std::string abbreviatingWithTildeInPath(std::string_view path, std::string_view home) {
    // "/home/someone/" names the same folder as "/home/someone".
    while (home.size() > 1 && home.back() == '/') {
        home.remove_suffix(1);
    }
    if (home.empty() || home == "/") {
        return std::string(path);
    }
    if (path == home) {
        return "~";
    }
    if (path.size() > home.size() && path.substr(0, home.size()) == home &&
        path[home.size()] == '/') {
        return "~" + std::string(path.substr(home.size()));
    }
    return std::string(path);
}

std::string abbreviatingWithTildeInPath(const URL& url) {
    return abbreviatingWithTildeInPath(url.path(), homeFolderPath());
}

} // namespace velmora
