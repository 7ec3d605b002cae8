#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace velmora {

class UserDefaults;

// The user's answer to "send the reports of the last crash?", by the raw values
// the prompt's buttons give.
enum class UserConfirmation { dontSend = 0, send = 1, always = 2 };

// Given the reports waiting for an answer; returns true when it will ask the
// user and later call `notifyWithUserConfirmation`, false to have them sent
// without asking.
using UserConfirmationHandler =
    std::function<bool(const std::vector<std::filesystem::path>& reports)>;

// The crash reports on disk: "<time>-<pid>.crash" files in one folder wait for
// the user's answer; confirmed ones move to its "Confirmed" folder (nothing is
// uploaded). File failures are logged and leave the reports where they are.
class CrashReportStore {
public:
    static constexpr std::string_view alwaysSendKey = "CrashReporterAlwaysSend";
    static constexpr std::string_view confirmedFolderName = "Confirmed";
    static constexpr std::string_view reportExtension = ".crash";
    static constexpr std::string_view unfinishedExtension = ".crash.tmp";

    CrashReportStore(std::filesystem::path folder, UserDefaults& defaults);

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path confirmedFolder() const { return folder_ / confirmedFolderName; }

    // Reports of earlier crashes not yet answered, oldest first. A report whose
    // writer died before finishing it is kept, as far as it got.
    std::vector<std::filesystem::path> pendingReports() const;

    bool alwaysSend() const;

    // Hands the pending reports to `handler`, unless the user chose to always
    // send them, or the handler declines to ask: then they are confirmed at once.
    void offerPendingReports(const UserConfirmationHandler& handler);

    // The reports handed to the handler and not yet answered.
    const std::vector<std::filesystem::path>& awaitingReports() const { return awaiting_; }

    // Applies the answer to the awaiting reports: `dontSend` deletes them, `send`
    // confirms them, `always` also confirms every later report without asking.
    void notifyWithUserConfirmation(UserConfirmation answer);

private:
    void confirm(const std::vector<std::filesystem::path>& reports) const;

    std::filesystem::path folder_;
    UserDefaults& defaults_;
    std::vector<std::filesystem::path> awaiting_;
};

} // namespace velmora
