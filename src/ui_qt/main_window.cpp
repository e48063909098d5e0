#include "ui_qt/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/relay_host.h"
#include "diag/my_log.h"
#include "ui_qt/about_window.h"
#include "ui_qt/attached_window.h"
#include "ui_qt/gui_resources.h"
#include "ui_qt/help_window.h"
#include "ui_qt/kelvo_application.h"
#include "ui_qt/lamp_panel.h"
#include "ui_qt/main_window_keys.h"
#include "ui_qt/network_notifier.h"
#include "ui_qt/options_dialog.h"
#include "ui_qt/qt_relay_view.h"
#include "ui_qt/screen_fit.h"
#include "ui_qt/status_model.h"
#include "ui_qt/status_presenter.h"
#include "ui_qt/tray_icon.h"

namespace kelvo {

TfmMain::TfmMain(TMyLog& ALog, TRegistryStore& AStore, const TCommandLine& AOptions,
                 QWidget* AParent, TRelayAsk AAttachTo)
    : QWidget(AParent),
      fLog(ALog),
      fStore(AStore),
      fPresenter(std::make_unique<TMainPresenter>(*this, ALog, AStore)) {
  InitGuiResources();
  setObjectName(QStringLiteral("fmMain"));
  // Sizable, with system menu and minimize button but no maximize button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
  fUi.Setup(this);
  resize(kDesignClientWidth, kDesignClientHeight);
  CreateActions();
  new TMainWindowKeys(*this, fUi, *acHelp, *acClose);  // children of the window
  new TScreenFit(*this);
  FormCreate(AOptions, std::move(AAttachTo));
}

TfmMain::~TfmMain() {
  // Without an orderly shut-down (FormDestroy) the listener must still be gone before the
  // lamps and lists it reports to.
  fPresenter->Abandon();
}

void TfmMain::CreateActions() {
  struct TActionDef {
    QAction*& Action;
    const char* Name;
    const char* Text;
    QPushButton* Button;
    void (TfmMain::*Handler)();
  };
  const TActionDef defs[] = {
      {acOptions, "acOptions", "Setup", fUi.Button1, &TfmMain::acOptionsExecute},
      {acHelp, "acHelp", "Help", fUi.Button4, &TfmMain::acHelpExecute},
      {acAbout, "acAbout", "About", fUi.Button2, &TfmMain::acAboutExecute},
      {acClose, "acClose", "Close", fUi.Button3, &TfmMain::acCloseExecute},
  };
  for (const TActionDef& def : defs) {
    def.Action = new QAction(QString::fromLatin1(def.Text), this);  // owned by the window
    def.Action->setObjectName(QString::fromLatin1(def.Name));
    connect(def.Action, &QAction::triggered, this, def.Handler);
    QAction* action = def.Action;
    connect(def.Button, &QPushButton::clicked, action, &QAction::trigger);
  }
}

void TfmMain::ConnectView() {
  connect(fView.get(), &TQtRelayView::LampRequested, this, &TfmMain::SetLed);
  connect(fView.get(), &TQtRelayView::ReqCountShown, this,
          [this](qint32 AValue) { fUi.ShowReqCount(QString::number(AValue)); });
  connect(fView.get(), &TQtRelayView::AckCountShown, this,
          [this](qint32 AValue) { fUi.ShowAckCount(QString::number(AValue)); });
  connect(fView.get(), &TQtRelayView::LocalIPShown, fUi.lblLocalIP, &QLabel::setText);
  connect(fView.get(), &TQtRelayView::PortErrorShown, fUi.lblError, &QLabel::setVisible);
}

void TfmMain::FormCreate(const TCommandLine& AOptions, TRelayAsk AAttachTo) {
  // 1. The notification icon with its menu.
  fTray = std::make_unique<TTrayIcon>(nullptr);
  connect(fTray.get(), &TTrayIcon::ShowRequested, this, &TfmMain::Restore1Click);
  connect(fTray.get(), &TTrayIcon::ExitRequested, this, &TfmMain::Exit1Click);
  fTray->Add();
  if (AAttachTo) {
    fPresenter->FormCreateAttached(std::move(AAttachTo));
    return;
  }

  // 2. The address tables (inside the relay host).
  fView = std::make_unique<TQtRelayView>();
  ConnectView();
  TRelayHost& host = fPresenter->CreateRelay(*fView);
  // What the relay does about the network shows in the tray's tooltip and on the address.
  host.SetStatusSink([this](const TNetworkStatus& AStatus) { ShowNetworkStatus(AStatus); });
  connect(new TNetworkNotifier(this), &TNetworkNotifier::NetworkChanged, this,
          [&host] { host.NetworkChanged(); });
  fStatus = std::make_unique<TStatusPresenter>(*fUi.ListModel1, *fUi.ListModel2, *fUi.Gauge1,
                                               *fUi.lblMsgCount);
  fPresenter->StartRelay(AOptions.DebugLog);
}

void TfmMain::ShowCounters(const std::string& AText) {
  const QString text = QString::fromStdString(AText);
  fUi.ShowReqCount(text);
  fUi.ShowAckCount(text);
  fUi.lblMsgCount->setText(text);
}

void TfmMain::SetCaption(const std::string& ACaption) {
  setWindowTitle(QString::fromStdString(ACaption));
}

void TfmMain::SetExceptionHandler(TFormLifecycle::TExceptionHandler AHandler) {
  if (auto* app = qobject_cast<TKelvoApplication*>(QCoreApplication::instance())) {
    app->SetExceptionHandler(std::move(AHandler));
  }
}

void TfmMain::StartTimers() {
  timSystem = new QTimer(this);
  timSystem->setObjectName(QStringLiteral("timSystem"));
  timSystem->setInterval(kStatusTickMs);
  connect(timSystem, &QTimer::timeout, this, &TfmMain::timSystemTimer);
  timAgeTables = new QTimer(this);
  timAgeTables->setObjectName(QStringLiteral("timAgeTables"));
  timAgeTables->setInterval(kAgeingTickMs);
  connect(timAgeTables, &QTimer::timeout, this, [this] { fPresenter->AgeingTick(); });
  timSystem->start();
  timAgeTables->start();
}

void TfmMain::StopTimers() {
  if (fAttached) {
    fAttached->Stop();
  }
  if (timSystem != nullptr) {
    timSystem->stop();
  }
  if (fLamps) {
    fLamps->StopTimers();
  }
  if (timAgeTables != nullptr) {
    timAgeTables->stop();
  }
}

void TfmMain::CreateLamps() {
  fLamps = std::make_unique<TLampPanel>(fUi.Lamps(), nullptr);
}

void TfmMain::RemoveTrayIcon() {
  fTray->Remove();
}

void TfmMain::FormDestroy() {
  fPresenter->FormDestroy();
}

void TfmMain::AppOnException(const std::string& AMessage) {
  fPresenter->AppOnException(AMessage);
}

void TfmMain::timSystemTimer() {
  TRelayHost* host = fPresenter->Host();
  if (host == nullptr) {
    return;  // attached: the relay's own tick counts
  }
  fStatus->Tick(host->SampleRate(), host->Tables());
  ShowNetworkStatus(host->NetworkStatus());
}

void TfmMain::ShowNetworkStatus(const TNetworkStatus& AStatus) {
  fPresenter->ShowNetworkStatus(AStatus, fUi.ListModel1->rowCount(), fUi.ListModel2->rowCount());
  // The label keeps its one line; why the port cannot be opened is under the mouse.
  fUi.lblError->setToolTip(QString::fromStdString(AStatus.Error));
}

void TfmMain::ShowNetworkTexts(const std::string& ATrayTip, bool AAlert,
                               const std::string& AAddressTip) {
  fTray->SetToolTip(QString::fromStdString(ATrayTip));
  fTray->SetAlert(AAlert);
  fUi.lblLocalIP->setToolTip(QString::fromStdString(AAddressTip));
}

TControlAnswer TfmMain::AnswerRequest(const std::string& ALine) {
  return fPresenter->AnswerRequest(ALine);
}

void TfmMain::SetLed(TLamp ALamp, TLedColor AColor) {
  if (fLamps) {
    fLamps->SetLed(ALamp, AColor);
  }
}

void TfmMain::acOptionsExecute() {
  if (fAttached && fDialogs.Options != nullptr) {
    fAttached->RunSetup(*fDialogs.Options);
    return;
  }
  if (TfmOptions* options = fDialogs.Options) {
    fPresenter->RunSetup(*options, [options] { return options->exec() == QDialog::Accepted; });
  }
}

void TfmMain::acHelpExecute() {
  if (fDialogs.Help == nullptr) {
    return;
  }
  fDialogs.Help->SetHelpFile(QString::fromStdString(HelpFileBesideExecutable()));
  fDialogs.Help->exec();
}

void TfmMain::acAboutExecute() {
  if (fDialogs.About != nullptr) {
    fDialogs.About->exec();
  }
}

void TfmMain::acCloseExecute() {
  close();
}

void TfmMain::Restore1Click() {
  ShowMainWindow();
}

void TfmMain::Exit1Click() {
  fPresenter->Exit1Click();
}

void TfmMain::EndMessageLoop() {
  emit ExitProgram();
}

bool TfmMain::HidesToTray() const {
  return TTrayIcon::Available();
}

void TfmMain::ShowMainWindow() {
  show();
  raise();
  activateWindow();
}

void TfmMain::ShowRequested() {
  fPresenter->ShowRequested();
}

bool TfmMain::Minimized() const {
  return isMinimized();
}

void TfmMain::RestoreMinimized() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
}

void TfmMain::closeEvent(QCloseEvent* AEvent) {
  if (fPresenter->Exiting()) {
    AEvent->accept();
    return;
  }
  // Closing hides the window into the notification area. Whether there is one is asked at
  // every close: a tray host may come or go while the relay runs, and without one a hidden
  // window could never be reached or ended again, so the close then ends the program as
  // "Exit" does (settings saved).
  if (!TTrayIcon::Available()) {
    AEvent->accept();
    Exit1Click();
    return;
  }
  AEvent->ignore();
  fTray->Add();  // a tray that appeared after start has no icon of ours yet
  hide();
}

void TfmMain::resizeEvent(QResizeEvent* AEvent) {
  QWidget::resizeEvent(AEvent);
  fUi.FormResize(size());
}

QPoint TfmMain::RestoredFramePosition() const {
  // The frame's offset from the client area is the same in every state.
  const QPoint frameOffset = geometry().topLeft() - frameGeometry().topLeft();
  if ((isMinimized() || isMaximized()) && normalGeometry().isValid()) {
    return normalGeometry().topLeft() - frameOffset;
  }
  return pos();
}

std::int32_t TfmMain::RestoredTop() const {
  return RestoredFramePosition().y();
}

std::int32_t TfmMain::RestoredLeft() const {
  return RestoredFramePosition().x();
}

void TfmMain::SetTop(std::int32_t ATop) {
  move(x(), ATop);
}

void TfmMain::SetLeft(std::int32_t ALeft) {
  move(ALeft, y());
}

}  // namespace kelvo
