#include "tools/iso_date.h"

#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/calendar_date.h"
#include "foundation/civil_date.h"

namespace hv {
namespace {

// Offset in seconds of a fixed zone name such as "GMT", "UTC", "GMT+0100", "GMT-05:30".
std::optional<int> fixedZoneOffset(const std::string& name) {
    std::string_view s = name;
    if (s.substr(0, 3) != "GMT" && s.substr(0, 3) != "UTC") return std::nullopt;
    s.remove_prefix(3);
    if (s.empty()) return 0;
    int sign = s[0] == '+' ? 1 : s[0] == '-' ? -1 : 0;
    if (sign == 0) return std::nullopt;
    s.remove_prefix(1);
    std::string digits;
    for (char c : s) {
        if (c == ':') continue;
        if (c < '0' || c > '9') return std::nullopt;
        digits += c;
    }
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    int hours = 0, minutes = 0;
    if (digits.size() <= 2) {
        hours = std::atoi(digits.c_str());
    } else {
        hours = std::atoi(digits.substr(0, digits.size() - 2).c_str());
        minutes = std::atoi(digits.substr(digits.size() - 2).c_str());
    }
    if (hours > 23 || minutes > 59) return std::nullopt;
    return sign * (hours * 3600 + minutes * 60);
}

int localOffset(int64_t unixSeconds) {
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return 0;
    return static_cast<int>(tm.tm_gmtoff);
}

bool digits(std::string_view s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) return false;
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

// whole + 0.digits, rounded once: the sum is written out as one decimal number for strtod, since
// adding two rounded doubles can miss the nearest double (-1 + 0.9 is not -0.1).
double fromParts(int64_t whole, const std::string& digits) {
    if (digits.find_first_not_of('0') == std::string::npos) return static_cast<double>(whole);
    std::string text;
    if (whole >= 0) {
        text = std::to_string(whole) + "." + digits;
    } else {
        // whole + 0.F = -((-whole - 1) + 0.C), where C = 10^n - F is the ten's complement of the
        // n digits of F: trailing zeros stay, the last other digit d becomes 10 - d, those before
        // it 9 - d.
        std::string complement = digits;
        size_t last = complement.find_last_not_of('0');
        for (size_t i = 0; i <= last; ++i) {
            int d = complement[i] - '0';
            complement[i] = static_cast<char>('0' + (i == last ? 10 - d : 9 - d));
        }
        text = "-" + std::to_string(-whole - 1) + "." + complement;
    }
    return std::strtod(text.c_str(), nullptr);
}

}  // namespace

bool isoDateInRange(double secondsSince2001) {
    // A day's margin at each end of the years 0001..9999 covers every offset a zone can have.
    static const double earliest = static_cast<double>(daysFromCivil(1, 1, 2)) * 86400 - kReferenceDateOffset;
    static const double latest = static_cast<double>(daysFromCivil(9999, 12, 31)) * 86400 - kReferenceDateOffset;
    return secondsSince2001 >= earliest && secondsSince2001 < latest;
}

std::string formatIsoDate(double secondsSince2001, const std::optional<std::string>& timeZone) {
    // Whole seconds and fraction come from the time's own decimal expansion (printf gives it
    // exactly rounded), never from t - floor(t), which rounds to 1.0 for a tiny negative time.
    int64_t whole = static_cast<int64_t>(std::floor(secondsSince2001));
    std::string fraction;
    if (secondsSince2001 != std::floor(secondsSince2001)) {
        char text[64];
        for (int precision = 1; precision <= 20; ++precision) {
            std::snprintf(text, sizeof text, "%.*f", precision, secondsSince2001);
            if (std::strtod(text, nullptr) == secondsSince2001) break;
        }
        const bool negative = text[0] == '-';
        const char* point = std::strchr(text, '.');
        const int64_t integral = std::strtoll(text + (negative ? 1 : 0), nullptr, 10);
        std::string digits(point + 1);
        digits.erase(digits.find_last_not_of('0') + 1);
        if (digits.empty()) {
            whole = negative ? -integral : integral;
        } else if (!negative) {
            whole = integral;
            fraction = "." + digits;
        } else {
            // -(i + 0.F) = -(i + 1) + 0.C, where C = 10^n - F is the ten's complement of F's n
            // digits: the last digit d becomes 10 - d, those before it 9 - d.
            for (size_t i = 0; i < digits.size(); ++i) {
                const int d = digits[i] - '0';
                digits[i] = static_cast<char>('0' + (i + 1 == digits.size() ? 10 - d : 9 - d));
            }
            whole = -integral - 1;
            fraction = "." + digits;
        }
    }
    const int64_t unixSeconds = whole + static_cast<int64_t>(kReferenceDateOffset);
    std::optional<int> fixed = timeZone ? fixedZoneOffset(*timeZone) : std::nullopt;
    // Offsets of local mean time (before standard zones) have seconds, which the text cannot
    // carry; the nearest minute keeps the printed time and offset consistent.
    const int offset = fixed ? *fixed : static_cast<int>(std::lround(localOffset(unixSeconds) / 60.0)) * 60;

    const int64_t local = unixSeconds + offset;
    int64_t days = local >= 0 ? local / 86400 : -((-local + 86399) / 86400);
    int64_t secondOfDay = local - days * 86400;
    int64_t year;
    unsigned month, day;
    civilFromDays(days, year, month, day);

    const int absOffset = offset < 0 ? -offset : offset;
    char out[96];
    std::snprintf(out, sizeof out, "%04lld-%02u-%02uT%02d:%02d:%02d%s%c%02d:%02d",
                  static_cast<long long>(year), month, day, static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60),
                  fraction.c_str(), offset < 0 ? '-' : '+', absOffset / 3600, absOffset / 60 % 60);
    return out;
}

std::optional<double> parseIsoDate(std::string_view s) {
    int year, month, day, hour, minute, second;
    if (!digits(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, month) ||
        s[7] != '-' || !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) ||
        s[13] != ':' || !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || static_cast<unsigned>(day) > daysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    size_t pos = 19;
    std::string fraction;
    if (pos < s.size() && s[pos] == '.') {
        size_t start = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        if (pos == start || pos - start > 20) return std::nullopt;
        fraction = std::string(s.substr(start, pos - start));
    }
    int offset = 0;
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        int sign = s[pos] == '-' ? -1 : 1;
        int oh, om;
        size_t mpos = pos + 3 < s.size() && s[pos + 3] == ':' ? pos + 4 : pos + 3;
        if (!digits(s, pos + 1, 2, oh) || !digits(s, mpos, 2, om) || oh > 23 || om > 59) return std::nullopt;
        offset = sign * (oh * 3600 + om * 60);
        pos = mpos + 2;
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) return std::nullopt;
    const int64_t unixSeconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                                hour * 3600 + minute * 60 + second - offset;
    return fromParts(unixSeconds - static_cast<int64_t>(kReferenceDateOffset), fraction);
}

}  // namespace hv
