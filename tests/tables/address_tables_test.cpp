#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "fake_clock.h"
#include "tables/address_tables.h"

namespace kelvo {
namespace {

TEST(TAddressTablesTest, AgeAllAgesNATAndPushTablesOnly) {
  test::TFakeClock Clock;
  TAddressTables Tables(Clock);
  {
    const TAddressTables::TLock Lock(Tables);
    EXPECT_EQ(Tables.fNATTable->Timeout(), 60);
    EXPECT_EQ(Tables.fStaticTable->Timeout(), -1);
    EXPECT_EQ(Tables.fPushTable->Timeout(), 600);
    Tables.fNATTable->UpdateByNAD(5, "192.168.1.20", 50123);
    Tables.fStaticTable->Add(std::make_unique<TNATInfo>(1001, "10.0.0.7", 8442, -1));
    Tables.fPushTable->UpdateByNAD(1000, "10.0.0.8", 5000);
  }
  Clock.Advance(1000);
  Tables.AgeAll();

  TTablesSnapshot Snap = Tables.Snapshot();
  ASSERT_EQ(Snap.NATRows.size(), 1u);
  ASSERT_EQ(Snap.StaticRows.size(), 1u);
  ASSERT_EQ(Snap.PushRows.size(), 1u);
  EXPECT_EQ(Snap.NATRows[0].Timeout, 59);
  EXPECT_EQ(Snap.StaticRows[0].Timeout, -1);
  EXPECT_EQ(Snap.PushRows[0].Timeout, 599);

  const TTableRow& Row = Snap.NATRows[0];
  EXPECT_EQ(Row.NAD, 5);
  EXPECT_EQ(Row.NADAlias, 5);
  EXPECT_EQ(Row.Host, "192.168.1.20");
  EXPECT_EQ(Row.IP, "192.168.1.20");
  EXPECT_EQ(Row.Port, 50123);
}

TEST(TAddressTablesTest, StaticTableDuplicateAndReplace) {
  test::TFakeClock Clock;
  TAddressTables Tables(Clock);
  {
    const TAddressTables::TLock Lock(Tables);
    Tables.fStaticTable->Add(std::make_unique<TNATInfo>(1001, "10.0.0.7", 8442, -1));
  }

  std::unique_ptr<TNATInfoList> Working = Tables.DuplicateStaticTable();
  Working->Items(0)->SetPort(9000);
  Working->Add(std::make_unique<TNATInfo>(1002, "10.0.0.9", 8442, -1));
  EXPECT_EQ(Tables.Snapshot().StaticRows.size(), 1u);
  EXPECT_EQ(Tables.Snapshot().StaticRows[0].Port, 8442);

  TNATInfoList* Installed = Working.get();
  std::unique_ptr<TNATInfoList> Old = Tables.ReplaceStaticTable(std::move(Working));
  ASSERT_NE(Old, nullptr);
  EXPECT_EQ(Old->Count(), 1);
  const auto InstalledNow = [&Tables] {
    const TAddressTables::TLock Lock(Tables);
    return Tables.fStaticTable.get();
  };
  EXPECT_EQ(InstalledNow(), Installed);
  EXPECT_EQ(Tables.Snapshot().StaticRows.size(), 2u);

  EXPECT_THROW(Tables.ReplaceStaticTable(nullptr), std::invalid_argument);
  EXPECT_EQ(InstalledNow(), Installed);
}

// Routing-like updates on one thread against ageing, snapshots and Setup on another; run under
// ThreadSanitizer this shows whether every access is serialized.
TEST(TAddressTablesTest, ConcurrentRoutingAgeingAndSetupStayConsistent) {
  test::TFakeClock Clock;
  TAddressTables Tables(Clock);
  constexpr int kRounds = 2000;
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);

  std::thread Listener([&] {
    for (int I = 0; I < kRounds && std::chrono::steady_clock::now() < Deadline; ++I) {
      const TAddressTables::TLock Lock(Tables);
      TNATInfo* Item =
          Tables.fNATTable->UpdateByNAD(I % 50, "10.0.0.1", static_cast<std::uint16_t>(I % 7));
      Item->SetIP("10.0.0.1");
      if (TNATInfo* Static = Tables.fStaticTable->FindByNAD(1001)) {
        Static->SetIP("10.0.0.7");
      }
    }
  });
  for (int I = 0; I < kRounds && std::chrono::steady_clock::now() < Deadline; ++I) {
    Clock.Advance(250);
    Tables.AgeAll();
    TTablesSnapshot Snap = Tables.Snapshot();
    for (const TTableRow& Row : Snap.NATRows) {
      ASSERT_EQ(Row.IP, "10.0.0.1");
    }
    if (I % 100 == 0) {
      auto Working = Tables.DuplicateStaticTable();
      Working->Add(std::make_unique<TNATInfo>(1001, "10.0.0.7", 8442, -1));
      Tables.ReplaceStaticTable(std::move(Working));
    }
  }
  Listener.join();

  // Aliases handed out by UpdateByNAD stay unique however the threads interleaved.
  TTablesSnapshot Snap = Tables.Snapshot();
  for (std::size_t A = 0; A < Snap.NATRows.size(); ++A) {
    for (std::size_t B = A + 1; B < Snap.NATRows.size(); ++B) {
      EXPECT_NE(Snap.NATRows[A].NADAlias, Snap.NATRows[B].NADAlias);
    }
  }
  EXPECT_LE(Snap.NATRows.size(), 350u);  // 50 NADs x 7 ports
}

}  // namespace
}  // namespace kelvo
