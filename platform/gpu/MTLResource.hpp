#pragma once

#include "gpu/MTLTypes.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

class MTLDevice;

// What textures and buffers share: a label, a storage mode and the device
// that made them.
class MTLResource {
public:
    virtual ~MTLResource() = default;

    virtual std::optional<std::string> label() const = 0;
    virtual void setLabel(std::optional<std::string> label) = 0;
    virtual MTLStorageMode storageMode() const = 0;
    virtual std::shared_ptr<MTLDevice> device() const = 0;
    // Bytes the resource holds in memory right now (untouched memory costs nothing).
    virtual size_t allocatedSize() const = 0;
    // Object identity, as the platform's `hash`.
    size_t hash() const { return reinterpret_cast<size_t>(this); }
};

} // namespace velmora
