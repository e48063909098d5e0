// An address table: entries in insertion order, lookups, alias allocation and ageing.
//
// Every lookup answers with the first match in list order, as a walk from the front would, but
// through indexes kept beside the list (nat_info_index.h): lookups, UpdateByNAD and alias
// allocation cost O(1) on average or O(log n), whatever the table's size.
//
// Not thread-safe: the owner serializes every call (see TAddressTables). The table owns its
// entries; Remove and ClearWithoutFreeing hand ownership back to the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "tables/clock.h"
#include "tables/nat_info.h"
#include "tables/nat_info_index.h"

namespace kelvo {

// The most entries one table holds, so that a flood of forged senders cannot exhaust memory.
inline constexpr int kMaxTableEntries = 100'000;

class TTableFullError : public std::length_error {
 public:
  using std::length_error::length_error;
};

class TNATInfoList {
 public:
  // ATimeout > 0: entries age, one step per second of wall-clock time (see AgeEntries).
  explicit TNATInfoList(std::int32_t ATimeout, const TClock& AClock = SystemClock());
  ~TNATInfoList();
  TNATInfoList(const TNATInfoList&) = delete;
  TNATInfoList& operator=(const TNATInfoList&) = delete;

  // AItem must not be null and must not be listed in a table; returns its index. Throws
  // TTableFullError when the table already holds kMaxTableEntries.
  int Add(std::unique_ptr<TNATInfo> AItem);
  int Count() const;
  TNATInfo* Items(int AIndex) const;  // null when out of range
  int IndexOf(const TNATInfo* AItem) const;
  // Takes the first occurrence out without freeing it; null (and *AIndex = -1) when absent.
  std::unique_ptr<TNATInfo> Remove(const TNATInfo* AItem, int* AIndex = nullptr);

  TNATInfo* FindByNAD(std::int32_t ANAD) const;
  TNATInfo* FindByNADAlias(std::int32_t ANADAlias) const;
  TNATInfo* FindByIPAndPort(const std::string& AIP, std::uint16_t APort) const;
  TNATInfo* FindByNADIPAndPort(std::int32_t ANAD, const std::string& AIP,
                               std::uint16_t APort) const;

  // Refreshes the sender's entry, or creates one with the next free alias from ANAD on.
  // Null when the sender is new and the table full: the sender is not entered.
  // Throws TResolveError when AIP is not IPv4 text and cannot be resolved.
  TNATInfo* UpdateByNAD(std::int32_t ANAD, const std::string& AIP, std::uint16_t APort);
  // Does nothing for a new sender when the table is full.
  void UpdateByIPAndPort(std::int32_t ANAD, const std::string& AIP, std::uint16_t APort);
  bool Full() const { return Count() >= kMaxTableEntries; }

  std::unique_ptr<TNATInfoList> Duplicate() const;  // deep copy, same timeout and clock
  void Clear();                                     // frees entries, last to first
  std::vector<std::unique_ptr<TNATInfo>> ClearWithoutFreeing();

  std::int32_t Timeout() const { return fTimeout; }
  bool Ages() const { return fTimeout > 0; }  // whether the owner's 100 ms timer runs
  // One ageing tick; the owner calls it every 100 ms while Ages(). Runs a step only when at
  // least 1000 ms (absolute difference) lie between the last step and now.
  void AgeEntries();
  // The same step in slices, for an owner that lets go of its lock between them.
  // BeginAgeingStep starts a step when one is due (false otherwise, or while one runs);
  // ContinueAgeingStep ages up to AMaxEntries more entries in list order, appends the expired
  // ones to AGone for the caller to free, and returns true once the step is complete. Entries
  // added meanwhile are not aged by that step; one refreshed meanwhile counts its new timeout
  // from this step if the step had not reached it yet.
  bool BeginAgeingStep();
  bool ContinueAgeingStep(int AMaxEntries, std::vector<std::unique_ptr<TNATInfo>>& AGone);

  // A place in list order that outlives changes to the list, for walks that let go of the
  // lock between steps: Mark(i) names the entry at i; IndexAfter(mark) is the index of the
  // first entry listed after it (Count() when none), even once that entry has gone.
  std::uint64_t Mark(int AIndex) const;
  int IndexAfter(std::uint64_t AMark) const;

 private:
  friend class TNATInfo::TKeyChange;
  void Index(TNATInfo& AItem);
  void Unindex(TNATInfo& AItem);
  void ClearIndexes();
  // After an ageing slice: takes AGone[AFrom...] (fOwner already null) out of every index.
  void UnindexGone(const std::vector<std::unique_ptr<TNATInfo>>& AGone, std::size_t AFrom);

  std::vector<std::unique_ptr<TNATInfo>> FItems;  // ascending fSeq
  std::uint64_t fNextSeq = 1;
  std::uint64_t fSweepPass = 0;
  TOrderedIndex<std::int32_t> fByNAD;
  TOrderedIndex<std::int32_t> fByNADAlias;
  TOrderedIndex<TAddressKey, TAddressKeyHash, TAddressKeyEqual> fByIPAndPort;  // NAD 0
  TOrderedIndex<TAddressKey, TAddressKeyHash, TAddressKeyEqual> fByNADIPAndPort;
  TAliasRuns fTakenAliases;
  // Which entries the table lists, for IndexOf and Remove of a pointer that may no longer
  // point at a live entry (it is never dereferenced unless listed).
  std::unordered_map<const TNATInfo*, std::uint64_t> fSeqOf;
  std::int32_t fTimeout;
  TTimePoint fOneSecTimer;
  bool fTimerRunning = false;    // also: an ageing step has begun and is not complete
  TTimePoint fStepNow;           // of the running step: the time it began
  std::uint64_t fStepAfter = 0;  // of the running step: mark of the last entry aged
  std::uint64_t fStepLast = 0;   // of the running step: mark of the last entry it ages
  const TClock& fClock;
};

}  // namespace kelvo
