#pragma once

#include "foundation/Logger.hpp"

#include <string_view>

namespace velmora {

// The systemd journal, the system log of most Linux desktops.
namespace SystemJournal {

// Whether a journal listens on this machine.
bool isAvailable();

// One entry with the line's priority, and its subsystem and category as fields
// of their own so that `journalctl LOG_CATEGORY=...` finds them.
void send(std::string_view subsystem, std::string_view category, LogLevel level,
          std::string_view message);

} // namespace SystemJournal

} // namespace velmora
