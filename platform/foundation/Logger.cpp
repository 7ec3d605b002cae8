#include "foundation/Logger.hpp"

#include "foundation/LogCapture.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string_view>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace velmora {

const OSSignpostID OSSignpostID::exclusive{0xEEEEB0B5B2B2EEEEULL};
const OSSignpostID OSSignpostID::invalid{~0ULL};
const OSSignpostID OSSignpostID::null{0};

namespace {

std::atomic<std::uint64_t> nextSignpostID{1};

LogLevel minimumLevelFromEnvironment() {
    const char* value = std::getenv("VELMORA_LOG_LEVEL");
    const std::string_view level = value != nullptr ? value : "";
    if (level == "debug") {
        return LogLevel::debug;
    }
    if (level == "info") {
        return LogLevel::info;
    }
    if (level == "error") {
        return LogLevel::error;
    }
    return LogLevel::defaultLevel;
}

int syslogPriority(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return LOG_DEBUG;
    case LogLevel::info:
        return LOG_INFO;
    case LogLevel::defaultLevel:
        return LOG_NOTICE;
    case LogLevel::error:
        return LOG_ERR;
    case LogLevel::fault:
        return LOG_CRIT;
    }
    return LOG_NOTICE;
}

// Where lines go. Leaked on purpose: threads may still log during exit.
class LogRouter {
public:
    static LogRouter& shared() {
        static LogRouter* router = new LogRouter;
        return *router;
    }

    bool wants(LogLevel level) const {
        return level >= minimumLevel_ || captureCount_.load(std::memory_order_relaxed) > 0;
    }

    bool recordsSignposts() const { return recorderCount_.load(std::memory_order_relaxed) > 0; }

    void add(LogCapture* capture) {
        const std::lock_guard lock(mutex_);
        captures_.push_back(capture);
        captureCount_.store(captures_.size(), std::memory_order_relaxed);
    }
    void remove(LogCapture* capture) {
        const std::lock_guard lock(mutex_);
        std::erase(captures_, capture);
        captureCount_.store(captures_.size(), std::memory_order_relaxed);
    }
    void add(SignpostRecorder* recorder) {
        const std::lock_guard lock(mutex_);
        recorders_.push_back(recorder);
        recorderCount_.store(recorders_.size(), std::memory_order_relaxed);
    }
    void remove(SignpostRecorder* recorder) {
        const std::lock_guard lock(mutex_);
        std::erase(recorders_, recorder);
        recorderCount_.store(recorders_.size(), std::memory_order_relaxed);
    }

    void write(const Logger& logger, LogLevel level, std::string message) {
        bool silenced = false;
        {
            const std::lock_guard lock(mutex_);
            for (LogCapture* capture : captures_) {
                silenced = silenced || capture->silencesSystemLog();
                capture->append({logger.subsystem(), logger.category(), level, message});
            }
        }
        if (silenced || level < minimumLevel_) {
            return;
        }
        writeToStandardError(logger, level, message);
        if (useSyslog_) {
            std::call_once(syslogOpened_, [] { ::openlog(nullptr, LOG_PID, LOG_USER); });
            ::syslog(syslogPriority(level), "[%s:%s] %s", logger.subsystem().c_str(),
                     logger.category().c_str(), message.c_str());
        }
    }

    void writeSignpost(SignpostRecord record) {
        const std::lock_guard lock(mutex_);
        for (SignpostRecorder* recorder : recorders_) {
            recorder->append(record);
        }
    }

private:
    LogRouter()
        : minimumLevel_(minimumLevelFromEnvironment()),
          useSyslog_(std::getenv("VELMORA_TEST") == nullptr) {}

    static void writeToStandardError(const Logger& logger, LogLevel level,
                                     const std::string& message) {
        using namespace std::chrono;
        const auto now = system_clock::now();
        const std::time_t seconds = system_clock::to_time_t(now);
        const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
        std::tm local{};
        ::localtime_r(&seconds, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

        std::string line;
        line.reserve(message.size() + 96);
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
        line += logger.subsystem();
        line += ':';
        line += logger.category();
        line += "] ";
        if (level != LogLevel::defaultLevel) {
            line += '<';
            line += logLevelName(level);
            line += "> ";
        }
        line += message;
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
    }

    const LogLevel minimumLevel_;
    const bool useSyslog_;
    std::once_flag syslogOpened_;
    std::mutex mutex_;
    std::vector<LogCapture*> captures_;
    std::vector<SignpostRecorder*> recorders_;
    std::atomic<std::size_t> captureCount_{0};
    std::atomic<std::size_t> recorderCount_{0};
};

} // namespace

std::string_view logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "Debug";
    case LogLevel::info:
        return "Info";
    case LogLevel::defaultLevel:
        return "Default";
    case LogLevel::error:
        return "Error";
    case LogLevel::fault:
        return "Fault";
    }
    return "Default";
}

OSSignpostID::OSSignpostID(const Logger&)
    : rawValue(nextSignpostID.fetch_add(1, std::memory_order_relaxed)) {}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

bool Logger::signpostsRecorded() {
    return LogRouter::shared().recordsSignposts();
}

bool Logger::wants(LogLevel level) const {
    return LogRouter::shared().wants(level);
}

void Logger::write(LogLevel level, std::string message) const {
    LogRouter::shared().write(*this, level, std::move(message));
}

void Logger::writeSignpost(SignpostType type, std::string_view name, OSSignpostID id,
                           std::string message) const {
    LogRouter::shared().writeSignpost(
        {subsystem_, category_, type, std::string(name), id, std::move(message)});
}

LogCapture::LogCapture(bool silenceSystemLog) : silence_(silenceSystemLog) {
    LogRouter::shared().add(this);
}

LogCapture::~LogCapture() {
    LogRouter::shared().remove(this);
}

std::vector<LogRecord> LogCapture::records() const {
    const std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> LogCapture::messages(std::string_view category) const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const LogRecord& record : records_) {
        if (record.category == category) {
            out.push_back(record.message);
        }
    }
    return out;
}

void LogCapture::clear() {
    const std::lock_guard lock(mutex_);
    records_.clear();
}

void LogCapture::append(LogRecord record) {
    const std::lock_guard lock(mutex_);
    records_.push_back(std::move(record));
}

SignpostRecorder::SignpostRecorder() {
    LogRouter::shared().add(this);
}

SignpostRecorder::~SignpostRecorder() {
    LogRouter::shared().remove(this);
}

std::vector<SignpostRecord> SignpostRecorder::records() const {
    const std::lock_guard lock(mutex_);
    return records_;
}

void SignpostRecorder::clear() {
    const std::lock_guard lock(mutex_);
    records_.clear();
}

void SignpostRecorder::append(SignpostRecord record) {
    const std::lock_guard lock(mutex_);
    records_.push_back(std::move(record));
}

} // namespace velmora
