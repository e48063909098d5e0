#include "config/settings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "settings_fixture.h"

namespace kelvo {
namespace {

TEST_F(SettingsTest, FirstStartKeepsDefaultsAndSavingCreatesTheKey) {
  TFakeWindow Window(33, 44);
  LoadSettings(fStore, Window, fAdapter, fTable);
  EXPECT_EQ(Window.fCalls, "");
  EXPECT_EQ(fAdapter.ID(), "eth0");
  EXPECT_EQ(fTable.Count(), 0);

  SaveSettings(fStore, Window, fAdapter, fTable);
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("EthernetAdapterID"), "eth0");
  EXPECT_EQ(Store.ReadInteger("Top"), 33);
  EXPECT_EQ(Store.ReadInteger("Left"), 44);
  EXPECT_TRUE(StaticNames().empty());
}

TEST_F(SettingsTest, EverySettingSurvivesSaveAndLoad) {
  ASSERT_TRUE(fAdapter.SetByID("eth1"));
  Add(1001, "192.168.1.20", 8442);
  Add(-5, "localhost", 1);
  Add(INT32_MIN, "127.0.0.1", 65535);
  SaveSettings(fStore, TFakeWindow(120, -30), fAdapter, fTable);
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    EXPECT_EQ(Store.ReadString("StaticList0"), "1001,192.168.1.20,8442");
    EXPECT_EQ(Store.ReadString("StaticList1"), "-5,localhost,1");
  }

  TFakeWindow Window(0, 0);
  TEthernetAdapterInfo Adapter;
  ASSERT_TRUE(Adapter.GetDefault());
  TNATInfoList Table(-1);
  LoadSettings(fStore, Window, Adapter, Table);
  EXPECT_EQ(Window.fCalls, "TL");
  EXPECT_EQ(Window.fTop, 120);
  EXPECT_EQ(Window.fLeft, -30);
  EXPECT_EQ(Adapter.ID(), "eth1");
  EXPECT_EQ(Adapter.IPAddress(), "192.168.7.2");
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

TEST_F(SettingsTest, ShrunkListLeavesNoStaleItemsButAGapProtectsLaterOnes) {
  for (int I = 0; I < 5; ++I) {
    Add(I, "127.0.0.1", 100);
  }
  SaveSettings(fStore, TFakeWindow(0, 0), fAdapter, fTable);
  fTable.Clear();
  Add(1, "127.0.0.1", 1);
  Add(2, "127.0.0.1", 2);
  SaveSettings(fStore, TFakeWindow(0, 0), fAdapter, fTable);
  EXPECT_EQ(StaticNames(), (std::vector<std::string>{"StaticList0", "StaticList1"}));

  // A gap ends the list: StaticList2 behind a missing StaticList1 is neither loaded nor deleted.
  Preset({{"StaticList2", "9,127.0.0.1,9"}});
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    ASSERT_TRUE(Store.DeleteValue("StaticList1"));
    Store.CloseKey();
  }
  TNATInfoList Loaded(-1);
  TFakeWindow Window(0, 0);
  LoadSettings(fStore, Window, fAdapter, Loaded);
  ASSERT_EQ(Loaded.Count(), 1);
  EXPECT_EQ(Loaded.Items(0)->NAD(), 1);
  SaveSettings(fStore, Window, fAdapter, Loaded);
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
  TFakeWindow Window(0, 0);
  LoadSettings(fStore, Window, fAdapter, fTable);
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
  SaveSettings(fStore, Window, fAdapter, fTable);
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("StaticList0"), "9,no-such-host.invalid,1");
  EXPECT_EQ(Store.ReadString("StaticList3"), "8,\"bad\x01host.invalid\",2");
}

TEST_F(SettingsTest, UnknownOrEmptyAdapterFallsBackToTheDefault) {
  for (const std::string Id : {"wlan9", ""}) {
    ASSERT_TRUE(fAdapter.SetByID("eth1"));
    Preset({{"EthernetAdapterID", Id}});
    TFakeWindow Window(0, 0);
    LoadSettings(fStore, Window, fAdapter, fTable);
    EXPECT_EQ(fAdapter.ID(), "eth0") << Id;
  }
}

TEST_F(SettingsTest, WrongValueTypeStopsLoadingAfterWhatWasRead) {
  Preset({{"Top", "12"}, {"StaticList0", "1,127.0.0.1,1"}});
  TFakeWindow Window(5, 6);
  EXPECT_THROW(LoadSettings(fStore, Window, fAdapter, fTable), TRegistryError);
  EXPECT_EQ(Window.fCalls, "");
  EXPECT_EQ(fTable.Count(), 0);

  {
    TRegistryStore Store;
    Store.OpenKey(true);
    Store.WriteInteger("Top", 12);
    Store.WriteString("EthernetAdapterID", "eth1");
    Store.WriteInteger("StaticList1", 2);
    Store.CloseKey();
  }
  EXPECT_THROW(LoadSettings(fStore, Window, fAdapter, fTable), TRegistryError);
  EXPECT_EQ(Window.fTop, 12);
  EXPECT_EQ(fAdapter.ID(), "eth1");
  ASSERT_EQ(fTable.Count(), 1);
  EXPECT_FALSE(fStore.ValueExists("Top"));  // the key was closed on the way out
}

}  // namespace
}  // namespace kelvo
