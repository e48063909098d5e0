#include "tables/host_resolver.h"

#include <system_error>
#include <unordered_set>
#include <utility>

#include "tables/nat_info.h"

namespace kelvo {

THostResolver::THostResolver(TLookup ALookup, TNow ANow)
    : fLookup(ALookup ? std::move(ALookup) : TLookup(ResolveHostToIP)),
      fNow(ANow ? std::move(ANow) : TNow([] { return std::chrono::steady_clock::now(); })) {}

THostResolver::~THostResolver() {
  {
    const TMutexLock lock(fLock);
    fStop = true;
  }
  fWake.notify_all();
  if (fWorker.joinable())
    fWorker.join();
}

THostResolver::TName& THostResolver::Use(const std::string& AHost, TTime ANow) {
  auto found = fNames.find(AHost);
  if (found == fNames.end()) {
    found = fNames.emplace(AHost, TName{}).first;
    Enqueue(AHost, found->second);
  } else if (!found->second.Queued && ANow - found->second.LastLookup >= kHostRefreshInterval) {
    Enqueue(AHost, found->second);
  }
  return found->second;
}

void THostResolver::Enqueue(const std::string& AHost, TName& AName) {
  if (!fWorker.joinable()) {
    try {
      fWorker = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return;  // no thread to be had now; the next request tries again
    }
  }
  AName.Queued = true;
  fQueue.push_back(AHost);
  fWake.notify_one();
}

bool THostResolver::LastAddress(const std::string& AHost, std::string& AIP) {
  const TMutexLock lock(fLock);
  const TName& name = Use(AHost, fNow());
  if (!name.Resolved)
    return false;
  AIP.assign(name.Address);
  return true;
}

void THostResolver::SendFailed(const std::string& AHost) {
  const TMutexLock lock(fLock);
  const TTime now = fNow();
  TName& name = Use(AHost, now);
  if (!name.Queued && now - name.LastLookup >= kHostRetryAfterFailedSend)
    Enqueue(AHost, name);
}

void THostResolver::SetNames(const std::vector<std::string>& AHosts) {
  const std::unordered_set<std::string> wanted(AHosts.begin(), AHosts.end());
  const TMutexLock lock(fLock);
  // A name being looked up may go too: the worker drops what it finds for a name no longer
  // listed.
  std::erase_if(fNames, [&wanted](const auto& AItem) { return !wanted.contains(AItem.first); });
  const TTime now = fNow();
  for (const std::string& host : wanted)
    Use(host, now);
}

bool THostResolver::WaitIdle(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  TUniqueLock lock(fLock);
  // Loops rather than predicates: the analysis sees the guarded fields read under the lock.
  while (!Idle()) {
    if (fIdle.wait_until(lock, deadline) == std::cv_status::timeout)
      return Idle();
  }
  return true;
}

void THostResolver::Run() {
  TUniqueLock lock(fLock);
  for (;;) {
    while (!fStop && fQueue.empty())
      fWake.wait(lock);
    if (fStop)
      return;
    const std::string host = std::move(fQueue.front());
    fQueue.pop_front();
    fBusy = true;
    lock.Unlock();

    // The lookup may take as long as the resolver likes; nobody waits for it.
    std::string address;
    bool resolved = false;
    try {
      address = fLookup(host);
      resolved = true;
    } catch (...) {
      // The name keeps its last address, if it had one; a later request tries again.
    }

    lock.Lock();
    fBusy = false;
    if (const auto found = fNames.find(host); found != fNames.end()) {
      TName& name = found->second;
      name.Queued = false;
      name.LastLookup = fNow();
      if (resolved) {
        name.Address = std::move(address);
        name.Resolved = true;
      }
    }
    if (Idle())
      fIdle.notify_all();
  }
}

}  // namespace kelvo
