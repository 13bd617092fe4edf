#pragma once

// NSArchiver / NSUnarchiver typedstream (streamtyped, system version 1000), as horavelset reads it
// from standard input.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/decode.h"
#include "foundation/value.h"

namespace hv {

std::optional<std::string> typedstreamArchive(const Value& root);
DecodeResult typedstreamUnarchive(std::string_view bytes, const DecodeLimits& limits = {});

}  // namespace hv
