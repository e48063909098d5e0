#include "config/settings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "settings_fixture.h"

namespace kelvo {
namespace {

TEST_F(SettingsTest, FirstStartFindsNothingAndSavingCreatesTheKey) {
  TNATInfoList Loaded(-1);
  const TStoredSettings Found = Load(Loaded);
  EXPECT_FALSE(Found.Top || Found.Left || Found.EthernetAdapterID);
  EXPECT_EQ(Loaded.Count(), 0);

  SaveSettings(fStore, Values("eth0", 33, 44));
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("EthernetAdapterID"), "eth0");
  EXPECT_EQ(Store.ReadInteger("Top"), 33);
  EXPECT_EQ(Store.ReadInteger("Left"), 44);
  EXPECT_TRUE(StaticNames().empty());
}

TEST_F(SettingsTest, EverySettingSurvivesSaveAndLoad) {
  Add(1001, "192.168.1.20", 8442);
  Add(-5, "localhost", 1);
  Add(INT32_MIN, "127.0.0.1", 65535);
  SaveSettings(fStore, Values("eth1", 120, -30));
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    EXPECT_EQ(Store.ReadString("StaticList0"), "1001,192.168.1.20,8442");
    EXPECT_EQ(Store.ReadString("StaticList1"), "-5,localhost,1");
  }

  TNATInfoList Table(-1);
  const TStoredSettings Found = Load(Table);
  EXPECT_EQ(Found.Top, 120);
  EXPECT_EQ(Found.Left, -30);
  EXPECT_EQ(Found.EthernetAdapterID, "eth1");
  ASSERT_EQ(Table.Count(), 3);
  const std::vector<std::tuple<std::int32_t, std::string, std::string, std::uint16_t>> Expected = {
      {1001, "192.168.1.20", "192.168.1.20", 8442},
      {-5, "localhost", "127.0.0.1", 1},
      {INT32_MIN, "127.0.0.1", "127.0.0.1", 65535}};
  for (int I = 0; I < 3; ++I) {
    const TNATInfo* E = Table.Items(I);
    const auto& [NAD, Host, IP, Port] = Expected[static_cast<std::size_t>(I)];
    EXPECT_EQ(E->NAD(), NAD);
    EXPECT_EQ(E->NADAlias(), NAD);
    EXPECT_EQ(E->Host(), Host);
    EXPECT_EQ(E->IP(), IP);
    EXPECT_EQ(E->Port(), Port);
    EXPECT_EQ(E->Timeout(), -1);
  }
}

// A relay without a window saves no position: the stored one stays as it is.
TEST_F(SettingsTest, AnUnsetPositionLeavesTheStoredOne) {
  SaveSettings(fStore, Values("eth0", 5, 6));
  SaveSettings(fStore, Values("eth1", std::nullopt, std::nullopt));
  TNATInfoList Table(-1);
  const TStoredSettings Found = Load(Table);
  EXPECT_EQ(Found.Top, 5);
  EXPECT_EQ(Found.Left, 6);
  EXPECT_EQ(Found.EthernetAdapterID, "eth1");
}

TEST_F(SettingsTest, ShrunkListLeavesNoStaleItemsButAGapProtectsLaterOnes) {
  for (int I = 0; I < 5; ++I) {
    Add(I, "127.0.0.1", 100);
  }
  SaveSettings(fStore, Values("eth0", 0, 0));
  fTable.Clear();
  Add(1, "127.0.0.1", 1);
  Add(2, "127.0.0.1", 2);
  SaveSettings(fStore, Values("eth0", 0, 0));
  EXPECT_EQ(StaticNames(), (std::vector<std::string>{"StaticList0", "StaticList1"}));

  // A gap ends the list: StaticList2 behind a missing StaticList1 is neither loaded nor deleted.
  Preset({{"StaticList2", "9,127.0.0.1,9"}});
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    ASSERT_TRUE(Store.DeleteValue("StaticList1"));
    Store.CloseKey();
  }
  fTable.Clear();
  Load(fTable);
  ASSERT_EQ(fTable.Count(), 1);
  EXPECT_EQ(fTable.Items(0)->NAD(), 1);
  SaveSettings(fStore, Values("eth0", 0, 0));
  EXPECT_EQ(StaticNames(), (std::vector<std::string>{"StaticList0", "StaticList2"}));
}

// Malformed items are skipped; an item whose host does not resolve yet is kept with an empty
// IP, so the next save writes it back unchanged.
TEST_F(SettingsTest, MalformedItemsAreSkippedAndUnresolvedHostsKept) {
  Preset({{"StaticList0", "1,127.0.0.1"},
          {"StaticList1", "1,127.0.0.1,2,3"},
          {"StaticList2", "x,127.0.0.1,1"},
          {"StaticList3", "1,127.0.0.1,p"},
          {"StaticList4", "9,no-such-host.invalid,1"},
          {"StaticList5", "3,127.0.0.1,70000"},
          {"StaticList6", "  4 \"127.0.0.2\" -1"},
          {"StaticList7", ""},
          {"StaticList8", "8,\"bad\x01host.invalid\",2"}});
  Load(fTable);
  const std::vector<std::tuple<std::int32_t, std::string, std::string, std::uint16_t>> Expected = {
      {9, "no-such-host.invalid", "", 1},
      {3, "127.0.0.1", "127.0.0.1", 4464},  // low 16 bits of 70000
      {4, "127.0.0.2", "127.0.0.2", 65535},
      {8, "bad\x01host.invalid", "", 2}};
  ASSERT_EQ(fTable.Count(), static_cast<int>(Expected.size()));
  for (int I = 0; I < fTable.Count(); ++I) {
    const auto& [NAD, Host, IP, Port] = Expected[static_cast<std::size_t>(I)];
    const TNATInfo* E = fTable.Items(I);
    EXPECT_EQ(std::tuple(E->NAD(), E->NADAlias(), E->Host(), E->IP(), E->Port(), E->Timeout()),
              std::tuple(NAD, NAD, Host, IP, Port, -1))
        << I;
  }
  SaveSettings(fStore, Values("eth0", 0, 0));
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("StaticList0"), "9,no-such-host.invalid,1");
  EXPECT_EQ(Store.ReadString("StaticList3"), "8,\"bad\x01host.invalid\",2");
}

// A value of the wrong type stops loading there; what was read before it stays. A position
// that cannot be read is only left unset: it is not worth a relay that does not start.
TEST_F(SettingsTest, WrongValueTypeStopsLoadingAfterWhatWasRead) {
  Preset({{"Top", "12"},
          {"Left", "x"},
          {"EthernetAdapterID", "eth1"},
          {"StaticList0", "1,127.0.0.1,1"}});
  TNATInfoList Table(-1);
  TStoredSettings Found;
  EXPECT_NO_THROW(Found = Load(Table));
  EXPECT_FALSE(Found.Top || Found.Left);
  EXPECT_EQ(Found.EthernetAdapterID, "eth1");
  EXPECT_EQ(Table.Count(), 1);

  {
    TRegistryStore Store;
    Store.OpenKey(true);
    Store.WriteInteger("Top", 12);
    Store.WriteInteger("StaticList1", 2);
    Store.CloseKey();
  }
  TStoredSettings Partial;
  EXPECT_THROW(LoadSettings(fStore, Partial), TRegistryError);
  EXPECT_EQ(Partial.Top, 12);
  EXPECT_EQ(Partial.EthernetAdapterID, "eth1");
  EXPECT_EQ(Partial.StaticList, std::vector<std::string>{"1,127.0.0.1,1"});
  EXPECT_FALSE(fStore.ValueExists("Top"));  // the key was closed on the way out

  Preset({{"EthernetAdapterID", "eth1"}});
  {
    TRegistryStore Store;
    Store.OpenKey(true);
    Store.WriteInteger("EthernetAdapterID", 3);
    Store.CloseKey();
  }
  TStoredSettings Stopped;
  EXPECT_THROW(LoadSettings(fStore, Stopped), TRegistryError);
  EXPECT_EQ(Stopped.Top, 12);
  EXPECT_TRUE(Stopped.StaticList.empty());
}

}  // namespace
}  // namespace kelvo
