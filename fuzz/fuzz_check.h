#pragma once

// What every fuzz target checks besides "no crash, no sanitizer report": a decoder that fails
// says why, and whatever decodes writes back into something that decodes again.

#include <cstdlib>
#include <cstdio>

#include "foundation/decode.h"

namespace hv::fuzz {

// Aborts, so that libFuzzer records the input, when a condition that must hold does not.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

inline void checkFailure(const DecodeResult& r, size_t inputSize, const DecodeLimits& limits) {
    if (r.ok()) return;
    require(!r.error->message.empty(), "error without a message");
    require(r.error->offset <= std::max(inputSize, limits.maxBytes), "error offset beyond the input");
    require(r.value.isNil(), "failed decode returned a value");
}

}  // namespace hv::fuzz
