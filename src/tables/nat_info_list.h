// An address table: entries in insertion order, lookups, alias allocation and ageing.
//
// Not thread-safe: the owner serializes every call (see TAddressTables). The table owns its
// entries; Remove and ClearWithoutFreeing hand ownership back to the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/clock.h"
#include "tables/nat_info.h"

namespace kelvo {

class TNATInfoList {
 public:
  // ATimeout > 0: entries age, one step per second of wall-clock time (see AgeEntries).
  explicit TNATInfoList(std::int32_t ATimeout, const TClock& AClock = SystemClock());
  ~TNATInfoList();
  TNATInfoList(const TNATInfoList&) = delete;
  TNATInfoList& operator=(const TNATInfoList&) = delete;

  int Add(std::unique_ptr<TNATInfo> AItem);  // AItem must not be null; returns its index
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
  // Throws TResolveError when AIP is not IPv4 text and cannot be resolved.
  TNATInfo* UpdateByNAD(std::int32_t ANAD, const std::string& AIP, std::uint16_t APort);
  void UpdateByIPAndPort(std::int32_t ANAD, const std::string& AIP, std::uint16_t APort);

  std::unique_ptr<TNATInfoList> Duplicate() const;  // deep copy, same timeout and clock
  void Clear();                                     // frees entries, last to first
  std::vector<std::unique_ptr<TNATInfo>> ClearWithoutFreeing();

  std::int32_t Timeout() const { return fTimeout; }
  bool Ages() const { return fTimeout > 0; }  // whether the owner's 100 ms timer runs
  // One ageing tick; the owner calls it every 100 ms while Ages(). Runs a step only when at
  // least 1000 ms (absolute difference) lie between the last step and now.
  void AgeEntries();

 private:
  std::vector<std::unique_ptr<TNATInfo>> FItems;
  std::int32_t fTimeout;
  TTimePoint fOneSecTimer;
  bool fTimerRunning = false;
  const TClock& fClock;
};

}  // namespace kelvo
