#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

// A failure the GPU interface reports to its caller (a missing function, a pipeline
// that cannot be made, a command that failed while its buffer ran).
class MTLError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace velmora
