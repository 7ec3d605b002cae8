#include "coding/SharedBytes.hpp"

#include <cstring>

namespace velmora {

SharedBytes::SharedBytes(std::vector<std::uint8_t> bytes) {
    auto owner = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    data_ = owner->data();
    size_ = owner->size();
    owner_ = std::move(owner);
}

SharedBytes SharedBytes::copy(std::span<const std::uint8_t> bytes) {
    return SharedBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

bool operator==(const SharedBytes& a, const SharedBytes& b) {
    return a.size_ == b.size_ &&
           (a.data_ == b.data_ || a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_) == 0);
}

} // namespace velmora
