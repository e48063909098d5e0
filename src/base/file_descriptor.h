// Owns a POSIX file descriptor (a file, socket, eventfd, pipe end) and closes it on every path
// out of its owner, exceptions included: the one place where a descriptor is closed. Movable,
// one owner at a time; any thread, one thread per object.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kelvo {

class TFd {
 public:
  TFd() = default;
  explicit TFd(int AFd) : fFd(AFd) {}  // a negative AFd (a failed open) owns nothing
  ~TFd() { Reset(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  TFd(TFd&& AOther) noexcept : fFd(AOther.Release()) {}
  TFd& operator=(TFd&& AOther) noexcept {
    if (this != &AOther) {
      Reset(AOther.Release());
    }
    return *this;
  }

  int Get() const { return fFd; }
  bool IsOpen() const { return fFd >= 0; }
  // Closes what is owned (its result ignored) and owns AFd instead.
  void Reset(int AFd = -1) {
    const int Old = std::exchange(fFd, AFd);
    if (Old >= 0) {
      ::close(Old);
    }
  }
  // Hands the descriptor to a caller that closes it; owns nothing afterwards.
  int Release() { return std::exchange(fFd, -1); }
  // For a file whose last writes a failed close can still lose: errno of the close, 0 on
  // success (and when nothing is owned). Owns nothing afterwards.
  int Close() {
    const int Old = Release();
    if (Old < 0) {
      return 0;
    }
    return ::close(Old) == 0 ? 0 : errno;
  }

 private:
  int fFd = -1;
};

}  // namespace kelvo
