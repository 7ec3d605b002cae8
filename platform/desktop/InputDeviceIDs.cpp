#include "desktop/InputDeviceIDs.hpp"

#include <QPointingDevice>
#include <map>
#include <mutex>
#include <tuple>

namespace velmora {

namespace {
// Devices are told apart by what they report, not by address: Qt may make a
// new device object for a tool it has seen before.
using Key = std::tuple<QString, qint64, int, int, qint64>;

Key keyFor(const QInputDevice& device) {
    int pointerType = 0;
    qint64 uniqueID = -1;
    if (const auto* pointing = qobject_cast<const QPointingDevice*>(&device)) {
        pointerType = int(pointing->pointerType());
        uniqueID = pointing->uniqueId().numericId();
    }
    return {device.name(), device.systemId(), int(device.type()), pointerType, uniqueID};
}
} // namespace

int64_t InputDeviceIDs::idFor(const QInputDevice* device) {
    if (device == nullptr) {
        return 0;
    }
    static std::mutex mutex;
    static std::map<Key, int64_t> ids;
    std::lock_guard lock(mutex);
    const auto [it, inserted] = ids.emplace(keyFor(*device), int64_t(ids.size()) + 1);
    return it->second;
}

} // namespace velmora
