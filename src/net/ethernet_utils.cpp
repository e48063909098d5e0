// Dotted-address helpers and the adapter record and list. Everything that asks the system goes
// through the adapter platform, so this file stays the same on every system.
#include "net/ethernet_utils.h"

#include <cstddef>
#include <optional>
#include <utility>

namespace kelvo {

namespace {

TAdapterPlatform& CurrentPlatform() {
  static TAdapterPlatform platform = SystemAdapterPlatform();
  return platform;
}

std::optional<std::vector<TPlatformAdapter>> EnumerateAdapters() {
  const TAdapterPlatform& platform = CurrentPlatform();
  if (!platform.Enumerate) {
    return std::nullopt;
  }
  return platform.Enumerate();
}

bool IsDigit(char AChar) {
  return AChar >= '0' && AChar <= '9';
}

}  // namespace

TAdapterPlatform SetAdapterPlatform(TAdapterPlatform APlatform) {
  return std::exchange(CurrentPlatform(), std::move(APlatform));
}

std::optional<std::uint32_t> ParseDottedIPv4(std::string_view AText) {
  std::uint32_t result = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= AText.size() || AText[pos] != '.') {
        return std::nullopt;
      }
      ++pos;
    }
    const std::size_t start = pos;
    unsigned value = 0;
    while (pos < AText.size() && IsDigit(AText[pos])) {
      value = value * 10 + static_cast<unsigned>(AText[pos] - '0');
      if (value > 255) {
        return std::nullopt;  // also keeps long runs of digits from overflowing
      }
      ++pos;
    }
    if (pos == start) {
      return std::nullopt;
    }
    result = (result << 8) | value;
  }
  if (pos != AText.size()) {
    return std::nullopt;
  }
  return result;
}

bool IsValidIPAddress(const std::string& AText) {
  if (AText.size() < 7 || AText.size() > 15) {
    return false;
  }
  if (AText.front() == '.') {
    return false;
  }
  int dots = 0;
  int runLength = 0;
  int runValue = 0;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '.') {
      if (i + 1 >= AText.size() || !IsDigit(AText[i + 1])) {
        return false;
      }
      ++dots;
      runLength = 0;
      runValue = 0;
    } else if (IsDigit(c)) {
      ++runLength;
      runValue = runValue * 10 + (c - '0');
      if (runLength > 3 || runValue > 255) {
        return false;
      }
    } else {
      return false;
    }
  }
  // More than three dots passes here on purpose; such a text then converts to 0.
  return dots >= 3;
}

std::uint32_t IPAddressToInt(const std::string& AText) {
  // The validity rule is stricter than the reading (three digits a group at most, 15 characters),
  // and lets more than three dots pass, which the reading then refuses: such a text is 0.
  if (!IsValidIPAddress(AText)) {
    return 0;
  }
  return ParseDottedIPv4(AText).value_or(0);
}

// On every received datagram's path (the sender's address), so it formats without allocating
// beyond the string itself.
std::string IntToIPAddress(std::uint32_t AValue) {
  char text[16];
  char* end = text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned part = (AValue >> shift) & 0xFFu;
    if (part >= 100) {
      *end++ = static_cast<char>('0' + part / 100);
    }
    if (part >= 10) {
      *end++ = static_cast<char>('0' + part / 10 % 10);
    }
    *end++ = static_cast<char>('0' + part % 10);
    if (shift > 0) {
      *end++ = '.';
    }
  }
  return std::string(text, end);
}

std::string CalcBroadcastAddress(const std::string& AIPAddress, const std::string& ASubnetMask) {
  const std::uint32_t ip = IPAddressToInt(AIPAddress);
  const std::uint32_t mask = IPAddressToInt(ASubnetMask);
  return IntToIPAddress((ip & mask) | ~mask);
}

std::string GetLocalIPAddress() {
  const TAdapterPlatform& platform = CurrentPlatform();
  if (!platform.LocalIPAddress) {
    return {};
  }
  return platform.LocalIPAddress();
}

namespace {

// The first adapter of a fresh enumeration that AMatches accepts, or none.
template <typename TMatch>
std::optional<TPlatformAdapter> FirstAdapter(TMatch AMatches) {
  const auto adapters = EnumerateAdapters();
  if (!adapters) {
    return std::nullopt;
  }
  for (const TPlatformAdapter& adapter : *adapters) {
    if (AMatches(adapter)) {
      return adapter;
    }
  }
  return std::nullopt;
}

}  // namespace

bool FindAdapterByIP(const std::string& AIPAddress, std::string& ASubnetMask, std::string& AID,
                     std::string& ADescName, std::string& AGateway) {
  const auto adapter = FirstAdapter(
      [&](const TPlatformAdapter& AAdapter) { return AAdapter.IpAddress == AIPAddress; });
  if (!adapter) {
    return false;
  }
  ASubnetMask = adapter->IpMask;
  AID = adapter->AdapterName;
  ADescName = adapter->Description;
  AGateway = adapter->Gateway;
  return true;
}

bool FindAdapterByID(const std::string& AID, std::string& AIPAddress, std::string& ASubnetMask,
                     std::string& ADescName, std::string& AGateway) {
  const auto adapter =
      FirstAdapter([&](const TPlatformAdapter& AAdapter) { return AAdapter.AdapterName == AID; });
  if (!adapter) {
    return false;
  }
  AIPAddress = adapter->IpAddress;
  ASubnetMask = adapter->IpMask;
  ADescName = adapter->Description;
  AGateway = adapter->Gateway;
  return true;
}

// ---- TEthernetAdapterInfo ----

TEthernetAdapterInfo::TEthernetAdapterInfo(const std::string& AID, const std::string& ADescName,
                                           const std::string& AIPAddress,
                                           const std::string& ASubnetMask)
    : FIPAddress(AIPAddress),
      FSubnetMask(ASubnetMask),
      FBroadcastAddress(CalcBroadcastAddress(AIPAddress, ASubnetMask)),
      FDescName(ADescName),
      FID(AID) {}

void TEthernetAdapterInfo::Clear() {
  *this = TEthernetAdapterInfo();
}

bool TEthernetAdapterInfo::GetDefault() {
  // A socket-layer failure of the local address lookup is meant to reach the caller.
  FIPAddress = GetLocalIPAddress();
  if (IsValidIPAddress(FIPAddress) &&
      FindAdapterByIP(FIPAddress, FSubnetMask, FID, FDescName, FGateway) &&
      IsValidIPAddress(FSubnetMask)) {
    FBroadcastAddress = CalcBroadcastAddress(FIPAddress, FSubnetMask);
    if (IsValidIPAddress(FBroadcastAddress)) {
      return true;
    }
  }
  Clear();
  return false;
}

bool TEthernetAdapterInfo::SetByID(const std::string& AAdapterID) {
  std::string ip, mask, desc, gateway;
  if (!FindAdapterByID(AAdapterID, ip, mask, desc, gateway)) {
    return false;
  }
  FIPAddress = std::move(ip);
  FSubnetMask = std::move(mask);
  FDescName = std::move(desc);
  FGateway = std::move(gateway);
  FID = AAdapterID;
  FBroadcastAddress = CalcBroadcastAddress(FIPAddress, FSubnetMask);
  return true;
}

// ---- TEthernetAdapterInfoList ----

void TEthernetAdapterInfoList::Clear() {
  while (!fItems.empty()) {
    fItems.pop_back();
  }
}

void TEthernetAdapterInfoList::Refresh() {
  const auto adapters = EnumerateAdapters();
  Clear();
  if (!adapters) {
    return;
  }
  for (const TPlatformAdapter& adapter : *adapters) {
    Add(adapter.AdapterName, adapter.Description, adapter.IpAddress, adapter.IpMask);
  }
}

void TEthernetAdapterInfoList::Add(const std::string& AID, const std::string& ADescName,
                                   const std::string& AIPAddress, const std::string& ASubnetMask) {
  fItems.push_back(std::make_unique<TEthernetAdapterInfo>(AID, ADescName, AIPAddress, ASubnetMask));
}

int TEthernetAdapterInfoList::Count() const {
  return static_cast<int>(fItems.size());
}

const TEthernetAdapterInfo* TEthernetAdapterInfoList::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) {
    return nullptr;
  }
  return fItems[static_cast<std::size_t>(AIndex)].get();
}

void TEthernetAdapterInfoList::Delete(int AIndex) {
  if (AIndex < 0 || AIndex >= Count()) {
    return;
  }
  fItems.erase(fItems.begin() + AIndex);
}

int TEthernetAdapterInfoList::IndexOf(const std::string& AnAdapterID) const {
  for (int i = 0; i < Count(); ++i) {
    if (fItems[static_cast<std::size_t>(i)]->ID() == AnAdapterID) {
      return i;
    }
  }
  return -1;
}

int TEthernetAdapterInfoList::IndexOf(const TEthernetAdapterInfo& AnAdapter) const {
  return IndexOf(AnAdapter.ID());
}

const TEthernetAdapterInfo* TEthernetAdapterInfoList::GetByID(
    const std::string& AnAdapterID) const {
  return Items(IndexOf(AnAdapterID));
}

void TEthernetAdapterInfoList::WriteToCombo(std::vector<std::string>& ALines) const {
  for (const auto& item : fItems) {
    ALines.push_back(item->DescName() + " (" + item->IPAddress() + ")");
  }
}

}  // namespace kelvo
