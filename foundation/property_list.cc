#include "foundation/property_list.h"

namespace hv {

DecodeResult readPropertyList(std::string_view bytes, const DecodeLimits& limits) {
    if (bytes.size() > limits.maxBytes) {
        DecodeResult result;
        result.error = DecodeError{"property list larger than the size limit", limits.maxBytes};
        return result;
    }
    if (bytes.starts_with("bplist")) return readBinaryPropertyList(bytes, limits);
    return readXmlPropertyList(bytes, limits);
}

}  // namespace hv
