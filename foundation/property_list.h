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
// text that is not UTF-8; UIDs in XML) and for values the readers would refuse (nesting deeper
// than 64, more than 100,000 objects). A calendar date is written as a plain date.
std::optional<std::string> writeBinaryPropertyList(const Value& root);
// XML also refuses text with characters XML 1.0 cannot carry (C0 controls other than tab, line
// feed and carriage return; U+FFFE, U+FFFF) and dates outside the years 0001..9999, and keeps
// dates to whole seconds, rounded down. A carriage return is written as "&#13;" so that it reads
// back as itself. When it returns nullopt and whyNot is given, *whyNot says what could not be
// written and where, as a JSON pointer ("the string holds U+0007, ... at /warnmsg").
std::optional<std::string> writeXmlPropertyList(const Value& root, std::string* whyNot = nullptr);

}  // namespace hv
