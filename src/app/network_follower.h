// Keeps the relay's endpoint on the chosen adapter while the network changes under it: after a
// change notification (debounced, as DHCP removes and adds an address in quick succession), on a
// slow re-check (the only thing that works where the system sends no notifications), and while
// the port cannot be opened, with a backoff. The chosen adapter is a setting and is never
// replaced by a fallback; the adapter in use is state.
//
//   chosen adapter                    binds                           state
//   none chosen ("")                  the default adapter, else all   listening
//   present with an IPv4 address      that address                    listening
//   present without one               the default adapter, else all   waiting
//   absent                            the default adapter, else all   fallback
//   (the bind fails)                  nothing; retried 1 s, 2 s, ... 30 s   error
//
// Owner's thread only (GUI thread, or the headless runner's main thread); the clock is passed
// in, so tests never sleep.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/network_status.h"
#include "net/ethernet_utils.h"

namespace kelvo {

class TNetworkFollower {
 public:
  using TTime = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::milliseconds kDebounce{500};
  // A stream of notifications still gets its look this soon after the first of them.
  static constexpr std::chrono::milliseconds kLongestDebounce{1500};
  static constexpr std::chrono::milliseconds kRecheck{2000};
  static constexpr std::chrono::milliseconds kFirstRetry{1000};
  static constexpr std::chrono::milliseconds kLongestRetry{30000};

  struct TSeams {
    // The adapter with this ID as it is now; nullopt when absent. Cheap: the re-check calls it.
    std::function<std::optional<TEthernetAdapterInfo>(const std::string& AID)> Find;
    // The default adapter; an empty record when there is none. May be slow (it resolves the
    // machine's own name), so only a change or a retry calls it.
    std::function<TEthernetAdapterInfo()> Default;
    // (Re)binds on AAdapter's address (empty: every address); "" on success, else why not.
    std::function<std::string(const TEthernetAdapterInfo& AAdapter)> Bind;
    // The endpoint's bound address, "" when it is closed.
    std::function<std::string()> BoundAddress;
  };

  explicit TNetworkFollower(TSeams ASeams);

  const std::string& ChosenAdapterID() const { return fStatus.AdapterID; }
  void SetChosenAdapterID(const std::string& AID) { fStatus.AdapterID = AID; }
  const TNetworkStatus& Status() const { return fStatus; }

  // Binds as the network is now, also when nothing changed (start-up, Setup's OK, a reload).
  // True when the status changed.
  bool Restart(TTime ANow);
  // A change notification: the look follows after the debounce.
  void NetworkChanged(TTime ANow);
  // The owner's tick: a due look (change, retry, re-check). True when the status changed.
  bool Tick(TTime ANow);

 private:
  void Evaluate(TTime ANow, bool AForce);
  void Recheck(TTime ANow);
  static std::string SeenAs(const std::optional<TEthernetAdapterInfo>& AAdapter);

  TSeams fSeams;
  TNetworkStatus fStatus;
  std::string fLastSeen;  // the chosen adapter's address at the last look ("-" when absent)
  std::optional<TTime> fFirstChange;
  std::optional<TTime> fChangeDue;
  std::optional<TTime> fRetryDue;
  std::chrono::milliseconds fRetryDelay = kFirstRetry;
  TTime fRecheckDue{};
  bool fChanged = false;
};

// GetDefault, with a failure of the socket layer turned into an empty record and its reason in
// AError (left alone otherwise).
TEthernetAdapterInfo DefaultAdapterOrNone(std::string& AError);

// Whether an adapter record carries a usable IPv4 address (not empty, not 0.0.0.0).
bool HasIPv4Address(const TEthernetAdapterInfo& AAdapter);

// What to bind for AChosenID, given the chosen adapter as it is now (AChosen, nullopt when
// absent): the table above without its last row. ADefault is asked only for a fallback.
struct TBindingPlan {
  TListenState State = TListenState::Listening;
  TEthernetAdapterInfo Adapter;  // empty: every address
};
TBindingPlan PlanBinding(const std::string& AChosenID,
                         const std::optional<TEthernetAdapterInfo>& AChosen,
                         const std::function<TEthernetAdapterInfo()>& ADefault);

}  // namespace kelvo
