#include "ui_qt/attached_window.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "present/status_rows.h"
#include "ui_qt/lamp_panel.h"
#include "ui_qt/main_window.h"
#include "ui_qt/main_window_layout.h"
#include "ui_qt/options_dialog.h"
#include "ui_qt/status_model.h"
#include "ui_qt/tray_icon.h"

namespace kelvo {

TAttachedWindow::TAttachedWindow(TMainWindowUi& AUi, TLampPanel& ALamps, TTrayIcon& ATray,
                                 QAction& AacOptions, TRelayAsk AAsk, QObject* AParent)
    : QObject(AParent),
      fUi(AUi),
      fLamps(ALamps),
      fTray(ATray),
      facOptions(AacOptions),
      fModel(std::move(AAsk)) {
  setObjectName(QStringLiteral("AttachedWindow"));
  timPoll = new QTimer(this);
  timPoll->setObjectName(QStringLiteral("timPoll"));
  timPoll->setInterval(static_cast<int>(kAttachedPollPeriod.count()));
  connect(timPoll, &QTimer::timeout, this, &TAttachedWindow::timPollTimer);
}

void TAttachedWindow::Start() {
  Show(true);
  timPollTimer();
  timPoll->start();
}

void TAttachedWindow::Stop() {
  timPoll->stop();
}

void TAttachedWindow::timPollTimer() {
  const TAttachedView::TPollResult result = fModel.Poll();
  if (result.Polled) {
    Show(result.RowsChanged);
  }
}

void TAttachedWindow::Show(bool ARowsChanged) {
  const TAttachedDisplay& shown = fModel.Display();
  if (ARowsChanged) {
    fUi.ListModel1->SetRows(TStatusRows(shown.Rows, TStatusList::Applications));
    fUi.ListModel2->SetRows(TStatusRows(shown.Rows, TStatusList::Controllers));
  }
  fUi.Gauge1->setValue(shown.Gauge);
  fUi.lblMsgCount->setText(QString::fromStdString(shown.MsgCount));
  fUi.ShowReqCount(QString::fromStdString(shown.ReqCount));
  fUi.ShowAckCount(QString::fromStdString(shown.AckCount));
  fUi.lblLocalIP->setText(QString::fromStdString(shown.LocalIP));
  fUi.lblLocalIP->setToolTip(QString::fromStdString(shown.LocalIPHint));
  fUi.lblError->setText(QString::fromStdString(shown.ErrorText));
  fUi.lblError->setToolTip(QString::fromStdString(shown.ErrorHint));
  fUi.lblError->setVisible(shown.ErrorVisible);
  // Lit from one look to the next: the model has already decided, no lamp timer is needed.
  const std::array<QLabel*, 4> lamps = fUi.Lamps();
  for (std::size_t i = 0; i < lamps.size(); ++i) {
    lamps[i]->setPixmap(fLamps.Picture(shown.Lamps[i]));
  }
  facOptions.setEnabled(shown.SetupEnabled);
  fUi.Button1->setEnabled(shown.SetupEnabled);
  fTray.SetToolTip(QString::fromStdString(shown.ToolTip));
  fTray.SetAlert(shown.Alert);
}

void TAttachedWindow::RunSetup(TfmOptions& AOptions) {
  fModel.RunSetup(AOptions, [&AOptions] { return AOptions.exec() == QDialog::Accepted; });
  Show(false);
}

// The attached window's part of the start-up (TMainPresenter::FormCreateAttached): no relay,
// tables, endpoint or timers of its own.
void TfmMain::StartAttached(TRelayAsk AAsk) {
  fLamps = std::make_unique<TLampPanel>(fUi.Lamps(), nullptr);
  fAttached =
      std::make_unique<TAttachedWindow>(fUi, *fLamps, *fTray, *acOptions, std::move(AAsk), nullptr);
  fAttached->Start();
}

}  // namespace kelvo
