// Frames per second through reception and routing, with a transport that only counts.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "diag/my_log.h"
#include "relay/frame.h"
#include "relay/relay_engine.h"
#include "support/relay_doubles.h"
#include "tables/address_tables.h"

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

// Seconds one loopback sendto of a given size takes: the floor every relay pays per frame.
// Measured first, in the same run, so the engine's figures can be read against it.
std::map<std::int64_t, double> gSendtoSeconds;

void BM_SendtoBaseline(benchmark::State& AState) {
  const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
  const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length);
  const std::vector<std::uint8_t> frame(static_cast<std::size_t>(AState.range(0)), 0x33);
  std::vector<std::uint8_t> sink(frame.size());
  const auto started = std::chrono::steady_clock::now();
  for (auto _ : AState) {
    ::sendto(sender, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&address),
             sizeof address);
    ::recv(receiver, sink.data(), sink.size(), MSG_DONTWAIT);  // keep the queue short
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  gSendtoSeconds[AState.range(0)] = elapsed.count() / static_cast<double>(AState.iterations());
  ::close(sender);
  ::close(receiver);
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()));
}

// "frames_per_sendto": how many frames the engine handles in the time of one loopback sendto
// (send and receive) of the same size.
void ReportAgainstSendto(benchmark::State& AState, std::int64_t AFrameSize,
                         std::chrono::steady_clock::time_point AStarted) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - AStarted;
  const double perFrame = elapsed.count() / static_cast<double>(AState.iterations());
  if (const auto baseline = gSendtoSeconds.find(AFrameSize); baseline != gSendtoSeconds.end()) {
    AState.counters["frames_per_sendto"] = baseline->second / perFrame;
  }
}

void BM_Requests(benchmark::State& AState) {
  TBenchRig rig(static_cast<int>(AState.range(0)), static_cast<std::size_t>(AState.range(1)));
  std::size_t next = 0;
  const auto started = std::chrono::steady_clock::now();
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
  ReportAgainstSendto(AState, AState.range(1), started);
}

void BM_Replies(benchmark::State& AState) {
  TBenchRig rig(static_cast<int>(AState.range(0)), static_cast<std::size_t>(AState.range(1)));
  std::size_t next = 0;
  const auto started = std::chrono::steady_clock::now();
  for (auto _ : AState) {
    rig.Engine.udpLocalUDPRead(rig.Apps[next].Reply, "10.0.0.1", 5000);
    if (++next == rig.Apps.size())
      next = 0;
  }
  if (rig.Transport.Bytes != AState.iterations() * static_cast<std::size_t>(AState.range(1)))
    AState.SkipWithError("not every frame was forwarded");
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()));
  ReportAgainstSendto(AState, AState.range(1), started);
}

BENCHMARK(BM_SendtoBaseline)->ArgName("frame")->Arg(16)->Arg(1024);
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
