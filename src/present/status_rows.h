// The status display's texts: the rate label, the gauge position and the rows of both lists,
// read from one snapshot of the address tables. Front-ends show these texts as they are.
//
// A TStatusRows is immutable and shares its snapshot, so a list view may keep one between
// ticks and read any row lazily. Any thread; one object is not written while it is read.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/status_report.h"  // NADText, shared with the status answer
#include "tables/address_tables.h"

namespace kelvo {

inline constexpr int kGaugeMax = 20;

// "7 msg/sec".
std::string MsgRateText(std::int32_t AMsgCount);
// The gauge's position for AMsgCount frames: held within 0 to kGaugeMax.
int GaugePosition(std::int32_t AMsgCount);
// The "No." text of the row at zero-based AIndex: "1.", "2.", ...
std::string RowNumberText(int AIndex);

enum class TStatusColumn { No, NAD, HostPort, Timeout };
inline constexpr int kStatusColumnCount = 4;

struct TColumnLook {
  const char* Caption;
  int Width;  // pixels at 96 dpi
};
// Both status lists have these columns, in this order.
inline constexpr std::array<TColumnLook, kStatusColumnCount> kStatusColumns{{
    {"No.", 34},
    {"NAD", 120},
    {"IP address:port", 120},
    {"Timeout", 60},
}};

// The one place that takes the tables' state for a tick; every list of that tick shares it.
std::shared_ptr<const TTablesSnapshot> TakeStatusSnapshot(const TAddressTables& ATables);

enum class TStatusList {
  Applications,  // ListView1: the application table
  Controllers,   // ListView2: the static table ("static"), then the push table, numbered on
};

class TStatusRows {
 public:
  TStatusRows() = default;  // no rows
  TStatusRows(std::shared_ptr<const TTablesSnapshot> ASnapshot, TStatusList AList);

  int RowCount() const { return fRowCount; }
  // Empty outside the rows and columns.
  std::string CellText(int ARow, TStatusColumn AColumn) const;

 private:
  std::shared_ptr<const TTablesSnapshot> fSnapshot;
  TStatusList fList = TStatusList::Applications;
  int fRowCount = 0;
};

}  // namespace kelvo
