// Another local user for the tests of what one user can do to another's relay: a child
// process of this test that runs as a user id nobody has (so nothing about real users or
// /etc/passwd changes, and nothing is left to clean up). Needs root.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace kelvo::test {

// Whether this process may act as another user (root); otherwise AWhy says why not.
bool CanActAsOtherUser(std::string& AWhy);
// A user id that no account has, the same throughout the test run.
uid_t OtherUserId();

// Runs AWork as OtherUserId() in a child process. AWork gets a descriptor to report on (it
// writes text, the parent reads it with Report) and one that is readable once the parent calls
// Finish (or ends). The child ends when AWork returns.
class TOtherUserProcess {
 public:
  explicit TOtherUserProcess(std::function<void(int AReport, int AFinish)> AWork);
  ~TOtherUserProcess();  // Finish, then waits for the child
  TOtherUserProcess(const TOtherUserProcess&) = delete;
  TOtherUserProcess& operator=(const TOtherUserProcess&) = delete;

  // What the child has reported up to its first line end (without it), waiting at most
  // ATimeoutMs; empty if nothing came.
  std::string ReadLine(int ATimeoutMs = 5000);
  // Tells the child to end and waits for it (bounded); its exit code, -1 if it had to be
  // killed.
  int Finish();

 private:
  pid_t fPid = -1;
  int fReport = -1;
  int fFinish = -1;
  std::string fPending;
};

// Runs AWork as OtherUserId() and returns its result (an errno value, say); -1 when the child
// failed. While the test has other threads, AWork may only make calls that are safe after
// fork (no allocation).
int RunAsOtherUser(const std::function<int()>& AWork);

}  // namespace kelvo::test
