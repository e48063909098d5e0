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
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &AAddress, text, sizeof text) == nullptr) {
    return kNoAddress;
  }
  return text;
}

std::string DottedText(const sockaddr* AAddress) {
  sockaddr_in address{};
  std::copy_n(reinterpret_cast<const unsigned char*>(AAddress), sizeof address,
              reinterpret_cast<unsigned char*>(&address));
  return DottedText(address.sin_addr);
}

bool ParseHex32(const std::string& AText, std::uint32_t& AValue) {
  if (AText.empty() || AText.size() > 8) {
    return false;
  }
  std::size_t used = 0;
  try {
    AValue = static_cast<std::uint32_t>(std::stoul(AText, &used, 16));
  } catch (const std::exception&) {
    return false;
  }
  return used == AText.size();
}

std::string KindName(const std::string& AName, unsigned AFlags, int AHardwareType) {
  if ((AFlags & IFF_LOOPBACK) != 0 || AHardwareType == ARPHRD_LOOPBACK) {
    return "Loopback";
  }
  std::error_code ignored;
  if (std::filesystem::exists("/sys/class/net/" + AName + "/wireless", ignored)) {
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
  std::ifstream file("/proc/net/route");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

struct TEnumerated {
  TPlatformAdapter Adapter;
  unsigned Flags = 0;
  int HardwareType = -1;
  bool HasAddress = false;
};

std::optional<std::vector<TPlatformAdapter>> EnumerateSystemAdapters() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return std::nullopt;
  }
  // getifaddrs lists each interface several times (link, IPv4, IPv6); the first appearance of a
  // name fixes its place, which follows the kernel's interface order.
  std::vector<TEnumerated> found;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr) {
      continue;
    }
    const std::string name = entry->ifa_name;
    auto it = std::find_if(found.begin(), found.end(),
                           [&](const TEnumerated& E) { return E.Adapter.AdapterName == name; });
    if (it == found.end()) {
      found.push_back({});
      it = std::prev(found.end());
      it->Adapter.AdapterName = name;
      it->Flags = entry->ifa_flags;
    }
    if (entry->ifa_addr == nullptr) {
      continue;
    }
    if (entry->ifa_addr->sa_family == AF_PACKET) {
      sockaddr_ll link{};
      std::copy_n(reinterpret_cast<const unsigned char*>(entry->ifa_addr), sizeof link,
                  reinterpret_cast<unsigned char*>(&link));
      it->HardwareType = link.sll_hatype;
    } else if (entry->ifa_addr->sa_family == AF_INET && !it->HasAddress) {
      it->HasAddress = true;
      it->Adapter.IpAddress = DottedText(entry->ifa_addr);
      it->Adapter.IpMask =
          entry->ifa_netmask != nullptr ? DottedText(entry->ifa_netmask) : std::string(kNoAddress);
    }
  }
  freeifaddrs(list);

  const std::string routes = ReadRouteTable();
  std::vector<TPlatformAdapter> adapters;
  adapters.reserve(found.size());
  for (TEnumerated& e : found) {
    TPlatformAdapter& a = e.Adapter;
    if (!e.HasAddress) {
      a.IpAddress = kNoAddress;
      a.IpMask = kNoAddress;
    }
    a.Description = a.AdapterName + " (" + KindName(a.AdapterName, e.Flags, e.HardwareType) + ")";
    a.Gateway = FirstDefaultGateway(routes, a.AdapterName);
    adapters.push_back(std::move(a));
  }
  return adapters;
}

std::string LocalHostAddress() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    throw std::runtime_error("gethostname failed");
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  const int status = getaddrinfo(name, nullptr, &hints, &result);
  if (status != 0) {
    throw std::runtime_error(std::string("cannot resolve host name \"") + name +
                             "\": " + gai_strerror(status));
  }
  std::string address;
  for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      address = DottedText(entry->ai_addr);
      break;
    }
  }
  freeaddrinfo(result);
  return address;
}

}  // namespace

std::string FirstDefaultGateway(const std::string& ARouteTable, const std::string& AInterface) {
  constexpr std::uint32_t kRouteGateway = 0x0002;  // RTF_GATEWAY
  std::istringstream lines(ARouteTable);
  std::string line;
  std::getline(lines, line);  // column titles
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refCnt, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refCnt >> use >> metric >> mask)) {
      continue;
    }
    std::uint32_t destinationValue = 0, gatewayValue = 0, flagsValue = 0, maskValue = 0;
    if (iface != AInterface || !ParseHex32(destination, destinationValue) ||
        !ParseHex32(gateway, gatewayValue) || !ParseHex32(flags, flagsValue) ||
        !ParseHex32(mask, maskValue)) {
      continue;
    }
    if (destinationValue == 0 && maskValue == 0 && (flagsValue & kRouteGateway) != 0) {
      // The kernel prints the address as the host-order number of its network-order bytes.
      in_addr address{};
      address.s_addr = gatewayValue;
      return DottedText(address);
    }
  }
  return kNoAddress;
}

}  // namespace linux_adapters

TAdapterPlatform SystemAdapterPlatform() {
  return {linux_adapters::EnumerateSystemAdapters, linux_adapters::LocalHostAddress};
}

}  // namespace kelvo
