// Routing on a listener thread while the GUI side ages, replaces and reads the tables.
// Run under ThreadSanitizer (label "tsan") to catch unserialized access.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "relay/relay_test_support.h"

namespace kelvo {
namespace {

using test::MakeFrame;
using test::TBytes;
using test::TEngineRig;

// Counts instead of recording: the run sends tens of thousands of datagrams.
class TCountingTransport : public TDatagramTransport {
 public:
  void SendDatagram(const std::string&, std::uint16_t,
                    std::span<const std::uint8_t> ABytes) override {
    if (!ParseFrame(ABytes).Valid)
      ++Invalid;
    ++Sent;
  }
  std::atomic<int> Sent{0};
  std::atomic<int> Invalid{0};
};

std::unique_ptr<TNATInfoList> StaticTable(const TClock& AClock, int AGeneration) {
  auto table = std::make_unique<TNATInfoList>(kStaticTableTimeout, AClock);
  for (int i = 0; i < 3; ++i) {
    const auto port = static_cast<std::uint16_t>(5000 + AGeneration % 7 + i);
    table->Add(std::make_unique<TNATInfo>(1000 + i, "10.0.0." + std::to_string(i + 1), port,
                                          kStaticTableTimeout));
  }
  return table;
}

TEST(RelayConcurrency, RoutingWhileTablesAgeAreReplacedAndRead) {
  constexpr int kMaxDatagrams = 20000;
  constexpr auto kTimeLimit = std::chrono::seconds(10);

  TEngineRig rig;  // for its clock, tables and log file
  TCountingTransport transport;
  test::TNullView view;
  TRelayEngine engine(rig.Tables, transport, view, rig.Log);
  rig.Tables.ReplaceStaticTable(StaticTable(rig.Clock, 0));

  std::atomic<bool> done{false};
  std::atomic<int> handled{0};
  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;

  std::thread listener([&] {
    for (int i = 0; i < kMaxDatagrams && std::chrono::steady_clock::now() < deadline; ++i) {
      const auto app = static_cast<std::uint16_t>(40000 + i % 50);
      const std::int32_t alias = 5 + (i % 13);
      switch (i % 5) {
        case 0:  // broadcast from one of many applications sharing NAD 5
          engine.udpLocalUDPRead(MakeFrame(5, 0, 0, {1}), "192.168.1.20", app);
          break;
        case 1:  // to a configured controller
          engine.udpLocalUDPRead(MakeFrame(5, 1000 + i % 3, 0), "192.168.1.20", app);
          break;
        case 2:  // a controller announces itself
          engine.udpLocalUDPRead(MakeFrame(2000 + i % 4, 0, 1), "10.0.1.1",
                                 static_cast<std::uint16_t>(6000 + i % 4));
          break;
        case 3:  // to an announced controller
          engine.udpLocalUDPRead(MakeFrame(5, 2000 + i % 4, 0), "192.168.1.20", app);
          break;
        default:  // a reply to some alias
          engine.udpLocalUDPRead(MakeFrame(1000, alias, 1, {2}), "10.0.0.1", 5000);
          break;
      }
      handled.fetch_add(1);
    }
    done = true;
  });

  std::int64_t taken = 0;
  int generation = 0;
  for (int step = 0; step < 1'000'000 && !done; ++step) {
    rig.Clock.Advance(std::chrono::milliseconds(1000));
    rig.Tables.AgeAll();
    taken += engine.TakeMsgCount();
    if (step % 10 == 0) {
      auto old = rig.Tables.ReplaceStaticTable(StaticTable(rig.Clock, ++generation));
      old.reset();  // freed on this thread while the listener may have copied its rows
    }
    if (step % 7 == 0) {
      const TTablesSnapshot snap = rig.Tables.Snapshot();
      EXPECT_EQ(snap.StaticRows.size(), 3u);
      auto copy = rig.Tables.DuplicateStaticTable();
      EXPECT_EQ(copy->Count(), 3);
    }
    if (step % 100 == 0)
      engine.SetCreateDebugLogs(step % 200 == 0);
    std::this_thread::yield();
  }
  listener.join();
  taken += engine.TakeMsgCount();

  EXPECT_GT(handled.load(), 0);
  EXPECT_EQ(taken, handled.load());  // every datagram holds one valid frame
  EXPECT_EQ(taken, std::int64_t{engine.ReqCount()} + engine.AckCount());
  EXPECT_GT(transport.Sent.load(), 0);
  EXPECT_EQ(transport.Invalid.load(), 0);
  EXPECT_EQ(engine.BufferedBytes(), 0u);
}

// Snapshots of a table larger than one hold of the lock copies, taken while routing adds and
// refreshes senders and another thread ages the table in slices, removing rows in front of
// the copy and behind it: the rows listed throughout appear exactly once each, in list order.
TEST(RelayConcurrency, SnapshotsOfLargeTablesMissNoRowWhileRoutingAndAgeingGoOn) {
  constexpr int kSteadyRows = 4000;  // with as many others, several holds' worth of rows
  constexpr int kSteps = 300;
  constexpr int kMaxDatagrams = 30000;
  constexpr auto kTimeLimit = std::chrono::seconds(10);

  TEngineRig rig;
  TCountingTransport transport;
  test::TNullView view;
  TRelayEngine engine(rig.Tables, transport, view, rig.Log);
  rig.AddStatic(1000, "10.0.0.1", 5000);
  {
    // Steady rows that outlive the run, each followed by one that ages out at some step.
    const TAddressTables::TLock lock(rig.Tables);
    TNATInfoList& table = *rig.Tables.fNATTable;
    for (int i = 0; i < kSteadyRows; ++i) {
      const std::string net = std::to_string(i / 256) + "." + std::to_string(i % 256);
      table.UpdateByNAD(i, "10.1." + net, 1)->SetTimeout(1'000'000);
      table.UpdateByNAD(i, "10.2." + net, 1)->SetTimeout(1 + i * 7 % kSteps);
    }
  }

  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  std::atomic<bool> agerDone{false};
  std::atomic<int> handled{0};
  std::thread listener([&] {
    for (int i = 0; i < kMaxDatagrams && !agerDone && std::chrono::steady_clock::now() < deadline;
         ++i) {
      // Newcomers, some of them coming back.
      const int sender = i % 3 == 0 ? i / 3 % 400 : i;
      engine.udpLocalUDPRead(
          MakeFrame(5, 1000, 0),
          "192.168." + std::to_string(sender / 250 % 250) + "." + std::to_string(sender % 250),
          static_cast<std::uint16_t>(2000 + sender % 7));
      handled.fetch_add(1);
    }
  });
  std::thread ager([&] {
    for (int step = 0; step < kSteps && std::chrono::steady_clock::now() < deadline; ++step) {
      rig.Clock.Advance(std::chrono::milliseconds(1000));
      rig.Tables.AgeAll();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    agerDone = true;
  });

  int snapshots = 0;
  while (!agerDone && snapshots < 100'000) {
    const TTablesSnapshot snap = rig.Tables.Snapshot();
    ++snapshots;
    int steady = 0;
    for (const TTableRow& row : snap.NATRows) {
      if (row.IP.rfind("10.1.", 0) != 0)
        continue;
      ASSERT_EQ(row.NAD, steady) << "snapshot " << snapshots;
      ++steady;
    }
    ASSERT_EQ(steady, kSteadyRows) << "snapshot " << snapshots;
  }
  ager.join();
  listener.join();

  EXPECT_GT(snapshots, 1);
  EXPECT_EQ(transport.Sent.load(), handled.load());
  EXPECT_EQ(engine.TableFullCount(), 0);
  const TTablesSnapshot last = rig.Tables.Snapshot();
  EXPECT_EQ(std::count_if(last.NATRows.begin(), last.NATRows.end(),
                          [](const TTableRow& ARow) { return ARow.IP.rfind("10.2.", 0) == 0; }),
            0);  // every other row has aged out by the last step
}

}  // namespace
}  // namespace kelvo
