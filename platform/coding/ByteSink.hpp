#pragma once

#include "coding/SharedBytes.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora {

// Where an encoder streams its output.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    // The same bytes, which the sink may keep (with their owner) instead of copying.
    virtual void writeShared(const SharedBytes& bytes) { write(bytes.span()); }
};

class MemoryByteSink final : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace velmora
