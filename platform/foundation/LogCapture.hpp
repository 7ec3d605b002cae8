#pragma once

#include "foundation/Logger.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace velmora {

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::defaultLevel;
    std::string message;

    friend bool operator==(const LogRecord&, const LogRecord&) = default;
};

// Collects every log line of the process, from any thread, while it exists.
// By default it also keeps the lines off standard error and syslog.
class LogCapture {
public:
    explicit LogCapture(bool silenceSystemLog = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const;
    // The messages of one category, in order.
    std::vector<std::string> messages(std::string_view category) const;
    void clear();

    bool silencesSystemLog() const { return silence_; }
    void append(LogRecord record);

private:
    bool silence_;
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

struct SignpostRecord {
    std::string subsystem;
    std::string category;
    SignpostType type = SignpostType::event;
    std::string name;
    OSSignpostID id;
    std::string message;

    friend bool operator==(const SignpostRecord&, const SignpostRecord&) = default;
};

// Collects every signpost of the process while it exists.
class SignpostRecorder {
public:
    SignpostRecorder();
    ~SignpostRecorder();
    SignpostRecorder(const SignpostRecorder&) = delete;
    SignpostRecorder& operator=(const SignpostRecorder&) = delete;

    std::vector<SignpostRecord> records() const;
    void clear();

    void append(SignpostRecord record);

private:
    mutable std::mutex mutex_;
    std::vector<SignpostRecord> records_;
};

} // namespace velmora
