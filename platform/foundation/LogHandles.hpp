#pragma once

#include "foundation/Logger.hpp"

namespace velmora {

// The framework's log handles, all under the subsystem "com.tovik.Velmora".
// Each is made once, on first use from any thread, and kept for the process.
const Logger& userActionsLogs();
const Logger& renderingStatisticsLogs();
const Logger& drawingEngineLogs();

} // namespace velmora
