// Pieces of the Linux adapter enumeration that are worth checking without the live system.
// Internal to the network subsystem; not part of the core's public interface.
#pragma once

#include <string>

namespace kelvo::linux_adapters {

// The first default route (destination and mask 0, gateway flag set) of AInterface in the text
// of /proc/net/route, as dotted text; "0.0.0.0" when there is none.
std::string FirstDefaultGateway(const std::string& ARouteTable, const std::string& AInterface);

}  // namespace kelvo::linux_adapters
