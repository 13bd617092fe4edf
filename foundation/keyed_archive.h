#pragma once

// NSKeyedArchiver / NSKeyedUnarchiver, Apple's layout ($archiver, $version 100000, $top.root,
// $objects with $null at 0), stored as a binary property list.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/decode.h"
#include "foundation/value.h"

namespace hv {

// nullopt when the value holds something no archive can (a UID, or an unregistered object).
std::optional<std::string> keyedArchive(const Value& root);
// Also accepts the archive as an XML property list.
DecodeResult keyedUnarchive(std::string_view bytes, const DecodeLimits& limits = {});

}  // namespace hv
