// The Linux adapter enumeration: the live system's loopback, and gateways from the route table.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "net/adapters_linux.h"
#include "net/ethernet_utils.h"

namespace kelvo {
namespace {

TEST(SystemAdapters, LoopbackIsListedOnceWithItsAddress) {
  const auto Adapters = SystemAdapterPlatform().Enumerate();
  ASSERT_TRUE(Adapters.has_value());
  std::set<std::string> Names;
  const TPlatformAdapter* Loopback = nullptr;
  for (const TPlatformAdapter& A : *Adapters) {
    EXPECT_TRUE(Names.insert(A.AdapterName).second) << "listed twice: " << A.AdapterName;
    EXPECT_TRUE(IsValidIPAddress(A.IpAddress)) << A.AdapterName << " " << A.IpAddress;
    EXPECT_TRUE(IsValidIPAddress(A.IpMask)) << A.AdapterName << " " << A.IpMask;
    EXPECT_TRUE(IsValidIPAddress(A.Gateway)) << A.AdapterName << " " << A.Gateway;
    if (A.AdapterName == "lo") {
      Loopback = &A;
    }
  }
  ASSERT_NE(Loopback, nullptr);
  EXPECT_EQ(Loopback->IpAddress, "127.0.0.1");
  EXPECT_EQ(Loopback->IpMask, "255.0.0.0");
  EXPECT_EQ(Loopback->Description, "lo (Loopback)");
  EXPECT_EQ(Loopback->Gateway, "0.0.0.0");
}

TEST(SystemAdapters, DefaultGatewayFromTheRouteTable) {
  const std::string Table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
      "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
      "eth0\t00000000\t FE0200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
      "eth1\t000010AC\t010010AC\t0003\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
      "eth1\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
      "broken line\n"
      "eth2\t00000000\tXYZ\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
      "eth2\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
  using linux_adapters::FirstDefaultGateway;
  EXPECT_EQ(FirstDefaultGateway(Table, "eth0"), "192.0.2.1");    // the first of two
  EXPECT_EQ(FirstDefaultGateway(Table, "eth1"), "0.0.0.0");      // no default via a gateway
  EXPECT_EQ(FirstDefaultGateway(Table, "eth2"), "192.168.1.1");  // a malformed row is skipped
  EXPECT_EQ(FirstDefaultGateway(Table, "lo"), "0.0.0.0");
  EXPECT_EQ(FirstDefaultGateway("", "eth0"), "0.0.0.0");
}

}  // namespace
}  // namespace kelvo
