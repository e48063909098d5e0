#include "ui_qt/status_presenter.h"

#include <QLabel>
#include <QProgressBar>

#include "present/status_rows.h"
#include "ui_qt/status_model.h"

namespace kelvo {

TStatusPresenter::TStatusPresenter(TStatusModel& AApplications, TStatusModel& AControllers,
                                   QProgressBar& AGauge1, QLabel& AlblMsgCount)
    : fApplications(AApplications),
      fControllers(AControllers),
      fGauge1(AGauge1),
      flblMsgCount(AlblMsgCount) {}

void TStatusPresenter::Tick(std::int32_t AMsgCount, const TAddressTables& ATables) {
  ShowRate(AMsgCount);
  FillLists(ATables);
}

void TStatusPresenter::ShowRate(std::int32_t AMsgCount) {
  const QString rate = QString::fromStdString(MsgRateText(AMsgCount));
  fGauge1.setValue(GaugePosition(AMsgCount));
  // A screen reader reads the bar's position as the gauge's value (it stops at 20) and this
  // as what the value means.
  fGauge1.setAccessibleDescription(rate);
  flblMsgCount.setText(rate);
}

void TStatusPresenter::FillLists(const TAddressTables& ATables) {
  // Both lists show the same moment of the tables.
  const std::shared_ptr<const TTablesSnapshot> snapshot = TakeStatusSnapshot(ATables);
  fApplications.SetRows(TStatusRows(snapshot, TStatusList::Applications));
  fControllers.SetRows(TStatusRows(snapshot, TStatusList::Controllers));
}

}  // namespace kelvo
