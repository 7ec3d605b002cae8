#pragma once

#include <source_location>
#include <string_view>

namespace velmora {

// Ends the program for a state that cannot occur: prints
// "Fatal error: <message>" with the caller's file and line, then aborts.
[[noreturn]] void fatalError(std::string_view message = {},
                             std::source_location where = std::source_location::current());

// Stops the program unless `condition` holds; the guard of every invariant that
// protects memory safety.
inline void precondition(bool condition, std::string_view message = {},
                         std::source_location where = std::source_location::current()) {
    if (!condition) [[unlikely]] {
        fatalError(message, where);
    }
}

} // namespace velmora
