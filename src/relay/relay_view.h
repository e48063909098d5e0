// What the relay engine tells the window (or the headless runner, or a test recorder).
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

enum class TLamp { LANRx, WANRx, LANTx, WANTx };
enum class TLedColor { Gray, Red, Green };

class TRelayView {
 public:
  virtual ~TRelayView() = default;

  // Listener thread. Must not block and must not wait for the GUI thread; requests for one
  // lamp must take effect in the order they were made.
  virtual void SetLed(TLamp ALamp, TLedColor AColor) = 0;
  // Listener thread. The new value of the request (LAN) or reply/push (WAN) counter.
  virtual void ReqCountChanged(std::int32_t AValue) = 0;
  virtual void AckCountChanged(std::int32_t AValue) = 0;

  // Thread of whoever starts the endpoint (GUI thread, or the headless runner's main thread).
  virtual void LocalIPChanged(const std::string& AAddress) = 0;
  virtual void PortErrorChanged(bool AVisible) = 0;
};

}  // namespace kelvo
