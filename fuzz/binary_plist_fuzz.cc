#include <string_view>

#include "foundation/property_list.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const hv::DecodeLimits limits;
    const hv::DecodeResult r = hv::readBinaryPropertyList(input, limits);
    hv::fuzz::checkFailure(r, size, limits);
    if (!r.ok()) return 0;
    // A null object is readable but not writable; everything else must survive a round trip.
    if (const auto again = hv::writeBinaryPropertyList(r.value)) {
        hv::fuzz::require(hv::readBinaryPropertyList(*again, limits).ok(), "rewritten list does not read");
    }
    return 0;
}
