#include "present/setup_working_copy.h"

#include <utility>

#include "tables/address_tables.h"
#include "tables/nat_info.h"

namespace kelvo {

TSetupWorkingCopy::TSetupWorkingCopy() = default;
TSetupWorkingCopy::~TSetupWorkingCopy() = default;

void TSetupWorkingCopy::Begin(const TNATInfoList* AStaticList,
                              const std::string& AEthernetAdapterID) {
  KELVO_ASSERT_THREAD(fGuiThread, "TSetupWorkingCopy: GUI thread only");
  fEthAdapters = std::make_unique<TEthernetAdapterInfoList>();
  fEthAdapters->Refresh();
  fAdapterLines.clear();
  fEthAdapters->WriteToCombo(fAdapterLines);
  fSelectedAdapter = fEthAdapters->IndexOf(AEthernetAdapterID);
  // A chosen adapter that is away just now (a USB adapter not plugged in) stays the choice:
  // listed after the present ones and selected, so OK does not lose it.
  fAbsentAdapterID.clear();
  if (fSelectedAdapter < 0 && !AEthernetAdapterID.empty()) {
    fAbsentAdapterID = AEthernetAdapterID;
    fSelectedAdapter = static_cast<int>(fAdapterLines.size());
    fAdapterLines.push_back(AEthernetAdapterID + " (not present)");
  }
  fLocalStaticList = AStaticList != nullptr ? AStaticList->Duplicate()
                                            : std::make_unique<TNATInfoList>(kStaticTableTimeout);
}

int TSetupWorkingCopy::RowCount() const {
  return fLocalStaticList ? fLocalStaticList->Count() : 0;
}

std::string TSetupWorkingCopy::CellText(int ARow, TStaticColumn AColumn) const {
  const TNATInfo* entry = fLocalStaticList ? fLocalStaticList->Items(ARow) : nullptr;
  if (entry == nullptr) {
    return {};
  }
  switch (AColumn) {
    case TStaticColumn::No:
      return std::to_string(ARow + 1) + '.';
    case TStaticColumn::NAD:
      return std::to_string(static_cast<std::uint32_t>(entry->NAD()));
    case TStaticColumn::IPAddress:
      return entry->Host();  // as entered: a name stays a name
    case TStaticColumn::Port:
      return std::to_string(entry->Port());
  }
  return {};
}

std::unique_ptr<TNATInfo> MakeStaticEntry(std::int32_t ANAD, const std::string& AHost,
                                          std::uint16_t APort) {
  try {
    return std::make_unique<TNATInfo>(ANAD, AHost, APort, kStaticTableTimeout);
  } catch (const TResolveError&) {
    // Built from an address text, which needs no lookup, then given the host as typed.
    auto entry = std::make_unique<TNATInfo>(ANAD, "0.0.0.0", APort, kStaticTableTimeout);
    entry->SetHost(AHost);
    entry->SetIP("");
    return entry;
  }
}

bool TSetupWorkingCopy::Add(const TEntryTexts& ATexts) {
  KELVO_ASSERT_THREAD(fGuiThread, "TSetupWorkingCopy: GUI thread only");
  if (!fLocalStaticList) {
    return false;
  }
  fLocalStaticList->Add(
      MakeStaticEntry(ConvertNAD(ATexts.NAD), ATexts.Host, ConvertPort(ATexts.Port)));
  return true;
}

std::optional<TEntryTexts> TSetupWorkingCopy::EditTexts(int ARow) const {
  const TNATInfo* entry = fLocalStaticList ? fLocalStaticList->Items(ARow) : nullptr;
  if (entry == nullptr) {
    return std::nullopt;
  }
  return TEntryTexts{NADEditText(entry->NAD()), entry->Host(), PortEditText(entry->Port())};
}

bool TSetupWorkingCopy::Edit(int ARow, const TEntryTexts& ATexts) {
  KELVO_ASSERT_THREAD(fGuiThread, "TSetupWorkingCopy: GUI thread only");
  TNATInfo* entry = fLocalStaticList ? fLocalStaticList->Items(ARow) : nullptr;
  if (entry == nullptr) {
    return false;
  }
  const std::int32_t nad = ConvertNAD(ATexts.NAD);
  entry->SetNAD(nad);
  entry->SetNADAlias(nad);
  entry->SetHost(ATexts.Host);
  entry->SetPort(ConvertPort(ATexts.Port));
  return true;
}

bool TSetupWorkingCopy::Delete(int ARow) {
  KELVO_ASSERT_THREAD(fGuiThread, "TSetupWorkingCopy: GUI thread only");
  const TNATInfo* entry = fLocalStaticList ? fLocalStaticList->Items(ARow) : nullptr;
  if (entry == nullptr) {
    return false;
  }
  fLocalStaticList->Remove(entry);  // the returned owner frees it here
  return true;
}

TSetupResult TSetupWorkingCopy::Accept(int AAdapterIndex, bool ACreateDebugLogs) {
  KELVO_ASSERT_THREAD(fGuiThread, "TSetupWorkingCopy: GUI thread only");
  TSetupResult result;
  const TEthernetAdapterInfo* adapter =
      fEthAdapters && AAdapterIndex >= 0 && AAdapterIndex < fEthAdapters->Count()
          ? fEthAdapters->Items(AAdapterIndex)
          : nullptr;
  result.EthernetAdapterID = adapter != nullptr ? adapter->ID() : std::string();
  if (adapter == nullptr && fEthAdapters && AAdapterIndex == fEthAdapters->Count()) {
    result.EthernetAdapterID = fAbsentAdapterID;
  }
  result.CreateDebugLogs = ACreateDebugLogs;
  result.StaticList = std::move(fLocalStaticList);
  return result;
}

void TSetupWorkingCopy::Cancel() {
  KELVO_ASSERT_THREAD(fGuiThread, "TSetupWorkingCopy: GUI thread only");
  fLocalStaticList.reset();
}

}  // namespace kelvo
