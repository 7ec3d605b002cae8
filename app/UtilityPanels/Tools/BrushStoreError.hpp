#pragma once

#include "foundation/ErrorDescription.hpp"

#include <stdexcept>
#include <string>

namespace velmora {

// A brush library operation that the file system refused; the store and its
// folder are as they were before the operation. The panel shows it in an alert.
class BrushStoreError : public std::runtime_error, public DescribedError {
public:
    BrushStoreError(std::string messageText, std::string informativeText);

    ErrorDescription errorDescription() const override { return description_; }

private:
    ErrorDescription description_;
};

} // namespace velmora
