// The relay's UDP endpoint: bound sockets, one listener thread per binding, and sending from
// the first binding's socket.
//
// Threads: ClearBindings, AddBinding, Open, Close and the getters run on the owner's thread
// (GUI or headless main thread). OnDatagram runs on a listener thread. SendDatagram runs on the
// listener thread (from OnDatagram) but is safe from any thread while the endpoint is open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "net/datagram_transport.h"

namespace kelvo {

class TEndpointError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::uint16_t kRelayPort = 8442;
inline constexpr std::size_t kReceiveBufferSize = 8192;

class TUDPEndpoint : public TDatagramTransport {
 public:
  using TDatagramEvent = std::function<void(std::span<const std::uint8_t> ABytes,
                                            const std::string& APeerIP, std::uint16_t APeerPort)>;

  TUDPEndpoint();
  ~TUDPEndpoint() override;  // closes
  TUDPEndpoint(const TUDPEndpoint&) = delete;
  TUDPEndpoint& operator=(const TUDPEndpoint&) = delete;

  void ClearBindings();
  // Empty AAddress binds every local IPv4 address.
  void AddBinding(const std::string& AAddress, std::uint16_t APort);
  void SetOnDatagram(TDatagramEvent AEvent);

  // Throws TEndpointError when a socket cannot be created or bound; stays closed then.
  void Open();
  // Prompt: wakes the listeners, waits for the datagram in hand to finish.
  void Close();
  bool IsOpen() const;

  std::string BoundAddress() const;  // of the first binding, as the system reports it
  std::uint16_t BoundPort() const;

  void SendDatagram(const std::string& AHost, std::uint16_t APort,
                    std::span<const std::uint8_t> ABytes) override;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace kelvo
