#include "coding/Coding.hpp"

#include "coding/Base64.hpp"
#include "foundation/CheckedMath.hpp"

#include <charconv>
#include <cmath>
#include <cxxabi.h>

namespace velmora::detail {

namespace {

[[noreturn]] void throwTypeMismatch(std::string_view type, const CodedValue& value,
                                    const CodingPath& path) {
    throw DecodingError::typeMismatch(
        std::string(type),
        {path, "Expected to decode " + std::string(type) + " but found " +
                   std::string(CodedValue::describe(value.kind())) + " instead."});
}

std::string numberText(const CodedValue& value) {
    char buffer[64];
    std::to_chars_result r{};
    if (const auto* v = value.integer()) {
        r = std::to_chars(buffer, buffer + sizeof buffer, *v);
    } else if (const auto* v = value.unsignedInteger()) {
        r = std::to_chars(buffer, buffer + sizeof buffer, *v);
    } else if (const auto* v = value.float32()) {
        r = std::to_chars(buffer, buffer + sizeof buffer, *v);
    } else if (const auto* v = value.float64()) {
        r = std::to_chars(buffer, buffer + sizeof buffer, *v);
    } else {
        return "?";
    }
    return std::string(buffer, r.ptr);
}

[[noreturn]] void throwDoesNotFit(std::string_view type, const CodedValue& value,
                                  const CodingPath& path) {
    throw DecodingError::dataCorrupted(
        {path, "Number <" + numberText(value) + "> does not fit in " + std::string(type) + "."});
}

double floatingValue(const CodedValue& value) {
    if (const auto* v = value.float32()) {
        return *v;
    }
    return *value.float64();
}

} // namespace

std::string demangledTypeName(const std::type_info& type) {
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    if (name == nullptr) {
        return type.name();
    }
    std::string out(name);
    std::free(name);
    return out;
}

void throwValueNotFound(std::string type, const CodingPath& path, std::string debugDescription) {
    throw DecodingError::valueNotFound(std::move(type), {path, std::move(debugDescription)});
}

bool unboxBool(const CodedValue& value, const CodingPath& path) {
    if (const bool* v = value.boolean()) {
        return *v;
    }
    throwTypeMismatch("Bool", value, path);
}

std::int64_t unboxSigned(const CodedValue& value, const CodingPath& path, std::string_view type,
                         std::int64_t min, std::int64_t max) {
    std::int64_t out = 0;
    if (const auto* v = value.integer()) {
        out = *v;
    } else if (const auto* u = value.unsignedInteger()) {
        if (*u > static_cast<std::uint64_t>(max)) {
            throwDoesNotFit(type, value, path);
        }
        out = static_cast<std::int64_t>(*u);
    } else if (value.float32() != nullptr || value.float64() != nullptr) {
        if (!checked::toIntegerIfExact(floatingValue(value), out)) {
            throwDoesNotFit(type, value, path);
        }
    } else {
        throwTypeMismatch(type, value, path);
    }
    if (out < min || out > max) {
        throwDoesNotFit(type, value, path);
    }
    return out;
}

std::uint64_t unboxUnsigned(const CodedValue& value, const CodingPath& path, std::string_view type,
                            std::uint64_t max) {
    std::uint64_t out = 0;
    if (const auto* u = value.unsignedInteger()) {
        out = *u;
    } else if (const auto* v = value.integer()) {
        if (*v < 0) {
            throwDoesNotFit(type, value, path);
        }
        out = static_cast<std::uint64_t>(*v);
    } else if (value.float32() != nullptr || value.float64() != nullptr) {
        if (!checked::toIntegerIfExact(floatingValue(value), out)) {
            throwDoesNotFit(type, value, path);
        }
    } else {
        throwTypeMismatch(type, value, path);
    }
    if (out > max) {
        throwDoesNotFit(type, value, path);
    }
    return out;
}

float unboxFloat(const CodedValue& value, const CodingPath& path) {
    if (const float* v = value.float32()) {
        return *v;
    }
    if (const double* v = value.float64()) {
        // A finite double beyond the float range would silently become infinity.
        if (std::isfinite(*v) && std::isinf(static_cast<float>(*v))) {
            throwDoesNotFit("Float", value, path);
        }
        return static_cast<float>(*v);
    }
    if (const auto* v = value.integer()) {
        return static_cast<float>(*v);
    }
    if (const auto* v = value.unsignedInteger()) {
        return static_cast<float>(*v);
    }
    throwTypeMismatch("Float", value, path);
}

double unboxDouble(const CodedValue& value, const CodingPath& path) {
    if (const double* v = value.float64()) {
        return *v;
    }
    if (const float* v = value.float32()) {
        return *v;
    }
    if (const auto* v = value.integer()) {
        return static_cast<double>(*v);
    }
    if (const auto* v = value.unsignedInteger()) {
        return static_cast<double>(*v);
    }
    throwTypeMismatch("Double", value, path);
}

std::string unboxString(const CodedValue& value, const CodingPath& path) {
    if (const std::string* v = value.text()) {
        return *v;
    }
    throwTypeMismatch("String", value, path);
}

CodedValue::Bytes unboxBytes(const CodedValue& value, const CodingPath& path,
                             const DecodingOptions& options) {
    if (value.kind() == CodedValue::Kind::data) {
        const auto bytes = value.bytes();
        return CodedValue::Bytes(bytes.begin(), bytes.end());
    }
    if (const std::string* text = value.text(); text != nullptr && options.dataFromBase64Text) {
        if (auto bytes = base64Decode(*text)) {
            return std::move(*bytes);
        }
        throw DecodingError::dataCorrupted({path, "Encountered Data is not valid Base64."});
    }
    throwTypeMismatch("Data", value, path);
}

} // namespace velmora::detail
