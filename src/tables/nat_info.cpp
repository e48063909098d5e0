#include "tables/nat_info.h"

#include "tables/nat_info_list.h"

namespace kelvo {

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
  const TKeyChange change(*this);
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
    const TKeyChange change(*this);
    fNAD = AValue;
  }
}

void TNATInfo::SetNADAlias(std::int32_t AValue) {
  if (AValue != fNADAlias) {
    const TKeyChange change(*this);
    fNADAlias = AValue;
  }
}

void TNATInfo::SetIP(const std::string& AValue) {
  if (AValue != fIP) {
    const TKeyChange change(*this);
    fIP = AValue;
  }
}

void TNATInfo::SetPort(std::uint16_t AValue) {
  if (AValue != fPort) {
    const TKeyChange change(*this);
    fPort = AValue;
  }
}

}  // namespace kelvo
