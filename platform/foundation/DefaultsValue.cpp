#include "foundation/DefaultsValue.hpp"

#include <cmath>

namespace velmora {

DefaultsValue::DefaultsValue(Data v)
    : kind_(Kind::data), data_(std::make_shared<const Data>(std::move(v))) {}

DefaultsValue::DefaultsValue(Array v)
    : kind_(Kind::array), array_(std::make_shared<const Array>(std::move(v))) {}

DefaultsValue::DefaultsValue(Dictionary v)
    : kind_(Kind::dictionary), dictionary_(std::make_shared<const Dictionary>(std::move(v))) {}

std::optional<bool> DefaultsValue::boolValue() const {
    return kind_ == Kind::boolean ? std::optional<bool>(integer_ != 0) : std::nullopt;
}

std::optional<std::int64_t> DefaultsValue::integerValue() const {
    return kind_ == Kind::integer ? std::optional<std::int64_t>(integer_) : std::nullopt;
}

std::optional<double> DefaultsValue::realValue() const {
    return kind_ == Kind::real ? std::optional<double>(real_) : std::nullopt;
}

const std::string* DefaultsValue::stringValue() const {
    return kind_ == Kind::string ? &text_ : nullptr;
}

const DefaultsValue::Data* DefaultsValue::dataValue() const {
    return kind_ == Kind::data ? data_.get() : nullptr;
}

const DefaultsValue::Array* DefaultsValue::arrayValue() const {
    return kind_ == Kind::array ? array_.get() : nullptr;
}

const DefaultsValue::Dictionary* DefaultsValue::dictionaryValue() const {
    return kind_ == Kind::dictionary ? dictionary_.get() : nullptr;
}

bool operator==(const DefaultsValue& a, const DefaultsValue& b) {
    if (a.kind_ != b.kind_) {
        return false;
    }
    switch (a.kind_) {
    case DefaultsValue::Kind::boolean:
    case DefaultsValue::Kind::integer:
        return a.integer_ == b.integer_;
    case DefaultsValue::Kind::real:
        // NaN equals NaN here, so that every value equals itself and a copy read back.
        return a.real_ == b.real_ || (std::isnan(a.real_) && std::isnan(b.real_));
    case DefaultsValue::Kind::string:
        return a.text_ == b.text_;
    case DefaultsValue::Kind::data:
        return *a.data_ == *b.data_;
    case DefaultsValue::Kind::array:
        return *a.array_ == *b.array_;
    case DefaultsValue::Kind::dictionary:
        return *a.dictionary_ == *b.dictionary_;
    }
    return false;
}

} // namespace velmora
