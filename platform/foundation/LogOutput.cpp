#include "foundation/LogOutput.hpp"

#include "foundation/SystemJournal.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <string_view>
#include <sys/syscall.h>

namespace velmora {

namespace {

// Relative values are to be ignored, as the XDG rules say.
std::filesystem::path stateFolder(const LogDestinations::Environment& environment) {
    if (const char* state = environment("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        return state;
    }
    if (const char* home = environment("HOME"); home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".local" / "state";
    }
    return {};
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

LogDestinations LogDestinations::fromEnvironment(const Environment& environment,
                                                 bool journalAvailable) {
    LogDestinations destinations;
    const char* value = environment("VELMORA_LOG");
    const std::string_view level = value != nullptr ? value : "";
    if (level == "debug") {
        destinations.terminalLevel = LogLevel::debug;
    } else if (level == "info") {
        destinations.terminalLevel = LogLevel::info;
    } else if (level == "default") {
        destinations.terminalLevel = LogLevel::defaultLevel;
    }
    if (environment("VELMORA_TEST") != nullptr) {
        return destinations;
    }
    if (journalAvailable) {
        destinations.journal = true;
    } else if (const auto folder = stateFolder(environment); !folder.empty()) {
        destinations.file = folder / "velmora" / "velmora.log";
    }
    return destinations;
}

LogOutput::LogOutput(LogDestinations destinations, int terminal)
    : destinations_(std::move(destinations)), terminal_(terminal) {
    if (!destinations_.journal && !destinations_.file.empty()) {
        file_ = std::make_unique<LogFile>(destinations_.file);
    }
}

LogLevel LogOutput::lowestLevel() const {
    const bool recorded = destinations_.journal || file_;
    return recorded ? std::min(destinations_.terminalLevel, LogDestinations::recordedLevel)
                    : destinations_.terminalLevel;
}

void LogOutput::write(const LogRecord& record) const {
    const bool toTerminal = record.level >= destinations_.terminalLevel;
    const bool recorded = record.level >= LogDestinations::recordedLevel;
    if (recorded && destinations_.journal) {
        SystemJournal::send(record.subsystem, record.category, record.level, record.message);
    }
    if (!toTerminal && !(recorded && file_)) {
        return;
    }
    const std::string line = formatLine(record);
    if (toTerminal) {
        writeAll(terminal_, line);
    }
    if (recorded && file_) {
        file_->append(line);
    }
}

std::string LogOutput::formatLine(const LogRecord& record) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    std::string line;
    line.reserve(record.message.size() + 96);
    line += stamp;
    line += '.';
    const char digits[] = {static_cast<char>('0' + millis / 100),
                           static_cast<char>('0' + millis / 10 % 10),
                           static_cast<char>('0' + millis % 10), '\0'};
    line += digits;
    line += ' ';
    line += program_invocation_short_name;
    line += '[';
    line += std::to_string(::getpid());
    line += ':';
    line += std::to_string(::syscall(SYS_gettid));
    line += "] [";
    line += record.subsystem;
    line += ':';
    line += record.category;
    line += "] ";
    if (record.level != LogLevel::defaultLevel) {
        line += '<';
        line += logLevelName(record.level);
        line += "> ";
    }
    line += record.message;
    line += '\n';
    return line;
}

} // namespace velmora
