#include "foundation/CrashReporter.hpp"

#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/Logger.hpp"
#include "foundation/PrivateFolder.hpp"
#include "foundation/SignalSafeText.hpp"
#include "foundation/XDGBaseFolder.hpp"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace velmora {

namespace {

// ---- Signal side: everything here is reached from the handler, so it lives in
// static memory prepared by `start`.

constexpr int handledSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
constexpr std::size_t signalCount = std::size(handledSignals);

struct sigaction previousActions[signalCount];
char reportFolder[PATH_MAX];
constexpr std::size_t alternateStackSize = 256 * 1024;
std::atomic<pid_t> crashingThread{0};
void* frames[256];
SignalSafeText reportText;
SignalSafeText temporaryPath;
SignalSafeText finalPath;

std::string_view signalName(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    case SIGTRAP:
        return "SIGTRAP";
    default:
        return "?";
    }
}

pid_t currentThreadID() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

void writeReport(int signal, const siginfo_t* info) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    temporaryPath.clear();
    temporaryPath.append(reportFolder)
        .append("/")
        .appendUTCTime(now.tv_sec, true)
        .append("-")
        .appendDecimal(::getpid())
        .append(CrashReportStore::unfinishedExtension);
    const int fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const std::string_view fatalMessage = lastFatalErrorMessage();
    SignalSafeText& text = reportText;
    text.clear();
    text.append("Velmora crash report\nSignal: ")
        .appendDecimal(signal)
        .append(" (")
        .append(signalName(signal))
        .append(")\nCode: ")
        .appendDecimal(info->si_code);
    // Only a fault has an address; a sent signal carries its sender instead.
    if (info->si_code > 0) {
        text.append("\nAddress: ").appendHex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    } else {
        text.append("\nSent by process: ").appendDecimal(info->si_pid);
    }
    text.append("\nTime: ")
        .appendUTCTime(now.tv_sec)
        .append("\nVersion: ")
        .append(VELMORA_VERSION)
        .append("\nProcess: ")
        .appendDecimal(::getpid())
        .append("\nThread: ")
        .appendDecimal(currentThreadID())
        .append("\nLast fatal error: ")
        .append(fatalMessage.empty() ? "none" : fatalMessage)
        .append("\nFrames:\n");
    writeAll(fd, text.view());
    ::backtrace_symbols_fd(frames, ::backtrace(frames, static_cast<int>(std::size(frames))), fd);
    writeAll(fd, "Memory map:\n");
    copyFileContents("/proc/self/maps", fd);
    writeAll(fd, "End of report\n");
    ::fsync(fd);
    ::close(fd);
    finalPath.clear();
    const std::string_view written = temporaryPath.view();
    finalPath.append(written.substr(0, written.size() - 4)); // without ".tmp"
    ::rename(temporaryPath.c_str(), finalPath.c_str());
}

// Gives the signal to whoever handled it before us (by default: the program ends
// by it, with a core dump where the system keeps them).
void passOn(int signal, const siginfo_t* info, std::size_t index) {
    struct sigaction previous = previousActions[index];
    // An ignored fault would recur forever.
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) {
        previous.sa_handler = SIG_DFL;
    }
    ::sigaction(signal, &previous, nullptr);
    // A fault recurs when its instruction runs again on return, with its own
    // address for the next handler; a sent signal or a trap must be sent again.
    // Blocked until the handler returns, it cannot be lost meanwhile.
    if (info->si_code <= 0 || signal == SIGTRAP) {
        ::syscall(SYS_tgkill, ::getpid(), currentThreadID(), signal);
    }
}

void handleCrash(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    std::size_t index = 0;
    while (index < signalCount && handledSignals[index] != signal) {
        ++index;
    }
    pid_t expected = 0;
    if (!crashingThread.compare_exchange_strong(expected, currentThreadID())) {
        // Another thread is writing its report and will end the process.
        for (;;) {
            timespec pause{0, 100'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
    writeReport(signal, info);
    passOn(signal, info, index);
    errno = savedErrno;
}

bool installHandlers(const std::filesystem::path& folder) {
    // The handler may run after the working folder changed.
    std::error_code error;
    const std::string text = std::filesystem::absolute(folder, error).string();
    if (error || text.size() + 64 >= sizeof reportFolder) {
        return false;
    }
    text.copy(reportFolder, text.size());
    reportFolder[text.size()] = '\0';
    // Its first call loads the unwinder, which allocates: never inside the handler.
    void* probe[1];
    ::backtrace(probe, 1);
    // Mapped, not static: a runtime that frees the alternate stack of a thread
    // (sanitizers do) must not unmap our data. Without one a stack overflow
    // could not be reported; the handler still works.
    void* memory = ::mmap(nullptr, alternateStackSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory != MAP_FAILED) {
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = alternateStackSize;
        ::sigaltstack(&stack, nullptr);
    }
    struct sigaction action {};
    action.sa_sigaction = handleCrash;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A second fault while reporting ends the process instead of re-entering.
    sigemptyset(&action.sa_mask);
    for (const int signal : handledSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (std::size_t i = 0; i < signalCount; ++i) {
        ::sigaction(handledSignals[i], &action, &previousActions[i]);
    }
    return true;
}

// ---- Main-thread side.

const Logger& reporterLog() {
    static const Logger* log = new Logger("com.tovik.Velmora", "Crash Reporter");
    return *log;
}

struct ReporterState {
    std::optional<CrashReportStore> store;
    UserConfirmationHandler handler;
    bool offerScheduled = false;
    bool offered = false;
};

ReporterState& state() {
    static ReporterState* reporter = new ReporterState;
    return *reporter;
}

// The platform asks at a time of its choosing during launch: here, once both the
// store and the handler exist, in a later turn of the main queue.
void scheduleOffer() {
    ReporterState& reporter = state();
    if (!reporter.store || !reporter.handler || reporter.offered || reporter.offerScheduled) {
        return;
    }
    reporter.offerScheduled = true;
    DispatchQueue::main().async([] {
        ReporterState& current = state();
        current.offerScheduled = false;
        if (current.offered || !current.handler) {
            return;
        }
        current.offered = true;
        current.store->offerPendingReports(current.handler);
    });
}

} // namespace

std::optional<std::filesystem::path> CrashReporter::standardFolder() {
    if (std::getenv("VELMORA_TEST") != nullptr) {
        return std::nullopt;
    }
    const auto state = xdgBaseFolder("XDG_STATE_HOME", std::filesystem::path(".local") / "state");
    if (!state) {
        return std::nullopt;
    }
    return *state / "velmora" / "Crashes";
}

std::string_view CrashReporter::version() {
    return VELMORA_VERSION;
}

bool CrashReporter::start(const std::filesystem::path& folder, UserDefaults& defaults) {
    ReporterState& reporter = state();
    if (reporter.store) {
        if (reporter.store->folder() != folder) {
            fatalError("The crash reporter is already started with another folder");
        }
        return true;
    }
    std::error_code error;
    if (!createPrivateFolder(folder, error)) {
        reporterLog().error("Crash reporting is off: cannot make %{public}s: %{public}s",
                            folder.string(), error.message());
        return false;
    }
    if (!installHandlers(folder)) {
        reporterLog().error("Crash reporting is off: the path %{public}s is too long",
                            folder.string());
        return false;
    }
    reporter.store.emplace(folder, defaults);
    scheduleOffer();
    return true;
}

bool CrashReporter::isStarted() {
    return state().store.has_value();
}

void CrashReporter::setUserConfirmationHandler(UserConfirmationHandler handler) {
    state().handler = std::move(handler);
    scheduleOffer();
}

void CrashReporter::notifyWithUserConfirmation(UserConfirmation answer) {
    if (ReporterState& reporter = state(); reporter.store) {
        reporter.store->notifyWithUserConfirmation(answer);
    }
}

} // namespace velmora
