#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <memory>

#include "base/windows_text.h"
#include "net/ethernet_utils.h"
#include "net/host_lookup.h"
#include "net/winsock.h"

namespace kelvo {

namespace {

struct TAddrInfoFree {
  void operator()(ADDRINFOW* AInfo) const { FreeAddrInfoW(AInfo); }
};

}  // namespace

std::string LookupHostIPv4(const std::string& AHost) {
  // The resolver may read "010" as octal 8; a dotted text is decimal here as everywhere else.
  if (const auto address = ParseDottedIPv4(AHost)) {
    return IntToIPAddress(*address);
  }
  EnsureWinsock();
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  // One socket type only, so each address comes back once.
  hints.ai_socktype = SOCK_DGRAM;

  ADDRINFOW* raw = nullptr;
  const int code = GetAddrInfoW(Utf8ToWide(AHost).c_str(), nullptr, &hints, &raw);
  std::unique_ptr<ADDRINFOW, TAddrInfoFree> result(raw);
  if (code != 0) {
    throw TResolveError("Cannot resolve host \"" + AHost +
                        "\": " + WindowsErrorText(static_cast<unsigned long>(code)));
  }
  for (const ADDRINFOW* info = result.get(); info != nullptr; info = info->ai_next) {
    if (info->ai_family != AF_INET || info->ai_addr == nullptr ||
        info->ai_addrlen < sizeof(sockaddr_in)) {
      continue;
    }
    // Copy instead of casting: the storage need not be aligned for sockaddr_in.
    sockaddr_in address{};
    std::memcpy(&address, info->ai_addr, sizeof(address));
    unsigned char bytes[4];
    std::memcpy(bytes, &address.sin_addr, sizeof bytes);
    return DottedQuad(bytes);
  }
  throw TResolveError("Cannot resolve host \"" + AHost + "\": no IPv4 address");
}

}  // namespace kelvo
