#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "net/ethernet_utils.h"

namespace kelvo {
namespace {

// Replaces the process-wide adapter platform for one test with adapters the test controls.
class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fPrevious = SetAdapterPlatform({[this]() -> std::optional<std::vector<TPlatformAdapter>> {
                                      ++fEnumerations;
                                      if (fEnumerationFails) {
                                        return std::nullopt;
                                      }
                                      return fAdapters;
                                    },
                                    [this] {
                                      if (fLocalFails) {
                                        throw std::runtime_error("host name not resolvable");
                                      }
                                      return fLocalIP;
                                    }});
  }
  void TearDown() override { SetAdapterPlatform(fPrevious); }

  void UseTwoAdapters() {
    fAdapters = {
        {"eth0", "eth0 (Ethernet)", "192.168.1.100", "255.255.255.0", "192.168.1.1"},
        {"wlan0", "wlan0 (Wireless)", "10.1.2.3", "255.0.0.0", "0.0.0.0"},
    };
  }

  static void ExpectEmpty(const TEthernetAdapterInfo& AInfo) {
    EXPECT_EQ(AInfo.IPAddress(), "");
    EXPECT_EQ(AInfo.SubnetMask(), "");
    EXPECT_EQ(AInfo.BroadcastAddress(), "");
    EXPECT_EQ(AInfo.Gateway(), "");
    EXPECT_EQ(AInfo.DescName(), "");
    EXPECT_EQ(AInfo.ID(), "");
  }

  std::vector<TPlatformAdapter> fAdapters;
  std::string fLocalIP;
  bool fEnumerationFails = false;
  bool fLocalFails = false;
  int fEnumerations = 0;
  TAdapterPlatform fPrevious;
};

TEST_F(AdapterTest, GetDefaultFillsTheRecordFromTheAdapterWithTheLocalAddress) {
  UseTwoAdapters();
  fLocalIP = "10.1.2.3";
  TEthernetAdapterInfo Info;
  ASSERT_TRUE(Info.GetDefault());
  EXPECT_EQ(Info.IPAddress(), "10.1.2.3");
  EXPECT_EQ(Info.SubnetMask(), "255.0.0.0");
  EXPECT_EQ(Info.BroadcastAddress(), "10.255.255.255");
  EXPECT_EQ(Info.Gateway(), "0.0.0.0");
  EXPECT_EQ(Info.DescName(), "wlan0 (Wireless)");
  EXPECT_EQ(Info.ID(), "wlan0");
}

TEST_F(AdapterTest, GetDefaultFailureEmptiesEveryField) {
  UseTwoAdapters();
  struct TCase {
    const char* Name;
    std::string LocalIP;
    std::string FirstMask;
    bool EnumerationFails;
  };
  const TCase Cases[] = {
      {"no local address", "", "255.255.255.0", false},
      {"local address is no adapter's first address", "192.168.7.7", "255.255.255.0", false},
      {"invalid local address text", "not-an-ip", "255.255.255.0", false},
      {"adapter mask invalid", "192.168.1.100", "", false},
      {"enumeration fails", "192.168.1.100", "255.255.255.0", true},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    fLocalIP = "192.168.1.100";
    fEnumerationFails = false;
    fAdapters[0].IpMask = "255.255.255.0";
    TEthernetAdapterInfo Info;
    ASSERT_TRUE(Info.SetByID("eth0"));  // start from a filled record
    fLocalIP = C.LocalIP;
    fAdapters[0].IpMask = C.FirstMask;
    fEnumerationFails = C.EnumerationFails;
    EXPECT_FALSE(Info.GetDefault());
    ExpectEmpty(Info);
  }
}

TEST_F(AdapterTest, GetDefaultPassesOnALocalAddressFailure) {
  UseTwoAdapters();
  fLocalFails = true;
  TEthernetAdapterInfo Info;
  EXPECT_THROW(Info.GetDefault(), std::runtime_error);
}

TEST_F(AdapterTest, FindAdapterByIPTakesTheFirstOfTwoWithTheSameAddress) {
  fAdapters = {
      {"eth0", "first", "192.168.1.5", "255.255.255.0", "192.168.1.1"},
      {"eth1", "second", "192.168.1.5", "255.255.0.0", "192.168.0.1"},
  };
  std::string Mask, ID, Desc, Gateway;
  ASSERT_TRUE(FindAdapterByIP("192.168.1.5", Mask, ID, Desc, Gateway));
  EXPECT_EQ(ID, "eth0");
  EXPECT_EQ(Mask, "255.255.255.0");
  EXPECT_EQ(Desc, "first");
  EXPECT_EQ(Gateway, "192.168.1.1");
}

TEST_F(AdapterTest, LookupsThatFindNothingLeaveTheOutputsAlone) {
  UseTwoAdapters();
  std::string A = "a", B = "b", C = "c", D = "d";
  EXPECT_FALSE(FindAdapterByIP("192.168.1.10", A, B, C, D));
  EXPECT_FALSE(FindAdapterByID("ETH0", A, B, C, D));
  EXPECT_FALSE(FindAdapterByID("", A, B, C, D));
  fEnumerationFails = true;
  EXPECT_FALSE(FindAdapterByID("eth0", A, B, C, D));
  EXPECT_EQ(A + B + C + D, "abcd");
}

TEST_F(AdapterTest, SetByIDFillsTheRecordWithoutValidityChecks) {
  UseTwoAdapters();
  fAdapters.push_back({"tun0", "tun0 (Tunnel)", "0.0.0.0", "0.0.0.0", "0.0.0.0"});
  TEthernetAdapterInfo Info;
  ASSERT_TRUE(Info.SetByID("eth0"));
  EXPECT_EQ(Info.IPAddress(), "192.168.1.100");
  EXPECT_EQ(Info.SubnetMask(), "255.255.255.0");
  EXPECT_EQ(Info.BroadcastAddress(), "192.168.1.255");
  EXPECT_EQ(Info.Gateway(), "192.168.1.1");
  EXPECT_EQ(Info.DescName(), "eth0 (Ethernet)");
  EXPECT_EQ(Info.ID(), "eth0");

  ASSERT_TRUE(Info.SetByID("tun0"));  // an adapter without an address is still accepted
  EXPECT_EQ(Info.IPAddress(), "0.0.0.0");
  EXPECT_EQ(Info.BroadcastAddress(), "255.255.255.255");
  EXPECT_EQ(Info.ID(), "tun0");
}

TEST_F(AdapterTest, SetByIDKeepsTheRecordWhenNotFound) {
  UseTwoAdapters();
  TEthernetAdapterInfo Info;
  ASSERT_TRUE(Info.SetByID("eth0"));
  for (const char* Missing : {"ETH0", "Eth0", "", "eth", "eth0 "}) {
    SCOPED_TRACE(Missing);
    EXPECT_FALSE(Info.SetByID(Missing));
    EXPECT_EQ(Info.ID(), "eth0");
    EXPECT_EQ(Info.IPAddress(), "192.168.1.100");
    EXPECT_EQ(Info.SubnetMask(), "255.255.255.0");
    EXPECT_EQ(Info.BroadcastAddress(), "192.168.1.255");
    EXPECT_EQ(Info.Gateway(), "192.168.1.1");
    EXPECT_EQ(Info.DescName(), "eth0 (Ethernet)");
  }
}

TEST_F(AdapterTest, EveryLookupEnumeratesAfresh) {
  UseTwoAdapters();
  TEthernetAdapterInfo Info;
  ASSERT_TRUE(Info.SetByID("wlan0"));
  fAdapters[1].IpAddress = "10.9.9.9";
  ASSERT_TRUE(Info.SetByID("wlan0"));
  EXPECT_EQ(Info.IPAddress(), "10.9.9.9");
  fAdapters.pop_back();
  EXPECT_FALSE(Info.SetByID("wlan0"));
  EXPECT_EQ(fEnumerations, 3);
}

TEST_F(AdapterTest, ListRefreshKeepsPlatformOrderAndLeavesGatewaysEmpty) {
  UseTwoAdapters();
  fAdapters.push_back({"dummy0", "dummy0 (Network)", "0.0.0.0", "0.0.0.0", "0.0.0.0"});
  TEthernetAdapterInfoList List;
  List.Refresh();
  ASSERT_EQ(List.Count(), 3);
  EXPECT_EQ(List.Items(0)->ID(), "eth0");
  EXPECT_EQ(List.Items(1)->ID(), "wlan0");
  EXPECT_EQ(List.Items(2)->ID(), "dummy0");
  EXPECT_EQ(List.Items(0)->BroadcastAddress(), "192.168.1.255");
  EXPECT_EQ(List.Items(2)->BroadcastAddress(), "255.255.255.255");
  for (int I = 0; I < 3; ++I) {
    EXPECT_EQ(List.Items(I)->Gateway(), "");
  }

  std::vector<std::string> Lines = {"kept"};
  List.WriteToCombo(Lines);
  EXPECT_EQ(Lines, (std::vector<std::string>{"kept", "eth0 (Ethernet) (192.168.1.100)",
                                             "wlan0 (Wireless) (10.1.2.3)",
                                             "dummy0 (Network) (0.0.0.0)"}));

  // A refresh rebuilds rather than appends; a failing one leaves the list empty.
  List.Refresh();
  EXPECT_EQ(List.Count(), 3);
  fEnumerationFails = true;
  List.Refresh();
  EXPECT_EQ(List.Count(), 0);
}

TEST_F(AdapterTest, ListLookupsAndBounds) {
  UseTwoAdapters();
  TEthernetAdapterInfoList List;
  List.Refresh();
  List.Add("eth0", "duplicate", "1.1.1.1", "255.255.255.255");
  EXPECT_EQ(List.IndexOf("wlan0"), 1);
  EXPECT_EQ(List.IndexOf("eth0"), 0);  // the first of two with the same ID
  EXPECT_EQ(List.IndexOf("WLAN0"), -1);
  EXPECT_EQ(List.IndexOf(""), -1);
  EXPECT_EQ(List.IndexOf(TEthernetAdapterInfo("wlan0", "", "", "")), 1);
  ASSERT_NE(List.GetByID("eth0"), nullptr);
  EXPECT_EQ(List.GetByID("eth0")->DescName(), "eth0 (Ethernet)");
  EXPECT_EQ(List.GetByID("missing"), nullptr);

  EXPECT_EQ(List.Items(-1), nullptr);
  EXPECT_EQ(List.Items(List.Count()), nullptr);
  List.Delete(-1);
  List.Delete(3);
  EXPECT_EQ(List.Count(), 3);
  List.Delete(1);
  ASSERT_EQ(List.Count(), 2);
  EXPECT_EQ(List.Items(1)->DescName(), "duplicate");
  List.Clear();
  EXPECT_EQ(List.Count(), 0);
  EXPECT_EQ(List.Items(0), nullptr);
}

TEST_F(AdapterTest, NoAdaptersAtAll) {
  TEthernetAdapterInfoList List;
  List.Refresh();
  EXPECT_EQ(List.Count(), 0);
  std::vector<std::string> Lines;
  List.WriteToCombo(Lines);
  EXPECT_TRUE(Lines.empty());
  EXPECT_EQ(List.IndexOf("eth0"), -1);
  fLocalIP = "192.168.1.100";
  TEthernetAdapterInfo Info;
  EXPECT_FALSE(Info.GetDefault());
  ExpectEmpty(Info);
}

}  // namespace
}  // namespace kelvo
