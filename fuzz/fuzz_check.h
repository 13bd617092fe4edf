#pragma once

// What every fuzz target checks besides "no crash, no sanitizer report": a decoder that fails
// says why, and whatever decodes writes back into something that decodes again.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

// The round trip every target makes: reads the fuzzer's input with `read` under the default limits
// and checks a failure with checkFailure; a value read that `write` writes (a writer may refuse some
// values) must read again, else `what` is the failed check. Returns the value when it was written
// back, for a target's further checks.
inline std::optional<Value> checkRoundTrip(const uint8_t* data, size_t size,
                                           DecodeResult (*read)(std::string_view, const DecodeLimits&),
                                           std::optional<std::string> (*write)(const Value&), const char* what) {
    const DecodeLimits limits;
    DecodeResult r = read(std::string_view(reinterpret_cast<const char*>(data), size), limits);
    checkFailure(r, size, limits);
    if (!r.ok()) return std::nullopt;
    const std::optional<std::string> again = write(r.value);
    if (!again) return std::nullopt;
    require(read(*again, limits).ok(), what);
    return std::move(r.value);
}

}  // namespace hv::fuzz
