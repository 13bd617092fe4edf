#include "foundation/plist_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "foundation/civil_date.h"

namespace hv {

namespace {

constexpr double kReferenceUnix = 978307200.0;
constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool digits(std::string_view s, size_t at, size_t n, unsigned& out) {
    out = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + static_cast<unsigned>(s[i] - '0');
    }
    return true;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<Value> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint64_t magnitude = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    if (negative) {
        if (magnitude > uint64_t{1} << 63) return std::nullopt;
        return Value::integer(static_cast<int64_t>(uint64_t{0} - magnitude));
    }
    if (magnitude > uint64_t(std::numeric_limits<int64_t>::max()))
        return Value(Integer{static_cast<int64_t>(magnitude), 'Q', true});
    return Value::integer(static_cast<int64_t>(magnitude));
}

std::optional<Value> parseReal(std::string_view text) {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (equalsIgnoringCase(body, "nan")) return Value::real(std::nan(""));
    if (equalsIgnoringCase(body, "inf") || equalsIgnoringCase(body, "infinity"))
        return Value::real(negative ? -INFINITY : INFINITY);
    // Only plain decimal forms; from_chars would otherwise also take "nan(...)" and a second sign.
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) return std::nullopt;
    for (char c : body)
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
            return std::nullopt;
    double d = 0;
    const auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), d);
    if (body.empty() || ptr != body.data() + body.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // Overflow gives infinity, underflow zero, as strtod would.
        const bool huge = body.find_first_of("eE") != std::string_view::npos &&
                          body[body.find_first_of("eE") + 1] != '-';
        d = huge ? INFINITY : 0.0;
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return Value::real(negative ? -d : d);
}

std::optional<Value> parseDate(std::string_view s) {
    if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' ||
        s[19] != 'Z')
        return std::nullopt;
    unsigned y, mo, d, h, mi, se;
    if (!digits(s, 0, 4, y) || !digits(s, 5, 2, mo) || !digits(s, 8, 2, d) || !digits(s, 11, 2, h) ||
        !digits(s, 14, 2, mi) || !digits(s, 17, 2, se))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || se > 60)
        return std::nullopt;
    const int64_t days = daysFromCivil(y, mo, d);
    const double unix = static_cast<double>(days) * 86400.0 + h * 3600.0 + mi * 60.0 + se;
    return Value(Date{unix - kReferenceUnix});
}

std::optional<Value> parseData(std::string_view text) {
    Data out;
    out.reserve(text.size() / 4 * 3);
    uint32_t buffer = 0;
    int bits = 0;
    bool padding = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        if (c == '=') {
            padding = true;
            continue;
        }
        const size_t v = kBase64Alphabet.find(c);
        if (v == std::string_view::npos || padding) return std::nullopt;
        buffer = (buffer << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    return Value(std::move(out));
}

std::string formatReal(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "+infinity" : "-infinity";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    return buf;
}

std::optional<std::string> formatDate(double secondsSince2001) {
    // Rounded down before the offset is added: near the reference date the sum would round
    // first, and a time a hair before it would land on the second after.
    const double unix = std::floor(secondsSince2001) + kReferenceUnix;
    // 0001-01-01 and 9999-12-31 23:59:59 UTC; beyond them four year digits do not suffice.
    if (!(unix >= -62135596800.0 && unix <= 253402300799.0)) return std::nullopt;
    const int64_t total = static_cast<int64_t>(unix);
    int64_t days = total / 86400;
    int64_t rest = total % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(y), m, d,
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return std::string(buf);
}

std::string base64Encode(const Data& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t n = (uint32_t{data[i]} << 16) | (i + 1 < data.size() ? uint32_t{data[i + 1]} << 8 : 0) |
                           (i + 2 < data.size() ? data[i + 2] : 0);
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += i + 1 < data.size() ? kBase64Alphabet[(n >> 6) & 63] : '=';
        out += i + 2 < data.size() ? kBase64Alphabet[n & 63] : '=';
    }
    return out;
}

}  // namespace hv
