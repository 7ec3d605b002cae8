#pragma once

#include "foundation/Logger.hpp"

namespace velmora {

// The application's own log handles, under the subsystem "com.tovik.Velmora";
// each made on first use and kept for the process.
const Logger& logFileResources();
const Logger& logDeviceInput();

} // namespace velmora
