// A window that ignores everything and a builder of valid frames: shared by the tests, the
// fuzzer and the benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "relay/frame.h"
#include "relay/relay_view.h"

namespace kelvo::test {

using TBytes = std::vector<std::uint8_t>;

class TNullView final : public TRelayView {
 public:
  void SetLed(TLamp, TLedColor) override {}
  void ReqCountChanged(std::int32_t) override {}
  void AckCountChanged(std::int32_t) override {}
  void LocalIPChanged(const std::string&) override {}
  void PortErrorChanged(bool) override {}
};

// A valid frame (checksum filled in) unless the caller spoils it afterwards.
inline TBytes MakeFrame(std::int32_t ASource, std::int32_t ADest, std::uint8_t ADirection,
                        const TBytes& APayload = {}, std::uint8_t AFormat = 0) {
  TBytes frame(kFrameHeaderSize + APayload.size() + 2, 0);
  frame[0] = kStartByte1;
  frame[1] = kStartByte2;
  const auto length = static_cast<std::uint16_t>(APayload.size() + 2);
  frame[2] = static_cast<std::uint8_t>(length & 0xFF);
  frame[3] = static_cast<std::uint8_t>(length >> 8);
  WriteNAD(frame, kOffsetSourceNAD, ASource);
  WriteNAD(frame, kOffsetDestNAD, ADest);
  frame[kOffsetDirection] = ADirection;
  frame[kOffsetFormat] = AFormat;
  std::copy(APayload.begin(), APayload.end(), frame.begin() + kFrameHeaderSize);
  RefreshChecksum(frame);
  return frame;
}

}  // namespace kelvo::test
