#pragma once

#include <optional>
#include <string>

namespace velmora {

class MTLCommandEncoder {
public:
    virtual ~MTLCommandEncoder() = default;

    virtual std::optional<std::string> label() const = 0;
    virtual void setLabel(std::optional<std::string> label) = 0;
    // Hands the encoded commands to the command buffer; the encoder takes no more.
    virtual void endEncoding() = 0;
};

} // namespace velmora
