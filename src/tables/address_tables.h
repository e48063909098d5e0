// The relay's three address tables and the one lock that guards them.
//
// Routing (listener thread) and the status display, ageing and Setup (GUI thread) share the
// tables. Every access goes through fTablesLock. The lock is never held across a name lookup or
// a send: routing copies what it needs, lets go, and writes IP back only if the entry is still in
// its table. So no entry is freed while another thread uses it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tables/clock.h"
#include "tables/nat_info_list.h"

namespace kelvo {

inline constexpr std::int32_t kNATTableTimeout = 60;
inline constexpr std::int32_t kStaticTableTimeout = -1;
inline constexpr std::int32_t kPushTableTimeout = 600;

// One row of the status display, copied out under the lock.
struct TTableRow {
  std::int32_t NAD = 0;
  std::int32_t NADAlias = 0;
  std::string Host;
  std::string IP;
  std::uint16_t Port = 0;
  std::int32_t Timeout = 0;
};

struct TTablesSnapshot {
  std::vector<TTableRow> NATRows;
  std::vector<TTableRow> StaticRows;
  std::vector<TTableRow> PushRows;
};

class TAddressTables {
 public:
  explicit TAddressTables(const TClock& AClock = SystemClock());
  TAddressTables(const TAddressTables&) = delete;
  TAddressTables& operator=(const TAddressTables&) = delete;

  // Any thread: one ageing tick for every table that ages (call every 100 ms). A step takes
  // the lock for a bounded number of entries at a time (see TNATInfoList::ContinueAgeingStep).
  void AgeAll();
  // Any thread: copies every row of the three tables, in list order. The lock is taken for
  // a bounded number of rows at a time, so a large table never holds up routing for long;
  // each row is then as it stood at some moment during the call, and a row listed before
  // the call and still listed after it is never missed nor copied twice.
  TTablesSnapshot Snapshot() const;
  // Any thread: a deep copy of the static table (for Setup's working copy).
  std::unique_ptr<TNATInfoList> DuplicateStaticTable() const;
  // Any thread: installs ATable as the static table and returns the previous one, which no
  // other thread can reach any more; the caller frees it.
  std::unique_ptr<TNATInfoList> ReplaceStaticTable(std::unique_ptr<TNATInfoList> ATable);

  const TClock& Clock() const { return fClock; }

  mutable std::mutex fTablesLock;
  std::unique_ptr<TNATInfoList> fNATTable;     // guarded by fTablesLock
  std::unique_ptr<TNATInfoList> fStaticTable;  // guarded by fTablesLock
  std::unique_ptr<TNATInfoList> fPushTable;    // guarded by fTablesLock

 private:
  void CopyRows(const std::unique_ptr<TNATInfoList>& ATable, std::vector<TTableRow>& ARows) const;

  const TClock& fClock;
  std::uint64_t fGeneration = 0;  // guarded by fTablesLock; counts static table replacements
};

}  // namespace kelvo
