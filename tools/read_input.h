#pragma once

// Bounded reading of the files horavelctl is given or looks at.

#include <cstddef>
#include <optional>
#include <string>

namespace hv {

struct InputResult {
    std::optional<std::string> bytes;
    bool missing = false;  // no file at the path
    std::string error;     // why it could not be read, one line
};

// Reads `path` ("-" for standard input) up to maxBytes; more is an error. A path must name a
// regular file (a link to one is followed: these are the administrator's own files).
InputResult readInput(const std::string& path, size_t maxBytes = 1 << 20);

}  // namespace hv
