#include "diag/trace.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvo {
namespace {

TEST(TraceTest, AckSentToAControllerGivesTheDocumentedLine) {
  const std::vector<std::uint8_t> Ack = {0xAA, 0x55, 0x08, 0x00, 0x03, 0x00, 0x00, 0x00,
                                         0xE8, 0x03, 0x00, 0x00, 0x00, 0x00, 0x32, 0x17,
                                         0x04, 0x01, 0x00, 0x01, 0x92, 0xCD};
  EXPECT_EQ(
      FormatTraceLine("Tx", "10.0.0.7", 5000, Ack),
      "Tx 10.0.0.7:5000" + std::string(9, ' ') + "AA55080003000000E8030000000032170401000192CD");
}

TEST(TraceTest, PeerColumnIsAlways21Wide) {
  EXPECT_EQ(IPPortToStr("192.168.1.20", 50123), "192.168.1.20:50123   ");
  EXPECT_EQ(IPPortToStr("1.2.3.4", 0), "1.2.3.4:0            ");
  const std::vector<std::uint8_t> One = {0xAA};
  EXPECT_EQ(FormatTraceLine("Rx", "255.255.255.255", 65535, One), "Rx 255.255.255.255:65535 AA");
}

TEST(TraceTest, OverlongPeerIsNotPaddedAndIsCutInTheLine) {
  const std::string Host = "some.long.host.example";
  EXPECT_EQ(IPPortToStr(Host, 8442), Host + ":8442");
  EXPECT_EQ(FormatTraceLine("Rx", Host, 8442, {}), "Rx " + Host.substr(0, 21) + " ");
}

TEST(TraceTest, HexIsUpperCaseWithoutSeparators) {
  EXPECT_EQ(BytesToHex({}), "");
  const std::vector<std::uint8_t> Bytes = {0x00, 0x0F, 0xA0, 0xFF, 0x5C};
  EXPECT_EQ(BytesToHex(Bytes), "000FA0FF5C");
}

}  // namespace
}  // namespace kelvo
