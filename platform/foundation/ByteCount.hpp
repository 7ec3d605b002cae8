#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// "1023 B", "1.5 KiB", "1024.0 KiB" (just below 1 MiB), "16.0 EiB"; always with
// a decimal point, whatever the user's locale.
std::string formattedByteCount(std::uint64_t count);

} // namespace velmora
