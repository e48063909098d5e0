#include "net/host_lookup.h"

#include "net/ethernet_utils.h"

namespace kelvo {

namespace {

bool IsLocalhost(std::string_view AHost) {
  constexpr std::string_view kName = "localhost";
  if (AHost.size() != kName.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kName.size(); ++i) {
    char c = AHost[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != kName[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsIPv4Text(std::string_view AText) {
  return ParseDottedIPv4(AText).has_value();
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
  if (std::string address; ResolveWithoutLookup(AHost, address)) {
    return address;
  }
  // The C resolver would silently stop at an embedded NUL and answer for a different name.
  if (AHost.find('\0') != std::string::npos) {
    throw TResolveError("Cannot resolve host: the name contains a NUL character");
  }
  return LookupHostIPv4(AHost);
}

}  // namespace kelvo
