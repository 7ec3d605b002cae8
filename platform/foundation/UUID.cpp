#include "foundation/UUID.hpp"

#include "foundation/FatalError.hpp"

#include <cerrno>
#include <sys/random.h>

namespace velmora {

namespace {

void fillRandom(std::uint8_t* out, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::getrandom(out, count, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fatalError("The system refused random bytes for a UUID");
        }
        out += n;
        count -= static_cast<std::size_t>(n);
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

constexpr bool isDashPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

} // namespace

UUID::UUID() : bytes_{} {
    fillRandom(bytes_.data(), bytes_.size());
    bytes_[6] = static_cast<std::uint8_t>((bytes_[6] & 0x0F) | 0x40);
    bytes_[8] = static_cast<std::uint8_t>((bytes_[8] & 0x3F) | 0x80);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Bytes bytes{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isDashPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            continue;
        }
        const int v = hexValue(text[i]);
        if (v < 0) {
            return std::nullopt;
        }
        bytes[nibble / 2] =
            static_cast<std::uint8_t>(bytes[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
        ++nibble;
    }
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out.push_back('-');
        }
        out.push_back(digits[bytes_[i] >> 4]);
        out.push_back(digits[bytes_[i] & 0x0F]);
    }
    return out;
}

} // namespace velmora

std::size_t std::hash<velmora::UUID>::operator()(const velmora::UUID& uuid) const noexcept {
    // The bytes are random already; fold them rather than rehash.
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    for (int i = 0; i < 8; ++i) {
        a = (a << 8) | uuid.bytes()[static_cast<std::size_t>(i)];
        b = (b << 8) | uuid.bytes()[static_cast<std::size_t>(i + 8)];
    }
    return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ULL));
}
