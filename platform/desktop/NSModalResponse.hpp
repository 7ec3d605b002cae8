#pragma once

#include <cstdint>

namespace velmora {

// The answer of a modal session, a sheet or an alert, by the platform's values.
using NSModalResponse = std::int64_t;

inline constexpr NSModalResponse NSModalResponseOK = 1;
inline constexpr NSModalResponse NSModalResponseCancel = 0;
inline constexpr NSModalResponse NSModalResponseStop = -1000;
inline constexpr NSModalResponse NSModalResponseAbort = -1001;
inline constexpr NSModalResponse NSModalResponseContinue = -1002;
// Alert buttons answer 1000, 1001, ... in the order they were added.
inline constexpr NSModalResponse NSAlertFirstButtonReturn = 1000;
inline constexpr NSModalResponse NSAlertSecondButtonReturn = 1001;
inline constexpr NSModalResponse NSAlertThirdButtonReturn = 1002;

} // namespace velmora
