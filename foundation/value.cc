#include "foundation/value.h"

#include <cmath>
#include <limits>

namespace hv {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Truncates toward zero and saturates at the limits of T; NaN reads as 0. A plain cast of an
// out-of-range double is undefined behaviour.
template <class T>
T truncateReal(double d) {
    if (std::isnan(d)) return 0;
    constexpr double kLow = static_cast<double>(std::numeric_limits<T>::min());
    // 2^(bits-1): the first double above the largest T.
    constexpr double kHigh = -kLow;
    if (d <= kLow) return std::numeric_limits<T>::min();
    if (d >= kHigh) return std::numeric_limits<T>::max();
    return static_cast<T>(std::trunc(d));
}

// The leading decimal integer of text after optional blanks and a sign, saturated at the
// limits of T as NSString's readings are; 0 when there is none.
template <class T>
T leadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    using U = std::make_unsigned_t<T>;
    const U limit = negative ? U(std::numeric_limits<T>::max()) + 1 : U(std::numeric_limits<T>::max());
    U magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const U digit = static_cast<U>(text[i] - '0');
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) return static_cast<T>(magnitude);
    // Two's complement negation in the unsigned type, then a well-defined conversion back.
    return static_cast<T>(U(0) - magnitude);
}

// NSString's boolValue: true when the text, after blanks, a sign and leading zeros, starts with
// Y, y, T, t or a digit 1-9.
bool leadingTruth(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i == text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

template <class T>
T numericReading(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Integer:
            return static_cast<T>(static_cast<std::make_unsigned_t<T>>(v.integerValue()->value));
        case Value::Kind::Real:
            return truncateReal<T>(v.realValue()->value);
        case Value::Kind::Boolean:
            return v.booleanValue()->value ? 1 : 0;
        case Value::Kind::String:
            return leadingInteger<T>(*v.string());
        default:
            return 0;
    }
}

}  // namespace

const void* Value::identity() const {
    switch (kind()) {
        case Kind::Data: return data();
        case Kind::Array: return array();
        case Kind::Dictionary: return dictionary();
        case Kind::Object: return object()->get();
        default: return nullptr;
    }
}

int32_t Value::intValue() const { return numericReading<int32_t>(*this); }

int64_t Value::longLongValue() const { return numericReading<int64_t>(*this); }

bool Value::boolValue() const {
    switch (kind()) {
        case Kind::Integer: return integerValue()->value != 0;
        case Kind::Real: return realValue()->value != 0.0;
        case Kind::Boolean: return booleanValue()->value;
        case Kind::String: return leadingTruth(*string());
        default: return false;
    }
}

Value Value::operator[](std::string_view key) const {
    const hv::Dictionary* d = dictionary();
    if (!d) return {};
    for (const auto& [k, v] : *d) {
        const std::string* s = k.string();
        if (s && *s == key) return v;
    }
    return {};
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    if (a.identity() && a.identity() == b.identity()) return true;
    switch (a.kind()) {
        case Value::Kind::Nil:
        case Value::Kind::Null:
            return true;
        case Value::Kind::String:
            return *a.string() == *b.string();
        case Value::Kind::Integer:
            return a.integerValue()->value == b.integerValue()->value &&
                   a.integerValue()->isUnsigned64 == b.integerValue()->isUnsigned64;
        case Value::Kind::Real:
            return a.realValue()->value == b.realValue()->value;
        case Value::Kind::Boolean:
            return a.booleanValue()->value == b.booleanValue()->value;
        case Value::Kind::Date: {
            const Date& x = *a.date();
            const Date& y = *b.date();
            return x.time == y.time && x.calendar == y.calendar && x.timeZone == y.timeZone &&
                   x.format == y.format;
        }
        case Value::Kind::Data:
            return *a.data() == *b.data();
        case Value::Kind::Array:
            return *a.array() == *b.array();
        case Value::Kind::Dictionary:
            return *a.dictionary() == *b.dictionary();
        case Value::Kind::Object:
            return false;  // distinct identities, checked above
        case Value::Kind::Uid:
            return a.uid()->value == b.uid()->value;
    }
    return false;
}

}  // namespace hv
