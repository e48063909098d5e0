// Frames per second through reception and routing, with a transport that only counts; the
// cost of a new sender and the listener's worst wait for the lock, at table sizes up to the
// largest a table holds.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

// "10.a.b.c" port 40000..40999: distinct for every i below a table's largest size.
std::string AppIP(int AIndex) {
  return "10." + std::to_string(AIndex / 65536) + "." + std::to_string(AIndex / 256 % 256) + "." +
         std::to_string(AIndex % 256);
}

// A clock moved by hand, so that every ageing call in the benchmark is a full step.
class TBenchClock final : public TClock {
 public:
  TTimePoint Now() const override { return TTimePoint(std::chrono::milliseconds(fMs.load())); }
  void Advance(std::chrono::milliseconds ADelta) { fMs += ADelta.count(); }

 private:
  std::atomic<std::int64_t> fMs{1'700'000'000'000};
};

enum TNADs { kDistinctNADs = 0, kSameNAD = 1 };

// AApps applications already in fNATTable, each with its own NAD or all with NAD 100 (then
// with aliases 100, 101, ...); one static controller.
struct TBenchRig {
  TBenchRig(int AApps, std::size_t AFrameSize, TNADs ANADs = kDistinctNADs) {
    const TAddressTables::TLock lock(Tables);
    Tables.fStaticTable->Add(std::make_unique<TNATInfo>(1000, "10.0.0.1", 5000, -1));
    for (int i = 0; i < AApps; ++i) {
      TApp app{AppIP(i), static_cast<std::uint16_t>(40000 + i % 1000), {}, {}};
      const std::int32_t nad = ANADs == kSameNAD ? 100 : 100 + i;
      const TNATInfo* entry = Tables.fNATTable->UpdateByNAD(nad, app.IP, app.Port);
      app.Request = Frame(nad, 1000, 0, AFrameSize);
      app.Reply = Frame(1000, entry->NADAlias(), 1, AFrameSize);
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

// The applications that send, spread evenly through the list: AState.range(3) of them, or
// every one listed for 0.
std::vector<const TApp*> Active(const TBenchRig& ARig, const benchmark::State& AState) {
  const std::size_t listed = ARig.Apps.size();
  const std::size_t count =
      AState.range(3) == 0 ? listed : std::min(listed, static_cast<std::size_t>(AState.range(3)));
  std::vector<const TApp*> active;
  for (std::size_t i = 0; i < count; ++i)
    active.push_back(&ARig.Apps[i * listed / count]);
  return active;
}

// Frames from known senders: AState.range(0) applications listed, AState.range(3) of them
// sending (0: all of them, round robin, so that every frame meets a cold entry).
void BM_Requests(benchmark::State& AState) {
  TBenchRig rig(static_cast<int>(AState.range(0)), static_cast<std::size_t>(AState.range(1)),
                static_cast<TNADs>(AState.range(2)));
  const std::vector<const TApp*> active = Active(rig, AState);
  std::size_t next = 0;
  const auto started = std::chrono::steady_clock::now();
  for (auto _ : AState) {
    const TApp& app = *active[next];
    rig.Engine.udpLocalUDPRead(app.Request, app.IP, app.Port);
    if (++next == active.size())
      next = 0;
  }
  if (rig.Transport.Bytes != AState.iterations() * static_cast<std::size_t>(AState.range(1)))
    AState.SkipWithError("not every frame was forwarded");
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()));
  AState.SetBytesProcessed(static_cast<std::int64_t>(rig.Transport.Bytes));
  ReportAgainstSendto(AState, AState.range(1), started);
}

// Replies to known applications, chosen as for BM_Requests.
void BM_Replies(benchmark::State& AState) {
  TBenchRig rig(static_cast<int>(AState.range(0)), static_cast<std::size_t>(AState.range(1)),
                static_cast<TNADs>(AState.range(2)));
  const std::vector<const TApp*> active = Active(rig, AState);
  std::size_t next = 0;
  const auto started = std::chrono::steady_clock::now();
  for (auto _ : AState) {
    rig.Engine.udpLocalUDPRead(active[next]->Reply, "10.0.0.1", 5000);
    if (++next == active.size())
      next = 0;
  }
  if (rig.Transport.Bytes != AState.iterations() * static_cast<std::size_t>(AState.range(1)))
    AState.SkipWithError("not every frame was forwarded");
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()));
  ReportAgainstSendto(AState, AState.range(1), started);
}

// One request from a sender the table has not seen, at a table of AState.range(0) entries
// (distinct NADs, or one NAD whose aliases form one run). Only the request is timed; the
// entry it made is then taken out again, so every request meets the same table.
void BM_NewSender(benchmark::State& AState) {
  const auto nads = static_cast<TNADs>(AState.range(1));
  TBenchRig rig(static_cast<int>(AState.range(0)), 16, nads);
  const auto request = Frame(100, 1000, 0, 16);
  std::int32_t distinctNAD = 50'000'000;
  std::vector<std::uint8_t> frame = request;
  for (auto _ : AState) {
    if (nads == kDistinctNADs) {
      frame = Frame(++distinctNAD, 1000, 0, 16);
    }
    const auto started = std::chrono::steady_clock::now();
    rig.Engine.udpLocalUDPRead(frame, "192.168.200.1", 7);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    AState.SetIterationTime(took.count());
    const TAddressTables::TLock lock(rig.Tables);
    TNATInfoList& table = *rig.Tables.fNATTable;
    table.Remove(table.Items(table.Count() - 1));
  }
  const TAddressTables::TLock lock(rig.Tables);
  if (rig.Tables.fNATTable->Count() != AState.range(0))
    AState.SkipWithError("the table did not keep its size");
  AState.SetItemsProcessed(static_cast<std::int64_t>(AState.iterations()));
}

// The listener's longest wait for fTablesLock while the GUI thread takes a snapshot and ages
// the tables, one after the other without a pause, at AState.range(0) rows in fNATTable and
// as many in fPushTable. Before every request the listener times taking the lock alone:
// max_us is the longest such wait, p999_us the 99.9th percentile, over_100us and over_1ms
// how many took longer than that. With gui:0 nothing else takes the lock, which shows what the
// machine itself adds (a listener descheduled on a busy machine waits too).
void BM_ListenerWorstWait(benchmark::State& AState) {
  const int rows = static_cast<int>(AState.range(0));
  const bool withGui = AState.range(1) != 0;
  TBenchClock clock;
  TAddressTables tables(clock);
  TCountingTransport transport;
  test::TNullView view;
  TMyLog log;
  TRelayEngine engine(tables, transport, view, log);
  std::vector<TApp> apps;
  {
    const TAddressTables::TLock lock(tables);
    tables.fStaticTable->Add(std::make_unique<TNATInfo>(1000, "10.0.0.1", 5000, -1));
    for (int i = 0; i < rows; ++i) {
      TApp app{AppIP(i), static_cast<std::uint16_t>(40000 + i % 1000), {}, {}};
      tables.fNATTable->UpdateByNAD(100 + i, app.IP, app.Port);
      tables.fPushTable->UpdateByNAD(100 + i, app.IP, app.Port);
      app.Request = Frame(100 + i, 1000, 0, 16);
      apps.push_back(std::move(app));
    }
  }
  std::vector<double> waitsUs;
  double snapshotMs = 0;
  double ageingMs = 0;
  int rounds = 0;
  for (auto _ : AState) {
    std::atomic<bool> done{false};
    std::thread gui([&] {
      while (withGui && !done.load()) {
        const auto t0 = std::chrono::steady_clock::now();
        const TTablesSnapshot snapshot = tables.Snapshot();
        const auto t1 = std::chrono::steady_clock::now();
        clock.Advance(std::chrono::milliseconds(1000));  // every call is a full ageing step
        tables.AgeAll();
        const auto t2 = std::chrono::steady_clock::now();
        snapshotMs =
            std::max(snapshotMs, std::chrono::duration<double, std::milli>(t1 - t0).count());
        ageingMs = std::max(ageingMs, std::chrono::duration<double, std::milli>(t2 - t1).count());
        ++rounds;
        benchmark::DoNotOptimize(snapshot.NATRows.data());
      }
    });
    // Bounded: at most two seconds or five million requests.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (std::size_t n = 0; n < 5'000'000 && std::chrono::steady_clock::now() < end; ++n) {
      const TApp& app = apps[n % apps.size()];
      const auto t0 = std::chrono::steady_clock::now();
      auto t1 = t0;
      {
        const TAddressTables::TLock lock(tables);
        t1 = std::chrono::steady_clock::now();
      }
      waitsUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      engine.udpLocalUDPRead(app.Request, app.IP, app.Port);
    }
    done = true;
    gui.join();
  }
  std::sort(waitsUs.begin(), waitsUs.end());
  AState.counters["max_us"] = waitsUs.empty() ? 0 : waitsUs.back();
  AState.counters["p999_us"] = waitsUs.empty() ? 0 : waitsUs[waitsUs.size() * 999 / 1000];
  const auto over = [&](double AUs) {
    return static_cast<double>(waitsUs.end() -
                               std::upper_bound(waitsUs.begin(), waitsUs.end(), AUs));
  };
  AState.counters["over_100us"] = over(100);
  AState.counters["over_1ms"] = over(1000);
  AState.counters["snapshot_ms"] = snapshotMs;
  AState.counters["ageing_ms"] = ageingMs;
  AState.counters["gui_rounds"] = rounds;
  AState.counters["rows_left"] = static_cast<double>(tables.Snapshot().NATRows.size());
}

BENCHMARK(BM_SendtoBaseline)->ArgName("frame")->Arg(16)->Arg(1024);
// Known senders: the rate at 100,000 entries is read against the rate at 10.
BENCHMARK(BM_Requests)
    ->ArgNames({"apps", "frame", "same_nad", "active"})
    ->Args({10, 1024, 0, 10})
    ->ArgsProduct({{10, 1000, 10000, kMaxTableEntries}, {16}, {0, 1}, {10}})
    ->Args({kMaxTableEntries, 16, 0, 0});
BENCHMARK(BM_Replies)
    ->ArgNames({"apps", "frame", "same_nad", "active"})
    ->ArgsProduct({{10, 1000, 10000, kMaxTableEntries}, {16}, {0, 1}, {10}})
    ->Args({kMaxTableEntries, 16, 0, 0});
// A new sender at 100,000 entries is read against one at 10: 99,999 listed, so that the new
// one is the 100,000th and still fits.
BENCHMARK(BM_NewSender)
    ->ArgNames({"entries", "same_nad"})
    ->ArgsProduct({{10, 1000, 10000, kMaxTableEntries - 1}, {0, 1}})
    ->UseManualTime();
BENCHMARK(BM_ListenerWorstWait)
    ->ArgNames({"rows", "gui"})
    ->Args({kMaxTableEntries, 1})
    ->Args({kMaxTableEntries, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
