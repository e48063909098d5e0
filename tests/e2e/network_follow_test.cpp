// The headless relay on a network that changes under it, in a network namespace of the test's
// own with a veth adapter "kr0": a new address, an address that comes late, an adapter that
// comes late, a port that is busy at first. Each case measures how long after the change the
// relay relays again on the new address. Needs root (the namespace); skipped otherwise.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "support/relay_process.h"

namespace kelvo::test {
namespace {

using namespace std::chrono_literals;
using TSteady = std::chrono::steady_clock;

const TBytes kPayload{0x0A, 0x0B};

class NetworkFollow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (::geteuid() != 0) {
      fSkip = "needs root: the test makes a network namespace with a veth adapter";
    } else if (::unshare(CLONE_NEWNET) != 0) {
      fSkip = std::string("cannot make a network namespace: ") + std::strerror(errno);
    } else if (!Run("ip link set lo up")) {
      fSkip = "cannot bring up loopback in the namespace (is iproute2 installed?)";
    }
  }

  void SetUp() override {
    if (!fSkip.empty()) {
      GTEST_SKIP() << fSkip;
    }
    Run("ip link del kr0 2>/dev/null");
    Run("ip link del kr1 2>/dev/null");
    fHome.WriteSettings({"1001,127.0.0.1," + std::to_string(fController.Port())},
                        {"\"EthernetAdapterID\"=\"kr0\""});
  }
  void TearDown() override {
    if (fSkip.empty()) {
      fRelay.Stop(SIGTERM);
      Run("ip link del kr0 2>/dev/null");
      Run("ip link del kr1 2>/dev/null");
    }
  }

  static bool Run(const std::string& ACommand) { return std::system(ACommand.c_str()) == 0; }
  static void AddAdapter(const std::string& AName = "kr0") {
    ASSERT_TRUE(Run("ip link add " + AName + " type veth peer name " + AName + "p && ip link set " +
                    AName + " up && ip link set " + AName + "p up"));
  }
  static void SetAddress(const std::string& AOld, const std::string& ANew,
                         const std::string& AName = "kr0") {
    if (!AOld.empty()) {
      ASSERT_TRUE(Run("ip addr del " + AOld + "/24 dev " + AName));
    }
    ASSERT_TRUE(Run("ip addr add " + ANew + "/24 dev " + AName));
  }
  // A socket of another program on AIP:8442 (0.0.0.0: every address); closed by the caller.
  static int Occupy(const std::string& AIP) {
    const int occupant = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8442);
    ::inet_pton(AF_INET, AIP.c_str(), &address.sin_addr);
    EXPECT_EQ(::bind(occupant, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return occupant;
  }

  void StartRelay(const std::string& AReadyText) {
    const std::string line = fRelay.Start(fHome, {}, {"listening on", "Error opening port"});
    ASSERT_TRUE(fRelay.WaitForOutput(AReadyText, 0, 5s)) << fRelay.Output();
    (void)line;
  }

  // Sends a request to AIP:8442 every 20 ms until the controller has it; how long that took,
  // or nullopt after ATimeout.
  std::optional<std::chrono::milliseconds> TimeUntilRelayed(const std::string& AIP,
                                                            std::chrono::milliseconds ATimeout) {
    const TBytes request = MakeFrame(5, 1001, 0, kPayload);
    const auto start = TSteady::now();
    while (TSteady::now() - start < ATimeout) {
      fApp.SendTo(AIP, 8442, request);
      if (const auto received = fController.Receive(20ms); received && *received == request) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(TSteady::now() - start);
      }
    }
    return std::nullopt;
  }

  static void Report(const char* ACase, std::chrono::milliseconds ATime) {
    std::cout << "[ recovery ] " << ACase << ": " << ATime.count() << " ms\n";
  }

  static std::string fSkip;
  TConfigHome fHome;
  TUdpPeer fController;
  TUdpPeer fApp;
  TRelayProcess fRelay;
};

std::string NetworkFollow::fSkip;

TEST_F(NetworkFollow, ANewAddressIsServedWithinTwoSeconds) {
  AddAdapter();
  SetAddress("", "10.9.0.5");
  StartRelay("listening on 10.9.0.5:8442");
  ASSERT_TRUE(TimeUntilRelayed("10.9.0.5", 2s)) << fRelay.Output();

  SetAddress("10.9.0.5", "10.9.0.6");  // a DHCP server hands out another lease
  const auto took = TimeUntilRelayed("10.9.0.6", 5s);
  ASSERT_TRUE(took) << fRelay.Output();
  Report("new address", *took);
  EXPECT_LE(*took, 2s);
  EXPECT_TRUE(fRelay.WaitForOutput("listening on 10.9.0.6:8442", 0, 1s)) << fRelay.Output();
}

TEST_F(NetworkFollow, AnAddressThatComesLateIsBoundWhenItArrives) {
  AddAdapter();
  StartRelay("waiting for kr0");
  SetAddress("", "10.9.0.7");  // boot before DHCP: the lease comes after the relay started
  const auto took = TimeUntilRelayed("10.9.0.7", 5s);
  ASSERT_TRUE(took) << fRelay.Output();
  Report("address after start", *took);
  EXPECT_LE(*took, 2s);
}

TEST_F(NetworkFollow, AnAbsentAdapterIsAFallbackUntilItComesAndStaysTheChoice) {
  StartRelay("adapter kr0 is not present");
  AddAdapter();  // the USB adapter is plugged in
  SetAddress("", "10.9.0.8");
  const auto took = TimeUntilRelayed("10.9.0.8", 5s);
  ASSERT_TRUE(took) << fRelay.Output();
  Report("adapter after start", *took);
  EXPECT_LE(*took, 2s);

  Run("ip link del kr0");  // unplugged again before the relay ends
  ASSERT_TRUE(fRelay.WaitForOutput("adapter kr0 is not present", 100, 5s)) << fRelay.Output();
  ASSERT_EQ(fRelay.Stop(SIGTERM), 0) << fRelay.Output();
  EXPECT_NE(fHome.ReadSettings().find("\"EthernetAdapterID\"=\"kr0\""), std::string::npos)
      << fHome.ReadSettings();
}

TEST_F(NetworkFollow, ABusyPortIsTakenSoonAfterItIsFreed) {
  AddAdapter();
  SetAddress("", "10.9.0.9");
  const int occupant = Occupy("0.0.0.0");  // another program holds the port on every address
  StartRelay("Error opening port 8442!");
  std::this_thread::sleep_for(1500ms);
  ::close(occupant);
  const auto took = TimeUntilRelayed("10.9.0.9", 5s);
  ASSERT_TRUE(took) << fRelay.Output();
  Report("port freed", *took);
  EXPECT_LE(*took, 3s);
}

// A change that leaves the relay unable to listen is kept (it is what was asked for) but the
// command says so and fails.
TEST_F(NetworkFollow, ASettingsChangeThatCannotListenSaysSoAndIsKept) {
  AddAdapter();
  SetAddress("", "10.9.0.5");
  AddAdapter("kr1");
  SetAddress("", "10.9.1.5", "kr1");
  StartRelay("listening on 10.9.0.5:8442");
  const int occupant = Occupy("10.9.1.5");
  const TCommandResult result = RunRelayCommand(fHome, {"--set-adapter", "kr1"});
  ::close(occupant);
  EXPECT_EQ(result.ExitCode, 1) << result.Err;
  EXPECT_NE(result.Err.find("the change is saved, but the relay cannot listen"), std::string::npos)
      << result.Err;
  EXPECT_NE(fHome.ReadSettings().find("\"EthernetAdapterID\"=\"kr1\""), std::string::npos);
  // Once the port is free the relay takes it by itself.
  const auto took = TimeUntilRelayed("10.9.1.5", 5s);
  EXPECT_TRUE(took) << fRelay.Output();
}

}  // namespace
}  // namespace kelvo::test
