#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hv::registerTableElement();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hv::fuzz::checkRoundTrip(data, size, hv::keyedUnarchive, hv::keyedArchive, "re-archived value does not unarchive");
    return 0;
}
