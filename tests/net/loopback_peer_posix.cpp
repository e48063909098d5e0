#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/loopback_peer.h"
#include "net/socket_address.h"

namespace kelvo::test {

namespace {

constexpr std::uintptr_t kNoSocket = ~std::uintptr_t{0};

}  // namespace

TLoopbackPeer::TLoopbackPeer() : fSocket(kNoSocket) {
  const int Socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address = MakeSocketAddress(INADDR_LOOPBACK, 0);
  if (Socket < 0 || ::bind(Socket, AsSockaddr(Address), sizeof Address) != 0) {
    ADD_FAILURE() << "cannot bind a loopback peer";
    if (Socket >= 0) {
      ::close(Socket);
    }
    return;
  }
  fSocket = static_cast<std::uintptr_t>(Socket);
  socklen_t Size = sizeof Address;
  ::getsockname(Socket, AsSockaddr(Address), &Size);
  fPort = ntohs(Address.sin_port);
}

TLoopbackPeer::~TLoopbackPeer() {
  if (fSocket != kNoSocket) {
    ::close(static_cast<int>(fSocket));
  }
}

bool TLoopbackPeer::SendTo(std::uint16_t APort, const TBytes& ABytes) {
  sockaddr_in Target = MakeSocketAddress(INADDR_LOOPBACK, APort);
  const ssize_t Sent = ::sendto(static_cast<int>(fSocket), ABytes.data(), ABytes.size(), 0,
                                AsSockaddr(Target), sizeof Target);
  EXPECT_EQ(Sent, static_cast<ssize_t>(ABytes.size()));
  return Sent == static_cast<ssize_t>(ABytes.size());
}

std::optional<TLoopbackPeer::TReceived> TLoopbackPeer::Receive(std::chrono::milliseconds ATimeout) {
  pollfd Wait{static_cast<int>(fSocket), POLLIN, 0};
  if (::poll(&Wait, 1, static_cast<int>(ATimeout.count())) != 1) {
    return std::nullopt;
  }
  TReceived R;
  R.Data.resize(70000);
  sockaddr_in From{};
  socklen_t Size = sizeof From;
  const ssize_t N = ::recvfrom(static_cast<int>(fSocket), R.Data.data(), R.Data.size(), 0,
                               AsSockaddr(From), &Size);
  if (N < 0) {
    return std::nullopt;
  }
  R.Data.resize(static_cast<std::size_t>(N));
  char Text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &From.sin_addr, Text, sizeof Text);
  R.IP = Text;
  R.Port = ntohs(From.sin_port);
  return R;
}

namespace {

// The endpoint's own socket, found among this process's descriptors by its bound port.
int FindUdpSocketBoundTo(std::uint16_t APort) {
  DIR* Fds = ::opendir("/proc/self/fd");
  if (Fds == nullptr) {
    return -1;
  }
  int Found = -1;
  while (const dirent* Entry = ::readdir(Fds)) {
    const int Fd = std::atoi(Entry->d_name);
    int Type = 0;
    socklen_t TypeSize = sizeof Type;
    sockaddr_in Address{};
    socklen_t Size = sizeof Address;
    if (Fd > 2 && ::getsockopt(Fd, SOL_SOCKET, SO_TYPE, &Type, &TypeSize) == 0 &&
        Type == SOCK_DGRAM && ::getsockname(Fd, AsSockaddr(Address), &Size) == 0 &&
        Address.sin_family == AF_INET && ntohs(Address.sin_port) == APort) {
      Found = Fd;
      break;
    }
  }
  ::closedir(Fds);
  return Found;
}

}  // namespace

bool ForceIcmpErrorReports(std::uint16_t APort) {
  const int Socket = FindUdpSocketBoundTo(APort);
  int On = 1;
  return Socket >= 0 && ::setsockopt(Socket, IPPROTO_IP, IP_RECVERR, &On, sizeof On) == 0;
}

bool RunningUnderWine() {
  return false;
}

}  // namespace kelvo::test
