// The machine's Ethernet adapters, the selected adapter record and dotted-address helpers.
// The dotted-address helpers (ParseDottedIPv4 to CalcBroadcastAddress) are pure: any thread,
// the listener's included. The rest reads the machine's adapters: GUI thread only (or the
// headless runner's main thread); nothing here is cached.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// One adapter as the platform reports it, in enumeration order.
struct TPlatformAdapter {
  std::string AdapterName;  // stable identifier (interface name on Linux)
  std::string Description;  // readable name
  std::string IpAddress;    // first IPv4 address, dotted text ("0.0.0.0" when none)
  std::string IpMask;       // its mask
  std::string Gateway;      // first default gateway ("0.0.0.0" when none)
};

// The platform seam: adapter enumeration (nullopt when enumeration fails) and the first IPv4
// address of the machine's host name (empty when none; throws std::runtime_error when the
// socket layer fails).
struct TAdapterPlatform {
  std::function<std::optional<std::vector<TPlatformAdapter>>()> Enumerate;
  std::function<std::string()> LocalIPAddress;
};

// The real platform (getifaddrs and the routing table on Linux).
TAdapterPlatform SystemAdapterPlatform();
// Tests replace the platform for the whole process; returns the previous one.
TAdapterPlatform SetAdapterPlatform(TAdapterPlatform APlatform);

// The one reading of a dotted IPv4 text wherever it becomes a socket address: exactly four
// parts of decimal digits, each 0 to 255, leading zeros read as decimal ("192.168.001.010" is
// 192.168.1.10, never octal). Returns the address with the first part as the top byte, or
// nullopt. Portable and thread-safe.
std::optional<std::uint32_t> ParseDottedIPv4(std::string_view AText);

bool IsValidIPAddress(const std::string& AText);
std::uint32_t IPAddressToInt(const std::string& AText);
std::string IntToIPAddress(std::uint32_t AValue);
std::string CalcBroadcastAddress(const std::string& AIPAddress, const std::string& ASubnetMask);
std::string GetLocalIPAddress();
bool FindAdapterByIP(const std::string& AIPAddress, std::string& ASubnetMask, std::string& AID,
                     std::string& ADescName, std::string& AGateway);
bool FindAdapterByID(const std::string& AID, std::string& AIPAddress, std::string& ASubnetMask,
                     std::string& ADescName, std::string& AGateway);

class TEthernetAdapterInfo {
 public:
  TEthernetAdapterInfo() = default;
  TEthernetAdapterInfo(const std::string& AID, const std::string& ADescName,
                       const std::string& AIPAddress, const std::string& ASubnetMask);

  void Clear();
  bool GetDefault();
  bool SetByID(const std::string& AAdapterID);

  const std::string& IPAddress() const { return FIPAddress; }
  const std::string& SubnetMask() const { return FSubnetMask; }
  const std::string& BroadcastAddress() const { return FBroadcastAddress; }
  const std::string& Gateway() const { return FGateway; }
  const std::string& DescName() const { return FDescName; }
  const std::string& ID() const { return FID; }

 private:
  std::string FIPAddress;
  std::string FSubnetMask;
  std::string FBroadcastAddress;
  std::string FGateway;
  std::string FDescName;
  std::string FID;
};

class TEthernetAdapterInfoList {
 public:
  void Clear();
  void Refresh();
  void Add(const std::string& AID, const std::string& ADescName, const std::string& AIPAddress,
           const std::string& ASubnetMask);
  int Count() const;
  const TEthernetAdapterInfo* Items(int AIndex) const;  // null when out of range
  void Delete(int AIndex);
  int IndexOf(const std::string& AnAdapterID) const;
  int IndexOf(const TEthernetAdapterInfo& AnAdapter) const;
  const TEthernetAdapterInfo* GetByID(const std::string& AnAdapterID) const;
  // Appends "DescName (IPAddress)" per record to ALines (a drop-down list's items).
  void WriteToCombo(std::vector<std::string>& ALines) const;

 private:
  std::vector<std::unique_ptr<TEthernetAdapterInfo>> fItems;
};

}  // namespace kelvo
