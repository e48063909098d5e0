#include "tables/nat_info_list.h"

#include <stdexcept>
#include <utility>

namespace kelvo {

TNATInfoList::TNATInfoList(std::int32_t ATimeout, const TClock& AClock)
    : fTimeout(ATimeout), fOneSecTimer(AClock.Now()), fClock(AClock) {}

TNATInfoList::~TNATInfoList() {
  Clear();
}

int TNATInfoList::Add(std::unique_ptr<TNATInfo> AItem) {
  // An empty slot would crash every later lookup, so refuse it here.
  if (!AItem) {
    throw std::invalid_argument("TNATInfoList::Add: no entry given");
  }
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

int TNATInfoList::IndexOf(const TNATInfo* AItem) const {
  for (std::size_t I = 0; I < FItems.size(); ++I) {
    if (FItems[I].get() == AItem) {
      return static_cast<int>(I);
    }
  }
  return -1;
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
  return Item;
}

TNATInfo* TNATInfoList::FindByNAD(std::int32_t ANAD) const {
  for (const auto& Item : FItems) {
    if (Item->NAD() == ANAD) {
      return Item.get();
    }
  }
  return nullptr;
}

TNATInfo* TNATInfoList::FindByNADAlias(std::int32_t ANADAlias) const {
  for (const auto& Item : FItems) {
    if (Item->NADAlias() == ANADAlias) {
      return Item.get();
    }
  }
  return nullptr;
}

TNATInfo* TNATInfoList::FindByIPAndPort(const std::string& AIP, std::uint16_t APort) const {
  for (const auto& Item : FItems) {
    if (Item->Port() == APort && Item->IP() == AIP) {
      return Item.get();
    }
  }
  return nullptr;
}

TNATInfo* TNATInfoList::FindByNADIPAndPort(std::int32_t ANAD, const std::string& AIP,
                                           std::uint16_t APort) const {
  // Runs for every frame: the cheap integer tests reject almost every entry before the string.
  for (const auto& Item : FItems) {
    if (Item->NAD() == ANAD && Item->Port() == APort && Item->IP() == AIP) {
      return Item.get();
    }
  }
  return nullptr;
}

TNATInfo* TNATInfoList::UpdateByNAD(std::int32_t ANAD, const std::string& AIP,
                                    std::uint16_t APort) {
  if (TNATInfo* Existing = FindByNADIPAndPort(ANAD, AIP, APort)) {
    Existing->SetTimeout(fTimeout);
    return Existing;
  }

  // Unsigned arithmetic so that 4294967295 + 1 wraps to 0 as the wire value does. The loop ends
  // because a table can never hold all 2^32 aliases.
  std::uint32_t Alias = static_cast<std::uint32_t>(ANAD);
  while (FindByNADAlias(static_cast<std::int32_t>(Alias)) != nullptr) {
    ++Alias;
  }

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
  Add(std::make_unique<TNATInfo>(ANAD, AIP, APort, fTimeout));
}

std::unique_ptr<TNATInfoList> TNATInfoList::Duplicate() const {
  auto Copy = std::make_unique<TNATInfoList>(fTimeout, fClock);
  Copy->FItems.reserve(FItems.size());
  for (const auto& Item : FItems) {
    Copy->FItems.push_back(std::make_unique<TNATInfo>(*Item));  // copies fields, no lookup
  }
  return Copy;
}

void TNATInfoList::Clear() {
  while (!FItems.empty()) {
    FItems.pop_back();
  }
}

std::vector<std::unique_ptr<TNATInfo>> TNATInfoList::ClearWithoutFreeing() {
  return std::exchange(FItems, {});
}

void TNATInfoList::AgeEntries() {
  if (!Ages() || fTimerRunning) {
    return;
  }
  fTimerRunning = true;
  struct TRunningReset {
    bool& fFlag;
    ~TRunningReset() { fFlag = false; }
  } RunningReset{fTimerRunning};

  const TTimePoint Now = fClock.Now();
  // A clock set back by a second or more counts as elapsed time too, or a table would stop
  // ageing until the clock caught up again.
  const auto Elapsed = Now >= fOneSecTimer ? Now - fOneSecTimer : fOneSecTimer - Now;
  if (Elapsed < std::chrono::milliseconds(1000)) {
    return;
  }

  // One pass that keeps the survivors in order; the expired entries are freed in place, so no
  // entry after a removed one is skipped.
  std::size_t Kept = 0;
  for (std::size_t I = 0; I < FItems.size(); ++I) {
    TNATInfo& Item = *FItems[I];
    // Checked before the decrement so that a timeout of INT32_MIN cannot overflow.
    if (Item.Timeout() <= 1) {
      FItems[I].reset();
      continue;
    }
    Item.SetTimeout(Item.Timeout() - 1);
    if (Kept != I) {
      FItems[Kept] = std::move(FItems[I]);
    }
    ++Kept;
  }
  FItems.resize(Kept);

  fOneSecTimer = Now;
}

}  // namespace kelvo
