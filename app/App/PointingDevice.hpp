#pragma once

#include <string_view>

namespace velmora {

// What made a pointer event.
enum class PointingDevice { mouse, stylus, touch };

// "mouse", "stylus" or "touch", as the logs name it.
constexpr std::string_view name(PointingDevice device) {
    switch (device) {
    case PointingDevice::mouse:
        return "mouse";
    case PointingDevice::stylus:
        return "stylus";
    case PointingDevice::touch:
        return "touch";
    }
    return "mouse";
}

} // namespace velmora
