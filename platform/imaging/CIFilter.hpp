#pragma once

#include "imaging/CIImage.hpp"
#include "imaging/CIVector.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velmora {

inline constexpr std::string_view kCIInputImageKey = "inputImage";

// A named filter with keyed parameters. "CIColorMatrix" multiplies the
// straight colour (r, g, b, a) by the rows "inputRVector", "inputGVector",
// "inputBVector", "inputAVector" and adds "inputBiasVector"; the defaults
// are the identity and zero bias. Output alpha is clamped to [0, 1].
class CIFilter {
public:
    using Value = std::variant<CIImage, CIVector>;

    // Nothing for a name no filter has.
    static std::shared_ptr<CIFilter> named(std::string_view name);

    const std::string& name() const { return name_; }
    std::vector<std::string> inputKeys() const;

    // Every parameter back to its default (the input image to none).
    void setDefaults();
    // A key the filter does not have, or a value of the wrong kind, is a
    // programming error and stops the program.
    void setValue(const Value& value, std::string_view key);
    void setValuesForKeys(std::initializer_list<std::pair<std::string_view, Value>> values);
    std::optional<Value> value(std::string_view key) const;

    // Nothing while no input image is set.
    std::optional<CIImage> outputImage() const;

private:
    explicit CIFilter(std::string name);

    std::string name_;
    std::map<std::string, Value, std::less<>> values_;
    std::map<std::string, Value, std::less<>> defaults_;
};

} // namespace velmora
