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
  if (const auto address = ParseDottedIPv4(AHost)) {
    return IntToIPAddress(*address);
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  // One socket type only, so each address comes back once.
  hints.ai_socktype = SOCK_DGRAM;

  addrinfo* raw = nullptr;
  const int code = getaddrinfo(AHost.c_str(), nullptr, &hints, &raw);
  std::unique_ptr<addrinfo, TAddrInfoFree> result(raw);
  if (code != 0) {
    throw TResolveError("Cannot resolve host \"" + AHost + "\": " + gai_strerror(code));
  }
  for (const addrinfo* info = result.get(); info != nullptr; info = info->ai_next) {
    if (info->ai_family != AF_INET || info->ai_addr == nullptr) {
      continue;
    }
    sockaddr_in address{};
    if (info->ai_addrlen < sizeof(address)) {
      continue;
    }
    // Copy instead of casting: the storage need not be aligned for sockaddr_in.
    std::memcpy(&address, info->ai_addr, sizeof(address));
    std::array<char, INET_ADDRSTRLEN> text{};
    if (inet_ntop(AF_INET, &address.sin_addr, text.data(), text.size()) != nullptr) {
      return std::string(text.data());
    }
  }
  throw TResolveError("Cannot resolve host \"" + AHost + "\": no IPv4 address");
}

}  // namespace kelvo
