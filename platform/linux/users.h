#pragma once

// Looks up accounts in the user database.

#include <cstdint>
#include <string>

namespace hv {

// Walks the user database with getpwent from its first entry and returns the uid of the first
// entry whose name equals `name` byte for byte, or -1 when none does.
int32_t uidByName(const std::string& name);

}  // namespace hv
