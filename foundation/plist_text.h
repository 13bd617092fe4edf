#pragma once

// The text forms of XML property-list scalars, shared by the XML reader and writer.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/value.h"

namespace hv {

// Decimal with an optional sign, or hexadecimal after "0x"; up to 2^64-1 (marked unsigned).
std::optional<Value> parseInteger(std::string_view text);
// A decimal real, or "nan", "inf", "infinity" with an optional sign (any case).
std::optional<Value> parseReal(std::string_view text);
// "YYYY-MM-DDTHH:MM:SSZ" in UTC.
std::optional<Value> parseDate(std::string_view text);
// Base64; blanks anywhere are skipped.
std::optional<Value> parseData(std::string_view text);

// As CoreFoundation writes reals: "%.17g", or "nan", "+infinity", "-infinity".
std::string formatReal(double value);
// Whole seconds, rounded down as Apple writes them; nullopt outside the years 1..9999.
std::optional<std::string> formatDate(double secondsSince2001);
std::string base64Encode(const Data& data);

}  // namespace hv
