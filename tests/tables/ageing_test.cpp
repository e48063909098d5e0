#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "fake_clock.h"
#include "tables/nat_info_list.h"

namespace kelvo {
namespace {

// Adds entries with the given remaining timeouts and returns them in order.
std::vector<TNATInfo*> Fill(TNATInfoList& ATable, const std::vector<std::int32_t>& ATimeouts) {
  std::vector<TNATInfo*> Result;
  std::int32_t NAD = 1;
  for (std::int32_t Timeout : ATimeouts) {
    auto Item = std::make_unique<TNATInfo>(NAD++, "10.0.0.1", 1, Timeout);
    Result.push_back(Item.get());
    ATable.Add(std::move(Item));
  }
  return Result;
}

std::vector<std::int32_t> Timeouts(const TNATInfoList& ATable) {
  std::vector<std::int32_t> Result;
  for (int I = 0; I < ATable.Count(); ++I) {
    Result.push_back(ATable.Items(I)->Timeout());
  }
  return Result;
}

TEST(AgeEntriesTest, StepsOnlyAfterAFullSecond) {
  test::TFakeClock Clock;
  TNATInfoList Table(60, Clock);
  Fill(Table, {10});

  Clock.Advance(999);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{10});

  Clock.Advance(1);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{9});
  Table.AgeEntries();  // same moment: no second step
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{9});
}

TEST(AgeEntriesTest, NextStepCountsFromTheTimeReadNotFromTheLastSecondMark) {
  test::TFakeClock Clock;
  TNATInfoList Table(60, Clock);
  Fill(Table, {10});

  Clock.Advance(1500);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{9});
  Clock.Advance(900);  // 2400 ms after creation, 900 ms after the step
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{9});
  Clock.Advance(100);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{8});
}

TEST(AgeEntriesTest, MissedSecondsAreNotMadeUp) {
  test::TFakeClock Clock;
  TNATInfoList Table(60, Clock);
  Fill(Table, {10});
  Clock.Advance(5000);
  Table.AgeEntries();
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{9});
}

TEST(AgeEntriesTest, ClockSetBackBySecondOrMoreCountsAsElapsed) {
  test::TFakeClock Clock;
  TNATInfoList Table(60, Clock);
  Fill(Table, {10});

  Clock.Advance(-999);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{10});
  Clock.Advance(-1);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{9});
  // The step took the set-back time as its mark, so the next second counts from there.
  Clock.Advance(1000);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), std::vector<std::int32_t>{8});
}

TEST(AgeEntriesTest, ConsecutiveRemovalsSkipNoEntry) {
  test::TFakeClock Clock;
  TNATInfoList Table(60, Clock);
  auto Items = Fill(Table, {1, 5, 1, 1, 1, 3, 0, -7, INT_MIN, 2, 1});
  Clock.Advance(1000);
  Table.AgeEntries();
  ASSERT_EQ(Timeouts(Table), (std::vector<std::int32_t>{4, 2, 1}));
  EXPECT_EQ(Table.Items(0), Items[1]);
  EXPECT_EQ(Table.Items(1), Items[5]);
  EXPECT_EQ(Table.Items(2), Items[9]);

  Clock.Advance(1000);
  Table.AgeEntries();
  EXPECT_EQ(Timeouts(Table), (std::vector<std::int32_t>{3, 1}));
}

TEST(AgeEntriesTest, TimeoutOneTableRemovesNewEntryAtFirstStep) {
  test::TFakeClock Clock;
  TNATInfoList Table(1, Clock);
  Table.UpdateByNAD(1, "10.0.0.1", 1);
  Clock.Advance(1000);
  Table.AgeEntries();
  EXPECT_EQ(Table.Count(), 0);
}

TEST(AgeEntriesTest, RefreshKeepsEntryAliveForAnotherFullTimeout) {
  test::TFakeClock Clock;
  TNATInfoList Table(3, Clock);
  TNATInfo* Item = Table.UpdateByNAD(1, "10.0.0.1", 1);
  for (int Step = 0; Step < 2; ++Step) {
    Clock.Advance(1000);
    Table.AgeEntries();
  }
  ASSERT_EQ(Item->Timeout(), 1);
  ASSERT_EQ(Table.UpdateByNAD(1, "10.0.0.1", 1), Item);
  EXPECT_EQ(Item->Timeout(), 3);

  for (int Step = 0; Step < 2; ++Step) {
    Clock.Advance(1000);
    Table.AgeEntries();
  }
  EXPECT_EQ(Table.IndexOf(Item), 0);
  Clock.Advance(1000);
  Table.AgeEntries();
  EXPECT_EQ(Table.Count(), 0);  // gone at the third step after the refresh
}

TEST(AgeEntriesTest, TablesWithoutPositiveTimeoutNeverAge) {
  for (std::int32_t TableTimeout : {0, -1}) {
    test::TFakeClock Clock;
    TNATInfoList Table(TableTimeout, Clock);
    EXPECT_FALSE(Table.Ages());
    Fill(Table, {-1, 0, 1});
    for (int Step = 0; Step < 3; ++Step) {
      Clock.Advance(1000);
      Table.AgeEntries();
    }
    EXPECT_EQ(Timeouts(Table), (std::vector<std::int32_t>{-1, 0, 1})) << TableTimeout;
  }
}

// A step taken in slices, with senders arriving between them, as routing does while the
// owner lets go of the lock.
TEST(AgeEntriesTest, AStepInSlicesAgesWhatWasListedWhenItBegan) {
  test::TFakeClock Clock;
  TNATInfoList Table(60, Clock);
  const auto Entries = Fill(Table, {5, 1, 5, 1, 5, 5});
  std::vector<std::unique_ptr<TNATInfo>> Gone;

  Clock.Advance(1000);
  ASSERT_TRUE(Table.BeginAgeingStep());
  EXPECT_FALSE(Table.BeginAgeingStep());  // one step at a time
  Table.AgeEntries();                     // nor does a whole step start meanwhile
  EXPECT_FALSE(Table.ContinueAgeingStep(3, Gone));
  ASSERT_EQ(Gone.size(), 1u);
  EXPECT_EQ(Gone[0].get(), Entries[1]);  // handed over, not freed

  // Between slices: one sender the step has passed, one it has yet to reach, one new.
  EXPECT_EQ(Table.UpdateByNAD(Entries[0]->NAD(), "10.0.0.1", 1), Entries[0]);
  EXPECT_EQ(Table.UpdateByNAD(Entries[4]->NAD(), "10.0.0.1", 1), Entries[4]);
  TNATInfo* Newcomer = Table.UpdateByNAD(77, "10.0.0.9", 1);
  Clock.Advance(600);  // the step keeps the time it began at

  EXPECT_TRUE(Table.ContinueAgeingStep(3, Gone));
  ASSERT_EQ(Gone.size(), 2u);
  EXPECT_EQ(Gone[1].get(), Entries[3]);
  EXPECT_EQ(Timeouts(Table), (std::vector<std::int32_t>{60, 4, 59, 4, 60}));
  EXPECT_EQ(Table.Items(4), Newcomer);
  EXPECT_EQ(Table.FindByNADAlias(Entries[3]->NADAlias()), nullptr);

  // The next step is due a second after the first one began, not after it ended.
  Clock.Advance(400);
  EXPECT_TRUE(Table.BeginAgeingStep());
  EXPECT_TRUE(Table.ContinueAgeingStep(100, Gone));
}

}  // namespace
}  // namespace kelvo
