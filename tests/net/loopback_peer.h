// Test side of the endpoint tests: a plain loopback UDP socket standing in for an application
// or a controller, one implementation per platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvo::test {

class TLoopbackPeer {
 public:
  using TBytes = std::vector<std::uint8_t>;
  struct TReceived {
    TBytes Data;
    std::string IP;
    std::uint16_t Port;
  };

  TLoopbackPeer();  // bound to 127.0.0.1 on an ephemeral port; a failure is a test failure
  ~TLoopbackPeer();
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

  std::uint16_t Port() const { return fPort; }
  // False (and a test failure) when the datagram did not go out whole.
  bool SendTo(std::uint16_t APort, const TBytes& ABytes);
  std::optional<TReceived> Receive(std::chrono::milliseconds ATimeout);

 private:
  std::uintptr_t fSocket;
  std::uint16_t fPort = 0;
};

// Makes the endpoint's socket bound to APort report ICMP errors for earlier datagrams on the
// next call, as Windows does by default. False when it cannot be done.
bool ForceIcmpErrorReports(std::uint16_t APort);

// Wine binds a UDP socket to an address that no interface has (real Windows refuses with
// WSAEADDRNOTAVAIL); tests of that refusal are skipped there. False on other systems.
bool RunningUnderWine();

}  // namespace kelvo::test
