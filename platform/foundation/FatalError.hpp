#pragma once

#include <source_location>
#include <string_view>

namespace velmora {

// Ends the program for a state that cannot occur: prints
// "Fatal error: <message>" with the caller's file and line, then aborts.
[[noreturn]] void fatalError(std::string_view message = {},
                             std::source_location where = std::source_location::current());

// The line the first `fatalError` of the process printed, without its newline;
// empty before. Kept in static memory, so a crash handler may read it.
std::string_view lastFatalErrorMessage() noexcept;

// Stops the program unless `condition` holds; the guard of every invariant that
// protects memory safety.
inline void precondition(bool condition, std::string_view message = {},
                         std::source_location where = std::source_location::current()) {
    if (!condition) [[unlikely]] {
        fatalError(message, where);
    }
}

} // namespace velmora
