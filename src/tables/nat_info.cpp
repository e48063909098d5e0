#include "tables/nat_info.h"

#include "net/ethernet_utils.h"
#include "tables/host_lookup.h"
#include "tables/nat_info_list.h"

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
  if (std::string Address; ResolveWithoutLookup(AHost, Address)) {
    return Address;
  }
  // The C resolver would silently stop at an embedded NUL and answer for a different name.
  if (AHost.find('\0') != std::string::npos) {
    throw TResolveError("Cannot resolve host: the name contains a NUL character");
  }
  return LookupHostIPv4(AHost);
}

TNATInfo::TNATInfo(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort,
                   std::int32_t ATimeout)
    : fNAD(ANAD),
      fNADAlias(ANAD),
      fIP(ResolveHostToIP(AHost)),
      fHost(AHost),
      fPort(APort),
      fTimeout(ATimeout) {}

class TNATInfo::TKeyChange {
 public:
  explicit TKeyChange(TNATInfo& AEntry) : fEntry(AEntry), fOwner(AEntry.fOwner) {
    if (fOwner != nullptr) {
      fOwner->Unindex(fEntry);
    }
  }
  ~TKeyChange() {
    if (fOwner != nullptr) {
      fOwner->Index(fEntry);
    }
  }
  TKeyChange(const TKeyChange&) = delete;
  TKeyChange& operator=(const TKeyChange&) = delete;

 private:
  TNATInfo& fEntry;
  TNATInfoList* fOwner;
};

TNATInfo::TNATInfo(const TNATInfo& AOther)
    : fNAD(AOther.fNAD),
      fNADAlias(AOther.fNADAlias),
      fIP(AOther.fIP),
      fHost(AOther.fHost),
      fPort(AOther.fPort),
      fTimeout(AOther.fTimeout) {}

TNATInfo& TNATInfo::operator=(const TNATInfo& AOther) {
  if (this == &AOther) {
    return *this;
  }
  const TKeyChange Change(*this);
  fNAD = AOther.fNAD;
  fNADAlias = AOther.fNADAlias;
  fIP = AOther.fIP;
  fHost = AOther.fHost;
  fPort = AOther.fPort;
  fTimeout = AOther.fTimeout;
  return *this;
}

void TNATInfo::SetNAD(std::int32_t AValue) {
  if (AValue != fNAD) {
    const TKeyChange Change(*this);
    fNAD = AValue;
  }
}

void TNATInfo::SetNADAlias(std::int32_t AValue) {
  if (AValue != fNADAlias) {
    const TKeyChange Change(*this);
    fNADAlias = AValue;
  }
}

void TNATInfo::SetIP(const std::string& AValue) {
  if (AValue != fIP) {
    const TKeyChange Change(*this);
    fIP = AValue;
  }
}

void TNATInfo::SetPort(std::uint16_t AValue) {
  if (AValue != fPort) {
    const TKeyChange Change(*this);
    fPort = AValue;
  }
}

}  // namespace kelvo
