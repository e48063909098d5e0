#include "other_user_posix.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace kelvo::test {

namespace {

// Becomes AUid in a forked child; false when the system refuses.
bool BecomeUser(uid_t AUid) {
  return ::setgroups(0, nullptr) == 0 && ::setresgid(AUid, AUid, AUid) == 0 &&
         ::setresuid(AUid, AUid, AUid) == 0;
}

int WaitChild(pid_t APid, int ATimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(APid, &status, WNOHANG);
    if (done == APid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= end) {
      ::kill(APid, SIGKILL);
      ::waitpid(APid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

bool CanActAsOtherUser(std::string& AWhy) {
  if (::geteuid() != 0) {
    AWhy = "needs root: the test acts as a second local user";
    return false;
  }
  return true;
}

uid_t OtherUserId() {
  static const uid_t uid = [] {
    uid_t candidate = 61234;
    while (::getpwuid(candidate) != nullptr || ::getgrgid(candidate) != nullptr) {
      ++candidate;
    }
    return candidate;
  }();
  return uid;
}

TOtherUserProcess::TOtherUserProcess(std::function<void(int, int)> AWork) {
  int report[2];
  int finish[2];
  if (::pipe(report) != 0 || ::pipe(finish) != 0) {
    return;
  }
  const uid_t uid = OtherUserId();
  fPid = ::fork();
  if (fPid == 0) {
    ::close(report[0]);
    ::close(finish[1]);
    if (!BecomeUser(uid)) {
      ::_exit(99);
    }
    AWork(report[1], finish[0]);
    ::_exit(0);
  }
  ::close(report[1]);
  ::close(finish[0]);
  fReport = report[0];
  fFinish = finish[1];
}

TOtherUserProcess::~TOtherUserProcess() {
  Finish();
  if (fReport >= 0) {
    ::close(fReport);
  }
}

std::string TOtherUserProcess::ReadLine(int ATimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (fPending.find('\n') == std::string::npos && fReport >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd readable{fReport, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    char buffer[256];
    const ssize_t n = ::read(fReport, buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    fPending.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t end_of_line = fPending.find('\n');
  if (end_of_line == std::string::npos) {
    return {};
  }
  std::string line = fPending.substr(0, end_of_line);
  fPending.erase(0, end_of_line + 1);
  return line;
}

int TOtherUserProcess::Finish() {
  if (fPid <= 0) {
    return -1;
  }
  if (fFinish >= 0) {
    ::close(fFinish);
    fFinish = -1;
  }
  const int code = WaitChild(fPid, 5000);
  fPid = -1;
  return code;
}

int RunAsOtherUser(const std::function<int()>& AWork) {
  const uid_t uid = OtherUserId();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::_exit(BecomeUser(uid) ? AWork() & 0x7F : 99);
  }
  if (pid < 0) {
    return -1;
  }
  const int code = WaitChild(pid, 5000);
  return code == 99 ? -1 : code;
}

}  // namespace kelvo::test
