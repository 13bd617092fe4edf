#pragma once

// Conversions between UTF-8 (how every string is held) and the encodings property lists use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hv {

// UTF-16 code units to UTF-8; nullopt on an unpaired surrogate.
std::optional<std::string> utf16ToUtf8(const std::vector<uint16_t>& units);
// UTF-8 to UTF-16 code units; nullopt when text is not well-formed UTF-8 (overlong forms,
// surrogates, truncated sequences and values above U+10FFFF are all rejected).
std::optional<std::vector<uint16_t>> utf8ToUtf16(std::string_view text);
bool isValidUtf8(std::string_view text);
// Appends code point cp (at most U+10FFFF, not a surrogate) as UTF-8.
void appendUtf8(std::string& out, uint32_t cp);
// Each byte as the Latin-1 character of that value, in UTF-8.
std::string latin1ToUtf8(std::string_view bytes);
// text with each C0 control character shown as "<U+000A>", so that a message quoting it stays on
// one line.
std::string printableText(std::string_view text);

}  // namespace hv
