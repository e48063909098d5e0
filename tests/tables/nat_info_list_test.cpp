#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "fake_clock.h"
#include "tables/nat_info_list.h"

namespace kelvo {
namespace {

constexpr std::int32_t kMaxNAD = -1;  // 4294967295 on the wire

std::unique_ptr<TNATInfo> Entry(std::int32_t ANAD, const char* AIP, std::uint16_t APort) {
  return std::make_unique<TNATInfo>(ANAD, AIP, APort, -1);
}

class TNATInfoListTest : public ::testing::Test {
 protected:
  test::TFakeClock fClock;
  TNATInfoList fTable{60, fClock};
};

TEST_F(TNATInfoListTest, RefreshReturnsSameEntryAndResetsTimeout) {
  TNATInfo* First = fTable.UpdateByNAD(5, "192.168.1.20", 50123);
  ASSERT_NE(First, nullptr);
  EXPECT_EQ(First->NADAlias(), 5);
  EXPECT_EQ(First->Timeout(), 60);
  First->SetTimeout(3);

  EXPECT_EQ(fTable.UpdateByNAD(5, "192.168.1.20", 50123), First);
  EXPECT_EQ(First->Timeout(), 60);
  EXPECT_EQ(First->NADAlias(), 5);
  EXPECT_EQ(fTable.Count(), 1);
}

TEST_F(TNATInfoListTest, OtherSendersOfOneNADGetNextFreeAliases) {
  TNATInfo* A = fTable.UpdateByNAD(100, "10.0.0.1", 1000);
  TNATInfo* B = fTable.UpdateByNAD(100, "10.0.0.1", 1001);  // other port
  TNATInfo* C = fTable.UpdateByNAD(100, "10.0.0.2", 1000);  // other address
  EXPECT_EQ(A->NADAlias(), 100);
  EXPECT_EQ(B->NADAlias(), 101);
  EXPECT_EQ(C->NADAlias(), 102);
  EXPECT_EQ(B->NAD(), 100);
  EXPECT_EQ(B->Host(), "10.0.0.1");

  // A sender whose NAD equals a held alias does not get its own NAD.
  EXPECT_EQ(fTable.UpdateByNAD(101, "10.0.0.3", 1000)->NADAlias(), 103);

  // A freed alias is given out again.
  fTable.Remove(A);
  EXPECT_EQ(fTable.UpdateByNAD(100, "10.0.0.4", 1000)->NADAlias(), 100);
}

TEST_F(TNATInfoListTest, AliasAllocationWrapsAroundToZero) {
  fTable.UpdateByNAD(kMaxNAD, "10.0.0.1", 1);
  EXPECT_EQ(fTable.UpdateByNAD(kMaxNAD, "10.0.0.2", 1)->NADAlias(), 0);
  EXPECT_EQ(fTable.UpdateByNAD(kMaxNAD, "10.0.0.3", 1)->NADAlias(), 1);
  EXPECT_EQ(fTable.Count(), 3);
}

TEST_F(TNATInfoListTest, FailedLookupLeavesTableUnchanged) {
  fTable.UpdateByNAD(7, "10.0.0.1", 1);
  EXPECT_THROW(fTable.UpdateByNAD(7, "no-such-host.invalid", 1), TResolveError);
  EXPECT_THROW(fTable.UpdateByIPAndPort(7, "no-such-host.invalid", 1), TResolveError);
  EXPECT_EQ(fTable.Count(), 1);
}

TEST_F(TNATInfoListTest, UpdateByIPAndPortIgnoresNADAndKeepsAliasEqualNAD) {
  fTable.UpdateByIPAndPort(9, "10.0.0.1", 1);
  fTable.Items(0)->SetTimeout(2);
  fTable.UpdateByIPAndPort(10, "10.0.0.1", 1);  // same sender, other NAD: a refresh
  ASSERT_EQ(fTable.Count(), 1);
  EXPECT_EQ(fTable.Items(0)->NAD(), 9);
  EXPECT_EQ(fTable.Items(0)->Timeout(), 60);

  fTable.UpdateByIPAndPort(9, "10.0.0.1", 2);  // alias 9 is taken, yet no allocation happens
  ASSERT_EQ(fTable.Count(), 2);
  EXPECT_EQ(fTable.Items(1)->NADAlias(), 9);
}

TEST_F(TNATInfoListTest, LookupsReturnFirstMatchAndCompareIPExactly) {
  TNATInfo* First = fTable.Items(fTable.Add(Entry(3, "10.0.0.1", 1)));
  TNATInfo* Second = fTable.Items(fTable.Add(Entry(3, "10.0.0.1", 1)));
  fTable.Add(Entry(4, "localhost", 2));
  Second->SetNADAlias(8);

  EXPECT_EQ(fTable.FindByNAD(3), First);
  EXPECT_EQ(fTable.FindByNADAlias(8), Second);
  EXPECT_EQ(fTable.FindByIPAndPort("10.0.0.1", 1), First);
  EXPECT_EQ(fTable.FindByNADIPAndPort(3, "10.0.0.1", 1), First);
  EXPECT_EQ(fTable.FindByIPAndPort("127.0.0.1", 2), fTable.Items(2));

  EXPECT_EQ(fTable.FindByNAD(5), nullptr);
  EXPECT_EQ(fTable.FindByNADAlias(5), nullptr);
  EXPECT_EQ(fTable.FindByIPAndPort("10.0.0.1", 2), nullptr);
  EXPECT_EQ(fTable.FindByIPAndPort("10.0.0.10", 1), nullptr);
  EXPECT_EQ(fTable.FindByIPAndPort("LOCALHOST", 2), nullptr);  // IP holds the resolution
  EXPECT_EQ(fTable.FindByNADIPAndPort(4, "10.0.0.1", 1), nullptr);
}

TEST_F(TNATInfoListTest, ItemsIndexOfAndRemove) {
  TNATInfo* A = fTable.Items(fTable.Add(Entry(1, "10.0.0.1", 1)));
  TNATInfo* B = fTable.Items(fTable.Add(Entry(2, "10.0.0.2", 2)));
  TNATInfo* C = fTable.Items(fTable.Add(Entry(3, "10.0.0.3", 3)));
  EXPECT_EQ(fTable.Items(-1), nullptr);
  EXPECT_EQ(fTable.Items(fTable.Count()), nullptr);
  EXPECT_EQ(fTable.IndexOf(C), 2);

  int Index = 99;
  std::unique_ptr<TNATInfo> Taken = fTable.Remove(B, &Index);
  EXPECT_EQ(Taken.get(), B);  // handed back, not freed
  EXPECT_EQ(Index, 1);
  EXPECT_EQ(fTable.Count(), 2);
  EXPECT_EQ(fTable.Items(1), C);
  EXPECT_EQ(fTable.IndexOf(B), -1);

  TNATInfo Stranger(1, "10.0.0.1", 1, -1);  // equal fields, different object
  EXPECT_EQ(fTable.Remove(&Stranger, &Index), nullptr);
  EXPECT_EQ(Index, -1);
  EXPECT_EQ(fTable.Remove(Taken.get(), &Index), nullptr);
  EXPECT_EQ(Index, -1);
  EXPECT_EQ(fTable.Count(), 2);
  EXPECT_EQ(fTable.Items(0), A);

  EXPECT_THROW(fTable.Add(nullptr), std::invalid_argument);
  EXPECT_EQ(fTable.Count(), 2);
}

TEST_F(TNATInfoListTest, ClearWithoutFreeingHandsEntriesBackInOrder) {
  TNATInfo* A = fTable.Items(fTable.Add(Entry(1, "10.0.0.1", 1)));
  TNATInfo* B = fTable.Items(fTable.Add(Entry(2, "10.0.0.2", 2)));
  auto Entries = fTable.ClearWithoutFreeing();
  EXPECT_EQ(fTable.Count(), 0);
  ASSERT_EQ(Entries.size(), 2u);
  EXPECT_EQ(Entries[0].get(), A);
  EXPECT_EQ(Entries[1].get(), B);
}

TEST_F(TNATInfoListTest, FullTableEntersNoNewSenderButRefreshesKnownOnes) {
  // One NAD for all, so the aliases form a single run of kMaxTableEntries values.
  for (int I = 0; I < kMaxTableEntries; ++I) {
    const std::string IP = "10." + std::to_string(I / 65536) + "." + std::to_string(I / 256 % 256) +
                           "." + std::to_string(I % 256);
    ASSERT_NE(fTable.UpdateByNAD(7, IP, static_cast<std::uint16_t>(1000 + I % 7)), nullptr);
  }
  ASSERT_TRUE(fTable.Full());
  TNATInfo* Known = fTable.Items(kMaxTableEntries / 2);
  Known->SetTimeout(1);

  EXPECT_EQ(fTable.UpdateByNAD(7, "192.168.1.1", 1), nullptr);
  fTable.UpdateByIPAndPort(7, "192.168.1.1", 1);
  EXPECT_THROW(fTable.Add(Entry(7, "192.168.1.1", 1)), TTableFullError);
  EXPECT_EQ(fTable.Count(), kMaxTableEntries);
  EXPECT_EQ(fTable.FindByIPAndPort("192.168.1.1", 1), nullptr);

  EXPECT_EQ(fTable.UpdateByNAD(Known->NAD(), Known->IP(), Known->Port()), Known);
  EXPECT_EQ(Known->Timeout(), 60);

  // A place freed in the middle of the run is the next alias given out.
  const std::int32_t FreedAlias = Known->NADAlias();
  fTable.Remove(Known);
  TNATInfo* Newcomer = fTable.UpdateByNAD(7, "192.168.1.1", 1);
  ASSERT_NE(Newcomer, nullptr);
  EXPECT_EQ(Newcomer->NADAlias(), FreedAlias);
  EXPECT_EQ(fTable.UpdateByNAD(7, "192.168.1.2", 1), nullptr);
}

TEST(TNATInfoListDuplicateTest, EmptyCopyKeepsTableTimeout) {
  test::TFakeClock Clock;
  TNATInfoList Static(-1, Clock);
  auto Copy = Static.Duplicate();
  EXPECT_EQ(Copy->Count(), 0);
  EXPECT_EQ(Copy->Timeout(), -1);
  EXPECT_FALSE(Copy->Ages());
}

TEST(TNATInfoListDuplicateTest, CopyIsDeepIndependentAndLooksNothingUp) {
  test::TFakeClock Clock;
  TNATInfoList Source(-1, Clock);
  TNATInfo* Original = Source.Items(Source.Add(Entry(1000, "10.0.0.7", 5000)));
  Original->SetNADAlias(1001);
  Original->SetHost("no-such-host.invalid");  // a copy must not resolve this again

  auto Copy = Source.Duplicate();
  ASSERT_EQ(Copy->Count(), 1);
  TNATInfo* Copied = Copy->Items(0);
  EXPECT_NE(Copied, Original);
  EXPECT_EQ(Copied->NAD(), 1000);
  EXPECT_EQ(Copied->NADAlias(), 1001);
  EXPECT_EQ(Copied->Host(), "no-such-host.invalid");
  EXPECT_EQ(Copied->IP(), "10.0.0.7");
  EXPECT_EQ(Copied->Port(), 5000);
  EXPECT_EQ(Copied->Timeout(), -1);

  Copied->SetPort(6000);
  Copy->Add(Entry(2, "10.0.0.8", 1));
  Copy->Clear();
  EXPECT_EQ(Source.Count(), 1);
  EXPECT_EQ(Source.Items(0), Original);
  EXPECT_EQ(Original->Port(), 5000);
}

}  // namespace
}  // namespace kelvo
