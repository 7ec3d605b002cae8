#include "foundation/SignalSafeText.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm),
// because gmtime may lock or allocate.
CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<std::uint64_t>(days - era * 146097);
    const std::uint64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const auto month =
        static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    return {year, month, day};
}

} // namespace

SignalSafeText& SignalSafeText::append(std::string_view text) {
    for (const char c : text) {
        if (size_ == capacity) {
            break;
        }
        data_[size_++] = c;
    }
    return *this;
}

SignalSafeText& SignalSafeText::appendDecimal(std::int64_t value) {
    char digits[24];
    std::size_t count = 0;
    // Works on the magnitude as unsigned so the most negative value has one.
    std::uint64_t magnitude =
        value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        append("-");
    }
    while (count > 0) {
        append(std::string_view(&digits[--count], 1));
    }
    return *this;
}

SignalSafeText& SignalSafeText::appendHex(std::uintptr_t value) {
    char digits[2 * sizeof value];
    std::size_t count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xf];
        value >>= 4;
    } while (value != 0);
    append("0x");
    while (count > 0) {
        append(std::string_view(&digits[--count], 1));
    }
    return *this;
}

SignalSafeText& SignalSafeText::appendUTCTime(std::int64_t seconds, bool compact) {
    std::int64_t days = seconds / 86400;
    std::int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    auto twoDigits = [this](std::int64_t v) {
        const char pair[2] = {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
        append(std::string_view(pair, 2));
    };
    if (date.year >= 0 && date.year < 1000) {
        append(date.year < 10 ? "000" : date.year < 100 ? "00" : "0");
    }
    appendDecimal(date.year);
    append(compact ? "" : "-");
    twoDigits(date.month);
    append(compact ? "" : "-");
    twoDigits(date.day);
    append("T");
    twoDigits(secondOfDay / 3600);
    append(compact ? "" : ":");
    twoDigits(secondOfDay / 60 % 60);
    append(compact ? "" : ":");
    twoDigits(secondOfDay % 60);
    return append("Z");
}

const char* SignalSafeText::c_str() {
    data_[size_] = '\0';
    return data_;
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool copyFileContents(const char* path, int fd) {
    const int source = ::open(path, O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return false;
    }
    char buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(source, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!writeAll(fd, std::string_view(buffer, static_cast<std::size_t>(n)))) {
            ok = false;
            break;
        }
    }
    ::close(source);
    return ok;
}

} // namespace velmora
