#include "foundation/ByteCount.hpp"

#include "foundation/CFormat.hpp"

#include <cmath>

namespace velmora {

std::string formattedByteCount(std::uint64_t count) {
    if (count < 1024) {
        return std::to_string(count) + " B";
    }
    static constexpr char units[] = {'K', 'M', 'G', 'T', 'P', 'E'};
    const double x = static_cast<double>(count);
    // The unit comes from the logarithm and the rounding afterwards, so a count
    // just below a power of 1024 reads "1024.0" of the lower unit.
    const int exponent = static_cast<int>(std::log(x) / 6.931471805599453);
    const double value = x / std::exp2(exponent * 10.0);
    return cFormat("%.1f %ciB", value, units[exponent - 1]);
}

} // namespace velmora
