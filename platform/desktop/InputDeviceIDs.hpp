#pragma once

#include <cstdint>

class QInputDevice;

namespace velmora {

// The platform's `deviceID`: one number per input device, and per tool of a
// tablet (Qt gives each pen, eraser and puck a device of its own), the same on
// its proximity and pointer events for the life of the process.
class InputDeviceIDs {
public:
    // 0 for no device.
    static int64_t idFor(const QInputDevice* device);
};

} // namespace velmora
