#pragma once

// NSKeyedArchiver / NSKeyedUnarchiver, Apple's layout ($archiver, $version 100000, $top.root,
// $objects with $null at 0), stored as a binary property list.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/decode.h"
#include "foundation/value.h"

namespace hv {

// Arrays are written as NSMutableArray, dictionaries as NSMutableDictionary, dates as NSDate or
// (calendar dates) NSCalendarDate with an NSTimeZone by name; objects through the ClassRegistry.
// nullopt when the value holds something no archive can (a UID, an unregistered object, a
// string that is not UTF-8) or nests deeper than the reader's limit.
std::optional<std::string> keyedArchive(const Value& root);
// Also accepts the archive as an XML property list. Mutable and immutable Foundation classes read
// alike; an unknown class, a reference out of range, a cycle or excess nesting is an error. A
// missing root is nil.
DecodeResult keyedUnarchive(std::string_view bytes, const DecodeLimits& limits = {});

}  // namespace hv
