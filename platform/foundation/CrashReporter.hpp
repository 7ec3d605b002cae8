#pragma once

#include "foundation/CrashReportStore.hpp"
#include "foundation/UserDefaults.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace velmora {

// Writes a report when the program crashes and, at the next start, asks the
// user what to do with it. Reports stay on disk: nothing is uploaded.
//
// On SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT and SIGTRAP a handler on an
// alternate stack (of the thread that called `start`) writes the signal, fault
// address, time, version, last `fatalError` message, stack frames and memory
// map to "<time>-<pid>.crash.tmp", renames it ".crash", and passes the signal on
// to the handler that was there before (by default: the program ends by it).
// A second thread that crashes meanwhile waits for the first to end the process.
class CrashReporter {
public:
    // $XDG_STATE_HOME/velmora/Crashes, else ~/.local/state/velmora/Crashes; none
    // when VELMORA_TEST is set, so that tests never touch the user's reports.
    static std::optional<std::filesystem::path> standardFolder();

    // The version written into reports.
    static std::string_view version();

    // Main thread, once, first thing at launch. Makes `folder` (mode 0700) and
    // installs the handlers; pending reports of earlier crashes are offered to the
    // confirmation handler in a later turn of the main queue. False, with the
    // reason logged, when the folder cannot be used: the program goes on without.
    static bool start(const std::filesystem::path& folder,
                      UserDefaults& defaults = UserDefaults::standard());
    static bool isStarted();

    // Main thread. Pending reports wait until a handler is set.
    static void setUserConfirmationHandler(UserConfirmationHandler handler);
    // Main thread. The user's answer for the reports last given to the handler;
    // without an answer they stay pending and are offered again at the next start.
    static void notifyWithUserConfirmation(UserConfirmation answer);
};

} // namespace velmora
