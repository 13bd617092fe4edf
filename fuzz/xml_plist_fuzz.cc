#include "foundation/property_list.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Dates outside the years 1..9999 cannot be written; everything else must read back, and in
    // the binary form too.
    const auto value = hv::fuzz::checkRoundTrip(
        data, size, hv::readXmlPropertyList, [](const hv::Value& v) { return hv::writeXmlPropertyList(v); },
        "rewritten XML does not read");
    if (value) {
        const auto binary = hv::writeBinaryPropertyList(*value);
        hv::fuzz::require(binary && hv::readBinaryPropertyList(*binary).ok(),
                          "XML value does not survive the binary form");
    }
    return 0;
}
