// Where frames go: table updates, alias rewrites, broadcasts, acknowledgements, failures.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "net/ethernet_utils.h"
#include "relay/relay_test_support.h"

namespace kelvo {
namespace {

using test::Hex;
using test::MakeFrame;
using test::TBytes;
using test::TEngineRig;
using test::TSentDatagram;

struct TDest {
  std::string Host;
  std::uint16_t Port;
  bool operator==(const TDest&) const = default;
};

std::vector<TDest> Destinations(const std::vector<TSentDatagram>& ASent) {
  std::vector<TDest> dests;
  for (const auto& d : ASent)
    dests.push_back({d.Host, d.Port});
  return dests;
}

class RoutingTest : public ::testing::Test {
 protected:
  TNATInfo* Push(std::int32_t ANAD, const std::string& AIP, std::uint16_t APort) {
    const TAddressTables::TLock lock(rig.Tables);
    return rig.Tables.fPushTable->UpdateByNAD(ANAD, AIP, APort);
  }
  TTablesSnapshot Snapshot() { return rig.Tables.Snapshot(); }

  TEngineRig rig;
};

TEST_F(RoutingTest, AliasRewriteOfRequestAndReplyGivesExactBytes) {
  rig.AddStatic(1001, "10.0.0.1", 5000);
  const TBytes request = Hex("AA 55 04 00 05 00 00 00 E9 03 00 00 00 00 01 02 31 65");
  rig.Receive(request, "192.168.1.20", 50123);  // first user of NAD 5 keeps alias 5
  rig.Receive(request, "192.168.1.21", 50123);  // second one gets alias 6
  auto sent = rig.Transport.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].Bytes, request);
  EXPECT_EQ(sent[1].Bytes, Hex("AA 55 04 00 06 00 00 00 E9 03 00 00 00 00 01 02 50 0D"));
  EXPECT_EQ(Destinations(sent), (std::vector<TDest>{{"10.0.0.1", 5000}, {"10.0.0.1", 5000}}));

  rig.Receive(Hex("AA 55 03 00 E9 03 00 00 06 00 00 00 01 00 03 7E 4E"), "10.0.0.1", 5000);
  sent = rig.Transport.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Bytes, Hex("AA 55 03 00 E9 03 00 00 05 00 00 00 01 00 03 6D EC"));
  EXPECT_EQ(Destinations(sent), (std::vector<TDest>{{"192.168.1.21", 50123}}));
  EXPECT_EQ(rig.View.LedCount(TLamp::LANTx, TLedColor::Green), 1);
  EXPECT_EQ(rig.View.LedCount(TLamp::WANTx, TLedColor::Green), 2);
}

TEST_F(RoutingTest, ReplyGoesToTheOwnerOfTheAlias) {
  rig.Receive(MakeFrame(5, 9, 0), "192.168.1.20", 1000);  // NAD 5, alias 5
  rig.Receive(MakeFrame(4, 9, 0), "192.168.1.30", 1000);  // NAD 4, alias 4
  rig.Receive(MakeFrame(4, 9, 0), "192.168.1.31", 1000);  // NAD 4, alias 5 taken -> 6
  ASSERT_TRUE(rig.Transport.Take().empty());              // no controller for NAD 9

  const TBytes toFive = MakeFrame(9, 5, 1, {0x11});
  rig.Receive(toFive, "10.0.0.9", 7000);
  const TBytes toSix = MakeFrame(9, 6, 2, {0x22});
  rig.Receive(toSix, "10.0.0.9", 7000);
  const auto sent = rig.Transport.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].Bytes, toFive);  // alias equals NAD: passed on unchanged
  EXPECT_EQ(sent[0].Host, "192.168.1.20");
  EXPECT_EQ(sent[1].Bytes, MakeFrame(9, 4, 2, {0x22}));  // back to NAD 4, new checksum
  EXPECT_EQ(sent[1].Host, "192.168.1.31");
}

TEST_F(RoutingTest, ReplyChangesNoTableAndUnknownAliasIsDropped) {
  rig.Receive(MakeFrame(5, 9, 0), "192.168.1.20", 1000);
  const auto before = Snapshot();
  rig.AgeOneStep();
  rig.Receive(MakeFrame(9, 5, 1), "10.0.0.9", 7000);
  rig.Receive(MakeFrame(9, 42, 1), "10.0.0.9", 7000);
  EXPECT_EQ(rig.Transport.Take().size(), 1u);
  const auto after = Snapshot();
  ASSERT_EQ(after.NATRows.size(), 1u);
  EXPECT_EQ(after.NATRows[0].Timeout, before.NATRows[0].Timeout - 1);  // not refreshed
  EXPECT_TRUE(after.PushRows.empty());
  EXPECT_EQ(rig.Engine.AckCount(), 2);
}

TEST_F(RoutingTest, BroadcastGoesToStaticControllersFirstThenAnnouncedOnes) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.AddStatic(1001, "10.0.0.2", 5001);
  Push(2000, "10.0.1.1", 6000);
  rig.Receive(MakeFrame(5, 0, 0, {1}));
  EXPECT_EQ(Destinations(rig.Transport.Take()),
            (std::vector<TDest>{{"10.0.0.1", 5000}, {"10.0.0.2", 5001}, {"10.0.1.1", 6000}}));
  EXPECT_EQ(rig.View.LedCount(TLamp::WANTx, TLedColor::Green), 3);
}

TEST_F(RoutingTest, BroadcastFromAliasedApplicationIsRewrittenForEveryDestination) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  Push(2000, "10.0.1.1", 6000);
  rig.Receive(MakeFrame(5, 0, 0), "192.168.1.20", 1);
  rig.Transport.Take();
  rig.Receive(MakeFrame(5, 0, 0), "192.168.1.21", 1);  // alias 6
  const auto sent = rig.Transport.Take();
  ASSERT_EQ(sent.size(), 2u);
  for (const auto& d : sent)
    EXPECT_EQ(d.Bytes, MakeFrame(6, 0, 0));
}

TEST_F(RoutingTest, ControllerBothConfiguredAndAnnounced) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  Push(1000, "10.0.0.1", 5000);
  rig.Receive(MakeFrame(5, 0, 0));
  EXPECT_EQ(rig.Transport.Take().size(), 2u);
  rig.Receive(MakeFrame(5, 1000, 0));
  EXPECT_EQ(rig.Transport.Take().size(), 1u);
}

TEST_F(RoutingTest, RequestToAnnouncedControllerGoesToTheOldestAnnouncement) {
  Push(2000, "10.0.1.1", 6000);
  Push(2000, "10.0.1.2", 6001);  // announced again from elsewhere: second entry
  rig.Receive(MakeFrame(5, 2000, 0));
  EXPECT_EQ(Destinations(rig.Transport.Take()), (std::vector<TDest>{{"10.0.1.1", 6000}}));
  EXPECT_EQ(Snapshot().PushRows.size(), 2u);
}

TEST_F(RoutingTest, StaticEntryWinsOverAnnouncedOneWithTheSameNAD) {
  Push(1000, "10.0.1.1", 6000);
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.Receive(MakeFrame(5, 1000, 0));
  EXPECT_EQ(Destinations(rig.Transport.Take()), (std::vector<TDest>{{"10.0.0.1", 5000}}));
}

TEST_F(RoutingTest, PushFrameIsRegisteredAndAcknowledgedNeverForwarded) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.Receive(MakeFrame(1000, 0, 1, {1, 2, 3}), "10.0.0.7", 5000);
  const auto sent = rig.Transport.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Destinations(sent), (std::vector<TDest>{{"10.0.0.7", 5000}}));
  EXPECT_EQ(sent[0].Bytes,
            Hex("AA 55 08 00 03 00 00 00 E8 03 00 00 00 00 32 17 04 01 00 01 92 CD"));
  const auto snap = Snapshot();
  ASSERT_EQ(snap.PushRows.size(), 1u);
  EXPECT_EQ(snap.PushRows[0].NAD, 1000);
  EXPECT_EQ(snap.PushRows[0].IP, "10.0.0.7");
  EXPECT_EQ(snap.PushRows[0].Timeout, kPushTableTimeout);
  EXPECT_TRUE(snap.NATRows.empty());
  EXPECT_EQ(rig.View.LedCount(TLamp::WANTx, TLedColor::Green), 1);
}

TEST_F(RoutingTest, RequestWithoutControllerStillEntersTheApplication) {
  rig.Receive(MakeFrame(5, 1234, 0), "192.168.1.20", 50123);
  rig.Receive(MakeFrame(5, 0, 0), "192.168.1.20", 50123);  // broadcast, both tables empty
  EXPECT_TRUE(rig.Transport.Sent.empty());
  const auto snap = Snapshot();
  ASSERT_EQ(snap.NATRows.size(), 1u);
  EXPECT_EQ(snap.NATRows[0].NAD, 5);
  EXPECT_EQ(snap.NATRows[0].Port, 50123);
  EXPECT_EQ(rig.View.LedCount(TLamp::WANTx, TLedColor::Green), 0);
}

TEST_F(RoutingTest, UnresolvableStaticHostStopsTheBroadcastThere) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.AddStatic(1001, "10.0.0.2", 5001);
  rig.AddStatic(1002, "10.0.0.3", 5002);
  Push(2000, "10.0.1.1", 6000);
  {
    const TAddressTables::TLock lock(rig.Tables);
    rig.Tables.fStaticTable->Items(1)->SetHost("kelvo-relay-test.invalid");
  }
  rig.Engine.SetCreateDebugLogs(true);
  rig.Receive(MakeFrame(5, 0, 0));
  EXPECT_EQ(Destinations(rig.Transport.Take()), (std::vector<TDest>{{"10.0.0.1", 5000}}));
  EXPECT_EQ(rig.View.LedCount(TLamp::WANTx, TLedColor::Green), 1);
  EXPECT_EQ(Snapshot().StaticRows[1].IP, "10.0.0.2");  // keeps the last good address
  const std::string log = rig.LogText();
  EXPECT_NE(log.find("Tx 10.0.0.1:5000"), std::string::npos);
  EXPECT_EQ(log.find("Tx 10.0.0.3"), std::string::npos);
  EXPECT_EQ(log.find("Tx 10.0.1.1"), std::string::npos);
  EXPECT_EQ(Snapshot().NATRows.size(), 1u);  // the table update before the failure stays
}

TEST_F(RoutingTest, FailedSendLeavesNoTraceAndNoLamp) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.Transport.FailAll = true;
  rig.Engine.SetCreateDebugLogs(true);
  rig.Receive(MakeFrame(5, 1000, 0));
  EXPECT_EQ(rig.LogText().find("Tx "), std::string::npos);
  EXPECT_EQ(rig.View.LedCount(TLamp::WANTx, TLedColor::Green), 0);
  EXPECT_EQ(rig.Engine.ReqCount(), 1);
}

TEST_F(RoutingTest, FailedSendIsOneDebugLogLineWithTheFramesNADsAndTheReason) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.Transport.FailAll = true;
  rig.Receive(MakeFrame(5, 1000, 0));
  EXPECT_EQ(rig.LogText(), "") << "debug logs off: no line";
  rig.Engine.SetCreateDebugLogs(true);
  rig.Receive(MakeFrame(6, 1000, 0));
  const std::string log = rig.LogText();
  std::vector<std::string> drops;
  for (std::size_t at = log.find("Drop "); at != std::string::npos; at = log.find("Drop ", at + 1))
    drops.push_back(log.substr(at, log.find('\r', at) - at));
  ASSERT_EQ(drops.size(), 1u) << log;
  // The sender as every drop line has it (padded like the trace lines), then the frame.
  EXPECT_TRUE(drops[0].starts_with("Drop 192.168.1.20:50123 ")) << drops[0];
  EXPECT_TRUE(drops[0].ends_with(" NAD 6 to 1000: send refused for 10.0.0.1")) << drops[0];
}

TEST_F(RoutingTest, StaticHostNameIsResolvedForEverySendAndShown) {
  rig.AddStatic(1000, "LocalHost", 5000);
  {
    const TAddressTables::TLock lock(rig.Tables);
    rig.Tables.fStaticTable->Items(0)->SetIP("0.0.0.0");
  }
  rig.Receive(MakeFrame(5, 1000, 0));
  EXPECT_EQ(Destinations(rig.Transport.Take()), (std::vector<TDest>{{"127.0.0.1", 5000}}));
  EXPECT_EQ(Snapshot().StaticRows[0].IP, "127.0.0.1");
}

TEST_F(RoutingTest, ApplicationBackFromNewPortGetsNewAliasWhileOldOneLives) {
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.Receive(MakeFrame(5, 1000, 0), "192.168.1.20", 1000);
  rig.Receive(MakeFrame(5, 1000, 0), "192.168.1.20", 1001);
  auto sent = rig.Transport.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(ReadNAD(sent[1].Bytes, kOffsetSourceNAD), 6);
  rig.Receive(MakeFrame(1000, 6, 1), "10.0.0.1", 5000);
  rig.Receive(MakeFrame(1000, 5, 1), "10.0.0.1", 5000);
  sent = rig.Transport.Take();
  EXPECT_EQ(Destinations(sent),
            (std::vector<TDest>{{"192.168.1.20", 1001}, {"192.168.1.20", 1000}}));
  for (const auto& d : sent)
    EXPECT_EQ(ReadNAD(d.Bytes, kOffsetDestNAD), 5);
}

TEST_F(RoutingTest, ReplyToAliasZeroAndPushFromNADZero) {
  rig.Receive(MakeFrame(0, 77, 0), "192.168.1.20", 1000);  // application with NAD 0
  rig.Receive(MakeFrame(77, 0, 2), "10.0.0.9", 7000);      // direction 2: a reply to alias 0
  rig.Receive(MakeFrame(77, 0, 1), "10.0.0.9", 7000);      // direction 1: a push frame
  const auto sent = rig.Transport.Take();
  EXPECT_EQ(Destinations(sent), (std::vector<TDest>{{"192.168.1.20", 1000}, {"10.0.0.9", 7000}}));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].Bytes.size(), kPushAckSize);
}

// Fills a table with senders 10.x.y.z port 1 of NAD 77, as a flood of forged sources would.
void FillTable(TAddressTables& ATables, TAddressTables::TTableField AField) {
  const TAddressTables::TLock lock(ATables);
  TNATInfoList& table = *(ATables.*AField);
  for (int i = table.Count(); i < kMaxTableEntries; ++i) {
    const std::string ip = "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) +
                           "." + std::to_string(i % 256);
    table.UpdateByNAD(77, ip, 1);
  }
}

// A new sender that finds its table full is counted like any frame, then dropped with a log
// line; senders already listed go on as before.
TEST_F(RoutingTest, NewSenderFindingItsTableFullIsCountedAndDropped) {
  rig.AddStatic(1001, "10.0.0.1", 5000);
  rig.Receive(MakeFrame(5, 1001, 0), "192.168.1.20", 50123);  // listed before the flood
  FillTable(rig.Tables, &TAddressTables::fNATTable);
  FillTable(rig.Tables, &TAddressTables::fPushTable);
  rig.Transport.Take();
  rig.Engine.SetCreateDebugLogs(true);

  rig.Receive(MakeFrame(6, 1001, 0), "192.168.1.21", 50123);  // request from a new sender
  rig.Receive(MakeFrame(6, 0, 0), "192.168.1.21", 50123);     // broadcast from it
  rig.Receive(MakeFrame(1002, 0, 1), "10.9.9.9", 6000);       // push from a new controller
  EXPECT_TRUE(rig.Transport.Take().empty());                  // not even acknowledged
  EXPECT_EQ(rig.Engine.TableFullCount(), 3);
  EXPECT_EQ(rig.Engine.ReqCount(), 3);
  EXPECT_EQ(rig.Engine.AckCount(), 1);
  EXPECT_EQ(rig.Engine.TakeMsgCount(), 4);  // the request from before the flood too
  const std::string log = rig.LogText();
  const auto LineWith = [&](const std::string& AText) {
    const auto at = log.find(AText);
    return at == std::string::npos ? std::string() : log.substr(at, log.find('\n', at) - at);
  };
  EXPECT_NE(LineWith("Drop 192.168.1.21:50123").find("fNATTable full (100000 entries)"),
            std::string::npos)
      << log;
  EXPECT_NE(LineWith("Drop 10.9.9.9:6000").find("fPushTable full (100000 entries)"),
            std::string::npos)
      << log;

  rig.Receive(MakeFrame(5, 1001, 0), "192.168.1.20", 50123);
  rig.Receive(MakeFrame(77, 0, 1), "10.0.0.5", 1);  // a listed controller's push
  const auto sent = rig.Transport.Take();
  EXPECT_EQ(Destinations(sent), (std::vector<TDest>{{"10.0.0.1", 5000}, {"10.0.0.5", 1}}));
  EXPECT_EQ(rig.Engine.TableFullCount(), 3);
  const auto snap = Snapshot();
  EXPECT_EQ(snap.NATRows.size(), static_cast<std::size_t>(kMaxTableEntries));
  EXPECT_EQ(snap.PushRows.size(), static_cast<std::size_t>(kMaxTableEntries));
}

// The network around the relay in the loop cases: echo services send every datagram back to
// its sender, and a datagram to one of the relay's own addresses on port 8442 comes back to
// the relay itself.
struct TLoopCase {
  const char* Name;
  std::string Bind;                  // the address the endpoint binds; empty: every local address
  std::vector<std::string> Statics;  // "NAD,host,port"
  std::vector<std::tuple<TBytes, std::string, std::uint16_t>> Datagrams;  // what arrives
  int Sent;   // datagrams the relay sends in all
  int Drops;  // sends it leaves out
};

void PrintTo(const TLoopCase& ACase, std::ostream* AOut) {
  *AOut << ACase.Name;
}

class LoopTest : public ::testing::TestWithParam<TLoopCase> {
 protected:
  void SetUp() override {
    fPrevious = SetAdapterPlatform(TAdapterPlatform{
        [] {
          return std::optional<std::vector<TPlatformAdapter>>(std::vector<TPlatformAdapter>{
              {"lo", "Loopback", "127.0.0.1", "255.0.0.0", "0.0.0.0"},
              {"eth0", "Ethernet", "192.168.7.7", "255.255.255.0", "192.168.7.1"}});
        },
        [] { return std::string("192.168.7.7"); }});
  }
  void TearDown() override { SetAdapterPlatform(std::move(fPrevious)); }

 private:
  TAdapterPlatform fPrevious;
};

const std::string kEcho = "10.0.0.7";
constexpr std::uint16_t kEchoPort = 7;

INSTANTIATE_TEST_SUITE_P(
    SpoofedAndMisdirected, LoopTest,
    ::testing::Values(
        TLoopCase{"PushFromAnEchoService",
                  "192.168.1.10",
                  {},
                  {{MakeFrame(1000, 0, 1), kEcho, kEchoPort}},
                  1,
                  1},
        // The acknowledgement of NAD 0 is a broadcast request: the configured controller gets
        // it once, the echo service nothing more.
        TLoopCase{"PushOfNADZeroFromAnEchoService",
                  "192.168.1.10",
                  {"2000,10.0.0.1,5000"},
                  {{MakeFrame(0, 0, 1), kEcho, kEchoPort}},
                  2,
                  1},
        TLoopCase{"PushFromTheBoundAddress",
                  "192.168.1.10",
                  {},
                  {{MakeFrame(1000, 0, 1), "192.168.1.10", 8442}},
                  0,
                  1},
        TLoopCase{"PushFromLoopbackToARelayOnEveryAddress",
                  "",
                  {},
                  {{MakeFrame(1000, 0, 1), "127.0.0.1", 8442}},
                  0,
                  1},
        TLoopCase{"PushFromAnotherLoopbackAddress",
                  "0.0.0.0",
                  {},
                  {{MakeFrame(1000, 0, 1), "127.1.2.3", 8442}},
                  0,
                  1},
        TLoopCase{"PushFromAnAdapterAddressToARelayOnEveryAddress",
                  "",
                  {},
                  {{MakeFrame(1000, 0, 1), "192.168.7.7", 8442}},
                  0,
                  1},
        TLoopCase{"StaticControllerAtTheRelaysOwnAddress",
                  "192.168.1.10",
                  {"3000,192.168.1.10,8442", "3001,0.0.0.0,8442", "3002,192.168.001.010,8442"},
                  {{MakeFrame(5, 0, 0), "192.168.1.20", 50123}},
                  0,
                  3},
        TLoopCase{
            "ReplyToTheApplicationThatSentIt",
            "192.168.1.10",
            {},
            {{MakeFrame(77, 9, 0), kEcho, kEchoPort}, {MakeFrame(9, 77, 1), kEcho, kEchoPort}},
            0,
            1},
        // What must still pass: an ordinary push, a controller on port 8442 of another host,
        // a loopback controller of a relay bound to one address, a reply between two parties.
        TLoopCase{"OrdinaryTraffic",
                  "192.168.1.10",
                  {"1000,10.0.0.1,8442", "1001,127.0.0.1,8442"},
                  {{MakeFrame(2000, 0, 1), "10.0.0.8", 5000},
                   {MakeFrame(5, 0, 0), "192.168.1.20", 50123},
                   {MakeFrame(1000, 5, 1), "10.0.0.1", 8442}},
                  5,
                  0}),
    [](const ::testing::TestParamInfo<TLoopCase>& AInfo) { return AInfo.param.Name; });

// A spoofed push from an echo service or from the relay's own address, a controller
// configured at the relay's own address, a reply to its own sender: each costs a handful of
// datagrams, never a loop, and every send left out leaves one line in the debug log.
TEST_P(LoopTest, CostsAHandfulOfDatagramsNeverALoop) {
  const TLoopCase& c = GetParam();
  TEngineRig rig;
  for (const std::string& entry : c.Statics) {
    const auto first = entry.find(',');
    const auto second = entry.rfind(',');
    rig.AddStatic(std::stoi(entry.substr(0, first)), entry.substr(first + 1, second - first - 1),
                  static_cast<std::uint16_t>(std::stoi(entry.substr(second + 1))));
  }
  rig.Engine.PrepareListening(c.Bind, 8442);
  rig.Engine.SetCreateDebugLogs(true);
  const bool bindAny = c.Bind.empty() || c.Bind == "0.0.0.0";
  auto comesBack = [&](const TSentDatagram& ASent, std::string& AFrom) {
    if (ASent.Host == kEcho && ASent.Port == kEchoPort) {
      AFrom = kEcho;
      return true;
    }
    const bool own = ASent.Host == "0.0.0.0" || ASent.Host == c.Bind ||
                     (bindAny && (ASent.Host.starts_with("127.") || ASent.Host == "192.168.7.7"));
    AFrom = ASent.Host == "0.0.0.0" ? (bindAny ? "127.0.0.1" : c.Bind) : ASent.Host;
    return own && ASent.Port == 8442;
  };

  int sent = 0;
  for (const auto& [bytes, ip, port] : c.Datagrams) {
    std::vector<std::tuple<TBytes, std::string, std::uint16_t>> pending{{bytes, ip, port}};
    for (int hops = 0; !pending.empty() && hops < 1000; ++hops) {
      const auto [b, from, fromPort] = pending.back();
      pending.pop_back();
      rig.Receive(b, from, fromPort);
      for (TSentDatagram& d : rig.Transport.Take()) {
        ++sent;
        std::string source;
        if (comesBack(d, source))
          pending.emplace_back(d.Bytes, source, d.Host == kEcho ? kEchoPort : 8442);
      }
    }
  }
  EXPECT_EQ(sent, c.Sent);
  EXPECT_EQ(rig.Engine.LoopDropCount(), c.Drops);
  const std::string log = rig.LogText();
  int lines = 0;
  for (auto at = log.find("would loop"); at != std::string::npos;
       at = log.find("would loop", at + 1))
    ++lines;
  EXPECT_EQ(lines, c.Drops) << log;
}

}  // namespace
}  // namespace kelvo
