#pragma once

// The JSON form of archived values, for reading and writing archives by hand:
//   strings, booleans and nil as themselves; integers as JSON integers; reals always with a
//   fraction or exponent (1.0), or {"$real": "nan"|"inf"|"-inf"}; dates as
//   {"$date": "2026-12-07T08:30:00+01:00"} (ISO 8601 with offset, fractional seconds kept), plus
//   "$timeZone" (a name or null) and optionally "$format" for a calendar date; data as
//   {"$data": "<base64>"}; NSNull as {"$null": true}; a raw keyed-archive reference as
//   {"$uid": n}; arrays and dictionaries as themselves, a
//   dictionary key that begins with "$" written with one more "$"; a TableElement as
//   {"$class": "TableElement", "user": ..., ..., "date": ...} with all 18 fields present. Read
//   strictly, as the administrator writes it: "range" and "nrange" whole numbers that fit in 32
//   bits, "manset" a boolean (null or a missing field: absent). Dates lie within isoDateInRange.
// Both directions are bounded: at most 64 levels and 100,000 values, so a small archive whose
// shared references would expand exponentially is refused instead of printed.

#include <optional>
#include <string_view>

#include "foundation/value.h"
#include "tools/json_text.h"

namespace hv {

struct ToJsonResult {
    Json json;
    std::optional<JsonError> error;
};

struct FromJsonResult {
    Value value;
    std::optional<JsonError> error;
};

ToJsonResult toJson(const Value& value);
FromJsonResult fromJson(const Json& json);
// parseJsonText, then fromJson.
FromJsonResult parseJsonValue(std::string_view text);

}  // namespace hv
