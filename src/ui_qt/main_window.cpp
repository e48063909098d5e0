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
#include "app/version.h"
#include "diag/my_log.h"
#include "present/form_lifecycle.h"
#include "present/tray_text.h"
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
    : QWidget(AParent), fLog(ALog), fStore(AStore) {
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
  if (timSystem != nullptr) {
    timSystem->stop();
    timAgeTables->stop();
  }
  if (fHost) {
    fHost->StopListening();
  }
  if (auto* app = qobject_cast<TKelvoApplication*>(QCoreApplication::instance())) {
    app->SetExceptionHandler(nullptr);
  }
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
    FormCreateAttached(std::move(AAttachTo));
    return;
  }

  // 2. The address tables (inside the relay host).
  fView = std::make_unique<TQtRelayView>();
  ConnectView();
  fHost = std::make_unique<TRelayHost>(*fView, fLog, fStore);
  fLifecycle = std::make_unique<TFormLifecycle>(
      *fHost, fLog, *this, [this](const std::string& AMessage) { AppOnException(AMessage); });
  // What the relay does about the network shows in the tray's tooltip and on the address.
  fHost->SetStatusSink([this](const TNetworkStatus& AStatus) { ShowNetworkStatus(AStatus); });
  connect(new TNetworkNotifier(this), &TNetworkNotifier::NetworkChanged, this,
          [this] { fHost->NetworkChanged(); });
  fStatus = std::make_unique<TStatusPresenter>(*fUi.ListModel1, *fUi.ListModel2, *fUi.Gauge1,
                                               *fUi.lblMsgCount);

  // 3. Counters: nothing counted yet, shown as "-" until the first frame or tick.
  fUi.ShowReqCount(QStringLiteral("-"));
  fUi.ShowAckCount(QStringLiteral("-"));
  fUi.lblMsgCount->setText(QStringLiteral("-"));

  // 4. The debug log is off at every start unless asked for on the command line.
  fHost->Engine().SetCreateDebugLogs(AOptions.DebugLog);

  // 5. Caption.
  setWindowTitle(QString::fromStdString(MainWindowCaption()));

  // 6. From here on an escaping error is logged (while the debug log is on), not fatal.
  if (auto* app = qobject_cast<TKelvoApplication*>(QCoreApplication::instance())) {
    app->SetExceptionHandler([this](const std::string& AMessage) { AppOnException(AMessage); });
  }

  timSystem = new QTimer(this);
  timSystem->setObjectName(QStringLiteral("timSystem"));
  timSystem->setInterval(kStatusTickMs);
  connect(timSystem, &QTimer::timeout, this, &TfmMain::timSystemTimer);
  timAgeTables = new QTimer(this);
  timAgeTables->setObjectName(QStringLiteral("timAgeTables"));
  timAgeTables->setInterval(kAgeingTickMs);
  connect(timAgeTables, &QTimer::timeout, this, [this] { fLifecycle->AgeingTick(); });
  timSystem->start();
  timAgeTables->start();

  // Each remaining step runs even when an earlier one failed: a bad settings value must not
  // leave the relay silently not listening.
  fLifecycle->RunStep([this] {
    // 7. Lamp pictures; all four lamps grey.
    fLamps = std::make_unique<TLampPanel>(fUi.Lamps(), nullptr);
    for (TLamp lamp : {TLamp::LANRx, TLamp::LANTx, TLamp::WANRx, TLamp::WANTx}) {
      SetLed(lamp, TLedColor::Gray);
    }
  });
  // 8.-11. Adapter, log file name, settings, endpoint.
  fLifecycle->Start();
}

void TfmMain::FormDestroy() {
  if (fAttached) {
    fAttached->Stop();  // the relay is not ours to stop, nor its settings to save
    fTray->Remove();
    return;
  }
  fLifecycle->Destroy(
      [this] {
        timSystem->stop();
        if (fLamps) {
          fLamps->StopTimers();
        }
        timAgeTables->stop();
      },
      [this] { fTray->Remove(); });
}

void TfmMain::AppOnException(const std::string& AMessage) {
  LogAppException(fHost.get(), fLog, AMessage);
}

void TfmMain::timSystemTimer() {
  if (!fHost) {
    return;  // attached: the relay's own tick counts
  }
  fStatus->Tick(fHost->SampleRate(), fHost->Tables());
  ShowNetworkStatus(fHost->NetworkStatus());
}

void TfmMain::ShowNetworkStatus(const TNetworkStatus& AStatus) {
  const std::string tip =
      TrayToolTip(AStatus, fUi.ListModel1->rowCount(), fUi.ListModel2->rowCount());
  fTray->SetToolTip(QString::fromStdString(tip));
  fTray->SetAlert(!AStatus.IsListening());
  fUi.lblLocalIP->setToolTip(QString::fromStdString(DescribeNetworkStatus(AStatus)));
  // The label keeps its one line; why the port cannot be opened is under the mouse.
  fUi.lblError->setToolTip(QString::fromStdString(AStatus.Error));
}

TControlAnswer TfmMain::AnswerRequest(const std::string& ALine) {
  if (!fLifecycle) {
    return AnswerAttachedWindowRequest(ALine);
  }
  return fLifecycle->AnswerRequest(ALine);
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
    fLifecycle->RunSetup(*options, [options] { return options->exec() == QDialog::Accepted; });
  }
}

void TfmMain::acHelpExecute() {
  if (fDialogs.Help == nullptr) {
    return;
  }
  fDialogs.Help->SetHelpFile(QCoreApplication::applicationDirPath() +
                             QStringLiteral("/Readme.txt"));
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
  fExiting = true;
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
  if (isMinimized()) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
  }
  ShowMainWindow();
}

void TfmMain::closeEvent(QCloseEvent* AEvent) {
  if (fExiting) {
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
