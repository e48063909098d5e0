// The one-second status display: the message rate on the gauge and its label, and both lists
// shown from one snapshot of the address tables. GUI thread only.
#pragma once

#include <cstdint>

#include "tables/address_tables.h"

class QLabel;
class QProgressBar;

namespace kelvo {

class TStatusModel;

class TStatusPresenter {
 public:
  // The models of ListView1 and ListView2.
  TStatusPresenter(TStatusModel& AApplications, TStatusModel& AControllers, QProgressBar& AGauge1,
                   QLabel& AlblMsgCount);

  // One tick (timSystemTimer): AMsgCount frames were counted since the last one.
  void Tick(std::int32_t AMsgCount, const TAddressTables& ATables);
  void ShowRate(std::int32_t AMsgCount);
  void FillLists(const TAddressTables& ATables);

 private:
  TStatusModel& fApplications;
  TStatusModel& fControllers;
  QProgressBar& fGauge1;
  QLabel& flblMsgCount;
};

}  // namespace kelvo
