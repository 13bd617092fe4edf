#include "foundation/property_list.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A null object is readable but not writable; everything else must survive a round trip.
    hv::fuzz::checkRoundTrip(data, size, hv::readBinaryPropertyList, hv::writeBinaryPropertyList,
                             "rewritten list does not read");
    return 0;
}
