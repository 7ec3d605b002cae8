#pragma once

#include "foundation/LogCapture.hpp"
#include "foundation/LogFile.hpp"
#include "foundation/Logger.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace velmora {

// Where the lines of the system log go. Info and above are the system's record:
// the journal where there is one, else a bounded file in the user's state
// folder. The terminal gets errors and faults only, unless a developer asks
// for more with VELMORA_LOG=debug (or info, default).
struct LogDestinations {
    static constexpr LogLevel recordedLevel = LogLevel::info;

    LogLevel terminalLevel = LogLevel::error;
    bool journal = false;
    // Without the journal; empty for none.
    std::filesystem::path file;

    // Tests (VELMORA_TEST) write to neither the journal nor the user's files.
    using Environment = std::function<const char*(const char* name)>;
    static LogDestinations fromEnvironment(const Environment& environment, bool journalAvailable);

    friend bool operator==(const LogDestinations&, const LogDestinations&) = default;
};

// Writes each line to the destinations that take its level.
class LogOutput {
public:
    explicit LogOutput(LogDestinations destinations, int terminal = STDERR_FILENO);

    const LogDestinations& destinations() const { return destinations_; }
    // The lowest level any destination takes.
    LogLevel lowestLevel() const;
    void write(const LogRecord& record) const;

    // "2026-01-02 10:11:12.345 Velmora[pid:tid] [subsystem:category] <Level> message",
    // without the level at the default level.
    static std::string formatLine(const LogRecord& record);

private:
    LogDestinations destinations_;
    int terminal_;
    std::unique_ptr<LogFile> file_;
};

} // namespace velmora
