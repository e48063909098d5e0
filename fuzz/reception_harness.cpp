#include "reception_harness.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "diag/my_log.h"
#include "relay/frame.h"
#include "relay/relay_engine.h"
#include "support/relay_doubles.h"
#include "tables/address_tables.h"

namespace kelvo::fuzz {

namespace {

class TManualClock : public TClock {
 public:
  TTimePoint Now() const override { return fNow; }
  void Advance() { fNow += std::chrono::seconds(1); }

 private:
  TTimePoint fNow{std::chrono::seconds(1'700'000'000)};
};

// Checks every datagram the relay sends, and can refuse them.
class TCheckingTransport : public TDatagramTransport {
 public:
  void SendDatagram(const std::string& AHost, std::uint16_t,
                    std::span<const std::uint8_t> ABytes) override {
    if (Fail)
      throw std::runtime_error("send refused");
    if (!Error.empty())
      return;
    if (AHost.empty())
      Error = "datagram sent to an empty host";
    const TFrameInfo info = ParseFrame(ABytes);
    if (!info.Valid || info.Total() != ABytes.size())
      Error = "the relay sent a datagram that is not exactly one valid frame (" +
              std::to_string(ABytes.size()) + " bytes)";
  }

  bool Fail = false;
  std::string Error;
};

struct TPeer {
  const char* IP;
  std::uint16_t Port;
};

constexpr std::array<TPeer, 4> kPeers = {{
    {"192.168.1.20", 50123},  // an application
    {"192.168.1.21", 50123},  // another one, sharing its NAD
    {"10.0.0.1", 5000},       // a configured controller
    {"10.0.1.9", 6002},       // a controller that is not configured
}};

void FillTables(TAddressTables& ATables) {
  const TAddressTables::TLock lock(ATables);
  ATables.fStaticTable->Add(std::make_unique<TNATInfo>(1000, "10.0.0.1", 5000, -1));
  ATables.fStaticTable->Add(std::make_unique<TNATInfo>(1001, "10.0.0.2", 5001, -1));
  ATables.fStaticTable->Add(std::make_unique<TNATInfo>(2000, "10.0.1.1", 6000, -1));
  ATables.fPushTable->UpdateByNAD(2000, "10.0.1.1", 6000);
  ATables.fPushTable->UpdateByNAD(3000, "10.0.1.2", 6001);
  ATables.fNATTable->UpdateByNAD(5, "192.168.1.20", 50123);
  ATables.fNATTable->UpdateByNAD(5, "192.168.1.21", 50123);
}

}  // namespace

std::string RunReceptionInput(std::span<const std::uint8_t> AInput) {
  TManualClock clock;
  TAddressTables tables(clock);
  FillTables(tables);
  TCheckingTransport transport;
  test::TNullView view;
  TMyLog log;  // debug logs stay off: nothing is written
  TRelayEngine engine(tables, transport, view, log);

  std::int64_t framesCounted = 0;
  std::size_t pos = 0;
  while (pos + 3 <= AInput.size()) {
    const std::uint8_t control = AInput[pos];
    const std::size_t wanted = AInput[pos + 1] | (std::size_t{AInput[pos + 2]} << 8);
    pos += 3;
    const std::size_t size = std::min(wanted, AInput.size() - pos);
    if (size == 0)
      continue;  // the endpoint never delivers an empty datagram
    const auto datagram = AInput.subspan(pos, size);
    pos += size;

    if (control & 0x08) {
      clock.Advance();
      tables.AgeAll();
    }
    transport.Fail = (control & 0x04) != 0;
    const TPeer& peer = kPeers[control & 0x03];
    const int times = (control & 0x10) ? 64 * (1 + (control >> 5)) : 1;
    for (int i = 0; i < times; ++i) {
      engine.udpLocalUDPRead(datagram, peer.IP, peer.Port);
      if (!transport.Error.empty())
        return transport.Error;
      // The hard bounds hold after every datagram, whatever the stream: per sender, and for
      // all senders together.
      for (const TPeer& each : kPeers) {
        if (engine.BufferedBytes(each.IP, each.Port) > kMaxRecBuffer)
          return "a sender's buffer holds " +
                 std::to_string(engine.BufferedBytes(each.IP, each.Port)) + " bytes after a " +
                 std::to_string(size) + "-byte datagram";
      }
      if (engine.ReceiveStatesCost() > kMaxRecBufferTotal)
        return "the receive buffers cost " + std::to_string(engine.ReceiveStatesCost()) +
               " bytes together";
      if (engine.SendersWaiting() > kPeers.size())
        return "receive state kept for a sender that never sent";
      framesCounted += engine.TakeMsgCount();
      if (framesCounted != std::int64_t{engine.ReqCount()} + engine.AckCount())
        return "frame counters disagree";
    }
  }
  return {};
}

}  // namespace kelvo::fuzz
