#pragma once

// Reading the JSON the administrator writes (`horavelctl encode`, `policy set`), strictly: what
// the JSON library would quietly bend is refused with one line that says what and where.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace hv {

using Json = nlohmann::ordered_json;

struct JsonError {
    std::string message;  // one line: what is wrong and where (a JSON pointer or a byte offset)
};

struct JsonParse {
    Json json;
    std::optional<JsonError> error;
};

// Parses text of at most 1 MiB, nested at most 64 levels. A syntax error names its byte offset.
// Refused, with the JSON pointer of the value: a key repeated in one object; an integer beyond
// 64 bits (the library would turn it into a real); a real too large for a double (1e400) or so
// small it would become 0 (1e-400).
JsonParse parseJsonText(std::string_view text);

// key as one token of a JSON pointer ("~" as "~0", "/" as "~1").
std::string jsonPointerToken(const std::string& key);

}  // namespace hv
