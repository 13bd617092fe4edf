#pragma once

// NSArchiver / NSUnarchiver typedstream (streamtyped, system version 1000), as horavelset reads it
// from standard input.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/decode.h"
#include "foundation/value.h"

namespace hv {

// Writes root as NSArchiver does: strings as NSString, numbers as NSNumber of their remembered
// type (widened when the value does not fit it), booleans as BOOL, dates as NSDate or
// NSCalendarDate, data as NSData, arrays and dictionaries as NSArray and NSDictionary, objects
// of registered classes through their coding. A shared array, dictionary, data or object is
// written once and referred to afterwards. nullopt when root holds something no typedstream can:
// a UID, an unregistered object, nil inside a collection, text that is not UTF-8, a cycle, or
// nesting deeper than a reader accepts.
std::optional<std::string> typedstreamArchive(const Value& root);

// Reads the one root object, little- or big-endian, mutable and immutable classes alike; a
// lone NSTimeZone comes back as an object of class name "NSTimeZone". Bounded by limits; any
// malformed, oversized or unknown content gives an error with the byte offset where it was
// found, never a partial value. A nil root is a success with a nil value.
DecodeResult typedstreamUnarchive(std::string_view bytes, const DecodeLimits& limits = {});

}  // namespace hv
