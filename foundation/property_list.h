#pragma once

// Property lists: binary ("bplist00", our own bounded reader and writer) and XML (as Apple writes
// it). Binary lists may hold UIDs (keyed archives); XML lists may not.

#include <string>
#include <string_view>

#include "foundation/decode.h"
#include "foundation/value.h"

namespace hv {

// Reads either form, chosen by the leading bytes.
DecodeResult readPropertyList(std::string_view bytes, const DecodeLimits& limits = {});
DecodeResult readBinaryPropertyList(std::string_view bytes, const DecodeLimits& limits = {});
DecodeResult readXmlPropertyList(std::string_view bytes, const DecodeLimits& limits = {});

// Writers. Values a property list cannot hold (nil, Null, objects) are an error: nullopt.
std::optional<std::string> writeBinaryPropertyList(const Value& root);
std::optional<std::string> writeXmlPropertyList(const Value& root);

}  // namespace hv
