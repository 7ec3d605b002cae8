#include "foundation/LogHandles.hpp"

namespace velmora {

namespace {
constexpr const char* subsystem = "com.tovik.Velmora";
}

// Leaked so that threads still logging while the process exits find them alive.
const Logger& userActionsLogs() {
    static const Logger* log = new Logger(subsystem, "User Actions");
    return *log;
}

const Logger& renderingStatisticsLogs() {
    static const Logger* log = new Logger(subsystem, "Rendering Statistics");
    return *log;
}

const Logger& drawingEngineLogs() {
    static const Logger* log = new Logger(subsystem, "Drawing Engine");
    return *log;
}

} // namespace velmora
