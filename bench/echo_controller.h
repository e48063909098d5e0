// A controller on loopback for the benchmarks: answers every request with a reply to the
// request's source NAD, sent back to whoever sent the request (the relay).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "relay/frame.h"

namespace kelvo::bench {

// A socket on 127.0.0.1, ephemeral port, with a receive buffer large enough for bursts.
inline int LoopbackSocket(sockaddr_in& AAddress, std::uint32_t AHostOrderIP = INADDR_LOOPBACK) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  AAddress = {};
  AAddress.sin_family = AF_INET;
  AAddress.sin_addr.s_addr = htonl(AHostOrderIP);
  ::bind(fd, reinterpret_cast<sockaddr*>(&AAddress), sizeof AAddress);
  socklen_t length = sizeof AAddress;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&AAddress), &length);
  const int bufferSize = 1 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
  return fd;
}

// Thread-safe to construct and destroy from one thread; answers on a thread of its own.
class TEchoController {
 public:
  explicit TEchoController(std::int32_t ANAD) : fNAD(ANAD), fSocket(LoopbackSocket(fAddress)) {
    fThread = std::thread([this] { Run(); });
  }
  ~TEchoController() {
    fStop = true;
    fThread.join();
    ::close(fSocket);
  }
  TEchoController(const TEchoController&) = delete;
  TEchoController& operator=(const TEchoController&) = delete;

  std::uint16_t Port() const { return ntohs(fAddress.sin_port); }

 private:
  void Run() {
    std::uint8_t buffer[2048];
    while (!fStop) {
      pollfd pfd{fSocket, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0) {
        continue;
      }
      for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fSocket, buffer, sizeof buffer, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < static_cast<ssize_t>(kMinFrameSize)) {
          break;
        }
        std::span<std::uint8_t> frame(buffer, static_cast<std::size_t>(n));
        const std::int32_t source = ReadNAD(frame, kOffsetSourceNAD);
        WriteNAD(frame, kOffsetSourceNAD, fNAD);
        WriteNAD(frame, kOffsetDestNAD, source);
        frame[kOffsetDirection] = 1;
        RefreshChecksum(frame);
        ::sendto(fSocket, buffer, frame.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
      }
    }
  }

  std::int32_t fNAD;
  sockaddr_in fAddress{};
  int fSocket;
  std::atomic<bool> fStop{false};
  std::thread fThread;
};

}  // namespace kelvo::bench
