// Owns a POSIX file descriptor and closes it on every path out of the scope that opened it.
// Internal to the core's POSIX files. One owner; any thread.
#pragma once

#include <unistd.h>

#include <cerrno>

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
  // For a file whose last writes a failed close can still lose: errno of the close, 0 on
  // success. Owns nothing afterwards.
  int Close() {
    const int Res = ::close(fFd);
    fFd = -1;
    return Res == 0 ? 0 : errno;
  }

 private:
  int fFd;
};

}  // namespace kelvo
