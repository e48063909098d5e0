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
  TNATInfo* Item = &AItem;
  const std::uint64_t Seq = AItem.fSeq;
  fByNAD.Insert(AItem.NAD(), Seq, Item);
  if (fByNADAlias.Insert(AItem.NADAlias(), Seq, Item)) {
    fTakenAliases.Take(AsAlias(AItem.NADAlias()));
  }
  fByIPAndPort.Insert(IPPortKey(AItem), Seq, Item);
  fByNADIPAndPort.Insert(NADIPPortKey(AItem), Seq, Item);
}

void TNATInfoList::Unindex(TNATInfo& AItem) {
  const std::uint64_t Seq = AItem.fSeq;
  fByNAD.Erase(AItem.NAD(), Seq);
  if (fByNADAlias.Erase(AItem.NADAlias(), Seq)) {
    fTakenAliases.Free(AsAlias(AItem.NADAlias()));
  }
  fByIPAndPort.Erase(IPPortKey(AItem), Seq);
  fByNADIPAndPort.Erase(NADIPPortKey(AItem), Seq);
}

void TNATInfoList::UnindexGone(const std::vector<std::unique_ptr<TNATInfo>>& AGone,
                               std::size_t AFrom) {
  const std::uint64_t Pass = ++fSweepPass;
  const auto Gone = [](const TNATInfo* AItem) { return AItem->fOwner == nullptr; };
  for (std::size_t I = AFrom; I < AGone.size(); ++I) {
    const auto& Item = AGone[I];
    fSeqOf.erase(Item.get());
    fByNAD.Sweep(Item->NAD(), Pass, Gone);
    if (fByNADAlias.Sweep(Item->NADAlias(), Pass, Gone)) {
      fTakenAliases.Free(AsAlias(Item->NADAlias()));
    }
    fByIPAndPort.Sweep(IPPortKey(*Item), Pass, Gone);
    fByNADIPAndPort.Sweep(NADIPPortKey(*Item), Pass, Gone);
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
  TNATInfo& Item = *AItem;
  Item.fSeq = fNextSeq++;
  fSeqOf.emplace(&Item, Item.fSeq);
  try {
    Index(Item);
  } catch (...) {
    Unindex(Item);
    fSeqOf.erase(&Item);
    throw;
  }
  Item.fOwner = this;
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
  const TNATInfo* Item = Items(AIndex);
  return Item != nullptr ? Item->fSeq : 0;
}

int TNATInfoList::IndexAfter(std::uint64_t AMark) const {
  const auto Where =
      std::upper_bound(FItems.begin(), FItems.end(), AMark,
                       [](std::uint64_t ASeq, const std::unique_ptr<TNATInfo>& AItem) {
                         return ASeq < AItem->fSeq;
                       });
  return static_cast<int>(Where - FItems.begin());
}

int TNATInfoList::IndexOf(const TNATInfo* AItem) const {
  const auto Found = fSeqOf.find(AItem);
  if (Found == fSeqOf.end()) {
    return -1;
  }
  return IndexAfter(Found->second - 1);
}

std::unique_ptr<TNATInfo> TNATInfoList::Remove(const TNATInfo* AItem, int* AIndex) {
  const int Index = AItem != nullptr ? IndexOf(AItem) : -1;
  if (AIndex != nullptr) {
    *AIndex = Index;
  }
  if (Index < 0) {
    return nullptr;
  }
  const auto Where = FItems.begin() + Index;
  std::unique_ptr<TNATInfo> Item = std::move(*Where);
  FItems.erase(Where);
  Unindex(*Item);
  fSeqOf.erase(Item.get());
  Item->fOwner = nullptr;
  return Item;
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
  if (TNATInfo* Existing = FindByNADIPAndPort(ANAD, AIP, APort)) {
    Existing->SetTimeout(fTimeout);
    return Existing;
  }
  if (Full()) {
    return nullptr;
  }

  // The first alias from ANAD upward, wrapping from 4294967295 to 0, that no entry holds.
  const std::uint32_t Alias = fTakenAliases.FirstFreeFrom(AsAlias(ANAD));

  // Created before anything changes, so a failed lookup leaves the table as it was.
  auto Item = std::make_unique<TNATInfo>(ANAD, AIP, APort, fTimeout);
  Item->SetNADAlias(static_cast<std::int32_t>(Alias));
  TNATInfo* Result = Item.get();
  Add(std::move(Item));
  return Result;
}

void TNATInfoList::UpdateByIPAndPort(std::int32_t ANAD, const std::string& AIP,
                                     std::uint16_t APort) {
  if (TNATInfo* Existing = FindByIPAndPort(AIP, APort)) {
    Existing->SetTimeout(fTimeout);
    return;
  }
  if (!Full()) {
    Add(std::make_unique<TNATInfo>(ANAD, AIP, APort, fTimeout));
  }
}

std::unique_ptr<TNATInfoList> TNATInfoList::Duplicate() const {
  auto Copy = std::make_unique<TNATInfoList>(fTimeout, fClock);
  Copy->FItems.reserve(FItems.size());
  for (const auto& Item : FItems) {
    Copy->Add(std::make_unique<TNATInfo>(*Item));  // copies fields, no lookup
  }
  return Copy;
}

void TNATInfoList::Clear() {
  ClearIndexes();
  while (!FItems.empty()) {
    FItems.pop_back();
  }
}

std::vector<std::unique_ptr<TNATInfo>> TNATInfoList::ClearWithoutFreeing() {
  ClearIndexes();
  for (const auto& Item : FItems) {
    Item->fOwner = nullptr;
  }
  return std::exchange(FItems, {});
}

void TNATInfoList::AgeEntries() {
  if (!BeginAgeingStep()) {
    return;
  }
  std::vector<std::unique_ptr<TNATInfo>> Gone;
  ContinueAgeingStep(std::numeric_limits<int>::max(), Gone);
}

bool TNATInfoList::BeginAgeingStep() {
  if (!Ages() || fTimerRunning) {
    return false;
  }
  const TTimePoint Now = fClock.Now();
  // A clock set back by a second or more counts as elapsed time too, or a table would stop
  // ageing until the clock caught up again.
  const auto Elapsed = Now >= fOneSecTimer ? Now - fOneSecTimer : fOneSecTimer - Now;
  if (Elapsed < std::chrono::milliseconds(1000)) {
    return false;
  }
  fTimerRunning = true;
  fStepNow = Now;
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
    const std::size_t From = static_cast<std::size_t>(IndexAfter(fStepAfter));
    std::size_t To = From;
    const std::size_t GoneBefore = AGone.size();
    std::size_t Kept = From;
    while (To < FItems.size() && FItems[To]->fSeq <= fStepLast &&
           To - From < static_cast<std::size_t>(AMaxEntries)) {
      TNATInfo& Item = *FItems[To];
      fStepAfter = Item.fSeq;
      // Checked before the decrement so that a timeout of INT32_MIN cannot overflow.
      if (Item.Timeout() <= 1) {
        Item.fOwner = nullptr;
        AGone.push_back(std::move(FItems[To]));
      } else {
        Item.SetTimeout(Item.Timeout() - 1);
        if (Kept != To) {
          FItems[Kept] = std::move(FItems[To]);
        }
        ++Kept;
      }
      ++To;
    }
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(Kept),
                 FItems.begin() + static_cast<std::ptrdiff_t>(To));
    UnindexGone(AGone, GoneBefore);
    if (Kept < FItems.size() && FItems[Kept]->fSeq <= fStepLast) {
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
