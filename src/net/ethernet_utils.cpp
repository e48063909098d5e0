// Dotted-address helpers and the adapter record and list. Everything that asks the system goes
// through the adapter platform, so this file stays the same on every system.
#include "net/ethernet_utils.h"

#include <cstddef>
#include <optional>
#include <utility>

namespace kelvo {

namespace {

TAdapterPlatform& CurrentPlatform() {
  static TAdapterPlatform Platform = SystemAdapterPlatform();
  return Platform;
}

std::optional<std::vector<TPlatformAdapter>> EnumerateAdapters() {
  const TAdapterPlatform& Platform = CurrentPlatform();
  if (!Platform.Enumerate) {
    return std::nullopt;
  }
  return Platform.Enumerate();
}

bool IsDigit(char AChar) {
  return AChar >= '0' && AChar <= '9';
}

}  // namespace

TAdapterPlatform SetAdapterPlatform(TAdapterPlatform APlatform) {
  return std::exchange(CurrentPlatform(), std::move(APlatform));
}

std::optional<std::uint32_t> ParseDottedIPv4(std::string_view AText) {
  std::uint32_t Result = 0;
  std::size_t Pos = 0;
  for (int Part = 0; Part < 4; ++Part) {
    if (Part > 0) {
      if (Pos >= AText.size() || AText[Pos] != '.') {
        return std::nullopt;
      }
      ++Pos;
    }
    const std::size_t Start = Pos;
    unsigned Value = 0;
    while (Pos < AText.size() && IsDigit(AText[Pos])) {
      Value = Value * 10 + static_cast<unsigned>(AText[Pos] - '0');
      if (Value > 255) {
        return std::nullopt;  // also keeps long runs of digits from overflowing
      }
      ++Pos;
    }
    if (Pos == Start) {
      return std::nullopt;
    }
    Result = (Result << 8) | Value;
  }
  if (Pos != AText.size()) {
    return std::nullopt;
  }
  return Result;
}

bool IsValidIPAddress(const std::string& AText) {
  if (AText.size() < 7 || AText.size() > 15) {
    return false;
  }
  if (AText.front() == '.') {
    return false;
  }
  int Dots = 0;
  int RunLength = 0;
  int RunValue = 0;
  for (std::size_t I = 0; I < AText.size(); ++I) {
    const char C = AText[I];
    if (C == '.') {
      if (I + 1 >= AText.size() || !IsDigit(AText[I + 1])) {
        return false;
      }
      ++Dots;
      RunLength = 0;
      RunValue = 0;
    } else if (IsDigit(C)) {
      ++RunLength;
      RunValue = RunValue * 10 + (C - '0');
      if (RunLength > 3 || RunValue > 255) {
        return false;
      }
    } else {
      return false;
    }
  }
  // More than three dots passes here on purpose; such a text then converts to 0.
  return Dots >= 3;
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
  char Text[16];
  char* End = Text;
  for (int Shift = 24; Shift >= 0; Shift -= 8) {
    const unsigned Part = (AValue >> Shift) & 0xFFu;
    if (Part >= 100) {
      *End++ = static_cast<char>('0' + Part / 100);
    }
    if (Part >= 10) {
      *End++ = static_cast<char>('0' + Part / 10 % 10);
    }
    *End++ = static_cast<char>('0' + Part % 10);
    if (Shift > 0) {
      *End++ = '.';
    }
  }
  return std::string(Text, End);
}

std::string CalcBroadcastAddress(const std::string& AIPAddress, const std::string& ASubnetMask) {
  const std::uint32_t IP = IPAddressToInt(AIPAddress);
  const std::uint32_t Mask = IPAddressToInt(ASubnetMask);
  return IntToIPAddress((IP & Mask) | ~Mask);
}

std::string GetLocalIPAddress() {
  const TAdapterPlatform& Platform = CurrentPlatform();
  if (!Platform.LocalIPAddress) {
    return {};
  }
  return Platform.LocalIPAddress();
}

namespace {

// The first adapter of a fresh enumeration that AMatches accepts, or none.
template <typename TMatch>
std::optional<TPlatformAdapter> FirstAdapter(TMatch AMatches) {
  const auto Adapters = EnumerateAdapters();
  if (!Adapters) {
    return std::nullopt;
  }
  for (const TPlatformAdapter& Adapter : *Adapters) {
    if (AMatches(Adapter)) {
      return Adapter;
    }
  }
  return std::nullopt;
}

}  // namespace

bool FindAdapterByIP(const std::string& AIPAddress, std::string& ASubnetMask, std::string& AID,
                     std::string& ADescName, std::string& AGateway) {
  const auto Adapter = FirstAdapter(
      [&](const TPlatformAdapter& AAdapter) { return AAdapter.IpAddress == AIPAddress; });
  if (!Adapter) {
    return false;
  }
  ASubnetMask = Adapter->IpMask;
  AID = Adapter->AdapterName;
  ADescName = Adapter->Description;
  AGateway = Adapter->Gateway;
  return true;
}

bool FindAdapterByID(const std::string& AID, std::string& AIPAddress, std::string& ASubnetMask,
                     std::string& ADescName, std::string& AGateway) {
  const auto Adapter =
      FirstAdapter([&](const TPlatformAdapter& AAdapter) { return AAdapter.AdapterName == AID; });
  if (!Adapter) {
    return false;
  }
  AIPAddress = Adapter->IpAddress;
  ASubnetMask = Adapter->IpMask;
  ADescName = Adapter->Description;
  AGateway = Adapter->Gateway;
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
  std::string IP, Mask, Desc, Gateway;
  if (!FindAdapterByID(AAdapterID, IP, Mask, Desc, Gateway)) {
    return false;
  }
  FIPAddress = std::move(IP);
  FSubnetMask = std::move(Mask);
  FDescName = std::move(Desc);
  FGateway = std::move(Gateway);
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
  const auto Adapters = EnumerateAdapters();
  Clear();
  if (!Adapters) {
    return;
  }
  for (const TPlatformAdapter& Adapter : *Adapters) {
    Add(Adapter.AdapterName, Adapter.Description, Adapter.IpAddress, Adapter.IpMask);
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
  for (int I = 0; I < Count(); ++I) {
    if (fItems[static_cast<std::size_t>(I)]->ID() == AnAdapterID) {
      return I;
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
  for (const auto& Item : fItems) {
    ALines.push_back(Item->DescName() + " (" + Item->IPAddress() + ")");
  }
}

}  // namespace kelvo
