// Saving to the .reg file of platforms without a registry: a folder that cannot be made, a
// disk that is full.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "settings_fixture.h"

namespace kelvo {
namespace {

TEST_F(SettingsTest, UnwritableFolderFailsOnTheFirstValue) {
  std::filesystem::create_directories(fHome.Dir());
  std::ofstream(fHome.Dir() / "Marlowin") << "a file where the folder should be";
  try {
    SaveSettings(fStore, Values("eth0", 0, 0));
    ADD_FAILURE() << "saving succeeded";
  } catch (const TRegistryError& E) {
    EXPECT_STREQ(E.what(), "Failed to set data for 'EthernetAdapterID'");
  }
}

// A save that cannot be written changes nothing: the earlier list stays whole, and the error
// names the first value of the save.
TEST_F(SettingsTest, FullDiskLeavesThePreviousSettingsWhole) {
  Add(1, "127.0.0.1", 1);
  SaveSettings(fStore, Values("eth0", 7, 8));
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
    SaveSettings(fStore, Values("eth0", 70, 80));
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

// The text shown stays the one above; behind it the error keeps the step that failed and the
// system's reason.
TEST_F(SettingsTest, AFailedSaveKeepsTheSystemsReason) {
  Add(1, "127.0.0.1", 1);
  SaveSettings(fStore, Values("eth0", 7, 8));
  fTable.Items(0)->SetHost(std::string(3000, 'h'));  // more than the file may hold
  rlimit Old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Old), 0);
  const auto OldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit Small = Old;
  Small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
  std::string Error;
  std::string Cause = "not thrown";
  try {
    SaveSettings(fStore, Values("eth0", 70, 80));
  } catch (const TRegistryError& E) {
    Error = E.what();
    Cause = E.Cause();
  }
  ::setrlimit(RLIMIT_FSIZE, &Old);
  ::signal(SIGXFSZ, OldHandler);
  EXPECT_EQ(Error, "Failed to set data for 'EthernetAdapterID'");
  EXPECT_TRUE(Cause.starts_with("cannot write ")) << Cause;
  EXPECT_TRUE(Cause.ends_with(": " + std::error_code(EFBIG, std::generic_category()).message()))
      << Cause;
}

// Past the table's bound entries are neither used nor lost: saving leaves them in the file.
// Here on the file store only: the same 100,000 values take minutes in Wine's registry.
TEST_F(SettingsTest, EntriesPastTheBoundStayInTheFile) {
  std::vector<std::pair<std::string, std::string>> Texts;
  for (int I = 0; I < kMaxTableEntries + 2; ++I) {
    Texts.emplace_back("StaticList" + std::to_string(I), std::to_string(I) + ",127.0.0.1,9");
  }
  Preset(Texts);
  const auto Stored = [](int AIndex) {
    TRegistryStore Store;
    Store.OpenKey(false);
    const std::string Name = "StaticList" + std::to_string(AIndex);
    return Store.ValueExists(Name) ? Store.ReadString(Name) : std::string("(none)");
  };
  Load(fTable);
  ASSERT_EQ(fTable.Count(), kMaxTableEntries);
  SaveSettings(fStore, Values("eth0", 0, 0));
  EXPECT_EQ(Stored(kMaxTableEntries + 1), std::to_string(kMaxTableEntries + 1) + ",127.0.0.1,9");

  // One fewer in Setup: the list ends there, and what lay past the bound is still kept.
  fTable.Remove(fTable.Items(0));
  SaveSettings(fStore, Values("eth0", 0, 0));
  EXPECT_EQ(Stored(0), "1,127.0.0.1,9");
  EXPECT_EQ(Stored(kMaxTableEntries - 1), "(none)");
  EXPECT_EQ(Stored(kMaxTableEntries), std::to_string(kMaxTableEntries) + ",127.0.0.1,9");
}

// A start and a stop with no change by the user: a key whose last line ends in a continuation
// backslash still holds the whole list afterwards, and again after the next start and stop.
TEST_F(SettingsTest, AKeyEndingInAContinuationKeepsItsListOverStartAndStop) {
  const auto File = fHome.Dir() / "Marlowin" / "KelvoRelay.reg";
  std::filesystem::create_directories(File.parent_path());
  std::ofstream(File, std::ios::binary) << "Windows Registry Editor Version 5.00\r\n\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"
                                           "\"EthernetAdapterID\"=\"eth0\"\r\n"
                                           "\"Top\"=dword:00000010\r\n"
                                           "\"Left\"=dword:00000020\r\n"
                                           "\"StaticList0\"=\"1001,127.0.0.1,8442\"\r\n"
                                           "\"StaticList1\"=\"1002,127.0.0.2,8443\"\r\n"
                                           "\"StaticList2\"=\"1003,127.0.0.3,8444\"\r\n"
                                           "\"Notes\"=hex:01,02,\\";
  for (int Run = 0; Run < 2; ++Run) {
    SCOPED_TRACE(Run);
    fTable.Clear();
    const TStoredSettings Found = Load(fTable);
    ASSERT_EQ(fTable.Count(), 3);
    EXPECT_EQ(fTable.Items(2)->NAD(), 1003);
    EXPECT_EQ(fTable.Items(2)->Port(), 8444);
    SaveSettings(fStore, Values(Found.EthernetAdapterID.value_or(""), Found.Top, Found.Left));
  }
}

}  // namespace
}  // namespace kelvo
