#include <string_view>

#include "foundation/property_list.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const hv::DecodeLimits limits;
    const hv::DecodeResult r = hv::readXmlPropertyList(input, limits);
    hv::fuzz::checkFailure(r, size, limits);
    if (!r.ok()) return 0;
    // Dates outside the years 1..9999 cannot be written; everything else must read back.
    if (const auto again = hv::writeXmlPropertyList(r.value)) {
        hv::fuzz::require(hv::readXmlPropertyList(*again, limits).ok(), "rewritten XML does not read");
        const auto binary = hv::writeBinaryPropertyList(r.value);
        hv::fuzz::require(binary && hv::readBinaryPropertyList(*binary, limits).ok(),
                          "XML value does not survive the binary form");
    }
    return 0;
}
