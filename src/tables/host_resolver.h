// Host names of static controllers, looked up on a worker thread so that the listener never
// waits for a name lookup: it sends to the address a name last resolved to, and the worker
// refreshes that address in the background.
//
// Threads: every public operation may be called from any thread and never waits for a lookup;
// the worker alone runs lookups, and never while it holds fLock. The destructor stops the worker
// and joins it, after the lookup in hand (if any) has returned.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace kelvo {

// An address is looked up again at most this often while its name is in use.
inline constexpr std::chrono::seconds kHostRefreshInterval{30};
// After a failed send a name is looked up again at once, but not sooner than this after its
// last lookup, so that a destination whose sends keep failing does not flood the resolver.
inline constexpr std::chrono::seconds kHostRetryAfterFailedSend{1};

class THostResolver {
 public:
  // Turns a host name into IPv4 text; may block; throws when the name does not resolve.
  using TLookup = std::function<std::string(const std::string& AHost)>;
  using TTime = std::chrono::steady_clock::time_point;
  using TNow = std::function<TTime()>;

  // By default the system resolver (ResolveHostToIP) and the steady clock.
  explicit THostResolver(TLookup ALookup = {}, TNow ANow = {});
  ~THostResolver();
  THostResolver(const THostResolver&) = delete;
  THostResolver& operator=(const THostResolver&) = delete;

  // The address AHost last resolved to, into AIP; false, AIP untouched, while it never has.
  // Asks the worker for a lookup when the name is new or its address is due for a refresh.
  bool LastAddress(const std::string& AHost, std::string& AIP) EXCLUDES(fLock);
  // A send to AHost's last address failed: look it up again soon.
  void SendFailed(const std::string& AHost) EXCLUDES(fLock);
  // The names in use from now on (the static controllers'): the new ones are looked up ahead
  // of their first frame, names no longer among them are forgotten.
  void SetNames(const std::vector<std::string>& AHosts) EXCLUDES(fLock);

  // Tests: waits until no lookup is queued or running, at most ATimeout; true when idle.
  bool WaitIdle(std::chrono::milliseconds ATimeout) EXCLUDES(fLock);

 private:
  struct TName {
    std::string Address;  // valid when Resolved
    bool Resolved = false;
    bool Queued = false;  // waiting for the worker, or being looked up
    TTime LastLookup{};   // when the last lookup ended
  };

  TName& Use(const std::string& AHost, TTime ANow) REQUIRES(fLock);
  void Enqueue(const std::string& AHost, TName& AName) REQUIRES(fLock);
  bool Idle() const REQUIRES(fLock) { return fQueue.empty() && !fBusy; }

  void Run() EXCLUDES(fLock);

  const TLookup fLookup;
  const TNow fNow;

  mutable TMutex fLock;
  std::condition_variable_any fWake;  // the worker waits on it for work
  std::condition_variable_any fIdle;  // WaitIdle waits on it
  std::unordered_map<std::string, TName> fNames GUARDED_BY(fLock);
  std::deque<std::string> fQueue GUARDED_BY(fLock);
  bool fBusy GUARDED_BY(fLock) = false;  // a lookup runs
  bool fStop GUARDED_BY(fLock) = false;
  std::thread fWorker;  // started with the first lookup, under fLock
};

}  // namespace kelvo
