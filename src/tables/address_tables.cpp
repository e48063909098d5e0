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
  const TNATInfoList* table = nullptr;
  std::uint64_t generation = 0;
  std::uint64_t after = 0;  // mark of the last entry copied; 0 = from the front
  std::size_t listed = 0;   // the table's size at the last hold
  for (bool first = true;; first = false) {
    // Room for one more hold's rows, made while the lock is free, so that no hold ever copies
    // the rows already taken into a larger vector.
    if (ARows.capacity() - ARows.size() < kRowsPerHold) {
      ARows.reserve(std::max(ARows.size(), listed) + kRowsPerHold);
    }
    if (!first) {
      PauseBetweenHolds();
    }
    const TLock lock(*this);
    const TNATInfoList* current = (this->*ATable).get();
    listed = static_cast<std::size_t>(current->Count());
    if (current != table || generation != fGeneration) {
      // The table was replaced while the lock was free: its rows start over.
      table = current;
      generation = fGeneration;
      after = 0;
      ARows.clear();
    }
    const int from = table->IndexAfter(after);
    const int to = std::min(table->Count(), from + kRowsPerHold);
    for (int i = from; i < to; ++i) {
      const TNATInfo& item = *table->Items(i);
      ARows.push_back(TTableRow{item.NAD(), item.NADAlias(), item.Host(), item.IP(), item.Port(),
                                item.Timeout()});
    }
    if (to == table->Count()) {
      return;
    }
    after = table->Mark(to - 1);
  }
}

TAddressTables::TAddressTables(const TClock& AClock)
    : fNATTable(std::make_unique<TNATInfoList>(kNATTableTimeout, AClock)),
      fStaticTable(std::make_unique<TNATInfoList>(kStaticTableTimeout, AClock)),
      fPushTable(std::make_unique<TNATInfoList>(kPushTableTimeout, AClock)),
      fClock(AClock) {}

void TAddressTables::AgeAll() {
  for (const TTableField table :
       {&TAddressTables::fNATTable, &TAddressTables::fStaticTable, &TAddressTables::fPushTable}) {
    std::vector<std::unique_ptr<TNATInfo>> gone;
    gone.reserve(kAgeingPerHold);  // so that no slice allocates under the lock
    TUniqueLock lock(fTablesLock);
    TNATInfoList* current = (this->*table).get();
    if (!current->Ages() || !current->BeginAgeingStep()) {
      continue;
    }
    // Routing may run between slices; the expired entries are freed outside the lock.
    while (!current->ContinueAgeingStep(kAgeingPerHold, gone)) {
      lock.Unlock();
      gone.clear();
      PauseBetweenHolds();
      lock.Lock();
      if ((this->*table).get() != current) {
        break;  // replaced meanwhile (only the static table, which never ages)
      }
    }
    lock.Unlock();
  }
}

TTablesSnapshot TAddressTables::Snapshot() const {
  TTablesSnapshot result;
  CopyRows(&TAddressTables::fNATTable, result.NATRows);
  CopyRows(&TAddressTables::fStaticTable, result.StaticRows);
  CopyRows(&TAddressTables::fPushTable, result.PushRows);
  return result;
}

bool TAddressTables::LockIsFree() const {
  if (!fTablesLock.try_lock()) {
    return false;
  }
  fTablesLock.unlock();
  return true;
}

std::unique_ptr<TNATInfoList> TAddressTables::DuplicateStaticTable() const {
  const TLock lock(*this);
  return fStaticTable->Duplicate();
}

std::unique_ptr<TNATInfoList> TAddressTables::ReplaceStaticTable(
    std::unique_ptr<TNATInfoList> ATable) {
  // Routing dereferences the static table without a check; it must always exist.
  if (!ATable) {
    throw std::invalid_argument("TAddressTables::ReplaceStaticTable: no table given");
  }
  const TLock lock(*this);
  std::swap(fStaticTable, ATable);
  ++fGeneration;
  return ATable;  // freed by the caller, outside the lock
}

}  // namespace kelvo
