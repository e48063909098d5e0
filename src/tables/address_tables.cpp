#include "tables/address_tables.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

namespace kelvo {

namespace {

// Rows copied per hold of fTablesLock: some 0.1 ms of work (0.35 ms in the Windows build
// under Wine, whose copies are slower), so routing never waits long behind a snapshot of a
// large table, while the pauses between holds (below) add only a few milliseconds to a
// snapshot of 100,000 rows.
constexpr int kRowsPerHold = 1024;
// Entries aged per hold of fTablesLock, for the same reasons.
constexpr int kAgeingPerHold = 4096;

// Between two holds of the lock. std::mutex does not hand over to a waiter: a thread that
// unlocks and at once locks again usually wins, and could keep routing waiting through many
// holds. A pause lets a waiter that the unlock has woken take the lock first. It is a sleep:
// a thread that only yielded could lose its core for a whole time slice to a busy listener.
// Where the system sleeps no shorter than a millisecond (the Windows build's sleep_for of
// 50 us returns at once), the rest of the pause yields, so that a waiter always gets its turn.
void PauseBetweenHolds() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
  std::this_thread::sleep_for(std::chrono::microseconds(50));
  while (std::chrono::steady_clock::now() < until) {
    std::this_thread::yield();
  }
}

}  // namespace

void TAddressTables::CopyRows(TTableField ATable, std::vector<TTableRow>& ARows) const {
  const TNATInfoList* Table = nullptr;
  std::uint64_t Generation = 0;
  std::uint64_t After = 0;  // mark of the last entry copied; 0 = from the front
  std::size_t Listed = 0;   // the table's size at the last hold
  for (bool First = true;; First = false) {
    // Room for one more hold's rows, made while the lock is free, so that no hold ever copies
    // the rows already taken into a larger vector.
    if (ARows.capacity() - ARows.size() < kRowsPerHold) {
      ARows.reserve(std::max(ARows.size(), Listed) + kRowsPerHold);
    }
    if (!First) {
      PauseBetweenHolds();
    }
    const TLock Lock(*this);
    const TNATInfoList* Current = (this->*ATable).get();
    Listed = static_cast<std::size_t>(Current->Count());
    if (Current != Table || Generation != fGeneration) {
      // The table was replaced while the lock was free: its rows start over.
      Table = Current;
      Generation = fGeneration;
      After = 0;
      ARows.clear();
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
  for (const TTableField Table :
       {&TAddressTables::fNATTable, &TAddressTables::fStaticTable, &TAddressTables::fPushTable}) {
    std::vector<std::unique_ptr<TNATInfo>> Gone;
    Gone.reserve(kAgeingPerHold);  // so that no slice allocates under the lock
    TUniqueLock Lock(fTablesLock);
    TNATInfoList* Current = (this->*Table).get();
    if (!Current->Ages() || !Current->BeginAgeingStep()) {
      continue;
    }
    // Routing may run between slices; the expired entries are freed outside the lock.
    while (!Current->ContinueAgeingStep(kAgeingPerHold, Gone)) {
      Lock.Unlock();
      Gone.clear();
      PauseBetweenHolds();
      Lock.Lock();
      if ((this->*Table).get() != Current) {
        break;  // replaced meanwhile (only the static table, which never ages)
      }
    }
    Lock.Unlock();
  }
}

TTablesSnapshot TAddressTables::Snapshot() const {
  TTablesSnapshot Result;
  CopyRows(&TAddressTables::fNATTable, Result.NATRows);
  CopyRows(&TAddressTables::fStaticTable, Result.StaticRows);
  CopyRows(&TAddressTables::fPushTable, Result.PushRows);
  return Result;
}

bool TAddressTables::LockIsFree() const {
  if (!fTablesLock.try_lock()) {
    return false;
  }
  fTablesLock.unlock();
  return true;
}

std::unique_ptr<TNATInfoList> TAddressTables::DuplicateStaticTable() const {
  const TLock Lock(*this);
  return fStaticTable->Duplicate();
}

std::unique_ptr<TNATInfoList> TAddressTables::ReplaceStaticTable(
    std::unique_ptr<TNATInfoList> ATable) {
  // Routing dereferences the static table without a check; it must always exist.
  if (!ATable) {
    throw std::invalid_argument("TAddressTables::ReplaceStaticTable: no table given");
  }
  const TLock Lock(*this);
  std::swap(fStaticTable, ATable);
  ++fGeneration;
  return ATable;  // freed by the caller, outside the lock
}

}  // namespace kelvo
