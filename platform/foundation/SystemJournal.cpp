#include "foundation/SystemJournal.hpp"

#include <cerrno>
#include <string>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace velmora {

namespace {

int priority(LogLevel level) {
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

} // namespace

bool SystemJournal::isAvailable() {
    return ::access("/run/systemd/journal/socket", W_OK) == 0;
}

void SystemJournal::send(std::string_view subsystem, std::string_view category, LogLevel level,
                         std::string_view message) {
    const std::string text(message);
    const std::string subsystemText(subsystem);
    const std::string categoryText(category);
    ::sd_journal_send("MESSAGE=[%s:%s] %s", subsystemText.c_str(), categoryText.c_str(),
                      text.c_str(), "PRIORITY=%d", priority(level), "SYSLOG_IDENTIFIER=%s",
                      program_invocation_short_name, "LOG_SUBSYSTEM=%s", subsystemText.c_str(),
                      "LOG_CATEGORY=%s", categoryText.c_str(), nullptr);
}

} // namespace velmora
