#include "relay/receive_states.h"

#include <new>
#include <utility>

namespace kelvo {

namespace {

// A buffer keeps the room its growth gave it (at most twice its bytes) plus this much, so
// that a sender's next datagrams rarely allocate; room left over from a large frame that has
// gone is given back.
constexpr std::size_t kSpareRoom = std::size_t{16} * 1024;

}  // namespace

TReceiveState* TReceiveStates::Find(const std::string& AIP, std::uint16_t APort) {
  // The usual case: every sender's datagrams hold whole frames, and nobody has bytes waiting.
  if (fEntries.empty()) {
    fFound = fEntries.end();
    return nullptr;
  }
  fProbe.IP.assign(AIP);
  fProbe.Port = APort;
  const auto found = fIndex.find(fProbe);
  fFound = found == fIndex.end() ? fEntries.end() : found->second;
  return fFound == fEntries.end() ? nullptr : &fFound->State;
}

void TReceiveStates::Erase(TOrder::iterator AEntry) {
  fCost -= AEntry->Cost;
  fIndex.erase(AEntry->Key);
  fEntries.erase(AEntry);
}

void TReceiveStates::Compact(TReceiveState& AState) {
  const std::size_t live = AState.BufferedBytes();
  if (AState.fRecBuffer.capacity() <= 2 * live + kSpareRoom)
    return;
  try {
    std::vector<std::uint8_t> kept(
        AState.fRecBuffer.begin() + static_cast<std::ptrdiff_t>(AState.fRecStart),
        AState.fRecBuffer.end());
    AState.fRecBuffer = std::move(kept);
    AState.fRecStart = 0;
  } catch (const std::bad_alloc&) {
    // Kept as it is; the room counts against the total bound all the same.
  }
}

void TReceiveStates::Changed(const TDropReport& ADropped) {
  const auto entry = fFound;
  fFound = fEntries.end();
  if (entry == fEntries.end())
    return;
  if (entry->State.BufferedBytes() == 0) {
    Erase(entry);
    return;
  }
  Compact(entry->State);
  fEntries.splice(fEntries.end(), fEntries, entry);
  Settle(entry, ADropped);
}

void TReceiveStates::Adopt(const std::string& AIP, std::uint16_t APort,
                           const TReceiveState& AScratch, const TDropReport& ADropped) {
  if (AScratch.BufferedBytes() == 0)
    return;
  // Only the live bytes are copied, so a sender with a byte or two waiting costs little.
  TEntry fresh;
  fresh.Key.IP = AIP;
  fresh.Key.Port = APort;
  fresh.State.fRecBuffer.assign(
      AScratch.fRecBuffer.begin() + static_cast<std::ptrdiff_t>(AScratch.fRecStart),
      AScratch.fRecBuffer.end());
  fresh.State.fCommState = AScratch.fCommState;
  const auto entry = fEntries.insert(fEntries.end(), std::move(fresh));
  try {
    fIndex.emplace(entry->Key, entry);
  } catch (...) {
    fEntries.erase(entry);
    throw;
  }
  Settle(entry, ADropped);
}

void TReceiveStates::Settle(TOrder::iterator AEntry, const TDropReport& ADropped) {
  fCost -= AEntry->Cost;
  AEntry->Cost = CostOf(AEntry->State);
  fCost += AEntry->Cost;
  // The sender just handled is the most recent, so it would go last; it never goes, since a
  // single sender stays within its own bound, far below the total.
  while (fCost > fTotalBound && fEntries.begin() != AEntry) {
    const auto oldest = fEntries.begin();
    const std::string ip = oldest->Key.IP;
    const std::uint16_t port = oldest->Key.Port;
    const std::size_t bytes = oldest->State.BufferedBytes();
    Erase(oldest);
    if (ADropped)
      ADropped(ip, port, bytes);
  }
}

void TReceiveStates::ResetAll() {
  for (TEntry& entry : fEntries)
    entry.State.fCommState = TCommState::csReady;
}

std::size_t TReceiveStates::BufferedBytes() const {
  std::size_t total = 0;
  for (const TEntry& entry : fEntries)
    total += entry.State.BufferedBytes();
  return total;
}

}  // namespace kelvo
