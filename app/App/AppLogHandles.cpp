#include "App/AppLogHandles.hpp"

namespace velmora {

namespace {
constexpr const char* subsystem = "com.tovik.Velmora";
}

// Leaked so that logging while the process exits still finds it.
const Logger& logFileResources() {
    static const Logger* log = new Logger(subsystem, "File Resources");
    return *log;
}

const Logger& logDeviceInput() {
    static const Logger* log = new Logger(subsystem, "Device Input");
    return *log;
}

} // namespace velmora
