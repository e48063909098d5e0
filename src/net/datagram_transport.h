// The one thing routing needs from the network: send a datagram from the relay's port.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo {

class TDatagramTransport {
 public:
  virtual ~TDatagramTransport() = default;
  // Sends ABytes as one datagram to AHost:APort (host name or IPv4 text). Throws
  // std::runtime_error (or a subclass) when the host cannot be resolved, the datagram is too
  // large, fewer bytes are sent than given, or the socket reports an error.
  virtual void SendDatagram(const std::string& AHost, std::uint16_t APort,
                            std::span<const std::uint8_t> ABytes) = 0;
};

}  // namespace kelvo
