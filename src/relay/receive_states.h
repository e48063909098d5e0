// The receive state of every sender (IP text and port) that has bytes waiting: a partial frame,
// or leftovers behind a handled one. Kept apart so that one sender's bytes never complete,
// swallow or delay another's frame, and bounded in total so that many senders cannot exhaust
// memory. A sender without waiting bytes has no entry.
//
// Not thread-safe: the relay engine's listener thread uses it (the owner's thread only while
// the endpoint is closed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace kelvo {

enum class TCommState { csReady = 0, csWaiting = 1, csReceiving = 2 };

// Received bytes not yet consumed, live from fRecStart, and where the search stands.
struct TReceiveState {
  std::vector<std::uint8_t> fRecBuffer;
  std::size_t fRecStart = 0;
  TCommState fCommState = TCommState::csReady;

  std::size_t BufferedBytes() const { return fRecBuffer.size() - fRecStart; }
};

// What one sender's entry is reckoned to cost besides its buffer's capacity: the list and map
// nodes, the key and the allocator's own overhead, rounded up. Counting it keeps a flood of
// senders with a byte or two each within the total bound as well.
inline constexpr std::size_t kReceiveStateOverhead = 256;

class TReceiveStates {
 public:
  explicit TReceiveStates(std::size_t ATotalBound)
      : fTotalBound(ATotalBound), fFound(fEntries.end()) {}
  TReceiveStates(const TReceiveStates&) = delete;
  TReceiveStates& operator=(const TReceiveStates&) = delete;

  using TDropReport =
      std::function<void(const std::string& AIP, std::uint16_t APort, std::size_t ABytes)>;

  // The entry of (AIP, APort), or null when that sender has no bytes waiting.
  TReceiveState* Find(const std::string& AIP, std::uint16_t APort);
  // After a datagram has been handled on the entry that the last Find returned (no other call
  // in between): an entry left without bytes goes, any other becomes the most recent.
  void Changed(const TDropReport& ADropped);
  // After a datagram of a sender without an entry has been handled on the caller's scratch
  // state: its live bytes, if any, are copied into a new, most recent entry.
  void Adopt(const std::string& AIP, std::uint16_t APort, const TReceiveState& AScratch,
             const TDropReport& ADropped);
  // Both keep the total within the bound: the entries of the senders whose bytes have waited
  // longest go first, each reported to ADropped with its sender and the bytes it held.

  // Every sender's state back to csReady; the bytes stay.
  void ResetAll();
  void SetTotalBound(std::size_t ABound) { fTotalBound = ABound; }

  std::size_t Count() const { return fEntries.size(); }
  // Live bytes of every sender together.
  std::size_t BufferedBytes() const;
  // What the entries are reckoned to cost (buffer capacities plus the overhead of each).
  std::size_t Cost() const { return fCost; }

 private:
  struct TKey {
    std::string IP;
    std::uint16_t Port = 0;
    bool operator==(const TKey&) const = default;
  };
  struct TKeyHash {
    std::size_t operator()(const TKey& AKey) const {
      return std::hash<std::string>()(AKey.IP) * 31u + AKey.Port;
    }
  };
  struct TEntry {
    TKey Key;
    TReceiveState State;
    std::size_t Cost = 0;  // as counted in fCost
  };
  using TOrder = std::list<TEntry>;  // least recently changed first

  static std::size_t CostOf(const TReceiveState& AState) {
    return AState.fRecBuffer.capacity() + kReceiveStateOverhead;
  }
  void Erase(TOrder::iterator AEntry);
  // Counts AEntry's new cost, then drops the oldest entries other than it down to the bound.
  void Settle(TOrder::iterator AEntry, const TDropReport& ADropped);
  static void Compact(TReceiveState& AState);

  std::size_t fTotalBound;
  std::size_t fCost = 0;
  TOrder fEntries;
  std::unordered_map<TKey, TOrder::iterator, TKeyHash> fIndex;
  TKey fProbe;              // reused for lookups, so that finding a sender does not allocate
  TOrder::iterator fFound;  // what the last Find found, for Changed
};

}  // namespace kelvo
