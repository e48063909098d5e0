#include "present/setup_working_copy.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvo {
namespace {

// The machine's adapters, as the test sets them.
std::vector<TPlatformAdapter> gAdapters;

class SetupWorkingCopy : public ::testing::Test {
 protected:
  SetupWorkingCopy() {
    gAdapters = {{"eth0", "Intel Ethernet", "192.168.1.10", "255.255.255.0", "192.168.1.1"},
                 {"wlan0", "Wireless", "10.0.0.7", "255.0.0.0", "0.0.0.0"}};
    fPrevious = SetAdapterPlatform(
        TAdapterPlatform{[] { return std::optional<std::vector<TPlatformAdapter>>(gAdapters); },
                         [] { return std::string("192.168.1.10"); }});
    fRelayTable.Add(std::make_unique<TNATInfo>(1001, "10.0.0.1", 8442, -1));
    fRelayTable.Add(std::make_unique<TNATInfo>(-2, "LOCALHOST", 9000, -1));
  }
  ~SetupWorkingCopy() override { SetAdapterPlatform(fPrevious); }

  std::vector<std::vector<std::string>> Rows() const {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < fCopy.RowCount(); ++row) {
      std::vector<std::string>& line = rows.emplace_back();
      for (int column = 0; column < 4; ++column) {
        line.push_back(fCopy.CellText(row, static_cast<TStaticColumn>(column)));
      }
    }
    return rows;
  }

  TAdapterPlatform fPrevious;
  TNATInfoList fRelayTable{-1};
  TSetupWorkingCopy fCopy;
};

using TRows = std::vector<std::vector<std::string>>;

TEST_F(SetupWorkingCopy, ShowingListsAdaptersSelectsTheCurrentOneAndCopiesTheTable) {
  fCopy.Begin(&fRelayTable, "wlan0");
  EXPECT_EQ(fCopy.AdapterLines(),
            (std::vector<std::string>{"Intel Ethernet (192.168.1.10)", "Wireless (10.0.0.7)"}));
  EXPECT_EQ(fCopy.SelectedAdapterIndex(), 1);
  // Host text as entered, the NAD as an unsigned number.
  EXPECT_EQ(Rows(),
            (TRows{{"1.", "1001", "10.0.0.1", "8442"}, {"2.", "4294967294", "LOCALHOST", "9000"}}));
  EXPECT_EQ(fCopy.CellText(2, TStaticColumn::No), "");

  // A chosen adapter that is away stays selected, on a line of its own, and OK keeps it.
  fCopy.Begin(&fRelayTable, "gone0");
  EXPECT_EQ(fCopy.AdapterLines().back(), "gone0 (not present)");
  EXPECT_EQ(fCopy.SelectedAdapterIndex(), 2);
  EXPECT_EQ(fCopy.Accept(2, false).EthernetAdapterID, "gone0");
  fCopy.Begin(&fRelayTable, "");
  EXPECT_EQ(fCopy.SelectedAdapterIndex(), -1);
  EXPECT_EQ(fCopy.AdapterLines().size(), 2u);
  // Adapters are enumerated anew at every showing.
  gAdapters.pop_back();
  fCopy.Begin(nullptr, "eth0");
  EXPECT_EQ(fCopy.AdapterLines().size(), 1u);
  EXPECT_EQ(fCopy.SelectedAdapterIndex(), 0);
  EXPECT_EQ(fCopy.RowCount(), 0);
  EXPECT_TRUE(fCopy.Active());
}

TEST_F(SetupWorkingCopy, AddEditAndDeleteChangeOnlyTheCopy) {
  fCopy.Begin(&fRelayTable, "eth0");
  EXPECT_TRUE(fCopy.Add({"", "127.0.0.1", ""}));          // empty texts give NAD 1 and port 1
  EXPECT_TRUE(fCopy.Add({"1001", "10.0.0.2", "70000"}));  // a NAD already listed is accepted
  // A host that does not resolve now is kept, as typed, with an empty IP.
  EXPECT_TRUE(fCopy.Add({"7", "no-such-host.invalid", "1"}));
  EXPECT_EQ(Rows(), (TRows{{"1.", "1001", "10.0.0.1", "8442"},
                           {"2.", "4294967294", "LOCALHOST", "9000"},
                           {"3.", "1", "127.0.0.1", "1"},
                           {"4.", "1001", "10.0.0.2", "4464"},
                           {"5.", "7", "no-such-host.invalid", "1"}}));
  ASSERT_TRUE(fCopy.Delete(4));

  // The editor shows a negative NAD signed; the edited NAD becomes the alias too, and the
  // resolved IP stays until forwarding resolves the new host.
  const std::optional<TEntryTexts> texts = fCopy.EditTexts(1);
  ASSERT_TRUE(texts.has_value());
  EXPECT_EQ(texts->NAD, "-2");
  EXPECT_EQ(texts->Host, "LOCALHOST");
  EXPECT_EQ(texts->Port, "9000");
  EXPECT_TRUE(fCopy.Edit(1, {"55", "plant.example", "8443"}));
  EXPECT_FALSE(fCopy.EditTexts(9).has_value());
  EXPECT_FALSE(fCopy.Edit(9, {"1", "h", "1"}));

  EXPECT_TRUE(fCopy.Delete(0));
  EXPECT_FALSE(fCopy.Delete(5));
  EXPECT_EQ(Rows(), (TRows{{"1.", "55", "plant.example", "8443"},
                           {"2.", "1", "127.0.0.1", "1"},
                           {"3.", "1001", "10.0.0.2", "4464"}}));

  // The relay's table was only read.
  ASSERT_EQ(fRelayTable.Count(), 2);
  EXPECT_EQ(fRelayTable.Items(1)->NAD(), -2);
  EXPECT_EQ(fRelayTable.Items(1)->Host(), "LOCALHOST");

  TSetupResult result = fCopy.Accept(0, true);
  EXPECT_FALSE(fCopy.Active());
  ASSERT_TRUE(result.StaticList);
  ASSERT_EQ(result.StaticList->Count(), 3);
  const TNATInfo* edited = result.StaticList->Items(0);
  EXPECT_EQ(edited->NAD(), 55);
  EXPECT_EQ(edited->NADAlias(), 55);
  EXPECT_EQ(edited->IP(), "127.0.0.1");
  EXPECT_EQ(result.StaticList->Timeout(), -1);
  EXPECT_EQ(result.StaticList->Items(2)->Timeout(), -1);
  EXPECT_EQ(result.EthernetAdapterID, "eth0");
  EXPECT_TRUE(result.CreateDebugLogs);
}

// The entry Add makes: resolved where the host resolves, kept with an empty IP where it does
// not, never expiring, alias equal to the NAD.
TEST(StaticEntry, KeptWhetherOrNotTheHostResolves) {
  struct TCase {
    const char* Host;
    const char* IP;
  };
  const TCase cases[] = {
      {"10.1.2.3", "10.1.2.3"},
      {"localhost", "127.0.0.1"},
      {"no-such-controller.invalid", ""},
  };
  for (const TCase& c : cases) {
    const std::unique_ptr<TNATInfo> entry = MakeStaticEntry(-7, c.Host, 65535);
    ASSERT_TRUE(entry) << c.Host;
    EXPECT_EQ(entry->Host(), c.Host);
    EXPECT_EQ(entry->IP(), c.IP) << c.Host;
    EXPECT_EQ(entry->NAD(), -7);
    EXPECT_EQ(entry->NADAlias(), -7);
    EXPECT_EQ(entry->Port(), 65535);
    EXPECT_EQ(entry->Timeout(), -1);
  }
}

TEST_F(SetupWorkingCopy, AcceptWithoutAnAdapterLineGivesAnEmptyIdentifier) {
  for (int index : {-1, 2, 99}) {
    fCopy.Begin(&fRelayTable, "eth0");
    const TSetupResult result = fCopy.Accept(index, false);
    EXPECT_EQ(result.EthernetAdapterID, "") << index;
    EXPECT_FALSE(result.CreateDebugLogs);
    ASSERT_TRUE(result.StaticList);
    EXPECT_EQ(result.StaticList->Count(), 2);
  }
}

TEST_F(SetupWorkingCopy, CancelDropsTheCopyAndNothingCanChangeAfterwards) {
  fCopy.Begin(&fRelayTable, "eth0");
  ASSERT_TRUE(fCopy.Delete(0));
  fCopy.Cancel();
  EXPECT_FALSE(fCopy.Active());
  EXPECT_EQ(fCopy.RowCount(), 0);
  EXPECT_FALSE(fCopy.Add({"1", "127.0.0.1", "1"}));
  EXPECT_FALSE(fCopy.Delete(0));
  EXPECT_FALSE(fCopy.Accept(0, false).StaticList);
  EXPECT_EQ(fRelayTable.Count(), 2);
}

}  // namespace
}  // namespace kelvo
