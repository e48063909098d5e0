#include <gtest/gtest.h>

#include <string>

#include "net/ethernet_utils.h"

namespace kelvo {
namespace {

TEST(IsValidIPAddress, AcceptsDottedQuadsIncludingLeadingZeros) {
  for (const char* Text :
       {"1.2.3.4", "001.002.003.004", "0.0.0.0", "255.255.255.255", "192.168.1.100"}) {
    EXPECT_TRUE(IsValidIPAddress(Text)) << Text;
  }
}

TEST(IsValidIPAddress, RejectsMalformedText) {
  for (const char* Text : {"10.20.30", ".1.2.3.4", "1.2.3.4.", "1..2.3.4", "256.1.1.1",
                           "1.2.3.0004", "1.2.3.4a", "1.2.3", "", "1.2.3.", "1.2.3.4 ", " 1.2.3.4",
                           "1.2.3.-4", "1.2.300.4", "1234.1.1.1", "localhost", "a.b.c.d"}) {
    EXPECT_FALSE(IsValidIPAddress(Text)) << Text;
  }
}

TEST(IsValidIPAddress, LengthLimitsAreSevenToFifteen) {
  EXPECT_TRUE(IsValidIPAddress("1.2.3.4"));            // 7
  EXPECT_TRUE(IsValidIPAddress("100.100.100.100"));    // 15
  EXPECT_TRUE(IsValidIPAddress("1.2.3.4.5.6.7.8"));    // 15, well formed apart from its length
  EXPECT_FALSE(IsValidIPAddress("1.2.3.4.5.6.7.89"));  // 16, same shape
  EXPECT_FALSE(IsValidIPAddress("1.2.3.4.5.6.7.8.9.10"));
}

TEST(IsValidIPAddress, MoreThanThreeDotsPassesButDoesNotConvert) {
  EXPECT_TRUE(IsValidIPAddress("1.2.3.4.5"));
  EXPECT_EQ(IPAddressToInt("1.2.3.4.5"), 0u);
  EXPECT_EQ(CalcBroadcastAddress("1.2.3.4.5", "255.255.255.0"), "0.0.0.255");
}

TEST(IPAddressToInt, FirstGroupIsTheTopByte) {
  EXPECT_EQ(IPAddressToInt("192.168.1.100"), 0xC0A80164u);
  EXPECT_EQ(IPAddressToInt("001.002.003.004"), 0x01020304u);
  EXPECT_EQ(IPAddressToInt("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(IPAddressToInt("0.0.0.1"), 1u);
}

TEST(IPAddressToInt, InvalidTextIsZero) {
  EXPECT_EQ(IPAddressToInt("10.20.30"), 0u);
  EXPECT_EQ(IPAddressToInt("abc"), 0u);
  EXPECT_EQ(IPAddressToInt("256.1.1.1"), 0u);
  EXPECT_EQ(IPAddressToInt(""), 0u);
}

TEST(IntToIPAddress, TopByteFirstWithoutLeadingZeros) {
  EXPECT_EQ(IntToIPAddress(0xC0A80164u), "192.168.1.100");
  EXPECT_EQ(IntToIPAddress(0x0A000001u), "10.0.0.1");
  EXPECT_EQ(IntToIPAddress(0u), "0.0.0.0");
  EXPECT_EQ(IntToIPAddress(0xFFFFFFFFu), "255.255.255.255");
  EXPECT_EQ(IntToIPAddress(IPAddressToInt("001.020.003.100")), "1.20.3.100");
}

TEST(CalcBroadcastAddress, HostBitsSetUnderTheMask) {
  EXPECT_EQ(CalcBroadcastAddress("192.168.1.100", "255.255.255.0"), "192.168.1.255");
  EXPECT_EQ(CalcBroadcastAddress("10.1.2.3", "255.0.0.0"), "10.255.255.255");
  EXPECT_EQ(CalcBroadcastAddress("172.16.5.4", "255.255.240.0"), "172.16.15.255");
  EXPECT_EQ(CalcBroadcastAddress("10.1.2.3", "0.0.0.0"), "255.255.255.255");
  EXPECT_EQ(CalcBroadcastAddress("192.168.1.100", "0.0.0.0"), "255.255.255.255");
  EXPECT_EQ(CalcBroadcastAddress("192.168.1.100", "255.255.255.255"), "192.168.1.100");
}

TEST(CalcBroadcastAddress, UnconvertibleTextCountsAsZero) {
  EXPECT_EQ(CalcBroadcastAddress("abc", "255.255.255.0"), "0.0.0.255");
  EXPECT_EQ(CalcBroadcastAddress("10.20.30", "255.255.255.0"), "0.0.0.255");
  EXPECT_EQ(CalcBroadcastAddress("10.1.2.3", "garbage"), "255.255.255.255");
  EXPECT_EQ(CalcBroadcastAddress("", ""), "255.255.255.255");
}

}  // namespace
}  // namespace kelvo
