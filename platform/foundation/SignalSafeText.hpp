#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

// Text built in a fixed buffer with nothing but async-signal-safe work (no
// allocation, locks or stdio), for the crash handler. What does not fit is cut.
class SignalSafeText {
public:
    static constexpr std::size_t capacity = 8192;

    SignalSafeText& append(std::string_view text);
    SignalSafeText& appendDecimal(std::int64_t value);
    SignalSafeText& appendHex(std::uintptr_t value); // "0x" and lower-case digits
    // "2026-12-08T22:41:07Z", or "20261208T224107Z" when `compact` (file names).
    SignalSafeText& appendUTCTime(std::int64_t secondsSince1970, bool compact = false);

    void clear() { size_ = 0; }
    std::string_view view() const { return {data_, size_}; }
    // Terminated, for system calls that take paths.
    const char* c_str();

private:
    char data_[capacity + 1];
    std::size_t size_ = 0;
};

// Writes all of `text` to `fd`, retrying after interruptions; false on failure.
bool writeAll(int fd, std::string_view text);

// Copies the file at `path` (e.g. "/proc/self/maps") to `fd`; false on failure.
bool copyFileContents(const char* path, int fd);

} // namespace velmora
