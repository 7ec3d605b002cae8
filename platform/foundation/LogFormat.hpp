#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace velmora {

template <class T>
concept Describable = requires(const T& value) {
    { value.description() } -> std::convertible_to<std::string>;
};

// One argument of a log format: a number, a Boolean or a text. Objects that
// describe themselves pass their description, as "%@" does on the platform.
class LogArgument {
public:
    enum class Kind { signedInteger, unsignedInteger, floating, boolean, text };

    template <std::integral T>
    requires(!std::same_as<T, bool>)
        LogArgument(T v) { // NOLINT: implicit on purpose, arguments are passed as they are
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::signedInteger;
            signed_ = static_cast<std::int64_t>(v);
        } else {
            kind_ = Kind::unsignedInteger;
            unsigned_ = static_cast<std::uint64_t>(v);
        }
    }
    template <std::same_as<bool> T> LogArgument(T v) : kind_(Kind::boolean), boolean_(v) {}
    LogArgument(double v) : kind_(Kind::floating), floating_(v) {}
    LogArgument(float v) : kind_(Kind::floating), floating_(static_cast<double>(v)) {}
    LogArgument(const char* v) : kind_(Kind::text), text_(v != nullptr ? v : "(null)") {}
    LogArgument(std::string_view v) : kind_(Kind::text), text_(v) {}
    LogArgument(const std::string& v) : kind_(Kind::text), text_(v) {}
    template <Describable T>
    requires(!std::convertible_to<T, std::string_view>) LogArgument(const T& v)
        : kind_(Kind::text), text_(v.description()) {}

    Kind kind() const { return kind_; }
    std::int64_t signedValue() const { return signed_; }
    std::uint64_t unsignedValue() const { return unsigned_; }
    double floatingValue() const { return floating_; }
    bool booleanValue() const { return boolean_; }

    // The argument as "%@" prints it.
    std::string text() const;

private:
    Kind kind_ = Kind::text;
    std::int64_t signed_ = 0;
    std::uint64_t unsigned_ = 0;
    double floating_ = 0;
    bool boolean_ = false;
    std::string text_;
};

// Expands a printf-style log format: "%{public}@" and "%{public}s" take a text,
// "%d", "%u", "%x", "%f" and their relatives numbers, "%%" a percent sign. A
// "%{private}" argument prints as "<private>", like the system log shows it. An
// argument of another kind than its conversion asks for prints as its text; a
// missing one as "<missing>". Numbers use a decimal point in every locale.
std::string formatLogMessage(std::string_view format, std::span<const LogArgument> arguments);

} // namespace velmora
