#include "present/status_rows.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace kelvo {
namespace {

TEST(StatusTexts, NADTextShowsBothAsUnsignedOnlyWhenTheyDiffer) {
  struct TCase {
    std::int32_t NAD;
    std::int32_t Alias;
    const char* Text;
  };
  const TCase cases[] = {
      {5, 5, "5"},
      {100, 101, "100/101"},
      {0, 0, "0"},
      {-1, -1, "4294967295"},
      {-1, 0, "4294967295/0"},
      {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
       "2147483648/2147483647"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(NADText(c.NAD, c.Alias), c.Text) << c.NAD << "/" << c.Alias;
  }
}

TEST(StatusTexts, RateTextIsTheCountAndTheGaugeHoldsItWithinItsRange) {
  struct TCase {
    std::int32_t Count;
    const char* Text;
    int Gauge;
  };
  const TCase cases[] = {
      {0, "0 msg/sec", 0},
      {7, "7 msg/sec", 7},
      {20, "20 msg/sec", 20},
      {21, "21 msg/sec", 20},
      {25, "25 msg/sec", 20},
      {-3, "-3 msg/sec", 0},
      {std::numeric_limits<std::int32_t>::max(), "2147483647 msg/sec", 20},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(MsgRateText(c.Count), c.Text);
    EXPECT_EQ(GaugePosition(c.Count), c.Gauge) << c.Count;
  }
  EXPECT_EQ(RowNumberText(0), "1.");
  EXPECT_EQ(RowNumberText(99999), "100000.");
}

TTableRow Row(std::int32_t ANAD, std::int32_t AAlias, const char* AHost, std::uint16_t APort,
              std::int32_t ATimeout) {
  TTableRow row;
  row.NAD = ANAD;
  row.NADAlias = AAlias;
  row.Host = std::string(AHost);  // not operator=(const char*): GCC 12 -Wrestrict false alarm
  row.IP = row.Host;
  row.Port = APort;
  row.Timeout = ATimeout;
  return row;
}

using TCells = std::vector<std::vector<std::string>>;

TCells AllCells(const TStatusRows& ARows) {
  TCells cells;
  for (int row = 0; row < ARows.RowCount(); ++row) {
    std::vector<std::string>& line = cells.emplace_back();
    for (int column = 0; column < kStatusColumnCount; ++column) {
      line.push_back(ARows.CellText(row, static_cast<TStatusColumn>(column)));
    }
  }
  return cells;
}

TEST(StatusRows, ListsNumberTheirRowsAndControllersRunOnFromStaticIntoPush) {
  auto snapshot = std::make_shared<TTablesSnapshot>();
  snapshot->NATRows = {Row(5, 5, "192.168.1.20", 50123, 60), Row(5, 6, "192.168.1.21", 4000, 59)};
  snapshot->StaticRows = {Row(1001, 1001, "plant.example", 8442, -1),
                          Row(-2, -2, "10.0.0.9", 1, -1)};
  snapshot->PushRows = {Row(77, 77, "203.0.113.4", 9000, 600)};

  const TStatusRows applications(snapshot, TStatusList::Applications);
  EXPECT_EQ(AllCells(applications), (TCells{{"1.", "5", "192.168.1.20:50123", "60"},
                                            {"2.", "5/6", "192.168.1.21:4000", "59"}}));
  const TStatusRows controllers(snapshot, TStatusList::Controllers);
  EXPECT_EQ(AllCells(controllers), (TCells{{"1.", "1001", "plant.example:8442", "static"},
                                           {"2.", "4294967294", "10.0.0.9:1", "static"},
                                           {"3.", "77", "203.0.113.4:9000", "600"}}));
}

TEST(StatusRows, EmptyTablesNoSnapshotAndCellsOutsideTheRowsGiveNothing) {
  const TStatusRows none;
  EXPECT_EQ(none.RowCount(), 0);
  EXPECT_EQ(none.CellText(0, TStatusColumn::No), "");

  auto snapshot = std::make_shared<TTablesSnapshot>();
  EXPECT_EQ(TStatusRows(snapshot, TStatusList::Controllers).RowCount(), 0);
  snapshot->PushRows = {Row(3, 3, "h", 2, 10)};
  const TStatusRows pushOnly(snapshot, TStatusList::Controllers);
  EXPECT_EQ(AllCells(pushOnly), (TCells{{"1.", "3", "h:2", "10"}}));
  EXPECT_EQ(pushOnly.CellText(1, TStatusColumn::NAD), "");
  EXPECT_EQ(pushOnly.CellText(-1, TStatusColumn::NAD), "");
  EXPECT_EQ(pushOnly.CellText(0, static_cast<TStatusColumn>(kStatusColumnCount)), "");
  EXPECT_EQ(TStatusRows(nullptr, TStatusList::Applications).RowCount(), 0);
}

// A list view keeps its rows until the next tick; what the relay does meanwhile must not show.
TEST(StatusRows, RowsOfATickStayAsTakenWhileTheTablesChange) {
  TAddressTables tables;
  {
    const TAddressTables::TLock lock(tables);
    tables.fNATTable->UpdateByNAD(5, "192.168.1.20", 50123);
  }
  const TStatusRows rows(TakeStatusSnapshot(tables), TStatusList::Applications);
  {
    const TAddressTables::TLock lock(tables);
    tables.fNATTable->UpdateByNAD(5, "192.168.1.21", 50124);
    tables.fNATTable->Clear();
  }
  ASSERT_EQ(rows.RowCount(), 1);
  EXPECT_EQ(rows.CellText(0, TStatusColumn::HostPort), "192.168.1.20:50123");
  EXPECT_EQ(rows.CellText(0, TStatusColumn::Timeout), "60");
}

}  // namespace
}  // namespace kelvo
