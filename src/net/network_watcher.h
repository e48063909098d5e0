// Tells its owner that links or IPv4 addresses of the machine changed, so that it can look at
// its binding again. The system's notifications only say "something changed"; what it means
// for the relay is decided by the owner (app/network_follower.h).
//
// Linux: a NETLINK_ROUTE socket subscribed to link and IPv4 address changes; the owner waits
// on its descriptor (network_watcher_linux.h) and calls Drain on its own thread.
// Windows: NotifyIpInterfaceChange and NotifyUnicastIpAddressChange; their callbacks run on a
// thread of the system's and only call AWake, which must do no more than wake the owner's
// thread (post a message, set an event); the owner then calls Drain.
//
// Construct, Drain and destroy on the owner's thread. Never throws: without notifications
// (Error() says why) the owner's slow re-check still finds every change.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kelvo {

class TNetworkWatcher {
 public:
  explicit TNetworkWatcher(std::function<void()> AWake = {});
  ~TNetworkWatcher();
  TNetworkWatcher(const TNetworkWatcher&) = delete;
  TNetworkWatcher& operator=(const TNetworkWatcher&) = delete;

  // Why the system's notifications cannot be had; "" when they can.
  const std::string& Error() const;
  // Takes in what arrived since the last call; true when a change of links or addresses was
  // among it. Never waits.
  bool Drain();

  struct TImpl;

 private:
  friend int WatcherDescriptor(const TNetworkWatcher& AWatcher);
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace kelvo
