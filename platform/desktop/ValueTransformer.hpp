#pragma once

#include <any>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Converts values between a model and a control: numbers are `double` or
// `float`, texts `std::string`, switches `bool`, nothing an empty `std::any`.
// Transformers are shared by name through a process-wide registry (main thread).
class ValueTransformer {
public:
    virtual ~ValueTransformer() = default;

    virtual std::any transformedValue(const std::any& value) const = 0;
    virtual bool allowsReverseTransformation() const { return false; }
    // Nothing unless reversible.
    virtual std::any reverseTransformedValue(const std::any& value) const;

    // Replaces any transformer of that name; null removes it.
    static void setValueTransformer(std::shared_ptr<ValueTransformer> transformer,
                                    std::string name);
    static std::shared_ptr<ValueTransformer> valueTransformerForName(std::string_view name);
    static std::vector<std::string> valueTransformerNames();
};

// A value's number, whatever arithmetic type holds it; nothing for other values.
std::optional<double> numberValue(const std::any& value);
// A value's text; nothing for other values.
std::optional<std::string> stringValue(const std::any& value);

} // namespace velmora
