#include "config/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "temp_config_home.h"

namespace kelvo {
namespace {

class TFakeWindow : public TSettingsWindow {
 public:
  TFakeWindow(std::int32_t ATop, std::int32_t ALeft) : fTop(ATop), fLeft(ALeft) {}
  std::int32_t RestoredTop() const override { return fTop; }
  std::int32_t RestoredLeft() const override { return fLeft; }
  void SetTop(std::int32_t ATop) override {
    fTop = ATop;
    fCalls += "T";
  }
  void SetLeft(std::int32_t ALeft) override {
    fLeft = ALeft;
    fCalls += "L";
  }
  std::int32_t fTop;
  std::int32_t fLeft;
  std::string fCalls;  // order of the Set calls
};

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fOldPlatform = SetAdapterPlatform(
        TAdapterPlatform{[] {
                           return std::optional<std::vector<TPlatformAdapter>>({
                               {"eth0", "Wired", "10.1.0.5", "255.255.0.0", "10.1.0.1"},
                               {"eth1", "Second", "192.168.7.2", "255.255.255.0", "0.0.0.0"},
                           });
                         },
                         [] { return std::string("10.1.0.5"); }});
    ASSERT_TRUE(fAdapter.GetDefault());
  }
  void TearDown() override { SetAdapterPlatform(std::move(fOldPlatform)); }

  void Add(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort) {
    fTable.Add(std::make_unique<TNATInfo>(ANAD, AHost, APort, -1));
  }
  // Writes values straight into the store, as an older run or the user would have left them.
  void Preset(const std::vector<std::pair<std::string, std::string>>& ATexts) {
    TRegistryStore Store;
    Store.OpenKey(true);
    for (const auto& [Name, Text] : ATexts) {
      Store.WriteString(Name, Text);
    }
    Store.CloseKey();
  }
  std::vector<std::string> StaticNames() {
    TRegistryStore Store;
    std::vector<std::string> Names;
    if (Store.OpenKey(false)) {
      for (int I = 0; I < 10; ++I) {
        if (Store.ValueExists("StaticList" + std::to_string(I))) {
          Names.push_back("StaticList" + std::to_string(I));
        }
      }
    }
    return Names;
  }

  TTempConfigHome fHome;
  TAdapterPlatform fOldPlatform;
  TEthernetAdapterInfo fAdapter;
  TNATInfoList fTable{-1};
  TRegistryStore fStore;
};

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

TEST_F(SettingsTest, UnwritableFolderFailsOnTheFirstValue) {
  std::filesystem::create_directories(fHome.Dir());
  std::ofstream(fHome.Dir() / "Marlowin") << "a file where the folder should be";
  try {
    SaveSettings(fStore, TFakeWindow(0, 0), fAdapter, fTable);
    ADD_FAILURE() << "saving succeeded";
  } catch (const TRegistryError& E) {
    EXPECT_STREQ(E.what(), "Failed to set data for 'EthernetAdapterID'");
  }
}

// A save that cannot be written changes nothing: the earlier list stays whole, and the error
// names the first value of the save.
TEST_F(SettingsTest, FullDiskLeavesThePreviousSettingsWhole) {
  Add(1, "127.0.0.1", 1);
  SaveSettings(fStore, TFakeWindow(7, 8), fAdapter, fTable);
  Add(2, "127.0.0.1", 2);
  fTable.Items(1)->SetHost(std::string(3000, 'h'));
  rlimit Old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Old), 0);
  const auto OldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit Small = Old;
  Small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
  std::string Error;
  try {
    SaveSettings(fStore, TFakeWindow(70, 80), fAdapter, fTable);
  } catch (const TRegistryError& E) {
    Error = E.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &Old);
  ::signal(SIGXFSZ, OldHandler);
  EXPECT_EQ(Error, "Failed to set data for 'EthernetAdapterID'");
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadInteger("Left"), 8);
  EXPECT_EQ(Store.ReadString("StaticList0"), "1,127.0.0.1,1");
  EXPECT_FALSE(Store.ValueExists("StaticList1"));
}

}  // namespace
}  // namespace kelvo
