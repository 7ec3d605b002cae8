#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// A universally unique identifier. Like the platform's, a default-constructed
// UUID is a fresh random (version 4) one, so every new object gets its own.
class UUID {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    UUID();
    explicit constexpr UUID(const Bytes& bytes) : bytes_(bytes) {}

    static UUID random() { return UUID(); }

    // The 36-character form "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in either case;
    // nothing else (no braces, no surrounding blanks) is accepted.
    static std::optional<UUID> fromString(std::string_view text);

    // Upper case, as the platform writes it.
    std::string uuidString() const;
    std::string description() const { return uuidString(); }

    const Bytes& bytes() const { return bytes_; }

    friend bool operator==(const UUID&, const UUID&) = default;
    friend auto operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_;
};

} // namespace velmora

template <> struct std::hash<velmora::UUID> {
    std::size_t operator()(const velmora::UUID& uuid) const noexcept;
};
