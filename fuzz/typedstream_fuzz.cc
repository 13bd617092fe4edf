#include <string_view>

#include "common/table_element.h"
#include "foundation/typedstream.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hv::registerTableElement();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const hv::DecodeLimits limits;
    const hv::DecodeResult r = hv::typedstreamUnarchive(input, limits);
    hv::fuzz::checkFailure(r, size, limits);
    if (!r.ok()) return 0;
    if (const auto again = hv::typedstreamArchive(r.value)) {
        const hv::DecodeResult back = hv::typedstreamUnarchive(*again, limits);
        hv::fuzz::require(back.ok(), "re-archived value does not unarchive");
    }
    return 0;
}
