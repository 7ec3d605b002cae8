#include "foundation/CrashReportStore.hpp"

#include "foundation/Logger.hpp"
#include "foundation/PrivateFolder.hpp"
#include "foundation/UserDefaults.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <unistd.h>
#include <utility>

namespace velmora {

namespace fs = std::filesystem;

namespace {

const Logger& crashLog() {
    static const Logger* log = new Logger("com.tovik.Velmora", "Crash Reporter");
    return *log;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// An unfinished report belongs to a live process while its writer (the pid in
// "<time>-<pid>.crash.tmp") still runs: another instance may be crashing now.
bool writerIsAlive(std::string_view name) {
    const std::string_view stem =
        name.substr(0, name.size() - CrashReportStore::unfinishedExtension.size());
    const auto dash = stem.rfind('-');
    if (dash == std::string_view::npos) {
        return false;
    }
    pid_t pid = 0;
    const auto digits = stem.substr(dash + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (ec != std::errc() || end != digits.data() + digits.size() || pid <= 0) {
        return false;
    }
    return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM;
}

// Never replaces a report already there.
fs::path freeName(const fs::path& folder, const fs::path& name) {
    fs::path target = folder / name;
    std::error_code error;
    for (int n = 2; fs::exists(target, error) || error; ++n) {
        target =
            folder / (name.stem().string() + "-" + std::to_string(n) + name.extension().string());
        if (n > 1000) {
            break;
        }
    }
    return target;
}

} // namespace

CrashReportStore::CrashReportStore(fs::path folder, UserDefaults& defaults)
    : folder_(std::move(folder)), defaults_(defaults) {}

std::vector<fs::path> CrashReportStore::pendingReports() const {
    std::vector<fs::path> reports;
    std::error_code error;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) {
            continue;
        }
        const std::string name = it->path().filename().string();
        if (endsWith(name, reportExtension)) {
            reports.push_back(it->path());
        } else if (endsWith(name, unfinishedExtension) && !writerIsAlive(name)) {
            // The handler died while writing; what it wrote still tells something.
            fs::path finished = it->path();
            finished.replace_extension();
            finished = freeName(folder_, finished.filename());
            std::error_code renameError;
            fs::rename(it->path(), finished, renameError);
            if (renameError) {
                crashLog().error("Cannot keep the unfinished crash report %{public}s: %{public}s",
                                 it->path().string(), renameError.message());
                continue;
            }
            reports.push_back(finished);
        }
    }
    if (error && error != std::errc::no_such_file_or_directory) {
        crashLog().error("Cannot list the crash reports in %{public}s: %{public}s",
                         folder_.string(), error.message());
    }
    // Names start with the time, so this is oldest first.
    std::sort(reports.begin(), reports.end());
    return reports;
}

bool CrashReportStore::alwaysSend() const {
    return defaults_.boolForKey(alwaysSendKey);
}

void CrashReportStore::offerPendingReports(const UserConfirmationHandler& handler) {
    if (!handler) {
        return;
    }
    std::vector<fs::path> reports = pendingReports();
    if (reports.empty()) {
        return;
    }
    if (alwaysSend()) {
        confirm(reports);
        return;
    }
    awaiting_ = reports;
    // The handler may answer before it returns, which clears `awaiting_`: it gets a copy.
    if (!handler(reports)) {
        confirm(std::exchange(awaiting_, {}));
    }
}

void CrashReportStore::notifyWithUserConfirmation(UserConfirmation answer) {
    const std::vector<fs::path> reports = std::exchange(awaiting_, {});
    switch (answer) {
    case UserConfirmation::dontSend:
        for (const auto& report : reports) {
            std::error_code error;
            fs::remove(report, error);
            if (error) {
                crashLog().error("Cannot delete the crash report %{public}s: %{public}s",
                                 report.string(), error.message());
            }
        }
        return;
    case UserConfirmation::always:
        defaults_.set(true, alwaysSendKey);
        [[fallthrough]];
    case UserConfirmation::send:
        confirm(reports);
        return;
    }
    // Any other value answers nothing: the reports are offered again at the next start.
    crashLog().error("Unknown crash report confirmation %d", static_cast<int>(answer));
}

void CrashReportStore::confirm(const std::vector<fs::path>& reports) const {
    if (reports.empty()) {
        return;
    }
    const fs::path confirmed = confirmedFolder();
    std::error_code error;
    if (!createPrivateFolder(confirmed, error)) {
        crashLog().error("Cannot make the folder %{public}s: %{public}s", confirmed.string(),
                         error.message());
        return;
    }
    for (const auto& report : reports) {
        fs::rename(report, freeName(confirmed, report.filename()), error);
        if (error && error != std::errc::no_such_file_or_directory) {
            crashLog().error("Cannot confirm the crash report %{public}s: %{public}s",
                             report.string(), error.message());
        }
    }
}

} // namespace velmora
