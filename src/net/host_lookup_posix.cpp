#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <memory>

#include "net/ethernet_utils.h"
#include "net/host_lookup.h"

namespace kelvo {

namespace {

struct TAddrInfoFree {
  void operator()(addrinfo* AInfo) const { freeaddrinfo(AInfo); }
};

}  // namespace

std::string LookupHostIPv4(const std::string& AHost) {
  // The C resolver reads "010" as octal 8; a dotted text is decimal here as everywhere else.
  if (const auto Address = ParseDottedIPv4(AHost)) {
    return IntToIPAddress(*Address);
  }
  addrinfo Hints{};
  Hints.ai_family = AF_INET;
  // One socket type only, so each address comes back once.
  Hints.ai_socktype = SOCK_DGRAM;

  addrinfo* Raw = nullptr;
  const int Code = getaddrinfo(AHost.c_str(), nullptr, &Hints, &Raw);
  std::unique_ptr<addrinfo, TAddrInfoFree> Result(Raw);
  if (Code != 0) {
    throw TResolveError("Cannot resolve host \"" + AHost + "\": " + gai_strerror(Code));
  }
  for (const addrinfo* Info = Result.get(); Info != nullptr; Info = Info->ai_next) {
    if (Info->ai_family != AF_INET || Info->ai_addr == nullptr) {
      continue;
    }
    sockaddr_in Address{};
    if (Info->ai_addrlen < sizeof(Address)) {
      continue;
    }
    // Copy instead of casting: the storage need not be aligned for sockaddr_in.
    std::memcpy(&Address, Info->ai_addr, sizeof(Address));
    std::array<char, INET_ADDRSTRLEN> Text{};
    if (inet_ntop(AF_INET, &Address.sin_addr, Text.data(), Text.size()) != nullptr) {
      return std::string(Text.data());
    }
  }
  throw TResolveError("Cannot resolve host \"" + AHost + "\": no IPv4 address");
}

}  // namespace kelvo
