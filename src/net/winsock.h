// Winsock 2 is started once per process, before the first socket or name lookup, and left
// running until the process ends. Internal to the core's Windows files. Thread-safe.
#pragma once

#include <string>

namespace kelvo {

// Throws std::runtime_error with the system's text when Winsock cannot be started.
void EnsureWinsock();
// The dotted text of an IPv4 address given as its four bytes in network order.
std::string DottedQuad(const unsigned char (&ABytes)[4]);

}  // namespace kelvo
