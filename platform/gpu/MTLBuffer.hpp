#pragma once

#include "gpu/MTLResource.hpp"

#include <cstdint>

namespace velmora {

enum class MTLResourceOptions : uint64_t {
    storageModeShared = 0,
    storageModeManaged = 0x10,
    storageModePrivate = 0x20,
};

class MTLBuffer : public MTLResource {
public:
    virtual int64_t length() const = 0;
    // Host pointer to the bytes; null for private storage.
    virtual void* contents() = 0;
};

} // namespace velmora
