#pragma once

// The kernel's IPv4 interface-address list, read the classic way: SIOCGIFCONF on an AF_INET
// datagram socket, then SIOCGIFFLAGS for each record.

#include <optional>
#include <vector>

#include "platform/system.h"

namespace hv {

// Every record of the list in the kernel's order: one per IPv4 address, so an interface with two
// addresses appears twice and an alias keeps its label ("eth0:1"). `up` is IFF_UP of the device;
// a record whose flags cannot be read is reported as not up. nullopt when the socket cannot be
// opened or the list cannot be read.
std::optional<std::vector<InterfaceEntry>> listInterfaces();

}  // namespace hv
