#pragma once

// What every decoder shares: its limits and its result. Decoders never throw, never crash and
// never allocate beyond what the limits allow; a shared reference is decoded once and shared.

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/value.h"

namespace hv {

struct DecodeLimits {
    size_t maxBytes = 1 << 20;
    int maxDepth = 64;
    size_t maxObjects = 100000;
};

struct DecodeError {
    std::string message;  // what is wrong, one line
    size_t offset = 0;    // byte offset in the input where it was found
};

struct DecodeResult {
    Value value;
    std::optional<DecodeError> error;
    bool ok() const { return !error.has_value(); }
};

}  // namespace hv
