// Adapter enumeration and the local address on Linux: getifaddrs in kernel order, gateways from
// the kernel's IPv4 routing table, the local address from the host name.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "net/adapters_linux.h"
#include "net/ethernet_utils.h"

namespace kelvo {

namespace linux_adapters {

namespace {

constexpr const char* kNoAddress = "0.0.0.0";

std::string DottedText(const in_addr& AAddress) {
  char Text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &AAddress, Text, sizeof Text) == nullptr) {
    return kNoAddress;
  }
  return Text;
}

std::string DottedText(const sockaddr* AAddress) {
  sockaddr_in Address{};
  std::copy_n(reinterpret_cast<const unsigned char*>(AAddress), sizeof Address,
              reinterpret_cast<unsigned char*>(&Address));
  return DottedText(Address.sin_addr);
}

bool ParseHex32(const std::string& AText, std::uint32_t& AValue) {
  if (AText.empty() || AText.size() > 8) {
    return false;
  }
  std::size_t Used = 0;
  try {
    AValue = static_cast<std::uint32_t>(std::stoul(AText, &Used, 16));
  } catch (const std::exception&) {
    return false;
  }
  return Used == AText.size();
}

std::string KindName(const std::string& AName, unsigned AFlags, int AHardwareType) {
  if ((AFlags & IFF_LOOPBACK) != 0 || AHardwareType == ARPHRD_LOOPBACK) {
    return "Loopback";
  }
  std::error_code Ignored;
  if (std::filesystem::exists("/sys/class/net/" + AName + "/wireless", Ignored)) {
    return "Wireless";
  }
  switch (AHardwareType) {
    case ARPHRD_ETHER:
      return "Ethernet";
    case ARPHRD_PPP:
      return "PPP";
    case ARPHRD_NONE:
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
      return "Tunnel";
    default:
      return (AFlags & IFF_POINTOPOINT) != 0 ? "Point-to-point" : "Network";
  }
}

std::string ReadRouteTable() {
  std::ifstream File("/proc/net/route");
  std::ostringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

struct TEnumerated {
  TPlatformAdapter Adapter;
  unsigned Flags = 0;
  int HardwareType = -1;
  bool HasAddress = false;
};

std::optional<std::vector<TPlatformAdapter>> EnumerateSystemAdapters() {
  ifaddrs* List = nullptr;
  if (getifaddrs(&List) != 0) {
    return std::nullopt;
  }
  // getifaddrs lists each interface several times (link, IPv4, IPv6); the first appearance of a
  // name fixes its place, which follows the kernel's interface order.
  std::vector<TEnumerated> Found;
  for (const ifaddrs* Entry = List; Entry != nullptr; Entry = Entry->ifa_next) {
    if (Entry->ifa_name == nullptr) {
      continue;
    }
    const std::string Name = Entry->ifa_name;
    auto It = std::find_if(Found.begin(), Found.end(),
                           [&](const TEnumerated& E) { return E.Adapter.AdapterName == Name; });
    if (It == Found.end()) {
      Found.push_back({});
      It = std::prev(Found.end());
      It->Adapter.AdapterName = Name;
      It->Flags = Entry->ifa_flags;
    }
    if (Entry->ifa_addr == nullptr) {
      continue;
    }
    if (Entry->ifa_addr->sa_family == AF_PACKET) {
      sockaddr_ll Link{};
      std::copy_n(reinterpret_cast<const unsigned char*>(Entry->ifa_addr), sizeof Link,
                  reinterpret_cast<unsigned char*>(&Link));
      It->HardwareType = Link.sll_hatype;
    } else if (Entry->ifa_addr->sa_family == AF_INET && !It->HasAddress) {
      It->HasAddress = true;
      It->Adapter.IpAddress = DottedText(Entry->ifa_addr);
      It->Adapter.IpMask =
          Entry->ifa_netmask != nullptr ? DottedText(Entry->ifa_netmask) : std::string(kNoAddress);
    }
  }
  freeifaddrs(List);

  const std::string Routes = ReadRouteTable();
  std::vector<TPlatformAdapter> Adapters;
  Adapters.reserve(Found.size());
  for (TEnumerated& E : Found) {
    TPlatformAdapter& A = E.Adapter;
    if (!E.HasAddress) {
      A.IpAddress = kNoAddress;
      A.IpMask = kNoAddress;
    }
    A.Description = A.AdapterName + " (" + KindName(A.AdapterName, E.Flags, E.HardwareType) + ")";
    A.Gateway = FirstDefaultGateway(Routes, A.AdapterName);
    Adapters.push_back(std::move(A));
  }
  return Adapters;
}

std::string LocalHostAddress() {
  char Name[256] = {};
  if (gethostname(Name, sizeof Name - 1) != 0) {
    throw std::runtime_error("gethostname failed");
  }
  addrinfo Hints{};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_DGRAM;
  addrinfo* Result = nullptr;
  const int Status = getaddrinfo(Name, nullptr, &Hints, &Result);
  if (Status != 0) {
    throw std::runtime_error(std::string("cannot resolve host name \"") + Name +
                             "\": " + gai_strerror(Status));
  }
  std::string Address;
  for (const addrinfo* Entry = Result; Entry != nullptr; Entry = Entry->ai_next) {
    if (Entry->ai_family == AF_INET && Entry->ai_addr != nullptr) {
      Address = DottedText(Entry->ai_addr);
      break;
    }
  }
  freeaddrinfo(Result);
  return Address;
}

}  // namespace

std::string FirstDefaultGateway(const std::string& ARouteTable, const std::string& AInterface) {
  constexpr std::uint32_t kRouteGateway = 0x0002;  // RTF_GATEWAY
  std::istringstream Lines(ARouteTable);
  std::string Line;
  std::getline(Lines, Line);  // column titles
  while (std::getline(Lines, Line)) {
    std::istringstream Fields(Line);
    std::string Iface, Destination, Gateway, Flags, RefCnt, Use, Metric, Mask;
    if (!(Fields >> Iface >> Destination >> Gateway >> Flags >> RefCnt >> Use >> Metric >> Mask)) {
      continue;
    }
    std::uint32_t DestinationValue = 0, GatewayValue = 0, FlagsValue = 0, MaskValue = 0;
    if (Iface != AInterface || !ParseHex32(Destination, DestinationValue) ||
        !ParseHex32(Gateway, GatewayValue) || !ParseHex32(Flags, FlagsValue) ||
        !ParseHex32(Mask, MaskValue)) {
      continue;
    }
    if (DestinationValue == 0 && MaskValue == 0 && (FlagsValue & kRouteGateway) != 0) {
      // The kernel prints the address as the host-order number of its network-order bytes.
      in_addr Address{};
      Address.s_addr = GatewayValue;
      return DottedText(Address);
    }
  }
  return kNoAddress;
}

}  // namespace linux_adapters

TAdapterPlatform SystemAdapterPlatform() {
  return {linux_adapters::EnumerateSystemAdapters, linux_adapters::LocalHostAddress};
}

}  // namespace kelvo
