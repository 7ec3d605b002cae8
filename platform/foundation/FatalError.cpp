#include "foundation/FatalError.hpp"

#include <cstdio>
#include <cstdlib>

namespace velmora {

void fatalError(std::string_view message, std::source_location where) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s:%u: Fatal error: %.*s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<int>(message.size()),
                 message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace velmora
