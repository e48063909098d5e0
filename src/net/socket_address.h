// Between sockaddr_in and the host-order address and port that the portable code uses. For
// the network's platform files and their tests: the lines are the same over BSD sockets and
// Winsock, only the headers that declare them differ, so each includer brings its system's
// socket headers (<netinet/in.h>, <winsock2.h>) before this one.
#pragma once

#include <cstdint>

namespace kelvo {

// AAddress 0 is INADDR_ANY.
inline sockaddr_in MakeSocketAddress(std::uint32_t AAddress, std::uint16_t APort) {
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(APort);
  Address.sin_addr.s_addr = htonl(AAddress);
  return Address;
}

inline sockaddr* AsSockaddr(sockaddr_in& AAddress) {
  return reinterpret_cast<sockaddr*>(&AAddress);
}

}  // namespace kelvo
