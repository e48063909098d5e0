#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include "net/loopback_peer.h"
#include "net/socket_address.h"
#include "net/winsock.h"

namespace kelvo::test {

TLoopbackPeer::TLoopbackPeer() : fSocket(INVALID_SOCKET) {
  EnsureWinsock();
  const SOCKET Socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in Address = MakeSocketAddress(INADDR_LOOPBACK, 0);
  if (Socket == INVALID_SOCKET || ::bind(Socket, AsSockaddr(Address), sizeof Address) != 0) {
    ADD_FAILURE() << "cannot bind a loopback peer: " << WSAGetLastError();
    if (Socket != INVALID_SOCKET) {
      ::closesocket(Socket);
    }
    return;
  }
  fSocket = Socket;
  int Size = sizeof Address;
  ::getsockname(Socket, AsSockaddr(Address), &Size);
  fPort = ntohs(Address.sin_port);
}

TLoopbackPeer::~TLoopbackPeer() {
  if (fSocket != INVALID_SOCKET) {
    ::closesocket(fSocket);
  }
}

bool TLoopbackPeer::SendTo(std::uint16_t APort, const TBytes& ABytes) {
  sockaddr_in Target = MakeSocketAddress(INADDR_LOOPBACK, APort);
  const int Sent = ::sendto(fSocket, reinterpret_cast<const char*>(ABytes.data()),
                            static_cast<int>(ABytes.size()), 0, AsSockaddr(Target), sizeof Target);
  EXPECT_EQ(Sent, static_cast<int>(ABytes.size())) << WSAGetLastError();
  return Sent == static_cast<int>(ABytes.size());
}

std::optional<TLoopbackPeer::TReceived> TLoopbackPeer::Receive(std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    fd_set Readable;
    FD_ZERO(&Readable);
    FD_SET(fSocket, &Readable);
    const auto Left = std::chrono::duration_cast<std::chrono::microseconds>(
        Deadline - std::chrono::steady_clock::now());
    if (Left.count() < 0) {
      return std::nullopt;
    }
    timeval Wait{static_cast<long>(Left.count() / 1000000),
                 static_cast<long>(Left.count() % 1000000)};
    if (::select(0, &Readable, nullptr, nullptr, &Wait) != 1) {
      return std::nullopt;
    }
    TReceived R;
    R.Data.resize(70000);
    sockaddr_in From{};
    int Size = sizeof From;
    const int N = ::recvfrom(fSocket, reinterpret_cast<char*>(R.Data.data()),
                             static_cast<int>(R.Data.size()), 0, AsSockaddr(From), &Size);
    if (N == SOCKET_ERROR) {
      // An ICMP report for an earlier send of this peer; not a datagram.
      if (WSAGetLastError() == WSAECONNRESET) {
        continue;
      }
      return std::nullopt;
    }
    R.Data.resize(static_cast<std::size_t>(N));
    const auto* B = reinterpret_cast<const unsigned char*>(&From.sin_addr);
    R.IP = std::to_string(B[0]) + "." + std::to_string(B[1]) + "." + std::to_string(B[2]) + "." +
           std::to_string(B[3]);
    R.Port = ntohs(From.sin_port);
    return R;
  }
}

bool ForceIcmpErrorReports(std::uint16_t) {
  // Windows reports them by default; the endpoint must have switched that off itself.
  return true;
}

bool RunningUnderWine() {
  const HMODULE Ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return Ntdll != nullptr && ::GetProcAddress(Ntdll, "wine_get_version") != nullptr;
}

}  // namespace kelvo::test
