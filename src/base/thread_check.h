// Debug-build checks of the thread rules that headers state ("GUI thread only", "listener thread
// only"). A TThreadOwner remembers the first thread that passes a KELVO_ASSERT_THREAD; another
// thread that passes it later ends the program with the place named. The check is compiled in
// where NDEBUG is unset or KELVO_THREAD_CHECKS is defined, and away otherwise; the owner object
// is the same in every build. Any thread.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace kelvo {

class TThreadOwner {
 public:
  TThreadOwner() = default;
  // A copy (or a moved-to object) is a new object: its owner is whoever calls it first.
  TThreadOwner(const TThreadOwner& /*AOther*/) noexcept {}
  TThreadOwner& operator=(const TThreadOwner& /*AOther*/) noexcept { return *this; }

  // True on the owning thread; the first caller after construction or Release becomes it.
  bool IsOwner() const {
    const std::thread::id Self = std::this_thread::get_id();
    std::thread::id Expected{};
    return fOwner.compare_exchange_strong(Expected, Self) || Expected == Self;
  }
  // The next caller becomes the owner: a rule such as "listener thread only" passes to the
  // thread that a restart starts.
  void Release() { fOwner.store(std::thread::id{}); }

 private:
  mutable std::atomic<std::thread::id> fOwner{};
};

[[noreturn]] inline void ThreadRuleBroken(const char* ARule, const char* AFile, int ALine) {
  std::fprintf(stderr, "%s:%d: thread rule broken: %s\n", AFile, ALine, ARule);
  std::fflush(stderr);
  std::abort();
}

}  // namespace kelvo

#if !defined(NDEBUG) || defined(KELVO_THREAD_CHECKS)
#define KELVO_ASSERT_THREAD(AOwner, ARule)                  \
  do {                                                      \
    if (!(AOwner).IsOwner()) {                              \
      ::kelvo::ThreadRuleBroken(ARule, __FILE__, __LINE__); \
    }                                                       \
  } while (false)
#else
#define KELVO_ASSERT_THREAD(AOwner, ARule) \
  do {                                     \
    (void)sizeof(AOwner);                  \
  } while (false)
#endif
