// Frames per second through reception and routing, with a transport that only counts.
#include <benchmark/benchmark.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "diag/my_log.h"
#include "relay/frame.h"
#include "relay/relay_engine.h"
#include "tables/address_tables.h"
#include "support/relay_doubles.h"

namespace kelvo {
namespace {

class TCountingTransport : public TDatagramTransport {
 public:
  void SendDatagram(const std::string&, std::uint16_t,
                    std::span<const std::uint8_t> ABytes) override {
    Bytes += ABytes.size();
  }
  std::size_t Bytes = 0;
};

std::vector<std::uint8_t> Frame(std::int32_t ASource, std::int32_t ADest, std::uint8_t ADir,
                                std::size_t ATotal) {
  return test::MakeFrame(ASource, ADest, ADir, test::TBytes(ATotal - kMinFrameSize, 0x33));
}

struct TApp {
  std::string IP;
  std::uint16_t Port;
  std::vector<std::uint8_t> Request;
  std::vector<std::uint8_t> Reply;
};

// AApps applications, each with its own NAD, already in fNATTable; one static controller.
struct TBenchRig {
  TBenchRig(int AApps, std::size_t AFrameSize) {
    const std::lock_guard<std::mutex> lock(Tables.fTablesLock);
    Tables.fStaticTable->Add(std::make_unique<TNATInfo>(1000, "10.0.0.1", 5000, -1));
    for (int i = 0; i < AApps; ++i) {
      TApp app{"192.168.1." + std::to_string(10 + i % 200),
               static_cast<std::uint16_t>(40000 + i),
               {},
               {}};
      const std::int32_t nad = 100 + i;
      app.Request = Frame(nad, 1000, 0, AFrameSize);
      app.Reply = Frame(1000, nad, 1, AFrameSize);
      Tables.fNATTable->UpdateByNAD(nad, app.IP, app.Port);
      Apps.push_back(std::move(app));
    }
  }

  TAddressTables Tables;
  TCountingTransport Transport;
  test::TNullView View;
  TMyLog Log;
  TRelayEngine Engine{Tables, Transport, View, Log};
  std::vector<TApp> Apps;
};

void BM_Requests(benchmark::State& AState) {
  TBenchRig rig(static_cast<int>(AState.range(0)), static_cast<std::size_t>(AState.range(1)));
  std::size_t next = 0;
  for (auto _ : AState) {
    const TApp& app = rig.Apps[next];
    rig.Engine.udpLocalUDPRead(app.Request, app.IP, app.Port);
    if (++next == rig.Apps.size())
      next = 0;
  }
  if (rig.Transport.Bytes != AState.iterations() * static_cast<std::size_t>(AState.range(1)))
    AState.SkipWithError("not every frame was forwarded");
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()));
  AState.SetBytesProcessed(static_cast<std::int64_t>(rig.Transport.Bytes));
}

void BM_Replies(benchmark::State& AState) {
  TBenchRig rig(static_cast<int>(AState.range(0)), static_cast<std::size_t>(AState.range(1)));
  std::size_t next = 0;
  for (auto _ : AState) {
    rig.Engine.udpLocalUDPRead(rig.Apps[next].Reply, "10.0.0.1", 5000);
    if (++next == rig.Apps.size())
      next = 0;
  }
  if (rig.Transport.Bytes != AState.iterations() * static_cast<std::size_t>(AState.range(1)))
    AState.SkipWithError("not every frame was forwarded");
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()));
}

BENCHMARK(BM_Requests)
    ->ArgNames({"apps", "frame"})
    ->Args({10, 16})
    ->Args({10, 1024})
    ->Args({500, 16})
    ->Args({500, 1024});
BENCHMARK(BM_Replies)->ArgNames({"apps", "frame"})->Args({10, 16})->Args({500, 16});

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
