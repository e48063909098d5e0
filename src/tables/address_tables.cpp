#include "tables/address_tables.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace kelvo {

namespace {

// Rows copied per hold of fTablesLock: about a tenth of a millisecond of work, so routing
// never waits long behind a snapshot of a large table.
constexpr int kRowsPerHold = 1024;
// Entries aged per hold of fTablesLock, for the same reason.
constexpr int kAgeingPerHold = 2048;

}  // namespace

void TAddressTables::CopyRows(const std::unique_ptr<TNATInfoList>& ATable,
                              std::vector<TTableRow>& ARows) const {
  const TNATInfoList* Table = nullptr;
  std::uint64_t Generation = 0;
  std::uint64_t After = 0;  // mark of the last entry copied; 0 = from the front
  for (;;) {
    std::lock_guard Lock(fTablesLock);
    const TNATInfoList* Current = ATable.get();
    if (Current != Table || Generation != fGeneration) {
      // The table was replaced while the lock was free: its rows start over.
      Table = Current;
      Generation = fGeneration;
      After = 0;
      ARows.clear();
      ARows.reserve(static_cast<std::size_t>(Table->Count()));
    }
    const int From = Table->IndexAfter(After);
    const int To = std::min(Table->Count(), From + kRowsPerHold);
    for (int I = From; I < To; ++I) {
      const TNATInfo& Item = *Table->Items(I);
      ARows.push_back(TTableRow{Item.NAD(), Item.NADAlias(), Item.Host(), Item.IP(), Item.Port(),
                                Item.Timeout()});
    }
    if (To == Table->Count()) {
      return;
    }
    After = Table->Mark(To - 1);
  }
}

TAddressTables::TAddressTables(const TClock& AClock)
    : fNATTable(std::make_unique<TNATInfoList>(kNATTableTimeout, AClock)),
      fStaticTable(std::make_unique<TNATInfoList>(kStaticTableTimeout, AClock)),
      fPushTable(std::make_unique<TNATInfoList>(kPushTableTimeout, AClock)),
      fClock(AClock) {}

void TAddressTables::AgeAll() {
  for (const std::unique_ptr<TNATInfoList>* Table : {&fNATTable, &fStaticTable, &fPushTable}) {
    std::vector<std::unique_ptr<TNATInfo>> Gone;
    std::unique_lock Lock(fTablesLock);
    TNATInfoList* Current = Table->get();
    if (!Current->Ages() || !Current->BeginAgeingStep()) {
      continue;
    }
    // Routing may run between slices; the expired entries are freed outside the lock.
    while (!Current->ContinueAgeingStep(kAgeingPerHold, Gone)) {
      Lock.unlock();
      Gone.clear();
      Lock.lock();
      if (Table->get() != Current) {
        break;  // replaced meanwhile (only the static table, which never ages)
      }
    }
    Lock.unlock();
  }
}

TTablesSnapshot TAddressTables::Snapshot() const {
  TTablesSnapshot Result;
  CopyRows(fNATTable, Result.NATRows);
  CopyRows(fStaticTable, Result.StaticRows);
  CopyRows(fPushTable, Result.PushRows);
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
  ++fGeneration;
  return ATable;  // freed by the caller, outside the lock
}

}  // namespace kelvo
