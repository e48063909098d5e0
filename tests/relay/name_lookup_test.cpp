// Static controllers named by host name: looked up on the resolver's worker, never on the
// listener; sends go to the address a name last resolved to.
#include <gtest/gtest.h>

#include <future>

#include "relay/relay_test_support.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using test::MakeFrame;
using test::TBytes;
using test::TEngineRig;
using test::TSentDatagram;

constexpr std::int32_t kNamed = 1001;
constexpr std::int32_t kByAddress = 1000;
const std::string kName = "ctl.kelvo.test";

class NameLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.AddStatic(kByAddress, "10.0.0.1", 5000);
    // Entered as loading the settings does when the name does not resolve yet.
    auto entry = std::make_unique<TNATInfo>(kNamed, "0.0.0.0", 6000, kStaticTableTimeout);
    entry->SetHost(kName);
    entry->SetIP("");
    const TAddressTables::TLock lock(rig.Tables);
    rig.Tables.fStaticTable->Add(std::move(entry));
  }
  // One request from application AApp to ADest; where it went.
  std::vector<std::string> Send(std::int32_t ADest, std::uint16_t AApp = 50123) {
    rig.Receive(MakeFrame(5, ADest, 0, {1}), "192.168.1.20", AApp);
    std::vector<std::string> hosts;
    for (const TSentDatagram& d : rig.Transport.Take())
      hosts.push_back(d.Host + ":" + std::to_string(d.Port));
    return hosts;
  }
  std::string ShownIP() { return rig.Tables.Snapshot().StaticRows[1].IP; }
  void Idle() { ASSERT_TRUE(rig.Resolver.WaitIdle(5s)); }

  TEngineRig rig;
};

using TSends = std::vector<std::string>;

// While the lookup of a name hangs, the frame for it is dropped with a log line at once, the
// tables stay free, and every other sender's frames go on; once the name resolves, its frames
// go to the address found.
TEST_F(NameLookupTest, HangingLookupStallsNoSender) {
  rig.Names.Hang();
  rig.Names.Set(kName, "10.0.0.50");
  rig.Engine.SetCreateDebugLogs(true);
  auto timed = [this](std::int32_t ADest, std::uint16_t AApp) {
    const auto begin = std::chrono::steady_clock::now();
    const TSends sends = Send(ADest, AApp);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);  // a hanging lookup lasts 10 s
    return sends;
  };
  EXPECT_EQ(timed(kNamed, 40000), TSends{});
  ASSERT_TRUE(rig.Names.WaitUntilHanging(5s));
  EXPECT_TRUE(rig.Tables.LockIsFree());  // nobody holds the tables across the lookup
  rig.Engine.SetCreateDebugLogs(false);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(Send(kByAddress), TSends{"10.0.0.1:5000"}) << i;
  rig.Engine.SetCreateDebugLogs(true);
  EXPECT_EQ(timed(kNamed, 40000), TSends{});  // still looking: dropped again, not waited for
  EXPECT_EQ(rig.Names.Calls(kName), 1);       // one lookup, however many frames ask
  EXPECT_NE(rig.LogText().find("Tx to ctl.kelvo.test:6000: the host name has no address yet"),
            std::string::npos)
      << rig.LogText();
  EXPECT_EQ(ShownIP(), "");

  rig.Names.Release();
  Idle();
  EXPECT_EQ(Send(kNamed, 40000), TSends{"10.0.0.50:6000"});
  EXPECT_EQ(ShownIP(), "10.0.0.50");
  EXPECT_EQ(rig.Engine.ReqCount(), 1003);
}

// The name is looked up again at most every 30 s while frames keep asking; meanwhile and
// while the new lookup runs, frames go to the last address found.
TEST_F(NameLookupTest, AddressIsRefreshedInTheBackgroundAtMostEvery30Seconds) {
  rig.Names.Set(kName, "10.0.0.50");
  Send(kNamed);
  Idle();
  for (int second = 0; second < 29; ++second) {
    EXPECT_EQ(Send(kNamed), TSends{"10.0.0.50:6000"});
    rig.SteadyClock.Advance(1s);
  }
  Idle();
  EXPECT_EQ(rig.Names.Calls(kName), 1);
  rig.Names.Set(kName, "10.0.0.51");
  rig.SteadyClock.Advance(1s);
  rig.Names.Hang();
  EXPECT_EQ(Send(kNamed), TSends{"10.0.0.50:6000"});  // due: asks, and does not wait
  ASSERT_TRUE(rig.Names.WaitUntilHanging(5s));
  EXPECT_EQ(Send(kNamed), TSends{"10.0.0.50:6000"});
  rig.Names.Release();
  Idle();
  EXPECT_EQ(Send(kNamed), TSends{"10.0.0.51:6000"});
  EXPECT_EQ(rig.Names.Calls(kName), 2);
  EXPECT_EQ(ShownIP(), "10.0.0.51");
}

// A failed send asks for a new lookup at once (but not twice within a second); a lookup that
// fails keeps the last address.
TEST_F(NameLookupTest, FailedSendLooksTheNameUpAgainAndAFailedLookupKeepsTheAddress) {
  rig.Names.Set(kName, "10.0.0.50");
  Send(kNamed);
  Idle();
  rig.Transport.FailHost = "10.0.0.50";
  EXPECT_EQ(Send(kNamed), TSends{});  // within a second of the lookup: none yet
  Idle();
  EXPECT_EQ(rig.Names.Calls(kName), 1);
  rig.SteadyClock.Advance(1s);
  rig.Names.Set(kName, "10.0.0.52");
  EXPECT_EQ(Send(kNamed), TSends{});
  Idle();
  EXPECT_EQ(rig.Names.Calls(kName), 2);
  EXPECT_EQ(Send(kNamed), TSends{"10.0.0.52:6000"});

  rig.Names.Remove(kName);
  rig.SteadyClock.Advance(kHostRefreshInterval);
  EXPECT_EQ(Send(kNamed), TSends{"10.0.0.52:6000"});
  Idle();
  EXPECT_EQ(rig.Names.Calls(kName), 3);
  EXPECT_EQ(Send(kNamed), TSends{"10.0.0.52:6000"});
}

// Starting to listen looks the configured names up ahead, so that even the first frame finds
// an address; addresses and "localhost" are never looked up; names no longer configured are
// forgotten.
TEST_F(NameLookupTest, StartingToListenLooksConfiguredNamesUpAhead) {
  rig.AddStatic(1002, "LocalHost", 7000);
  rig.Names.Set(kName, "10.0.0.50");
  rig.Engine.PrepareListening("192.168.1.10", 8442);
  Idle();
  EXPECT_EQ(Send(kNamed), TSends{"10.0.0.50:6000"});
  EXPECT_EQ(Send(1002), TSends{"127.0.0.1:7000"});
  EXPECT_EQ(Send(kByAddress), TSends{"10.0.0.1:5000"});
  EXPECT_EQ(rig.Names.Calls(kName), 1);
  EXPECT_EQ(rig.Names.Calls("LocalHost"), 0);
  EXPECT_EQ(rig.Names.Calls("10.0.0.1"), 0);

  rig.Tables.ReplaceStaticTable(std::make_unique<TNATInfoList>(kStaticTableTimeout, rig.Clock));
  rig.Engine.PrepareListening("192.168.1.10", 8442);
  rig.AddStatic(kNamed, "10.0.0.1", 5000);  // keeps its IP from creation
  {
    const TAddressTables::TLock lock(rig.Tables);
    rig.Tables.fStaticTable->Items(0)->SetHost(kName);
  }
  EXPECT_EQ(Send(kNamed), TSends{});  // forgotten: looked up anew
  Idle();
  EXPECT_EQ(rig.Names.Calls(kName), 2);
}

// Destroying the resolver stops its worker and joins it, also while a lookup hangs: the join
// ends once that lookup returns.
TEST(HostResolver, StopsAndJoinsItsWorker) {
  test::TFakeNames names;
  names.Hang();
  auto resolver = std::make_unique<THostResolver>(names.Function());
  std::string ip;
  EXPECT_FALSE(resolver->LastAddress("a.example", ip));
  ASSERT_TRUE(names.WaitUntilHanging(5s));
  auto destroyed = std::async(std::launch::async, [&resolver] { resolver.reset(); });
  EXPECT_EQ(destroyed.wait_for(100ms), std::future_status::timeout);
  names.Release();
  EXPECT_EQ(destroyed.wait_for(5s), std::future_status::ready);
}

}  // namespace
}  // namespace kelvo
