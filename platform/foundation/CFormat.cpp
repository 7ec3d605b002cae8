#include "foundation/CFormat.hpp"

#include "foundation/FatalError.hpp"

#include <cstdarg>
#include <cstdio>
#include <locale.h>

namespace velmora {

namespace {

locale_t cLocale() {
    static const locale_t locale = [] {
        const locale_t l = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        if (l == static_cast<locale_t>(nullptr)) {
            fatalError("The C locale is unavailable");
        }
        return l;
    }();
    return locale;
}

class CLocaleScope {
public:
    CLocaleScope() : previous_(::uselocale(cLocale())) {}
    ~CLocaleScope() { ::uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_;
};

} // namespace

std::string cFormat(const char* format, ...) {
    const CLocaleScope scope;
    char small[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        return {};
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        return std::string(small, static_cast<std::size_t>(n));
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    va_start(args, format);
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

} // namespace velmora
