// The one-second status display: the message rate on the gauge and its label, and both lists
// rebuilt from a snapshot of the address tables. GUI thread only.
#pragma once

#include <QString>
#include <cstdint>

#include "tables/address_tables.h"

class QLabel;
class QProgressBar;
class QTableWidget;

namespace kelvo {

inline constexpr int kGaugeMax = 20;

// The NAD alone, or "NAD/alias" when they differ; both as unsigned 32-bit numbers.
QString NADText(std::int32_t ANAD, std::int32_t ANADAlias);
// "7 msg/sec".
QString MsgRateText(std::int32_t AMsgCount);

class TStatusPresenter {
 public:
  TStatusPresenter(QTableWidget& AListView1, QTableWidget& AListView2, QProgressBar& AGauge1,
                   QLabel& AlblMsgCount);

  // One tick: AMsgCount frames were counted since the last one.
  void Tick(std::int32_t AMsgCount, const TTablesSnapshot& ASnapshot);
  void ShowRate(std::int32_t AMsgCount);
  void FillLists(const TTablesSnapshot& ASnapshot);

 private:
  QTableWidget& fListView1;
  QTableWidget& fListView2;
  QProgressBar& fGauge1;
  QLabel& flblMsgCount;
};

}  // namespace kelvo
