#pragma once

// Property lists: binary ("bplist00", our own bounded reader and writer) and XML (as Apple writes
// it). Binary lists may hold UIDs (keyed archives); XML lists may not.

#include <string>
#include <string_view>

#include "foundation/decode.h"
#include "foundation/value.h"

namespace hv {

// Reads either form, chosen by the leading bytes. A repeated dictionary key keeps its last value.
// Strings come back as UTF-8: binary UTF-16 with an unpaired surrogate is an error, bytes above
// 0x7F in a binary ASCII string are read as Latin-1.
DecodeResult readPropertyList(std::string_view bytes, const DecodeLimits& limits = {});
DecodeResult readBinaryPropertyList(std::string_view bytes, const DecodeLimits& limits = {});
DecodeResult readXmlPropertyList(std::string_view bytes, const DecodeLimits& limits = {});

// Writers. nullopt for what a property list cannot hold (nil, Null, objects, non-string keys,
// text that is not UTF-8; UIDs in XML; in XML also NUL characters and dates outside the years
// 1..9999) and for values the readers would refuse (nesting deeper than 64, more than 100,000
// objects). A calendar date is written as a plain date.
std::optional<std::string> writeBinaryPropertyList(const Value& root);
std::optional<std::string> writeXmlPropertyList(const Value& root);

}  // namespace hv
