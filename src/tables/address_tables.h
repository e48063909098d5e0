// The relay's three address tables and the one lock that guards them.
//
// Routing (listener thread) and the status display, ageing and Setup (GUI thread) share the
// tables. Every access goes through fTablesLock, which only TAddressTables and its TLock take;
// the compiler checks the rule in a clang build (-Wthread-safety). The lock is never held across a
// name lookup or a send: routing copies what it needs, lets go, and writes IP back only if the
// entry is still in its table. So no entry is freed while another thread uses it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
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
  // Holds the tables' lock from construction until the end of its scope, or until Unlock: the
  // way for other classes to read or change fNATTable, fStaticTable and fPushTable. Any thread;
  // the object belongs to the thread that made it.
  class SCOPED_CAPABILITY TLock {
   public:
    explicit TLock(const TAddressTables& ATables) ACQUIRE(ATables.fTablesLock)
        : fMutex(ATables.fTablesLock) {
      fMutex.lock();
    }
    ~TLock() RELEASE() {
      if (fHeld) {
        fMutex.unlock();
      }
    }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;
    // Lets go before the end of the scope (the rest of the scope works on copies).
    void Unlock() RELEASE() {
      fHeld = false;
      fMutex.unlock();
    }

   private:
    TMutex& fMutex;
    bool fHeld = true;
  };

  explicit TAddressTables(const TClock& AClock = SystemClock());
  TAddressTables(const TAddressTables&) = delete;
  TAddressTables& operator=(const TAddressTables&) = delete;

  // Any thread: one ageing tick for every table that ages (call every 100 ms). A step takes
  // the lock for a bounded number of entries at a time (see TNATInfoList::ContinueAgeingStep).
  void AgeAll() EXCLUDES(fTablesLock);
  // Any thread: copies every row of the three tables, in list order. The lock is taken for
  // a bounded number of rows at a time, so a large table never holds up routing for long;
  // each row is then as it stood at some moment during the call, and a row listed before
  // the call and still listed after it is never missed nor copied twice.
  TTablesSnapshot Snapshot() const EXCLUDES(fTablesLock);
  // Any thread: a deep copy of the static table (for Setup's working copy).
  std::unique_ptr<TNATInfoList> DuplicateStaticTable() const EXCLUDES(fTablesLock);
  // Any thread: installs ATable as the static table and returns the previous one, which no
  // other thread can reach any more; the caller frees it.
  std::unique_ptr<TNATInfoList> ReplaceStaticTable(std::unique_ptr<TNATInfoList> ATable)
      EXCLUDES(fTablesLock);

  const TClock& Clock() const { return fClock; }

  // Names the lock in other classes' REQUIRES; nobody can take it through this reference.
  const TMutex& LockCapability() const RETURN_CAPABILITY(fTablesLock) { return fTablesLock; }
  // Any thread (tests that watch how long routing would wait): whether nobody holds the lock
  // at this moment.
  bool LockIsFree() const EXCLUDES(fTablesLock);

  using TTableField = std::unique_ptr<TNATInfoList> TAddressTables::*;

 private:
  mutable TMutex fTablesLock;

 public:
  std::unique_ptr<TNATInfoList> fNATTable GUARDED_BY(fTablesLock);
  std::unique_ptr<TNATInfoList> fStaticTable GUARDED_BY(fTablesLock);
  std::unique_ptr<TNATInfoList> fPushTable GUARDED_BY(fTablesLock);

 private:
  void CopyRows(TTableField ATable, std::vector<TTableRow>& ARows) const EXCLUDES(fTablesLock);

  const TClock& fClock;
  std::uint64_t fGeneration GUARDED_BY(fTablesLock) = 0;  // counts static table replacements
};

}  // namespace kelvo
