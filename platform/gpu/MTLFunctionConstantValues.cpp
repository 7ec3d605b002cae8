#include "gpu/MTLFunctionConstantValues.hpp"

#include "foundation/FatalError.hpp"

#include <cstring>

namespace velmora {

size_t dataTypeSize(MTLDataType type) {
    switch (type) {
    case MTLDataType::float_:
    case MTLDataType::int_:
    case MTLDataType::uint:
        return 4;
    case MTLDataType::float2:
    case MTLDataType::int2:
    case MTLDataType::uint2:
        return 8;
    case MTLDataType::bool_:
        return 1;
    case MTLDataType::none:
        return 0;
    }
    return 0;
}

void MTLFunctionConstantValues::setConstantValue(const void* value, MTLDataType type,
                                                 uint64_t index) {
    const size_t size = dataTypeSize(type);
    precondition(size > 0 && value != nullptr, "Unsupported function constant type");
    Value v{type, std::vector<uint8_t>(size)};
    std::memcpy(v.bytes.data(), value, size);
    auto values = values_ ? std::make_shared<std::map<uint64_t, Value>>(*values_)
                          : std::make_shared<std::map<uint64_t, Value>>();
    (*values)[index] = std::move(v);
    values_ = std::move(values);
}

const std::map<uint64_t, MTLFunctionConstantValues::Value>&
MTLFunctionConstantValues::values() const {
    static const std::map<uint64_t, Value> none;
    return values_ ? *values_ : none;
}

const MTLFunctionConstantValues::Value* MTLFunctionConstantValues::value(uint64_t index) const {
    if (!values_) {
        return nullptr;
    }
    const auto it = values_->find(index);
    return it == values_->end() ? nullptr : &it->second;
}

namespace {
template <class T>
std::optional<T> read(const MTLFunctionConstantValues& values, uint64_t index, MTLDataType type) {
    const auto* v = values.value(index);
    if (v == nullptr || v->type != type) {
        return std::nullopt;
    }
    T out;
    std::memcpy(&out, v->bytes.data(), sizeof(T));
    return out;
}
} // namespace

std::optional<int32_t> MTLFunctionConstantValues::intValue(uint64_t index) const {
    return read<int32_t>(*this, index, MTLDataType::int_);
}
std::optional<uint32_t> MTLFunctionConstantValues::uintValue(uint64_t index) const {
    return read<uint32_t>(*this, index, MTLDataType::uint);
}
std::optional<float> MTLFunctionConstantValues::floatValue(uint64_t index) const {
    return read<float>(*this, index, MTLDataType::float_);
}
std::optional<bool> MTLFunctionConstantValues::boolValue(uint64_t index) const {
    const auto* v = value(index);
    if (v == nullptr || v->type != MTLDataType::bool_) {
        return std::nullopt;
    }
    return v->bytes[0] != 0;
}

} // namespace velmora
