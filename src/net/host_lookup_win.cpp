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
  if (const auto Address = ParseDottedIPv4(AHost)) {
    return IntToIPAddress(*Address);
  }
  EnsureWinsock();
  ADDRINFOW Hints{};
  Hints.ai_family = AF_INET;
  // One socket type only, so each address comes back once.
  Hints.ai_socktype = SOCK_DGRAM;

  ADDRINFOW* Raw = nullptr;
  const int Code = GetAddrInfoW(Utf8ToWide(AHost).c_str(), nullptr, &Hints, &Raw);
  std::unique_ptr<ADDRINFOW, TAddrInfoFree> Result(Raw);
  if (Code != 0) {
    throw TResolveError("Cannot resolve host \"" + AHost +
                        "\": " + WindowsErrorText(static_cast<unsigned long>(Code)));
  }
  for (const ADDRINFOW* Info = Result.get(); Info != nullptr; Info = Info->ai_next) {
    if (Info->ai_family != AF_INET || Info->ai_addr == nullptr ||
        Info->ai_addrlen < sizeof(sockaddr_in)) {
      continue;
    }
    // Copy instead of casting: the storage need not be aligned for sockaddr_in.
    sockaddr_in Address{};
    std::memcpy(&Address, Info->ai_addr, sizeof(Address));
    unsigned char Bytes[4];
    std::memcpy(Bytes, &Address.sin_addr, sizeof Bytes);
    return DottedQuad(Bytes);
  }
  throw TResolveError("Cannot resolve host \"" + AHost + "\": no IPv4 address");
}

}  // namespace kelvo
