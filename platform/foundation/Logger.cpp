#include "foundation/Logger.hpp"

#include "foundation/LogCapture.hpp"
#include "foundation/LogOutput.hpp"
#include "foundation/SystemJournal.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace velmora {

const OSSignpostID OSSignpostID::exclusive{0xEEEEB0B5B2B2EEEEULL};
const OSSignpostID OSSignpostID::invalid{~0ULL};
const OSSignpostID OSSignpostID::null{0};

namespace {

std::atomic<std::uint64_t> nextSignpostID{1};

// Where lines go. Leaked on purpose: threads may still log during exit.
class LogRouter {
public:
    static LogRouter& shared() {
        static LogRouter* router = new LogRouter;
        return *router;
    }

    bool wants(LogLevel level) const {
        return level >= lowestLevel_ || captureCount_.load(std::memory_order_relaxed) > 0;
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
        if (!silenced && level >= lowestLevel_) {
            output_.write({logger.subsystem(), logger.category(), level, std::move(message)});
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
        : output_(LogDestinations::fromEnvironment(std::getenv, SystemJournal::isAvailable())),
          lowestLevel_(output_.lowestLevel()) {}

    const LogOutput output_;
    const LogLevel lowestLevel_;
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
