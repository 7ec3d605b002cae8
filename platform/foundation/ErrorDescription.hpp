#pragma once

#include <string>

namespace velmora {

// How a failure is shown to the user: a short headline and a longer explanation.
struct ErrorDescription {
    std::string messageText;
    std::string informativeText;

    ErrorDescription(std::string messageText, std::string informativeText)
        : messageText(std::move(messageText)), informativeText(std::move(informativeText)) {}

    friend bool operator==(const ErrorDescription&, const ErrorDescription&) = default;
};

// Adopted by error types (exceptions) that describe themselves to the user; an
// alert for a caught exception looks for it with dynamic_cast and falls back to
// the exception's what() otherwise. Not derived from std::exception, so an
// adopter can keep its own exception base without an ambiguous one.
class DescribedError {
public:
    virtual ~DescribedError() = default;
    virtual ErrorDescription errorDescription() const = 0;
};

} // namespace velmora
