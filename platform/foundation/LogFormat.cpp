#include "foundation/LogFormat.hpp"

#include "foundation/CFormat.hpp"

#include <cinttypes>

namespace velmora {

namespace {

bool isFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLengthModifier(char c) {
    return c == 'h' || c == 'l' || c == 'q' || c == 'z' || c == 't' || c == 'j' || c == 'L';
}

enum class Conversion { signedInt, unsignedInt, floating, character, text, pointer, unknown };

Conversion classify(char c) {
    switch (c) {
    case 'd':
    case 'i':
        return Conversion::signedInt;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        return Conversion::unsignedInt;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        return Conversion::floating;
    case 'c':
        return Conversion::character;
    case 's':
    case '@':
        return Conversion::text;
    case 'p':
        return Conversion::pointer;
    default:
        return Conversion::unknown;
    }
}

std::string formatNumber(const std::string& spec, char conversion, const LogArgument& argument) {
    using Kind = LogArgument::Kind;
    const std::string integerSpec = "%" + spec + "ll" + conversion;
    const std::string floatSpec = "%" + spec + conversion;
    const Kind kind = argument.kind();
    switch (classify(conversion)) {
    case Conversion::signedInt:
        if (kind == Kind::signedInteger || kind == Kind::boolean) {
            const long long v =
                kind == Kind::boolean ? (argument.booleanValue() ? 1 : 0) : argument.signedValue();
            return cFormat(integerSpec.c_str(), v);
        }
        if (kind == Kind::unsignedInteger) {
            return cFormat(("%" + spec + "llu").c_str(),
                           static_cast<unsigned long long>(argument.unsignedValue()));
        }
        break;
    case Conversion::unsignedInt:
        if (kind == Kind::unsignedInteger) {
            return cFormat(integerSpec.c_str(),
                           static_cast<unsigned long long>(argument.unsignedValue()));
        }
        if (kind == Kind::signedInteger) {
            return cFormat(integerSpec.c_str(),
                           static_cast<unsigned long long>(argument.signedValue()));
        }
        break;
    case Conversion::floating:
        if (kind == Kind::floating) {
            return cFormat(floatSpec.c_str(), argument.floatingValue());
        }
        if (kind == Kind::signedInteger) {
            return cFormat(floatSpec.c_str(), static_cast<double>(argument.signedValue()));
        }
        if (kind == Kind::unsignedInteger) {
            return cFormat(floatSpec.c_str(), static_cast<double>(argument.unsignedValue()));
        }
        break;
    case Conversion::character:
        if (kind == Kind::signedInteger && argument.signedValue() > 0 &&
            argument.signedValue() < 128) {
            return std::string(1, static_cast<char>(argument.signedValue()));
        }
        break;
    case Conversion::pointer:
        if (kind == Kind::unsignedInteger) {
            return cFormat("0x%llx", static_cast<unsigned long long>(argument.unsignedValue()));
        }
        break;
    case Conversion::text:
    case Conversion::unknown:
        break;
    }
    return argument.text();
}

} // namespace

std::string LogArgument::text() const {
    switch (kind_) {
    case Kind::text:
        return text_;
    case Kind::boolean:
        return boolean_ ? "true" : "false";
    case Kind::floating:
        return cFormat("%g", floating_);
    case Kind::signedInteger:
        return cFormat("%lld", static_cast<long long>(signed_));
    case Kind::unsignedInteger:
        return cFormat("%llu", static_cast<unsigned long long>(unsigned_));
    }
    return text_;
}

std::string formatLogMessage(std::string_view format, std::span<const LogArgument> arguments) {
    std::string out;
    out.reserve(format.size() + 16 * arguments.size());
    std::size_t next = 0;
    auto takeArgument = [&]() -> const LogArgument* {
        return next < arguments.size() ? &arguments[next++] : nullptr;
    };

    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c != '%') {
            out.push_back(c);
            ++i;
            continue;
        }
        const std::size_t start = i++;
        if (i < format.size() && format[i] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        bool isPrivate = false;
        if (i < format.size() && format[i] == '{') {
            const std::size_t close = format.find('}', i);
            if (close == std::string_view::npos) {
                out.append(format.substr(start));
                break;
            }
            const std::string_view annotation = format.substr(i + 1, close - i - 1);
            isPrivate = annotation.starts_with("private");
            i = close + 1;
        }
        std::string spec;
        while (i < format.size() && isFlag(format[i])) {
            spec.push_back(format[i++]);
        }
        auto takeCount = [&] {
            if (i < format.size() && format[i] == '*') {
                ++i;
                const LogArgument* a = takeArgument();
                const bool usable = a != nullptr && a->kind() == LogArgument::Kind::signedInteger;
                spec += std::to_string(usable ? a->signedValue() : 0);
                return;
            }
            while (i < format.size() && isDigit(format[i])) {
                spec.push_back(format[i++]);
            }
        };
        takeCount();
        if (i < format.size() && format[i] == '.') {
            spec.push_back(format[i++]);
            takeCount();
        }
        while (i < format.size() && isLengthModifier(format[i])) {
            ++i;
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        const char conversion = format[i++];
        if (classify(conversion) == Conversion::unknown) {
            out.append(format.substr(start, i - start));
            continue;
        }
        const LogArgument* argument = takeArgument();
        if (argument == nullptr) {
            out += "<missing>";
        } else if (isPrivate) {
            out += "<private>";
        } else if (classify(conversion) == Conversion::text) {
            out += argument->text();
        } else {
            out += formatNumber(spec, conversion, *argument);
        }
    }
    return out;
}

} // namespace velmora
