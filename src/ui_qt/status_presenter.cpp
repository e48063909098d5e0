#include "ui_qt/status_presenter.h"

#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <algorithm>
#include <vector>

namespace kelvo {

namespace {

QString Unsigned(std::int32_t AValue) {
  return QString::number(static_cast<std::uint32_t>(AValue));
}

void SetRow(QTableWidget& AList, int ARow, const TTableRow& AEntry, const QString& ATimeout) {
  const QString texts[] = {
      QString::number(ARow + 1) + QLatin1Char('.'),
      NADText(AEntry.NAD, AEntry.NADAlias),
      QString::fromStdString(AEntry.Host) + QLatin1Char(':') + QString::number(AEntry.Port),
      ATimeout,
  };
  for (int column = 0; column < 4; ++column) {
    auto* item = new QTableWidgetItem(texts[column]);  // owned by the list
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    AList.setItem(ARow, column, item);
  }
}

// Suspends redrawing of a list while it is rebuilt; resumes it on every way out.
class TUpdatesSuspended {
 public:
  explicit TUpdatesSuspended(QWidget& AWidget) : fWidget(AWidget) {
    fWidget.setUpdatesEnabled(false);
  }
  ~TUpdatesSuspended() { fWidget.setUpdatesEnabled(true); }
  TUpdatesSuspended(const TUpdatesSuspended&) = delete;
  TUpdatesSuspended& operator=(const TUpdatesSuspended&) = delete;

 private:
  QWidget& fWidget;
};

}  // namespace

QString NADText(std::int32_t ANAD, std::int32_t ANADAlias) {
  if (ANAD == ANADAlias) {
    return Unsigned(ANAD);
  }
  return Unsigned(ANAD) + QLatin1Char('/') + Unsigned(ANADAlias);
}

QString MsgRateText(std::int32_t AMsgCount) {
  return QString::number(AMsgCount) + QStringLiteral(" msg/sec");
}

TStatusPresenter::TStatusPresenter(QTableWidget& AListView1, QTableWidget& AListView2,
                                   QProgressBar& AGauge1, QLabel& AlblMsgCount)
    : fListView1(AListView1),
      fListView2(AListView2),
      fGauge1(AGauge1),
      flblMsgCount(AlblMsgCount) {}

void TStatusPresenter::Tick(std::int32_t AMsgCount, const TTablesSnapshot& ASnapshot) {
  ShowRate(AMsgCount);
  FillLists(ASnapshot);
}

void TStatusPresenter::ShowRate(std::int32_t AMsgCount) {
  fGauge1.setValue(std::clamp(AMsgCount, 0, kGaugeMax));
  flblMsgCount.setText(MsgRateText(AMsgCount));
}

void TStatusPresenter::FillLists(const TTablesSnapshot& ASnapshot) {
  {
    TUpdatesSuspended suspended(fListView1);
    fListView1.setRowCount(0);  // drops the rows and any selection with them
    fListView1.setRowCount(static_cast<int>(ASnapshot.NATRows.size()));
    int row = 0;
    for (const TTableRow& entry : ASnapshot.NATRows) {
      SetRow(fListView1, row, entry, QString::number(entry.Timeout));
      ++row;
    }
  }
  {
    TUpdatesSuspended suspended(fListView2);
    fListView2.setRowCount(0);
    fListView2.setRowCount(
        static_cast<int>(ASnapshot.StaticRows.size() + ASnapshot.PushRows.size()));
    int row = 0;  // numbering runs on from the static rows into the push rows
    for (const TTableRow& entry : ASnapshot.StaticRows) {
      SetRow(fListView2, row, entry, QStringLiteral("static"));
      ++row;
    }
    for (const TTableRow& entry : ASnapshot.PushRows) {
      SetRow(fListView2, row, entry, QString::number(entry.Timeout));
      ++row;
    }
  }
}

}  // namespace kelvo
