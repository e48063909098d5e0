// The headless relay as a user runs it: a real process, real loopback datagrams, exact bytes.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "relay/frame.h"
#include "support/relay_process.h"

namespace kelvo::test {
namespace {

using namespace std::chrono_literals;

const TBytes kAppPayload{0x01, 0x02};

std::string Hex(const TBytes& ABytes) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : ABytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

class HeadlessRelay : public ::testing::Test {
 protected:
  // Starts the relay with the given static list and checks that it listens on loopback.
  void StartRelay(const std::vector<std::string>& AStaticList,
                  const std::vector<std::string>& AArgs = {}) {
    fHome.WriteSettings(AStaticList);
    const std::string line = fRelay.Start(fHome, AArgs);
    ASSERT_NE(line.find("listening on " + RelayListenAddress() + ":8442"), std::string::npos)
        << fRelay.Output();
  }
  void StopRelay() { ASSERT_EQ(fRelay.Stop(SIGTERM), 0) << fRelay.Output(); }

  static std::string Static(int ANAD, const TUdpPeer& APeer) {
    return std::to_string(ANAD) + ",127.0.0.1," + std::to_string(APeer.Port());
  }

  TConfigHome fHome;
  TRelayProcess fRelay;
};

TEST_F(HeadlessRelay, ForwardsRequestsAndRepliesUnchangedFromPort8442) {
  TUdpPeer controller, app;
  StartRelay({Static(1001, controller)});

  const TBytes request = MakeFrame(5, 1001, 0, kAppPayload);
  app.SendToRelay(request);
  std::uint16_t from = 0;
  EXPECT_EQ(controller.Receive(2s, &from), request);
  EXPECT_EQ(from, 8442);

  const TBytes reply = MakeFrame(1001, 5, 1, {0x03});
  controller.SendToRelay(reply);
  EXPECT_EQ(app.Receive(2s, &from), reply);
  EXPECT_EQ(from, 8442);
  StopRelay();
}

TEST_F(HeadlessRelay, SecondApplicationWithTheSameNADGetsAnAlias) {
  TUdpPeer controller, first, second;
  StartRelay({Static(1001, controller)});

  const TBytes request = HexToBytes("AA 55 04 00 05 00 00 00 E9 03 00 00 00 00 01 02 31 65");
  first.SendToRelay(request);
  EXPECT_EQ(controller.Receive(), request);
  second.SendToRelay(request);
  EXPECT_EQ(controller.Receive(),
            HexToBytes("AA 55 04 00 06 00 00 00 E9 03 00 00 00 00 01 02 50 0D"));

  controller.SendToRelay(HexToBytes("AA 55 03 00 E9 03 00 00 06 00 00 00 01 00 03 7E 4E"));
  EXPECT_EQ(second.Receive(), HexToBytes("AA 55 03 00 E9 03 00 00 05 00 00 00 01 00 03 6D EC"));
  EXPECT_FALSE(first.Receive(200ms).has_value());
  StopRelay();
}

TEST_F(HeadlessRelay, AcknowledgesPushFramesAndRoutesToTheAnnouncedController) {
  TUdpPeer controller, app;
  StartRelay({});

  controller.SendToRelay(MakeFrame(1000, 0, 1, {}));
  EXPECT_EQ(controller.Receive(),
            HexToBytes("AA 55 08 00 03 00 00 00 E8 03 00 00 00 00 32 17 04 01 00 01 92 CD"));

  const TBytes request = MakeFrame(7, 1000, 0, kAppPayload);
  app.SendToRelay(request);
  EXPECT_EQ(controller.Receive(), request);
  StopRelay();
}

TEST_F(HeadlessRelay, ReassemblesAFrameSplitOverTwoDatagrams) {
  TUdpPeer controller, app;
  StartRelay({Static(1001, controller)});

  const TBytes request = MakeFrame(5, 1001, 0, TBytes(40, 0x77));
  app.SendToRelay(TBytes(request.begin(), request.begin() + 10));
  EXPECT_FALSE(controller.Receive(200ms).has_value());
  app.SendToRelay(TBytes(request.begin() + 10, request.end()));
  EXPECT_EQ(controller.Receive(), request);
  StopRelay();
}

TEST_F(HeadlessRelay, DropsAnOversizedDatagramWhole) {
  TUdpPeer controller, app;
  StartRelay({Static(1001, controller)});

  // A valid frame at the front: were the datagram cut to 8192 bytes, it would be relayed.
  TBytes oversized = MakeFrame(5, 1001, 0, kAppPayload);
  oversized.resize(8193, 0x00);
  app.SendToRelay(oversized);
  EXPECT_FALSE(controller.Receive(300ms).has_value());

  TBytes largest = MakeFrame(5, 1001, 0, kAppPayload);
  largest.resize(8192, 0x00);
  app.SendToRelay(largest);
  EXPECT_EQ(controller.Receive(), MakeFrame(5, 1001, 0, kAppPayload));
  StopRelay();
}

// A port in use is reported once on stderr and tried again until it is free; the relay does
// not give up (a service manager would not start it again).
TEST_F(HeadlessRelay, ReportsAPortInUseOnStderrAndTakesItOnceFree) {
  // The port may still be on its way back from the relay of the test before.
  std::unique_ptr<TUdpPeer> occupant;
  for (const auto deadline = std::chrono::steady_clock::now() + 3s; !occupant;) {
    try {
      occupant = std::make_unique<TUdpPeer>(8442);
    } catch (const std::exception&) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "port 8442 stays taken";
      std::this_thread::sleep_for(50ms);
    }
  }
  TUdpPeer controller, app;
  fHome.WriteSettings({Static(1001, controller)});
  TRelayProcess relay;
  const std::string line = relay.Start(fHome, {});
  ASSERT_NE(line.find("Error opening port 8442!"), std::string::npos) << relay.Output();
  EXPECT_TRUE(relay.WaitForOutput("; trying again", 0, 2s)) << relay.Output();
  occupant.reset();
  ASSERT_TRUE(
      relay.WaitForOutput("KelvoRelay listening on " + RelayListenAddress() + ":8442", 0, 5s))
      << relay.Output();
  const TBytes request = MakeFrame(5, 1001, 0, kAppPayload);
  app.SendToRelay(request);
  EXPECT_EQ(controller.Receive(), request);
  EXPECT_EQ(relay.Stop(SIGTERM), 0) << relay.Output();
}

TEST_F(HeadlessRelay, ASecondStartFromTheSameExecutableIsRefusedWithExitCode3) {
  StartRelay({});
  TRelayProcess second;
  second.Start(fHome, {}, {"already running"});
  EXPECT_EQ(second.Wait(20s), 3) << second.Output();
  EXPECT_NE(second.Output().find("another instance is already running"), std::string::npos)
      << second.Output();
  // The first one still relays and stops cleanly.
  TUdpPeer controller;
  controller.SendToRelay(MakeFrame(1000, 0, 1, {}));
  EXPECT_TRUE(controller.Receive().has_value());
  StopRelay();
}

TEST_F(HeadlessRelay, WritesTheSettingsBackWhenStopped) {
  TUdpPeer controller;
  StartRelay({"1001,127.0.0.1," + std::to_string(controller.Port()), "-5 localhost 70000"});
  StopRelay();

  const std::string settings = fHome.ReadSettings();
  EXPECT_NE(settings.find("[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]"),
            std::string::npos);
  EXPECT_NE(settings.find("\"EthernetAdapterID\"=\"" + RelaySavedAdapterID() + "\""),
            std::string::npos)
      << settings;
  EXPECT_NE(
      settings.find("\"StaticList0\"=\"1001,127.0.0.1," + std::to_string(controller.Port()) + "\""),
      std::string::npos)
      << settings;
  // The second item loaded with its port cut to 16 bits and is written in the stored form.
  EXPECT_NE(settings.find("\"StaticList1\"=\"-5,localhost,4464\""), std::string::npos) << settings;
}

// Without a window there is no position to store: one that is stored stays as it is, and
// none is invented when there is none.
TEST_F(HeadlessRelay, KeepsTheStoredWindowPositionAndInventsNone) {
  const struct {
    std::vector<std::string> Stored;
    std::vector<std::string> Expected;
    std::vector<std::string> Absent;
  } cases[] = {
      {{}, {}, {"\"Top\"", "\"Left\""}},
      {{"\"Top\"=dword:fffffffb", "\"Left\"=dword:0000012c"},
       {"\"Top\"=dword:fffffffb", "\"Left\"=dword:0000012c"},
       {}},
      {{"\"Left\"=dword:00000007"}, {"\"Left\"=dword:00000007"}, {"\"Top\""}},
      // A position that cannot be read is nothing to a relay without a window: it starts, and
      // the value stays for the user to mend.
      {{"\"Top\"=\"not a number\"", "\"Left\"=dword:00000007"},
       {"\"Top\"=\"not a number\"", "\"Left\"=dword:00000007"},
       {}},
  };
  for (const auto& each : cases) {
    fHome.WriteSettings({}, each.Stored);
    ASSERT_NE(fRelay.Start(fHome, {}).find("listening on " + RelayListenAddress() + ":8442"),
              std::string::npos)
        << fRelay.Output();
    StopRelay();
    const std::string settings = fHome.ReadSettings();
    ASSERT_NE(settings.find("\"EthernetAdapterID\"=\"" + RelaySavedAdapterID() + "\""),
              std::string::npos)
        << settings;
    for (const auto& text : each.Expected) {
      EXPECT_NE(settings.find(text), std::string::npos) << settings;
    }
    for (const auto& text : each.Absent) {
      EXPECT_EQ(settings.find(text), std::string::npos) << settings;
    }
  }
}

TEST_F(HeadlessRelay, TracesEveryDatagramWithDebugLogOn) {
  TUdpPeer first, second, controller;
  // Broadcast order: both static controllers in list order, then the announced one.
  StartRelay({Static(2001, first), Static(2002, second)}, {"--debug-log"});
  controller.SendToRelay(MakeFrame(3000, 0, 1, {}));
  ASSERT_TRUE(controller.Receive().has_value());

  TUdpPeer app;
  const TBytes broadcast = MakeFrame(9, 0, 0, kAppPayload);
  app.SendToRelay(broadcast);
  EXPECT_EQ(first.Receive(), broadcast);
  EXPECT_EQ(second.Receive(), broadcast);
  EXPECT_EQ(controller.Receive(), broadcast);
  StopRelay();

  std::ifstream in(RelayDebugLog(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<std::string> lines;
  std::istringstream stream(text.str());
  for (std::string line; std::getline(stream, line);) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');
    lines.push_back(line.substr(24, line.size() - 25));  // without time stamp and CR
  }
  const auto peer = [](const TUdpPeer& APeer) {
    std::string column = "127.0.0.1:" + std::to_string(APeer.Port());
    column.resize(21, ' ');
    return column;
  };
  ASSERT_EQ(lines.size(), 6u) << text.str();
  EXPECT_EQ(lines[0].substr(0, 3 + 21), "Rx " + peer(controller));
  const auto ack = BuildPushAck(3000);
  EXPECT_EQ(lines[1], "Tx " + peer(controller) + " " + Hex(TBytes(ack.begin(), ack.end())));
  EXPECT_EQ(lines[2].substr(0, 3 + 21), "Rx " + peer(app));
  EXPECT_EQ(lines[3].substr(0, 3 + 21), "Tx " + peer(first));
  EXPECT_EQ(lines[4].substr(0, 3 + 21), "Tx " + peer(second));
  EXPECT_EQ(lines[5].substr(0, 3 + 21), "Tx " + peer(controller));
}

}  // namespace
}  // namespace kelvo::test
