#pragma once

#include "foundation/LogFormat.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The system log's message types, least to most severe.
enum class LogLevel { debug, info, defaultLevel, error, fault };

std::string_view logLevelName(LogLevel level);

enum class SignpostType { begin, end, event };

class Logger;

// Pairs the begin and end of one signpost interval; `exclusive` marks events
// that need no pairing.
struct OSSignpostID {
    std::uint64_t rawValue = 0;

    static const OSSignpostID exclusive;
    static const OSSignpostID invalid;
    static const OSSignpostID null;

    constexpr OSSignpostID() = default;
    constexpr explicit OSSignpostID(std::uint64_t raw) : rawValue(raw) {}
    // A fresh identifier, unique within the process.
    explicit OSSignpostID(const Logger& log);

    friend bool operator==(const OSSignpostID&, const OSSignpostID&) = default;
};

// A handle of the system log: every line carries its subsystem and category.
// Lines go where `LogDestinations` says (the journal or a log file, errors also
// to standard error) and to every open `LogCapture`; signposts only to open
// `SignpostRecorder`s, so they cost a load and a branch while nobody records.
class Logger {
public:
    Logger(std::string subsystem, std::string category);

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    template <class... Args>
    void log(LogLevel level, std::string_view format, const Args&... args) const {
        if (!wants(level)) {
            return;
        }
        const std::array<LogArgument, sizeof...(Args)> list{LogArgument(args)...};
        write(level, formatLogMessage(format, list));
    }
    template <class... Args> void log(std::string_view format, const Args&... args) const {
        log(LogLevel::defaultLevel, format, args...);
    }
    template <class... Args> void debug(std::string_view format, const Args&... args) const {
        log(LogLevel::debug, format, args...);
    }
    template <class... Args> void info(std::string_view format, const Args&... args) const {
        log(LogLevel::info, format, args...);
    }
    template <class... Args> void error(std::string_view format, const Args&... args) const {
        log(LogLevel::error, format, args...);
    }
    template <class... Args> void fault(std::string_view format, const Args&... args) const {
        log(LogLevel::fault, format, args...);
    }

    template <class... Args>
    void signpost(SignpostType type, std::string_view name, OSSignpostID id,
                  std::string_view format = {}, const Args&... args) const {
        if (!signpostsRecorded()) [[likely]] {
            return;
        }
        const std::array<LogArgument, sizeof...(Args)> list{LogArgument(args)...};
        writeSignpost(type, name, id, formatLogMessage(format, list));
    }

    static bool signpostsRecorded();

private:
    bool wants(LogLevel level) const;
    void write(LogLevel level, std::string message) const;
    void writeSignpost(SignpostType type, std::string_view name, OSSignpostID id,
                       std::string message) const;

    std::string subsystem_;
    std::string category_;
};

} // namespace velmora
