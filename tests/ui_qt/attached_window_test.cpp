// The window attached to a relay that runs as a service (kelvorelay --headless, started as its
// own process): its caption, the relay's rows, counters and lamps; Setup's OK reaching the relay
// and saved by it while commands are told "busy"; the relay ending and coming back; and the
// program as a user starts it (the window attaches, a second start brings it forward, its end
// leaves the relay running, a headless start beside a window names that window).
#include <signal.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/control_client.h"
#include "app/instance_guard.h"
#include "app/running_instance.h"
#include "config/registry_store.h"
#include "diag/my_log.h"
#include "present/attached_view.h"
#include "support/relay_doubles.h"
#include "support/relay_process.h"
#include "ui_qt/about_window.h"
#include "ui_qt/attached_window.h"
#include "ui_qt/edit_nat_dialog.h"
#include "ui_qt/help_window.h"
#include "ui_qt/lamp_panel.h"
#include "ui_qt/main_window.h"
#include "ui_qt/options_dialog.h"
#include "ui_qt/status_model.h"
#include "ui_qt/tray_icon.h"

using namespace kelvo;
using namespace std::chrono_literals;

namespace {

std::string SocketOf(const std::string& AExecutable) {
  return TInstanceGuard(AExecutable).ShowRequestName();
}

// The window as RunGui makes it when the relay runs without one, with its dialogs.
struct TAttachedRig {
  explicit TAttachedRig(const std::string& ARelaySocket)
      : fStore(std::make_unique<TRegistryStore>(
            fDir.filePath(QStringLiteral("unused.reg")).toStdString())),
        fWindow(std::make_unique<TfmMain>(
            fLog, *fStore, TCommandLine{}, nullptr,
            [ARelaySocket](const std::string& ALine, std::chrono::milliseconds ATimeout) {
              return SendControlRequest(ARelaySocket, ALine, ATimeout);
            })),
        fEditNAT(std::make_unique<TfmEditNAT>(fWindow.get())),
        fOptions(std::make_unique<TfmOptions>(*fEditNAT, fWindow.get())),
        fAbout(std::make_unique<TfmAbout>(fWindow.get())),
        fHelp(std::make_unique<TfmHelp>(fWindow.get())) {
    fWindow->SetDialogs({fAbout.get(), fOptions.get(), fHelp.get()});
  }
  ~TAttachedRig() { fWindow->FormDestroy(); }

  TfmMain& Window() { return *fWindow; }
  const TMainWindowUi& Ui() { return fWindow->Ui(); }
  TAttachedView& Model() { return fWindow->AttachedWindow()->Model(); }

  QTemporaryDir fDir;
  TMyLog fLog;
  std::unique_ptr<TRegistryStore> fStore;
  std::unique_ptr<TfmMain> fWindow;
  std::unique_ptr<TfmEditNAT> fEditNAT;
  std::unique_ptr<TfmOptions> fOptions;
  std::unique_ptr<TfmAbout> fAbout;
  std::unique_ptr<TfmHelp> fHelp;
};

std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

class TAttachedWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void showsTheRelayAndItsSetupOkIsTakenAndSavedByTheRelay();
  void saysWhenTheRelayHasEndedAndAttachesAgainWhenItIsBack();
  void theProgramAttachesComesForwardAndEndsWithoutTheRelay();
};

void TAttachedWindowTest::showsTheRelayAndItsSetupOkIsTakenAndSavedByTheRelay() {
  test::TConfigHome home;
  test::TUdpPeer controller;
  test::TUdpPeer application;
  const std::string controllerEntry = "1001,127.0.0.1," + std::to_string(controller.Port());
  home.WriteSettings({controllerEntry});
  test::TRelayProcess relay;
  QVERIFY(relay.Start(home, {}).find("listening on") != std::string::npos);

  TAttachedRig rig(SocketOf(test::RelayExecutable()));
  TfmMain& window = rig.Window();
  QVERIFY(window.Attached());
  QCOMPARE(window.windowTitle(), QStringLiteral("KelvoRelay v1.0.2 (service)"));
  QCOMPARE(rig.Ui().ListModel2->rowCount(), 1);
  QCOMPARE(rig.Ui().ListModel2->index(0, 3).data().toString(), QStringLiteral("static"));
  QCOMPARE(rig.Ui().lblLocalIP->text(), QStringLiteral("127.0.0.1"));
  QVERIFY(rig.Ui().lblError->isHidden());
  QVERIFY(!window.Tray().Alert());
  QVERIFY(window.AttachedWindow()->timPoll->isActive());
  QCOMPARE(window.AttachedWindow()->timPoll->interval(), 250);

  // A request through the relay: its row, its count and its lamp, as the relay's own window
  // would show them.
  application.SendToRelay(test::MakeFrame(5, 1001, 0, {0x01}));
  QVERIFY(controller.Receive().has_value());
  QTRY_COMPARE_WITH_TIMEOUT(rig.Ui().ListModel1->rowCount(), 1, 3000);
  QCOMPARE(rig.Ui().ListModel1->index(0, 1).data().toString(), QStringLiteral("5"));
  QCOMPARE(rig.Ui().lblReqCount->text(), QStringLiteral("1"));
  bool lit = false;
  for (int attempt = 0; attempt < 20 && !lit; ++attempt) {
    application.SendToRelay(test::MakeFrame(5, 1001, 0, {0x01}));
    QTest::qWait(60);
    lit = rig.Ui().imgLANRx->pixmap().toImage() == window.Lamps().Picture(TLedColor::Red).toImage();
  }
  QVERIFY2(lit, "the LAN Rx lamp lights from the relay's activity");

  // Setup: the relay's values; while it is open a command is told "busy"; OK goes to the
  // relay in one request, which applies and saves it.
  std::filesystem::remove(home.SettingsFile());
  bool sawRelaysValues = false;
  test::TCommandResult busy;
  QTimer::singleShot(0, &window, [&] {
    auto* options = qobject_cast<TfmOptions*>(QApplication::activeModalWidget());
    if (options == nullptr) {
      return;
    }
    sawRelaysValues =
        !options->cbCreateDebugLogs->isChecked() && options->lvStatic->rowCount() == 1;
    busy = test::RunRelayCommand(home, {"--add-static", "7,127.0.0.1,1"});
    options->cbCreateDebugLogs->setChecked(true);
    options->btnOK->click();
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  connect(&watchdog, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      modal->close();
    }
  });
  watchdog.start(20000);
  window.acOptionsExecute();
  QVERIFY(sawRelaysValues);
  QCOMPARE(busy.ExitCode, 1);
  QVERIFY2(busy.Err.find("busy: Setup is open in an attached window") != std::string::npos,
           busy.Err.c_str());
  QCOMPARE(std::count(busy.Err.begin(), busy.Err.end(), '\n'), 1);
  const std::string saved = ReadFile(home.SettingsFile());
  QVERIFY2(saved.find("\"StaticList0\"=\"" + controllerEntry + "\"") != std::string::npos,
           saved.c_str());
  QVERIFY2(saved.find("StaticList1") == std::string::npos, saved.c_str());
  QTRY_VERIFY_WITH_TIMEOUT(rig.Model().Report() && rig.Model().Report()->DebugLog, 3000);
  QVERIFY(rig.Ui().lblError->isHidden());
  QCOMPARE(test::RunRelayCommand(home, {"--add-static", "7,127.0.0.1,1"}).ExitCode, 0);
  QTRY_COMPARE_WITH_TIMEOUT(rig.Ui().ListModel2->rowCount(), 2, 3000);

  // "Exit" ends the window only.
  window.Exit1Click();
  window.FormDestroy();
  QCOMPARE(relay.Wait(300ms), -1);
  QCOMPARE(test::RunRelayCommand(home, {"--status"}).ExitCode, 0);
  QCOMPARE(relay.Stop(SIGTERM), 0);
}

void TAttachedWindowTest::saysWhenTheRelayHasEndedAndAttachesAgainWhenItIsBack() {
  test::TConfigHome home;
  home.WriteSettings({"1001,127.0.0.1,9"});
  test::TRelayProcess relay;
  QVERIFY(relay.Start(home, {}).find("listening on") != std::string::npos);
  TAttachedRig rig(SocketOf(test::RelayExecutable()));
  const TMainWindowUi& ui = rig.Ui();
  QCOMPARE(ui.ListModel2->rowCount(), 1);
  QVERIFY(ui.Button1->isEnabled());

  QCOMPARE(relay.Stop(SIGTERM), 0);
  QTRY_VERIFY_WITH_TIMEOUT(!ui.lblError->isHidden(), 3000);
  QCOMPARE(ui.lblError->text(), QStringLiteral("The relay has ended"));
  QCOMPARE(ui.ListModel2->rowCount(), 0);
  QCOMPARE(ui.lblLocalIP->text(), QString());
  QCOMPARE(ui.lblReqCount->text(), QStringLiteral("-"));
  QVERIFY2(!ui.Button1->isEnabled() && !rig.Window().acOptions->isEnabled(),
           "nothing that needs the relay is offered");
  QVERIFY(rig.Window().Tray().Alert());
  QVERIFY(rig.Window().Tray().Icon().toolTip().contains(QStringLiteral("The relay has ended")));

  test::TRelayProcess again;
  QVERIFY(again.Start(home, {}).find("listening on") != std::string::npos);
  QTRY_VERIFY_WITH_TIMEOUT(ui.lblError->isHidden(), 3000);
  QTRY_COMPARE_WITH_TIMEOUT(ui.ListModel2->rowCount(), 1, 3000);
  QVERIFY(ui.Button1->isEnabled());
  QVERIFY(!rig.Window().Tray().Alert());
  QCOMPARE(again.Stop(SIGTERM), 0);
}

void TAttachedWindowTest::theProgramAttachesComesForwardAndEndsWithoutTheRelay() {
  test::TConfigHome home;
  home.WriteSettings({"1001,127.0.0.1,9"});
  const QString program = QString::fromStdString(test::RelayExecutable());
  const auto start = [&](const QStringList& AArgs) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home.Dir()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->start(program, AArgs);
    process->waitForStarted(5000);
    return process;
  };
  const QString viewSocket = QString::fromStdString(
      TInstanceGuard(AttachedViewGuardKey(program.toStdString())).ShowRequestName());

  // The relay as a service, then the window as the menu entry starts it: it stays, attached.
  test::TRelayProcess relay;
  QVERIFY(relay.Start(home, {}).find("listening on") != std::string::npos);
  auto view = start({});
  QTRY_VERIFY_WITH_TIMEOUT(view->state() != QProcess::Running || QFile::exists(viewSocket), 10000);
  QCOMPARE(view->state(), QProcess::Running);

  // A second start brings the attached window forward and ends; so does a third.
  for (int again = 0; again < 2; ++again) {
    auto second = start({});
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitCode(), 0);
  }
  QCOMPARE(view->state(), QProcess::Running);

  // Ending the window (as "Exit" does) leaves the relay running.
  view->terminate();
  QVERIFY(view->waitForFinished(10000));
  QCOMPARE(view->exitCode(), 0);
  QCOMPARE(relay.Wait(200ms), -1);
  QCOMPARE(test::RunRelayCommand(home, {"--status"}).ExitCode, 0);
  QCOMPARE(relay.Stop(SIGTERM), 0);
  QCOMPARE(test::RunRelayCommand(home, {"--status"}).ExitCode, 1);

  // The relay with its own window: a headless start says which instance runs, in one line.
  auto window = start({});
  QTRY_VERIFY_WITH_TIMEOUT(
      window->state() != QProcess::Running ||
          QFile::exists(QString::fromStdString(SocketOf(program.toStdString()))),
      10000);
  QCOMPARE(window->state(), QProcess::Running);
  const test::TCommandResult headless = test::RunRelayCommand(home, {"--headless"});
  QCOMPARE(headless.ExitCode, 3);
  const std::string named = "(pid " + std::to_string(window->processId()) + ", window)";
  QVERIFY2(headless.Err.find(named) != std::string::npos, headless.Err.c_str());
  QCOMPARE(std::count(headless.Err.begin(), headless.Err.end(), '\n'), 1);
  window->terminate();
  QVERIFY(window->waitForFinished(10000));
}

QTEST_MAIN(TAttachedWindowTest)
#include "attached_window_test.moc"
