#pragma once

// Joins pieces of text into one string. Used for messages and keys instead of `"text" + s`,
// which GCC 12 at -O2/-O3 misreports as an overlapping copy (-Wrestrict).

#include <initializer_list>
#include <string>
#include <string_view>

namespace hv {

inline std::string concat(std::initializer_list<std::string_view> parts) {
    size_t size = 0;
    for (std::string_view p : parts) size += p.size();
    std::string out;
    out.reserve(size);
    for (std::string_view p : parts) out.append(p);
    return out;
}

}  // namespace hv
