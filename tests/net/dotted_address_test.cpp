#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "net/ethernet_utils.h"
#include "net/host_lookup.h"
#include "net/loopback_peer.h"
#include "net/udp_endpoint.h"
#include "tables/nat_info.h"

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
  // Every octet value in every position, against printf's formatting.
  for (std::uint32_t Octet = 0; Octet < 256; ++Octet) {
    for (int Shift = 0; Shift < 32; Shift += 8) {
      const std::uint32_t Value = (Octet << Shift) | (0x01020304u & ~(0xFFu << Shift));
      char Expected[16];
      std::snprintf(Expected, sizeof Expected, "%u.%u.%u.%u", Value >> 24, (Value >> 16) & 0xFF,
                    (Value >> 8) & 0xFF, Value & 0xFF);
      EXPECT_EQ(IntToIPAddress(Value), Expected);
    }
  }
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

TEST(ParseDottedIPv4, ReadsEveryPartAsDecimal) {
  const std::vector<std::pair<const char*, std::uint32_t>> Cases = {
      {"192.168.001.010", 0xC0A8010Au},
      {"010.0.0.8", 0x0A000008u},
      {"0.0.0.0", 0u},
      {"255.255.255.255", 0xFFFFFFFFu},
      {"1.2.3.0004", 0x01020304u},
      {"000000127.0.0.1", 0x7F000001u},
  };
  for (const auto& [Text, Value] : Cases) {
    EXPECT_EQ(ParseDottedIPv4(Text), std::optional<std::uint32_t>(Value)) << Text;
  }
}

// Held against a plain reference on random texts: split at dots, four non-empty all-digit
// parts, each at most 255 once its leading zeros are gone. The text-to-address steps that
// pass a text on unchanged (IsIPv4Text) must accept exactly what the parser reads.
TEST(ParseDottedIPv4, AgreesWithAReferenceAndWithIsIPv4Text) {
  auto Reference = [](const std::string& AText) -> std::optional<std::uint32_t> {
    std::vector<std::string> Parts(1);
    for (const char C : AText) {
      if (C == '.') {
        Parts.emplace_back();
      } else {
        Parts.back() += C;
      }
    }
    if (Parts.size() != 4) {
      return std::nullopt;
    }
    std::uint32_t Result = 0;
    for (std::string Part : Parts) {
      if (Part.empty() || Part.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
      }
      Part.erase(0, std::min(Part.find_first_not_of('0'), Part.size() - 1));
      if (Part.size() > 3 || std::stoi(Part) > 255) {
        return std::nullopt;
      }
      Result = Result * 256 + static_cast<std::uint32_t>(std::stoi(Part));
    }
    return Result;
  };
  // Dotted texts of random digit runs, then up to two random edits: most stay near the border
  // between accepted and refused.
  std::mt19937 Random(7);
  const std::string Digits = "00125569";
  const std::string Alphabet = Digits + ". a-";
  auto Below = [&Random](std::size_t AEnd) {
    return std::uniform_int_distribution<std::size_t>(0, AEnd - 1)(Random);
  };
  int Valid = 0;
  constexpr int kTexts = 100000;
  for (int I = 0; I < kTexts; ++I) {
    std::string Text;
    for (int Part = 0; Part < 4; ++Part) {
      Text += Part > 0 ? "." : "";
      for (std::size_t L = 1 + Below(4); L > 0; --L) {
        Text += Digits[Below(Digits.size())];
      }
    }
    for (std::size_t Edits = Below(3); Edits > 0; --Edits) {
      const std::size_t At = Below(Text.size() + 1);
      const char Char = Alphabet[Below(Alphabet.size())];
      switch (Below(3)) {
        case 0:
          Text.insert(At, 1, Char);
          break;
        case 1:
          Text.erase(std::min(At, Text.size() - 1), 1);
          break;
        default:
          Text[std::min(At, Text.size() - 1)] = Char;
      }
      if (Text.empty()) {
        break;
      }
    }
    const auto Parsed = ParseDottedIPv4(Text);
    ASSERT_EQ(Parsed, Reference(Text)) << '"' << Text << '"';
    ASSERT_EQ(Parsed.has_value(), IsIPv4Text(Text)) << '"' << Text << '"';
    Valid += Parsed ? 1 : 0;
  }
  // Both sides of the border are reached often.
  EXPECT_GT(Valid, kTexts / 10);
  EXPECT_LT(Valid, kTexts * 9 / 10);
}

// Where a typed address with leading zeros becomes a socket address: the host lookup and a
// send over loopback.
TEST(ParseDottedIPv4, LeadingZerosReachTheRightHost) {
  EXPECT_EQ(LookupHostIPv4("127.000.000.010"), "127.0.0.10");

  test::TLoopbackPeer Receiver;
  TUDPEndpoint Endpoint;
  Endpoint.AddBinding("127.000.000.001", 0);
  Endpoint.Open();
  EXPECT_EQ(Endpoint.BoundAddress(), "127.0.0.1");
  const std::vector<std::uint8_t> Payload{1, 2, 3};
  Endpoint.SendDatagram("127.000.000.001", Receiver.Port(), Payload);
  const auto Got = Receiver.Receive(std::chrono::seconds(3));
  ASSERT_TRUE(Got.has_value());
  EXPECT_EQ(Got->Data, Payload);
  EXPECT_EQ(Got->Port, Endpoint.BoundPort());
  Endpoint.Close();
}

}  // namespace
}  // namespace kelvo
