#include "tables/nat_info_list.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace kelvo {

TNATInfoList::TNATInfoList(std::int32_t ATimeout, const TClock& AClock)
    : fTimeout(ATimeout), fOneSecTimer(AClock.Now()), fClock(AClock) {}

TNATInfoList::~TNATInfoList() {
  Clear();
}

namespace {

std::uint32_t AsAlias(std::int32_t AValue) {
  return static_cast<std::uint32_t>(AValue);
}

TAddressKey IPPortKey(const TNATInfo& AItem) {
  return TAddressKey{0, AItem.IP(), AItem.Port()};
}

TAddressKey NADIPPortKey(const TNATInfo& AItem) {
  return TAddressKey{AItem.NAD(), AItem.IP(), AItem.Port()};
}

}  // namespace

void TNATInfoList::Index(TNATInfo& AItem) {
  TNATInfo* item = &AItem;
  const std::uint64_t seq = AItem.fSeq;
  fByNAD.Insert(AItem.NAD(), seq, item);
  if (fByNADAlias.Insert(AItem.NADAlias(), seq, item)) {
    fTakenAliases.Take(AsAlias(AItem.NADAlias()));
  }
  fByIPAndPort.Insert(IPPortKey(AItem), seq, item);
  fByNADIPAndPort.Insert(NADIPPortKey(AItem), seq, item);
}

void TNATInfoList::Unindex(TNATInfo& AItem) {
  const std::uint64_t seq = AItem.fSeq;
  fByNAD.Erase(AItem.NAD(), seq);
  if (fByNADAlias.Erase(AItem.NADAlias(), seq)) {
    fTakenAliases.Free(AsAlias(AItem.NADAlias()));
  }
  fByIPAndPort.Erase(IPPortKey(AItem), seq);
  fByNADIPAndPort.Erase(NADIPPortKey(AItem), seq);
}

void TNATInfoList::UnindexGone(const std::vector<std::unique_ptr<TNATInfo>>& AGone,
                               std::size_t AFrom) {
  const std::uint64_t pass = ++fSweepPass;
  const auto gone = [](const TNATInfo* AItem) { return AItem->fOwner == nullptr; };
  for (std::size_t i = AFrom; i < AGone.size(); ++i) {
    const auto& item = AGone[i];
    fSeqOf.erase(item.get());
    fByNAD.Sweep(item->NAD(), pass, gone);
    if (fByNADAlias.Sweep(item->NADAlias(), pass, gone)) {
      fTakenAliases.Free(AsAlias(item->NADAlias()));
    }
    fByIPAndPort.Sweep(IPPortKey(*item), pass, gone);
    fByNADIPAndPort.Sweep(NADIPPortKey(*item), pass, gone);
  }
}

void TNATInfoList::ClearIndexes() {
  fByNAD.Clear();
  fByNADAlias.Clear();
  fByIPAndPort.Clear();
  fByNADIPAndPort.Clear();
  fTakenAliases.Clear();
  fSeqOf.clear();
}

int TNATInfoList::Add(std::unique_ptr<TNATInfo> AItem) {
  // An empty slot would crash every later lookup, so refuse it here.
  if (!AItem) {
    throw std::invalid_argument("TNATInfoList::Add: no entry given");
  }
  // Listed twice, the entry would be freed twice.
  if (AItem->fOwner != nullptr) {
    throw std::invalid_argument("TNATInfoList::Add: the entry is listed in a table");
  }
  if (Full()) {
    throw TTableFullError("TNATInfoList::Add: the table holds its most entries");
  }
  if (FItems.size() == FItems.capacity()) {
    FItems.reserve(std::max<std::size_t>(16, FItems.size() * 2));  // so push_back cannot fail
  }
  TNATInfo& item = *AItem;
  item.fSeq = fNextSeq++;
  fSeqOf.emplace(&item, item.fSeq);
  try {
    Index(item);
  } catch (...) {
    Unindex(item);
    fSeqOf.erase(&item);
    throw;
  }
  item.fOwner = this;
  FItems.push_back(std::move(AItem));
  return Count() - 1;
}

int TNATInfoList::Count() const {
  return static_cast<int>(FItems.size());
}

TNATInfo* TNATInfoList::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) {
    return nullptr;
  }
  return FItems[static_cast<std::size_t>(AIndex)].get();
}

std::uint64_t TNATInfoList::Mark(int AIndex) const {
  const TNATInfo* item = Items(AIndex);
  return item != nullptr ? item->fSeq : 0;
}

int TNATInfoList::IndexAfter(std::uint64_t AMark) const {
  const auto where =
      std::upper_bound(FItems.begin(), FItems.end(), AMark,
                       [](std::uint64_t ASeq, const std::unique_ptr<TNATInfo>& AItem) {
                         return ASeq < AItem->fSeq;
                       });
  return static_cast<int>(where - FItems.begin());
}

int TNATInfoList::IndexOf(const TNATInfo* AItem) const {
  const auto found = fSeqOf.find(AItem);
  if (found == fSeqOf.end()) {
    return -1;
  }
  return IndexAfter(found->second - 1);
}

std::unique_ptr<TNATInfo> TNATInfoList::Remove(const TNATInfo* AItem, int* AIndex) {
  const int index = AItem != nullptr ? IndexOf(AItem) : -1;
  if (AIndex != nullptr) {
    *AIndex = index;
  }
  if (index < 0) {
    return nullptr;
  }
  const auto where = FItems.begin() + index;
  std::unique_ptr<TNATInfo> item = std::move(*where);
  FItems.erase(where);
  Unindex(*item);
  fSeqOf.erase(item.get());
  item->fOwner = nullptr;
  return item;
}

TNATInfo* TNATInfoList::FindByNAD(std::int32_t ANAD) const {
  return fByNAD.First(ANAD);
}

TNATInfo* TNATInfoList::FindByNADAlias(std::int32_t ANADAlias) const {
  return fByNADAlias.First(ANADAlias);
}

TNATInfo* TNATInfoList::FindByIPAndPort(const std::string& AIP, std::uint16_t APort) const {
  return fByIPAndPort.First(TAddressKeyView{0, AIP, APort});
}

TNATInfo* TNATInfoList::FindByNADIPAndPort(std::int32_t ANAD, const std::string& AIP,
                                           std::uint16_t APort) const {
  return fByNADIPAndPort.First(TAddressKeyView{ANAD, AIP, APort});
}

TNATInfo* TNATInfoList::UpdateByNAD(std::int32_t ANAD, const std::string& AIP,
                                    std::uint16_t APort) {
  if (TNATInfo* existing = FindByNADIPAndPort(ANAD, AIP, APort)) {
    existing->SetTimeout(fTimeout);
    return existing;
  }
  if (Full()) {
    return nullptr;
  }

  // The first alias from ANAD upward, wrapping from 4294967295 to 0, that no entry holds.
  const std::uint32_t alias = fTakenAliases.FirstFreeFrom(AsAlias(ANAD));

  // Created before anything changes, so a failed lookup leaves the table as it was.
  auto item = std::make_unique<TNATInfo>(ANAD, AIP, APort, fTimeout);
  item->SetNADAlias(static_cast<std::int32_t>(alias));
  TNATInfo* result = item.get();
  Add(std::move(item));
  return result;
}

void TNATInfoList::UpdateByIPAndPort(std::int32_t ANAD, const std::string& AIP,
                                     std::uint16_t APort) {
  if (TNATInfo* existing = FindByIPAndPort(AIP, APort)) {
    existing->SetTimeout(fTimeout);
    return;
  }
  if (!Full()) {
    Add(std::make_unique<TNATInfo>(ANAD, AIP, APort, fTimeout));
  }
}

std::unique_ptr<TNATInfoList> TNATInfoList::Duplicate() const {
  auto copy = std::make_unique<TNATInfoList>(fTimeout, fClock);
  copy->FItems.reserve(FItems.size());
  for (const auto& item : FItems) {
    copy->Add(std::make_unique<TNATInfo>(*item));  // copies fields, no lookup
  }
  return copy;
}

void TNATInfoList::Clear() {
  ClearIndexes();
  while (!FItems.empty()) {
    FItems.pop_back();
  }
}

std::vector<std::unique_ptr<TNATInfo>> TNATInfoList::ClearWithoutFreeing() {
  ClearIndexes();
  for (const auto& item : FItems) {
    item->fOwner = nullptr;
  }
  return std::exchange(FItems, {});
}

void TNATInfoList::AgeEntries() {
  if (!BeginAgeingStep()) {
    return;
  }
  std::vector<std::unique_ptr<TNATInfo>> gone;
  ContinueAgeingStep(std::numeric_limits<int>::max(), gone);
}

bool TNATInfoList::BeginAgeingStep() {
  if (!Ages() || fTimerRunning) {
    return false;
  }
  const TTimePoint now = fClock.Now();
  // A clock set back by a second or more counts as elapsed time too, or a table would stop
  // ageing until the clock caught up again.
  const auto elapsed = now >= fOneSecTimer ? now - fOneSecTimer : fOneSecTimer - now;
  if (elapsed < std::chrono::milliseconds(1000)) {
    return false;
  }
  fTimerRunning = true;
  fStepNow = now;
  fStepAfter = 0;
  fStepLast = FItems.empty() ? 0 : FItems.back()->fSeq;
  return true;
}

bool TNATInfoList::ContinueAgeingStep(int AMaxEntries,
                                      std::vector<std::unique_ptr<TNATInfo>>& AGone) {
  if (!fTimerRunning) {
    return true;
  }
  try {
    // Walks the slice [From, To) in list order, keeping the survivors in order, so no entry
    // after a removed one is skipped; entries added since the step began are not aged by it.
    const std::size_t from = static_cast<std::size_t>(IndexAfter(fStepAfter));
    std::size_t to = from;
    const std::size_t goneBefore = AGone.size();
    std::size_t kept = from;
    while (to < FItems.size() && FItems[to]->fSeq <= fStepLast &&
           to - from < static_cast<std::size_t>(AMaxEntries)) {
      TNATInfo& item = *FItems[to];
      fStepAfter = item.fSeq;
      // Checked before the decrement so that a timeout of INT32_MIN cannot overflow.
      if (item.Timeout() <= 1) {
        item.fOwner = nullptr;
        AGone.push_back(std::move(FItems[to]));
      } else {
        item.SetTimeout(item.Timeout() - 1);
        if (kept != to) {
          FItems[kept] = std::move(FItems[to]);
        }
        ++kept;
      }
      ++to;
    }
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(kept),
                 FItems.begin() + static_cast<std::ptrdiff_t>(to));
    UnindexGone(AGone, goneBefore);
    if (kept < FItems.size() && FItems[kept]->fSeq <= fStepLast) {
      return false;  // more of this step to do
    }
  } catch (...) {
    fTimerRunning = false;
    throw;
  }
  fOneSecTimer = fStepNow;  // the time read when the step began, not the last one plus 1000 ms
  fTimerRunning = false;
  return true;
}

}  // namespace kelvo
