// The headless relay against hostile traffic, in a network and mount namespace of the test's
// own (root only): a poison head from one sender, spoofed pushes that would start a datagram
// loop, and a name server that never answers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "relay/frame.h"
#include "support/relay_process.h"

namespace kelvo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kResolverAddress = "127.0.0.53";

// Why the namespaces could not be had; empty once they are.
std::string gNoNamespace = "not tried";

// A network namespace with loopback up, and a mount namespace in which /etc/resolv.conf names
// kResolverAddress with a short timeout. Done once per process, before any thread exists.
std::string EnterNamespaces() {
  if (::geteuid() != 0)
    return "needs root: creates network and mount namespaces";
  if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
    return std::string("unshare: ") + std::strerror(errno);
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("making mounts private: ") + std::strerror(errno);
  const auto conf = std::filesystem::temp_directory_path() /
                    ("kelvo_e2e_resolv_" + std::to_string(::getpid()) + ".conf");
  std::ofstream(conf) << "nameserver " << kResolverAddress << "\noptions timeout:2 attempts:1\n";
  const int bound = ::mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr);
  std::filesystem::remove(conf);  // the mount keeps the file's contents
  if (bound != 0)
    return std::string("bind mount of /etc/resolv.conf: ") + std::strerror(errno);
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return up ? std::string() : "cannot bring loopback up";
}

// Datagrams the UDP layer of this namespace has sent.
long long UdpOutDatagrams() {
  std::ifstream snmp("/proc/net/snmp");
  std::string names, values;
  for (std::string line; std::getline(snmp, line);) {
    if (line.rfind("Udp:", 0) == 0)
      (names.empty() ? names : values) = line;
  }
  std::istringstream n(names), v(values);
  for (std::string name, value; n >> name && v >> value;) {
    if (name == "OutDatagrams")
      return std::stoll(value);
  }
  return -1;
}

// Sends APayload as a UDP datagram that claims to come from 127.0.0.1:8442, the relay's own
// address. False when no raw socket can be had.
bool SendForgedFromRelay(const TBytes& APayload) {
  const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  if (fd < 0)
    return false;
  TBytes packet(28 + APayload.size(), 0);
  const auto total = static_cast<std::uint16_t>(packet.size());
  const auto udpLength = static_cast<std::uint16_t>(8 + APayload.size());
  const std::uint8_t header[28] = {
      0x45, 0, static_cast<std::uint8_t>(total >> 8), static_cast<std::uint8_t>(total), 0, 0, 0, 0,
      64, IPPROTO_UDP, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1,
      // UDP: 8442 to 8442, no checksum
      0x20, 0xFA, 0x20, 0xFA, static_cast<std::uint8_t>(udpLength >> 8),
      static_cast<std::uint8_t>(udpLength), 0, 0};
  std::copy(std::begin(header), std::end(header), packet.begin());
  std::copy(APayload.begin(), APayload.end(), packet.begin() + 28);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool sent = ::sendto(fd, packet.data(), packet.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0;
  ::close(fd);
  return sent;
}

class HostileTraffic : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gNoNamespace = EnterNamespaces(); }
  void SetUp() override {
    if (!gNoNamespace.empty())
      GTEST_SKIP() << gNoNamespace;
  }
  void StartRelay(const std::vector<std::string>& AStaticList,
                  const std::vector<std::string>& AArgs = {}) {
    fHome.WriteSettings(AStaticList);
    const std::string line = fRelay.Start(fHome, AArgs);
    ASSERT_NE(line.find("listening on 127.0.0.1:8442"), std::string::npos) << fRelay.Output();
  }
  static std::string Static(int ANAD, const std::string& AHost, const TUdpPeer& APeer) {
    return std::to_string(ANAD) + "," + AHost + "," + std::to_string(APeer.Port());
  }
  // One request from AApp to AController's NAD, and the controller's reply back; the time
  // it took, or nullopt when either leg got lost.
  static std::optional<std::chrono::milliseconds> RoundTrip(const TUdpPeer& AApp,
                                                            const TUdpPeer& AController,
                                                            std::int32_t ANAD, std::uint8_t ATag) {
    const auto begin = std::chrono::steady_clock::now();
    AApp.SendToRelay(MakeFrame(5, ANAD, 0, {ATag}));
    const auto request = AController.Receive(5s);
    if (!request || request->size() != 17 || (*request)[14] != ATag)
      return std::nullopt;
    AController.SendToRelay(MakeFrame(ANAD, 5, 1, {ATag}));
    const auto reply = AApp.Receive(5s);
    if (!reply || reply->size() != 17 || (*reply)[14] != ATag)
      return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 begin);
  }

  TConfigHome fHome;
  TRelayProcess fRelay;
};

// Poison heads from one sender, one before every tenth request of an application and
// others in the middle of its split requests: the application loses nothing.
TEST_F(HostileTraffic, PoisonFromOneSenderCostsAnotherNothing) {
  TUdpPeer controller, app, poisoner;
  StartRelay({Static(1001, "127.0.0.1", controller)});
  const TBytes poison = {0xAA, 0x55, 0xF1, 0xFF};
  int arrived = 0;
  for (int i = 0; i < 200; ++i) {
    if (i % 10 == 0)
      poisoner.SendToRelay(poison);
    const TBytes request = MakeFrame(5, 1001, 0, {static_cast<std::uint8_t>(i)});
    if (i % 3 == 0) {
      app.SendToRelay(TBytes(request.begin(), request.begin() + 6));
      poisoner.SendToRelay(poison);
      app.SendToRelay(TBytes(request.begin() + 6, request.end()));
    } else {
      app.SendToRelay(request);
    }
    if (controller.Receive(2s) == request)
      ++arrived;
    else if (i - arrived > 5)
      break;  // swallowed: no need to wait for the rest
  }
  EXPECT_EQ(arrived, 200);
  EXPECT_EQ(fRelay.Stop(SIGTERM), 0) << fRelay.Output();
}

// A push that claims to come from a UDP echo service gets its acknowledgement, which comes
// back as a request for the echo service itself: it goes no further.
TEST_F(HostileTraffic, SpoofedPushFromAnEchoServiceCostsAHandfulOfDatagrams) {
  TUdpPeer echo;
  StartRelay({});
  std::atomic<bool> stop{false};
  std::atomic<int> echoed{0};
  std::thread service([&] {
    while (!stop) {
      if (const auto datagram = echo.Receive(50ms)) {
        echo.SendToRelay(*datagram);
        ++echoed;
      }
    }
  });
  echo.SendToRelay(MakeFrame(4000, 0, 1));
  std::this_thread::sleep_for(1s);
  stop = true;
  service.join();
  EXPECT_EQ(echoed.load(), 1);  // the acknowledgement, once
  EXPECT_EQ(fRelay.Stop(SIGTERM), 0) << fRelay.Output();
}

// A push that claims the relay's own address is not even acknowledged; the debug log says
// why.
TEST_F(HostileTraffic, SpoofedPushFromTheRelaysOwnAddressCostsNothing) {
  TUdpPeer controller, app;
  StartRelay({Static(1001, "127.0.0.1", controller)}, {"--debug-log"});
  const long long before = UdpOutDatagrams();
  if (!SendForgedFromRelay(MakeFrame(4000, 0, 1)))
    GTEST_SKIP() << "no raw socket to forge the relay's address with";
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(UdpOutDatagrams() - before, 0);
  EXPECT_TRUE(RoundTrip(app, controller, 1001, 7).has_value());  // the relay still relays
  EXPECT_EQ(fRelay.Stop(SIGTERM), 0) << fRelay.Output();
  std::ifstream in(RelayDebugLog(), std::ios::binary);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_NE(log.str().find("Rx 127.0.0.1:8442"), std::string::npos) << log.str();
  EXPECT_NE(log.str().find("Tx to 127.0.0.1:8442 would loop: the relay's own address"),
            std::string::npos)
      << log.str();
}

// The name server takes queries and never answers. A request for the controller named by
// host name starts a lookup that hangs; another application's round trips through a
// controller given by address go on as before meanwhile, and the relay still stops at once.
TEST_F(HostileTraffic, HangingNameLookupStallsNoOtherSender) {
  const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in dns{};
  dns.sin_family = AF_INET;
  dns.sin_port = htons(53);
  ::inet_pton(AF_INET, kResolverAddress, &dns.sin_addr);
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&dns), sizeof dns), 0);
  TUdpPeer controller, named, app, other;
  // Loading the settings tries the name once (2 s), before the relay listens.
  StartRelay({Static(1001, "127.0.0.1", controller), Static(2002, "ctl.kelvo.test", named)});

  other.SendToRelay(MakeFrame(6, 2002, 0, {0x99}));
  std::chrono::milliseconds slowest{0};
  const auto begin = std::chrono::steady_clock::now();
  for (std::uint8_t i = 0; i < 20; ++i) {
    const auto took = RoundTrip(app, controller, 1001, i);
    ASSERT_TRUE(took.has_value()) << "round trip " << int{i};
    slowest = std::max(slowest, *took);
  }
  EXPECT_LT(slowest, 500ms);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 1500ms);  // all within the lookup's 2 s
  EXPECT_FALSE(named.Receive(100ms).has_value());
  EXPECT_EQ(fRelay.Stop(SIGTERM, 10s), 0) << fRelay.Output();
  ::close(silent);
}

}  // namespace
}  // namespace kelvo::test
