// Owns a POSIX file descriptor and closes it on every path out of the scope that opened it.
// Internal to the core's POSIX files. One owner; any thread.
#pragma once

#include <unistd.h>

namespace kelvo {

class TFd {
 public:
  explicit TFd(int AFd) : fFd(AFd) {}  // a negative AFd (a failed open) owns nothing
  ~TFd() {
    if (fFd >= 0) {
      ::close(fFd);
    }
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fFd; }

 private:
  int fFd;
};

}  // namespace kelvo
