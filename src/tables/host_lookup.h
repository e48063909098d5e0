// The platform's IPv4 name lookup behind ResolveHostToIP (one implementation per platform).
#pragma once

#include <string>

namespace kelvo {

// The first IPv4 address the system resolver returns for AHost, in dotted decimal. No caching.
// Throws TResolveError naming the host when the lookup fails. Thread-safe; may block.
std::string LookupHostIPv4(const std::string& AHost);

}  // namespace kelvo
