#pragma once

#include "foundation/ErrorDescription.hpp"

#include <exception>
#include <string>

namespace velmora {

// An error its thrower has shown to the user already: passed on so callers
// know the operation failed, but never shown a second time.
class NSPresentedError : public std::exception, public DescribedError {
public:
    explicit NSPresentedError(std::exception_ptr original) : original_(std::move(original)) {
        try {
            std::rethrow_exception(original_);
        } catch (const DescribedError& described) {
            description_ = described.errorDescription();
        } catch (const std::exception& error) {
            description_ = {error.what(), ""};
        } catch (...) {
        }
    }

    const std::exception_ptr& original() const { return original_; }
    const char* what() const noexcept override { return description_.messageText.c_str(); }
    ErrorDescription errorDescription() const override { return description_; }

private:
    std::exception_ptr original_;
    ErrorDescription description_{"", ""};
};

} // namespace velmora
