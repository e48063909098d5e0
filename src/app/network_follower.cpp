#include "app/network_follower.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace kelvo {

namespace {

constexpr const char* kAbsent = "-";

std::string AddressOf(const TEthernetAdapterInfo& AAdapter) {
  return AAdapter.IPAddress().empty() ? std::string("0.0.0.0") : AAdapter.IPAddress();
}

}  // namespace

TEthernetAdapterInfo DefaultAdapterOrNone(std::string& AError) {
  TEthernetAdapterInfo adapter;
  try {
    adapter.GetDefault();
  } catch (const std::exception& error) {
    adapter.Clear();
    AError = error.what();
  }
  return adapter;
}

bool HasIPv4Address(const TEthernetAdapterInfo& AAdapter) {
  return IsValidIPAddress(AAdapter.IPAddress()) && AAdapter.IPAddress() != "0.0.0.0";
}

TBindingPlan PlanBinding(const std::string& AChosenID,
                         const std::optional<TEthernetAdapterInfo>& AChosen,
                         const std::function<TEthernetAdapterInfo()>& ADefault) {
  if (AChosen && HasIPv4Address(*AChosen)) {
    return {TListenState::Listening, *AChosen};
  }
  const TListenState state = AChosenID.empty() ? TListenState::Listening
                             : AChosen         ? TListenState::Waiting
                                               : TListenState::Fallback;
  return {state, ADefault()};
}

TNetworkFollower::TNetworkFollower(TSeams ASeams) : fSeams(std::move(ASeams)) {}

std::string TNetworkFollower::SeenAs(const std::optional<TEthernetAdapterInfo>& AAdapter) {
  return AAdapter ? AAdapter->IPAddress() : std::string(kAbsent);
}

bool TNetworkFollower::Restart(TTime ANow) {
  fChanged = false;
  fFirstChange.reset();
  fChangeDue.reset();
  fRetryDelay = kFirstRetry;
  Evaluate(ANow, true);
  return fChanged;
}

void TNetworkFollower::NetworkChanged(TTime ANow) {
  if (!fFirstChange) {
    fFirstChange = ANow;
  }
  fChangeDue = std::min(ANow + kDebounce, *fFirstChange + kLongestDebounce);
}

bool TNetworkFollower::Tick(TTime ANow) {
  fChanged = false;
  if (fChangeDue && ANow >= *fChangeDue) {
    fFirstChange.reset();
    fChangeDue.reset();
    Evaluate(ANow, false);
  } else if (fRetryDue && ANow >= *fRetryDue) {
    Evaluate(ANow, true);
  } else if (!fChangeDue && ANow >= fRecheckDue) {
    // While a change waits out its debounce, the look it brings is the re-check.
    Recheck(ANow);
  }
  return fChanged;
}

void TNetworkFollower::Recheck(TTime ANow) {
  fRecheckDue = ANow + kRecheck;
  const bool bindingLost = fStatus.IsListening() && fSeams.BoundAddress() != fStatus.Address;
  if (fStatus.AdapterID.empty() && !bindingLost) {
    return;  // nothing chosen to follow; changes of the default arrive as notifications
  }
  if (bindingLost || SeenAs(fSeams.Find(fStatus.AdapterID)) != fLastSeen) {
    Evaluate(ANow, false);
  }
}

void TNetworkFollower::Evaluate(TTime ANow, bool AForce) {
  fRecheckDue = ANow + kRecheck;
  std::optional<TEthernetAdapterInfo> chosen;
  if (!fStatus.AdapterID.empty()) {
    chosen = fSeams.Find(fStatus.AdapterID);
  }
  fLastSeen = SeenAs(chosen);
  const TBindingPlan plan = PlanBinding(fStatus.AdapterID, chosen, fSeams.Default);
  const TEthernetAdapterInfo& target = plan.Adapter;
  TNetworkStatus next = fStatus;
  next.State = plan.State;

  const std::string address = AddressOf(target);
  if (AForce || !fStatus.IsListening() || fSeams.BoundAddress() != address) {
    if (std::string error = fSeams.Bind(target); !error.empty()) {
      next.State = TListenState::Error;
      next.Address.clear();
      next.Error = std::move(error);
      fRetryDue = ANow + fRetryDelay;
      fRetryDelay = std::min(fRetryDelay * 2, kLongestRetry);
    } else {
      next.Address = fSeams.BoundAddress();
      next.Error.clear();
      fRetryDue.reset();
      fRetryDelay = kFirstRetry;
    }
  }
  if (!(next == fStatus)) {
    fStatus = std::move(next);
    fChanged = true;
  }
}

}  // namespace kelvo
