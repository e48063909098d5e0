#include "tables/address_tables.h"

#include <stdexcept>
#include <utility>

namespace kelvo {

namespace {

void CopyRows(const TNATInfoList& ATable, std::vector<TTableRow>& ARows) {
  ARows.reserve(static_cast<std::size_t>(ATable.Count()));
  for (int I = 0; I < ATable.Count(); ++I) {
    const TNATInfo& Item = *ATable.Items(I);
    ARows.push_back(TTableRow{Item.NAD(), Item.NADAlias(), Item.Host(), Item.IP(), Item.Port(),
                              Item.Timeout()});
  }
}

}  // namespace

TAddressTables::TAddressTables(const TClock& AClock)
    : fNATTable(std::make_unique<TNATInfoList>(kNATTableTimeout, AClock)),
      fStaticTable(std::make_unique<TNATInfoList>(kStaticTableTimeout, AClock)),
      fPushTable(std::make_unique<TNATInfoList>(kPushTableTimeout, AClock)),
      fClock(AClock) {}

void TAddressTables::AgeAll() {
  std::lock_guard Lock(fTablesLock);
  for (TNATInfoList* Table : {fNATTable.get(), fStaticTable.get(), fPushTable.get()}) {
    if (Table->Ages()) {
      Table->AgeEntries();
    }
  }
}

TTablesSnapshot TAddressTables::Snapshot() const {
  TTablesSnapshot Result;
  std::lock_guard Lock(fTablesLock);
  CopyRows(*fNATTable, Result.NATRows);
  CopyRows(*fStaticTable, Result.StaticRows);
  CopyRows(*fPushTable, Result.PushRows);
  return Result;
}

std::unique_ptr<TNATInfoList> TAddressTables::DuplicateStaticTable() const {
  std::lock_guard Lock(fTablesLock);
  return fStaticTable->Duplicate();
}

std::unique_ptr<TNATInfoList> TAddressTables::ReplaceStaticTable(
    std::unique_ptr<TNATInfoList> ATable) {
  // Routing dereferences the static table without a check; it must always exist.
  if (!ATable) {
    throw std::invalid_argument("TAddressTables::ReplaceStaticTable: no table given");
  }
  std::lock_guard Lock(fTablesLock);
  std::swap(fStaticTable, ATable);
  return ATable;  // freed by the caller, outside the lock
}

}  // namespace kelvo
