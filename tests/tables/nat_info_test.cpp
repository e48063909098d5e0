#include <gtest/gtest.h>

#include <string>

#include "tables/nat_info.h"

namespace kelvo {
namespace {

TEST(IsIPv4TextTest, AcceptsFourDecimalPartsUpTo255) {
  for (const char* Text :
       {"0.0.0.0", "255.255.255.255", "192.168.1.20", "192.168.001.010", "000.0000.1.0255"}) {
    EXPECT_TRUE(IsIPv4Text(Text)) << Text;
  }
}

TEST(IsIPv4TextTest, RejectsEverythingElse) {
  for (const char* Text :
       {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "256.1.1.1", "1.2.3.4.", ".1.2.3.4", "1..2.3",
        "1.2.3.-4", "1.2.3.+4", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4a", "a.b.c.d", "0x1.2.3.4",
        "1.2.3.99999999999999999999", "localhost"}) {
    EXPECT_FALSE(IsIPv4Text(Text)) << Text;
  }
}

TEST(ResolveHostToIPTest, LocalhostInAnyCaseWithoutLookup) {
  for (const char* Host : {"LOCALHOST", "localhost", "LocalHost", "lOcAlHoSt"}) {
    EXPECT_EQ(ResolveHostToIP(Host), "127.0.0.1") << Host;
  }
}

TEST(ResolveHostToIPTest, AddressTextComesBackUnchanged) {
  EXPECT_EQ(ResolveHostToIP("192.168.001.010"), "192.168.001.010");
  EXPECT_EQ(ResolveHostToIP("10.0.0.7"), "10.0.0.7");
}

TEST(ResolveHostToIPTest, FailedLookupThrowsNamingTheHost) {
  try {
    ResolveHostToIP("no-such-host.invalid");
    FAIL() << "a name under .invalid resolved";
  } catch (const TResolveError& E) {
    EXPECT_NE(std::string(E.what()).find("no-such-host.invalid"), std::string::npos) << E.what();
  }
  // An embedded NUL must not let "localhost" (or any prefix) answer for the whole name.
  EXPECT_THROW(ResolveHostToIP(std::string("localhost\0.invalid", 18)), TResolveError);
}

TEST(TNATInfoTest, CreateFromAddressTextSetsAllFields) {
  TNATInfo Info(-5, "192.168.001.010", 65535, 60);
  EXPECT_EQ(Info.NAD(), -5);
  EXPECT_EQ(Info.NADAlias(), -5);
  EXPECT_EQ(Info.Host(), "192.168.001.010");
  EXPECT_EQ(Info.IP(), "192.168.001.010");
  EXPECT_EQ(Info.Port(), 65535);
  EXPECT_EQ(Info.Timeout(), 60);

  TNATInfo Local(1, "Localhost", 1, -1);
  EXPECT_EQ(Local.Host(), "Localhost");
  EXPECT_EQ(Local.IP(), "127.0.0.1");

  EXPECT_THROW(TNATInfo(1, "no-such-host.invalid", 1, -1), TResolveError);
}

}  // namespace
}  // namespace kelvo
