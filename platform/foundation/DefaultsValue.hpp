#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A value kept in the user defaults: a Boolean, an integer, a real, a text,
// bytes, or an array or dictionary of such values. Arrays and dictionaries are
// shared immutable trees, so copies are cheap.
class DefaultsValue {
public:
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<DefaultsValue>;
    using Dictionary = std::map<std::string, DefaultsValue, std::less<>>;

    enum class Kind { boolean, integer, real, string, data, array, dictionary };

    DefaultsValue() : DefaultsValue(false) {}
    template <std::same_as<bool> T>
    DefaultsValue(T v) : kind_(Kind::boolean), integer_(v ? 1 : 0) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) DefaultsValue(T v)
        : kind_(Kind::integer), integer_(static_cast<std::int64_t>(v)) {}
    DefaultsValue(double v) : kind_(Kind::real), real_(v) {}
    DefaultsValue(std::string v) : kind_(Kind::string), text_(std::move(v)) {}
    DefaultsValue(const char* v) : DefaultsValue(std::string(v)) {}
    DefaultsValue(std::string_view v) : DefaultsValue(std::string(v)) {}
    DefaultsValue(Data v);
    DefaultsValue(Array v);
    DefaultsValue(Dictionary v);

    Kind kind() const { return kind_; }

    // The value when it is of that kind exactly.
    std::optional<bool> boolValue() const;
    std::optional<std::int64_t> integerValue() const;
    std::optional<double> realValue() const;
    const std::string* stringValue() const;
    const Data* dataValue() const;
    const Array* arrayValue() const;
    const Dictionary* dictionaryValue() const;

    friend bool operator==(const DefaultsValue& a, const DefaultsValue& b);

private:
    Kind kind_;
    std::int64_t integer_ = 0;
    double real_ = 0;
    std::string text_;
    std::shared_ptr<const Data> data_;
    std::shared_ptr<const Array> array_;
    std::shared_ptr<const Dictionary> dictionary_;
};

} // namespace velmora
