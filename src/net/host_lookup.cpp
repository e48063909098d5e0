#include "net/host_lookup.h"

namespace kelvo {

namespace {

bool IsLocalhost(std::string_view AHost) {
  constexpr std::string_view kName = "localhost";
  if (AHost.size() != kName.size()) {
    return false;
  }
  for (std::size_t I = 0; I < kName.size(); ++I) {
    char C = AHost[I];
    if (C >= 'A' && C <= 'Z') {
      C = static_cast<char>(C - 'A' + 'a');
    }
    if (C != kName[I]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsIPv4Text(std::string_view AText) {
  int Parts = 0;
  std::size_t Pos = 0;
  while (true) {
    std::size_t Digits = 0;
    unsigned Value = 0;
    while (Pos < AText.size() && AText[Pos] >= '0' && AText[Pos] <= '9') {
      Value = Value * 10 + static_cast<unsigned>(AText[Pos] - '0');
      if (Value > 255) {
        return false;  // also keeps Value from overflowing on long runs of digits
      }
      ++Digits;
      ++Pos;
    }
    if (Digits == 0) {
      return false;
    }
    ++Parts;
    if (Pos == AText.size()) {
      return Parts == 4;
    }
    if (AText[Pos] != '.' || Parts == 4) {
      return false;
    }
    ++Pos;
  }
}

bool NeedsNameLookup(std::string_view AHost) {
  return !IsLocalhost(AHost) && !IsIPv4Text(AHost);
}

bool ResolveWithoutLookup(const std::string& AHost, std::string& AIP) {
  if (IsLocalhost(AHost)) {
    AIP.assign("127.0.0.1");
    return true;
  }
  if (IsIPv4Text(AHost)) {
    AIP.assign(AHost);
    return true;
  }
  return false;
}

std::string ResolveHostToIP(const std::string& AHost) {
  if (std::string Address; ResolveWithoutLookup(AHost, Address)) {
    return Address;
  }
  // The C resolver would silently stop at an embedded NUL and answer for a different name.
  if (AHost.find('\0') != std::string::npos) {
    throw TResolveError("Cannot resolve host: the name contains a NUL character");
  }
  return LookupHostIPv4(AHost);
}

}  // namespace kelvo
