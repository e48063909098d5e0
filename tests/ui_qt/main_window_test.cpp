// The main window with a real relay host bound to 127.0.0.1:8442: layout, resize rule, status
// tick, lamps, tray menu, closing, and the error handler.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <stdexcept>
#include <vector>

#include "app/relay_host.h"
#include "config/registry_store.h"
#include "diag/my_log.h"
#include "present/gauge_look.h"
#include "present/main_window_design.h"
#include "support/relay_process.h"
#include "ui_qt/edit_nat_dialog.h"
#include "ui_qt/kelvo_application.h"
#include "ui_qt/lamp_panel.h"
#include "ui_qt/main_window.h"
#include "ui_qt/options_dialog.h"
#include "ui_qt/tray_icon.h"
#include "window_test_support.h"

using namespace kelvo;

namespace {

int RowCount(const QTableView* AList) {
  return AList->model()->rowCount();
}

QStringList RowTexts(const QTableView* AList, int ARow) {
  QStringList texts;
  const QAbstractItemModel* model = AList->model();
  for (int column = 0; column < model->columnCount(); ++column) {
    texts << model->index(ARow, column).data().toString();
  }
  return texts;
}

std::unique_ptr<TNATInfo> Entry(std::int32_t ANAD, std::int32_t AAlias, const char* AHost,
                                std::uint16_t APort, std::int32_t ATimeout) {
  auto entry = std::make_unique<TNATInfo>(ANAD, AHost, APort, ATimeout);
  entry->SetNADAlias(AAlias);
  return entry;
}

// Where every part of AWindow stands against where the shared design and resize rule put it for
// the window's client size now: the whole place of a part of fixed size, the top-left corner (and
// a designed width) of a label sized by its text. Empty when all agree.
QString PartsOffTheirPlaces(const QWidget& AWindow) {
  const std::vector<TBounds> places = MainWindowLayout(AWindow.width(), AWindow.height(), 96);
  QString off;
  for (const TPartSpec& part : MainWindowParts()) {
    const auto* widget = AWindow.findChild<const QWidget*>(QString::fromLatin1(part.Name));
    if (widget == nullptr) {
      off += QStringLiteral("%1 missing; ").arg(QString::fromLatin1(part.Name));
      continue;
    }
    const TBounds& place = places[static_cast<std::size_t>(part.Id - idImage1)];
    QRect expected(place.Left, place.Top, place.Width, place.Height);
    if (part.Design.Width == 0) {
      expected.setWidth(widget->width());
    }
    if (part.Design.Height == 0) {
      expected.setHeight(widget->height());
    }
    if (widget->geometry() != expected) {
      const QRect at = widget->geometry();
      off += QStringLiteral("%1 at %2,%3 %4x%5 (designed %6,%7 %8x%9); ")
                 .arg(QString::fromLatin1(part.Name))
                 .arg(at.x())
                 .arg(at.y())
                 .arg(at.width())
                 .arg(at.height())
                 .arg(expected.x())
                 .arg(expected.y())
                 .arg(expected.width())
                 .arg(expected.height());
    }
  }
  return off;
}

}  // namespace

class TMainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void layoutAtDesignedSize();
  void resizeSpreadsListsOverWidth();
  void namesCaptionAndStartState();
  void statusTickFillsBothLists();
  void statusTickShowsRateAndResetsIt();
  void statusTickAtTheTablesBound();
  void lampFlashesAndTurnsGrey();
  void lampHeldLitByCloseFrames();
  void greyLeavesTimerRunning();
  void trayMenuRestoresAndExits();
  void portErrorTellsItsReasonUnderTheMouse();
  void closeHidesAndRelayGoesOn();
  void closeWithoutTrayEndsAsExitDoes_data();
  void closeWithoutTrayEndsAsExitDoes();
  void tabLeavesTheStatusLists();
  void rateLabelReadableAtEveryFill();
  void showRequestRestoresMinimizedWindow();
  void errorsReachDebugLogOnlyWhenOn();
  void shutDownSavesSettings();
  void unreadableSettingsStillListenAndStayOnDisk();
  void unresolvableHostKeptThroughSetupSaveAndLoad();

 private:
  TfmMain& Window() { return *fRig->fWindow; }
  template <typename T>
  T* Child(const char* AName) {
    return fRig->fWindow->findChild<T*>(QString::fromLatin1(AName));
  }

  std::unique_ptr<test::TWindowRig> fRig;
};

void TMainWindowTest::init() {
  TTrayIcon::OverrideAvailable(true);
  fRig =
      std::make_unique<test::TWindowRig>("\"Top\"=dword:00000028\r\n\"Left\"=dword:00000032\r\n");
  QVERIFY(fRig->fDir.isValid());
  fRig->fLog->SetLogFile(fRig->fDir.filePath(QStringLiteral("debug.log")).toStdString());
  fRig->fWindow->show();
  QVERIFY(QTest::qWaitForWindowExposed(fRig->fWindow.get()));
}

void TMainWindowTest::cleanup() {
  fRig.reset();
  TTrayIcon::OverrideAvailable(std::nullopt);
}

void TMainWindowTest::layoutAtDesignedSize() {
  const TMainWindowUi& ui = Window().Ui();
  QCOMPARE(Window().size(), QSize(kMainClientWidth, kMainClientHeight));
  // Every part, the counters showing "-" included, where the design puts it.
  QCOMPARE(PartsOffTheirPlaces(Window()), QString());
  // Columns of both lists.
  for (const QTableView* list : {ui.ListView1, ui.ListView2}) {
    QCOMPARE(list->model()->columnCount(), 4);
    QCOMPARE(list->model()->headerData(2, Qt::Horizontal).toString(),
             QStringLiteral("IP address:port"));
    QCOMPARE(list->columnWidth(0), 34);
    QCOMPARE(list->columnWidth(1), 120);
    QCOMPARE(list->columnWidth(2), 120);
    QCOMPARE(list->columnWidth(3), 60);
    QVERIFY(!list->horizontalHeader()->sectionsClickable());
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  }
}

void TMainWindowTest::resizeSpreadsListsOverWidth() {
  // Wider and taller; narrower than the panel needs (lists of no width); narrower, where the
  // panel, the address and the error line move left; back to the designed size. The rule's
  // figures are held in the design's own test.
  for (const QSize& size : {QSize(1001, 600), QSize(150, 200), QSize(700, 456), QSize(872, 456)}) {
    Window().resize(size);
    QCOMPARE(Window().size(), size);
    QCOMPARE(PartsOffTheirPlaces(Window()), QString());
  }
}

void TMainWindowTest::namesCaptionAndStartState() {
  QCOMPARE(Window().windowTitle(), QStringLiteral("KelvoRelay v1.0.2"));
  QVERIFY(!(Window().windowFlags() & Qt::WindowMaximizeButtonHint));
  for (const char* name :
       {"Image1",        "Shape1",    "Image3",      "lblLAN",   "imgApplication", "lblWAN",
        "imgController", "ListView1", "ListView2",   "Panel1",   "Image2",         "Label1",
        "lblReqCount",   "Label2",    "lblAckCount", "imgLANRx", "imgWANRx",       "imgLANTx",
        "imgWANTx",      "Label3",    "Label4",      "Label5",   "Label6",         "Label7",
        "Label8",        "Gauge1",    "lblMsgCount", "Label9",   "Label10",        "Label11",
        "lblLocalIP",    "lblError",  "Button1",     "Button2",  "Button3",        "Button4"}) {
    QVERIFY2(Child<QWidget>(name) != nullptr, name);
  }
  QCOMPARE(Child<QPushButton>("Button1")->text(), QStringLiteral("Setup"));
  QCOMPARE(Child<QPushButton>("Button4")->text(), QStringLiteral("Help"));
  QCOMPARE(Child<QPushButton>("Button2")->text(), QStringLiteral("About"));
  QCOMPARE(Child<QPushButton>("Button3")->text(), QStringLiteral("Close"));
  QCOMPARE(Child<QLabel>("lblError")->text(), QStringLiteral("Error opening port 8442!"));

  // Before the first tick: "-" everywhere, grey lamps with stopped timers, empty lists.
  const TMainWindowUi& ui = Window().Ui();
  QCOMPARE(ui.lblMsgCount->text(), QStringLiteral("-"));
  QCOMPARE(ui.lblReqCount->text(), QStringLiteral("-"));
  QCOMPARE(ui.lblAckCount->text(), QStringLiteral("-"));
  QCOMPARE(ui.Gauge1->minimum(), 0);
  QCOMPARE(ui.Gauge1->maximum(), 20);
  QVERIFY(!ui.Gauge1->isTextVisible());
  QCOMPARE(RowCount(ui.ListView1), 0);
  QCOMPARE(RowCount(ui.ListView2), 0);
  const QPixmap& gray = Window().Lamps().Picture(TLedColor::Gray);
  QCOMPARE(gray.size(), QSize(16, 16));
  QVERIFY(gray.hasAlphaChannel());
  for (QLabel* lamp : ui.Lamps()) {
    QVERIFY(test::ShowsPicture(lamp, gray));
  }
  for (TLamp lamp : {TLamp::LANRx, TLamp::WANRx, TLamp::LANTx, TLamp::WANTx}) {
    QVERIFY(!Window().Lamps().Timer(lamp)->isActive());
  }
  QVERIFY(Window().timSystem->isActive());
  QCOMPARE(Window().timSystem->interval(), 1000);
  QVERIFY(Window().timAgeTables->isActive());
  QCOMPARE(Window().timAgeTables->interval(), 100);
  // Settings were loaded before the endpoint started.
  QCOMPARE(Window().Host().EthAdapterInfo().ID(), std::string("lo"));
}

void TMainWindowTest::statusTickFillsBothLists() {
  // Qt's own checks of a model's answers and signals run on both lists throughout.
  const QAbstractItemModelTester checkApplications(
      Window().Ui().ListView1->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
  const QAbstractItemModelTester checkControllers(
      Window().Ui().ListView2->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
  TAddressTables& tables = Window().Host().Tables();
  {
    const TAddressTables::TLock lock(tables);
    tables.fNATTable->Add(Entry(100, 101, "192.168.1.20", 50123, 60));
    tables.fNATTable->Add(Entry(-1, -1, "192.168.1.21", 4000, 59));
    tables.fStaticTable->Add(Entry(1001, 1001, "localhost", 8442, -1));
    tables.fStaticTable->Add(Entry(1002, 1002, "10.0.0.2", 9000, -1));
    tables.fPushTable->Add(Entry(2000, 2000, "10.0.0.3", 9001, 598));
  }
  Window().timSystemTimer();

  const TMainWindowUi& ui = Window().Ui();
  QCOMPARE(RowCount(ui.ListView1), 2);
  QCOMPARE(RowTexts(ui.ListView1, 0), QStringList({"1.", "100/101", "192.168.1.20:50123", "60"}));
  QCOMPARE(RowTexts(ui.ListView1, 1), QStringList({"2.", "4294967295", "192.168.1.21:4000", "59"}));
  QCOMPARE(RowCount(ui.ListView2), 3);
  // The host name as entered, not its address; numbering runs on into the push rows.
  QCOMPARE(RowTexts(ui.ListView2, 0), QStringList({"1.", "1001", "localhost:8442", "static"}));
  QCOMPARE(RowTexts(ui.ListView2, 1), QStringList({"2.", "1002", "10.0.0.2:9000", "static"}));
  QCOMPARE(RowTexts(ui.ListView2, 2), QStringList({"3.", "2000", "10.0.0.3:9001", "598"}));

  // A selection does not survive the next tick, even where its row is still there; emptied
  // tables leave empty lists.
  ui.ListView1->selectRow(1);
  ui.ListView2->selectRow(2);
  QVERIFY(ui.ListView1->selectionModel()->hasSelection());
  QVERIFY(ui.ListView2->selectionModel()->hasSelection());
  {
    const TAddressTables::TLock lock(tables);
    tables.fStaticTable->Clear();
    tables.fNATTable->Clear();
    tables.fPushTable->Add(Entry(2001, 2001, "10.0.0.4", 9002, 600));
  }
  Window().timSystemTimer();
  QCOMPARE(RowCount(ui.ListView1), 0);
  QVERIFY(!ui.ListView1->selectionModel()->hasSelection());
  QCOMPARE(RowCount(ui.ListView2), 2);
  QVERIFY(!ui.ListView2->selectionModel()->hasSelection());
  QCOMPARE(RowTexts(ui.ListView2, 0).mid(0, 2), QStringList({"1.", "2000"}));
  QCOMPARE(RowTexts(ui.ListView2, 1).mid(0, 2), QStringList({"2.", "2001"}));
}

// 100,000 rows per table: every row is there and numbered, and a tick with the paint after it
// stays far below the second it has (one item object per cell took most of it).
void TMainWindowTest::statusTickAtTheTablesBound() {
  constexpr int kRows = 100000;
  // Filling 100,000 rows can take longer than an ageing step on a busy machine; the timeouts
  // this test reads must not count down meanwhile.
  Window().findChild<QTimer*>(QStringLiteral("timAgeTables"))->stop();
  TAddressTables& tables = Window().Host().Tables();
  {
    const TAddressTables::TLock lock(tables);
    for (int i = 0; i < kRows; ++i) {
      const std::string ip =
          "10.1." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
      tables.fNATTable->Add(Entry(7, 7 + i, ip.c_str(), 40000, 60));
      tables.fPushTable->Add(Entry(9000 + i, 9000 + i, ip.c_str(), 8442, 600));
    }
    tables.fStaticTable->Add(Entry(1001, 1001, "10.0.0.2", 8442, -1));
  }
  const TMainWindowUi& ui = Window().Ui();
  Window().timSystemTimer();
  // Rows are rebuilt, but a reader scrolled down a long list stays where the rows are.
  QCoreApplication::processEvents();
  ui.ListView1->verticalScrollBar()->setValue(5000);
  QCOMPARE(ui.ListView1->verticalScrollBar()->value(), 5000);
  ui.ListView2->selectRow(kRows);
  QElapsedTimer clock;
  clock.start();
  Window().timSystemTimer();
  QCoreApplication::processEvents();
  Window().repaint();
  const qint64 elapsed = clock.elapsed();
  QCOMPARE(RowCount(ui.ListView1), kRows);
  QCOMPARE(RowCount(ui.ListView2), kRows + 1);
  QCOMPARE(RowTexts(ui.ListView1, kRows - 1),
           QStringList({"100000.", "7/100006", "10.1.134.159:40000", "60"}));
  QCOMPARE(RowTexts(ui.ListView2, 0), QStringList({"1.", "1001", "10.0.0.2:8442", "static"}));
  QCOMPARE(RowTexts(ui.ListView2, kRows),
           QStringList({"100001.", "108999", "10.1.134.159:8442", "600"}));
  QVERIFY(!ui.ListView2->selectionModel()->hasSelection());
  QCOMPARE(ui.ListView1->verticalScrollBar()->value(), 5000);
  QVERIFY2(elapsed < 300, qPrintable(QStringLiteral("tick and paint took %1 ms").arg(elapsed)));
}

void TMainWindowTest::statusTickShowsRateAndResetsIt() {
  TRelayHost& host = Window().Host();
  host.StopListening();  // this thread plays the listener now
  const test::TBytes frame = test::MakeFrame(5, 77, 0, {1, 2, 3});
  for (int i = 0; i < 25; ++i) {
    host.Engine().udpLocalUDPRead(frame, "127.0.0.1", 40000);
  }
  const TMainWindowUi& ui = Window().Ui();
  Window().timSystemTimer();
  QCOMPARE(ui.lblMsgCount->text(), QStringLiteral("25 msg/sec"));
  QCOMPARE(ui.Gauge1->value(), 20);
  for (int i = 0; i < 7; ++i) {
    host.Engine().udpLocalUDPRead(frame, "127.0.0.1", 40000);
  }
  Window().timSystemTimer();
  QCOMPARE(ui.lblMsgCount->text(), QStringLiteral("7 msg/sec"));
  QCOMPARE(ui.Gauge1->value(), 7);
  Window().timSystemTimer();
  QCOMPARE(ui.lblMsgCount->text(), QStringLiteral("0 msg/sec"));
  QCOMPARE(ui.Gauge1->value(), 0);
  // The frames' sender was entered in the application table and shows after the tick.
  QCOMPARE(RowCount(ui.ListView1), 1);
  QCOMPARE(RowTexts(ui.ListView1, 0).mid(1, 2), QStringList({"5", "127.0.0.1:40000"}));
}

void TMainWindowTest::lampFlashesAndTurnsGrey() {
  TLampPanel& lamps = Window().Lamps();
  QLabel* lamp = Window().Ui().imgWANRx;
  QElapsedTimer clock;
  clock.start();
  Window().SetLed(TLamp::WANRx, TLedColor::Red);
  QVERIFY(test::ShowsPicture(lamp, lamps.Picture(TLedColor::Red)));
  QVERIFY(lamps.Timer(TLamp::WANRx)->isActive());
  QTRY_VERIFY_WITH_TIMEOUT(test::ShowsPicture(lamp, lamps.Picture(TLedColor::Gray)), 2000);
  QVERIFY2(clock.elapsed() >= 140, qPrintable(QString::number(clock.elapsed())));
  QVERIFY(!lamps.Timer(TLamp::WANRx)->isActive());
  // Only the lamp asked for changed.
  QVERIFY(test::ShowsPicture(Window().Ui().imgLANTx, lamps.Picture(TLedColor::Gray)));

  Window().SetLed(TLamp::LANTx, TLedColor::Green);
  QVERIFY(test::ShowsPicture(Window().Ui().imgLANTx, lamps.Picture(TLedColor::Green)));
  QTRY_VERIFY_WITH_TIMEOUT(
      test::ShowsPicture(Window().Ui().imgLANTx, lamps.Picture(TLedColor::Gray)), 2000);
}

void TMainWindowTest::lampHeldLitByCloseFrames() {
  TLampPanel& lamps = Window().Lamps();
  QLabel* lamp = Window().Ui().imgLANRx;
  const QPixmap& red = lamps.Picture(TLedColor::Red);
  for (int frame = 0; frame < 5; ++frame) {
    Window().SetLed(TLamp::LANRx, TLedColor::Red);
    QVERIFY(test::ShowsPicture(lamp, red));
    // 100 ms is inside the 150 ms flash: the lamp must stay lit until the next frame.
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 100) {
      QTest::qWait(10);
      // A busy machine may oversleep past the flash; only the time before it is checked.
      if (wait.elapsed() < 145) {
        QVERIFY2(test::ShowsPicture(lamp, red), "lamp went dark between close frames");
      }
    }
  }
  QElapsedTimer clock;
  clock.start();
  QTRY_VERIFY_WITH_TIMEOUT(test::ShowsPicture(lamp, lamps.Picture(TLedColor::Gray)), 2000);
  QVERIFY(clock.elapsed() >= 30);  // 150 ms after the last frame, of which 100 ms have passed
}

void TMainWindowTest::greyLeavesTimerRunning() {
  TLampPanel& lamps = Window().Lamps();
  Window().SetLed(TLamp::WANTx, TLedColor::Green);
  Window().SetLed(TLamp::WANTx, TLedColor::Gray);
  QVERIFY(test::ShowsPicture(Window().Ui().imgWANTx, lamps.Picture(TLedColor::Gray)));
  QVERIFY(lamps.Timer(TLamp::WANTx)->isActive());
  QTRY_VERIFY_WITH_TIMEOUT(!lamps.Timer(TLamp::WANTx)->isActive(), 2000);
}

void TMainWindowTest::portErrorTellsItsReasonUnderTheMouse() {
  QLabel* label = Window().Ui().lblError;
  Window().ShowNetworkStatus({TListenState::Error, "lo", "", "cannot bind 0.0.0.0:8442: taken"});
  QCOMPARE(label->text(), QStringLiteral("Error opening port 8442!"));
  QCOMPARE(label->toolTip(), QStringLiteral("cannot bind 0.0.0.0:8442: taken"));
  Window().ShowNetworkStatus(Window().Host().NetworkStatus());
  QCOMPARE(label->toolTip(), QString());
}

void TMainWindowTest::trayMenuRestoresAndExits() {
  TTrayIcon& tray = Window().Tray();
  // The name, then what the relay does.
  QVERIFY2(tray.Icon().toolTip().startsWith(QStringLiteral("KelvoRelay\nListening on ")),
           qPrintable(tray.Icon().toolTip()));
  // While the relay cannot listen the icon is another picture, and the tip says why.
  QVERIFY(!tray.Alert());
  const QImage plain = tray.Icon().icon().pixmap(16, 16).toImage();
  Window().ShowNetworkStatus({TListenState::Error, "lo", "", "cannot bind"});
  QVERIFY(tray.Alert());
  QVERIFY(tray.Icon().icon().pixmap(16, 16).toImage() != plain);
  QCOMPARE(tray.Icon().toolTip(),
           QStringLiteral("KelvoRelay\nError opening port 8442! (cannot bind)"));
  Window().ShowNetworkStatus(Window().Host().NetworkStatus());
  QVERIFY(!tray.Alert());
  QCOMPARE(tray.Icon().icon().pixmap(16, 16).toImage(), plain);
  const QList<QAction*> items = tray.PopupMenu1().actions();
  QCOMPARE(items.size(), 2);
  QCOMPARE(items[0]->text(), QStringLiteral("Restore"));
  QCOMPARE(items[1]->text(), QStringLiteral("Exit"));
  QCOMPARE(tray.Icon().contextMenu(), &tray.PopupMenu1());

  Window().hide();
  tray.Restore1->trigger();
  QVERIFY(Window().isVisible());
  Window().hide();
  emit tray.Icon().activated(QSystemTrayIcon::Trigger);  // left click
  QVERIFY(Window().isVisible());
  Window().hide();
  emit tray.Icon().activated(QSystemTrayIcon::MiddleClick);
  QVERIFY(!Window().isVisible());

  QSignalSpy exits(&Window(), &TfmMain::ExitProgram);
  tray.Exit1->trigger();
  QCOMPARE(exits.count(), 1);
  // Once "Exit" was chosen, a close request is no longer turned into hiding.
  Window().show();
  QVERIFY(Window().close());
}

void TMainWindowTest::closeHidesAndRelayGoesOn() {
  TRelayHost& host = Window().Host();
  if (!host.Endpoint().IsOpen()) {
    QSKIP("127.0.0.1:8442 is taken by another program");
  }
  QVERIFY(Window().HidesToTray());
  QVERIFY(!Window().close());
  QVERIFY(Window().isHidden());
  Child<QPushButton>("Button3")->click();  // "Close" asks the same way; still hidden
  QVERIFY(Window().isHidden());
  QVERIFY(host.Endpoint().IsOpen());
  QVERIFY(Window().timSystem->isActive());

  // An application's request still travels on to the controller while the window is hidden.
  test::TUdpPeer controller;
  test::TUdpPeer application;
  {
    const TAddressTables::TLock lock(host.Tables());
    host.Tables().fStaticTable->Add(Entry(1001, 1001, "127.0.0.1", controller.Port(), -1));
  }
  const test::TBytes request = test::MakeFrame(5, 1001, 0, {9, 8, 7});
  application.SendToRelay(request);
  const std::optional<test::TBytes> forwarded = controller.Receive(std::chrono::seconds(3));
  QVERIFY(forwarded.has_value());
  QCOMPARE(forwarded->size(), request.size());
  QTRY_COMPARE_WITH_TIMEOUT(Window().Ui().lblReqCount->text(), QStringLiteral("1"), 3000);
  Window().timSystemTimer();
  QCOMPARE(RowCount(Window().Ui().ListView1), 1);
  QVERIFY(Window().isHidden());
}

// Whether a notification area exists is judged at the close request itself: without one the
// close ends the program the way "Exit" does, and the shut-down that follows saves.
void TMainWindowTest::closeWithoutTrayEndsAsExitDoes_data() {
  QTest::addColumn<bool>("trayAtStart");
  QTest::addColumn<bool>("trayAtClose");
  QTest::newRow("never a tray") << false << false;
  QTest::newRow("tray host went away") << true << false;
  QTest::newRow("tray host came later") << false << true;
  QTest::newRow("tray all along") << true << true;
}

void TMainWindowTest::closeWithoutTrayEndsAsExitDoes() {
  QFETCH(bool, trayAtStart);
  QFETCH(bool, trayAtClose);
  fRig.reset();  // this case's window is the only one
  TTrayIcon::OverrideAvailable(trayAtStart);
  test::TWindowRig rig;
  TfmMain& window = *rig.fWindow;
  QSignalSpy exits(&window, &TfmMain::ExitProgram);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  window.move(70, 90);

  TTrayIcon::OverrideAvailable(trayAtClose);
  QCOMPARE(window.HidesToTray(), trayAtClose);
  const bool closed = window.close();
  QCOMPARE(closed, !trayAtClose);
  QVERIFY(window.isHidden());
  QCOMPARE(exits.count(), trayAtClose ? 0 : 1);
  if (trayAtClose) {
    return;  // hidden in the tray, still running
  }
  window.FormDestroy();  // what the program runs once its loop has stopped
  QVERIFY(!window.Host().Endpoint().IsOpen());
  QFile file(rig.fDir.filePath(QStringLiteral("KelvoRelay.reg")));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  QVERIFY2(text.contains("\"Top\"=dword:0000005a"), text.constData());
  QVERIFY2(text.contains("\"Left\"=dword:00000046"), text.constData());
}

// Tab moves from control to control; it does not walk the cells of a status list.
void TMainWindowTest::tabLeavesTheStatusLists() {
  TAddressTables& tables = Window().Host().Tables();
  {
    const TAddressTables::TLock lock(tables);
    for (int i = 0; i < 3; ++i) {
      tables.fNATTable->Add(Entry(100 + i, 100 + i, "192.168.1.20", 50000 + i, 60));
      tables.fPushTable->Add(Entry(200 + i, 200 + i, "10.0.0.3", 9000 + i, 600));
    }
  }
  Window().timSystemTimer();
  Window().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&Window()));
  const TMainWindowUi& ui = Window().Ui();
  for (QTableView* list : {ui.ListView1, ui.ListView2}) {
    for (Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::ShiftModifier}) {
      list->setFocus(Qt::OtherFocusReason);
      list->setCurrentIndex(list->model()->index(0, 0));
      QTRY_COMPARE(QApplication::focusWidget(), list);
      QTest::keyClick(list, modifiers == Qt::NoModifier ? Qt::Key_Tab : Qt::Key_Backtab, modifiers);
      QVERIFY2(QApplication::focusWidget() != list, qPrintable(list->objectName()));
      QCOMPARE(list->currentIndex().row(), 0);
      QCOMPARE(list->currentIndex().column(), 0);
    }
  }
}

// The rate label lies over the gauge; its text must stand out from every colour the gauge
// shows behind it, at every fill of the bar.
void TMainWindowTest::rateLabelReadableAtEveryFill() {
  const TMainWindowUi& ui = Window().Ui();
  const auto rgb = [](const QColor& AColor) {
    return TRgb{static_cast<std::uint8_t>(AColor.red()), static_cast<std::uint8_t>(AColor.green()),
                static_cast<std::uint8_t>(AColor.blue())};
  };
  const TRgb text = rgb(ui.lblMsgCount->palette().color(QPalette::WindowText));
  // The label's place in the gauge, without the gauge's own border.
  const QRect behind =
      QRect(ui.Gauge1->mapFrom(ui.Panel1, ui.lblMsgCount->pos()), ui.lblMsgCount->size()) &
      ui.Gauge1->rect().adjusted(1, 1, -1, -1);
  ui.lblMsgCount->hide();
  for (int fill = ui.Gauge1->minimum(); fill <= ui.Gauge1->maximum(); ++fill) {
    ui.Gauge1->setValue(fill);
    const QImage image = ui.Gauge1->grab().toImage();
    double worst = 21.0;
    for (int y = behind.top(); y <= behind.bottom(); ++y) {
      for (int x = behind.left(); x <= behind.right(); ++x) {
        worst = std::min(worst, ContrastRatio(text, rgb(image.pixelColor(x, y))));
      }
    }
    QVERIFY2(worst >= kMinTextContrast,
             qPrintable(QStringLiteral("fill %1: contrast %2").arg(fill).arg(worst)));
  }
  ui.lblMsgCount->show();
}

void TMainWindowTest::showRequestRestoresMinimizedWindow() {
  Window().showMinimized();
  QTRY_VERIFY(Window().isMinimized());
  Window().ShowRequested();
  QTRY_VERIFY(!Window().isMinimized());
  QVERIFY(Window().isVisible());

  Window().hide();
  Window().ShowRequested();
  QVERIFY(Window().isVisible());
}

void TMainWindowTest::errorsReachDebugLogOnlyWhenOn() {
  auto* app = qobject_cast<TKelvoApplication*>(QCoreApplication::instance());
  QVERIFY(app != nullptr);
  const QString logName = fRig->fDir.filePath(QStringLiteral("debug.log"));
  auto throwFromTimer = [](const char* AText) {
    QTimer::singleShot(0, [AText] { throw std::runtime_error(AText); });
  };

  throwFromTimer("dropped while the log is off");
  QTest::qWait(50);
  QVERIFY(!QFile::exists(logName));

  Window().Host().Engine().SetCreateDebugLogs(true);
  throwFromTimer("kept while the log is on");
  QTRY_VERIFY(QFile::exists(logName));
  QFile log(logName);
  QVERIFY(log.open(QIODevice::ReadOnly));
  const QByteArray text = log.readAll();
  QVERIFY(text.contains("kept while the log is on"));
  QVERIFY(!text.contains("dropped while the log is off"));

  // A log that cannot be written must not turn the error into a crash.
  fRig->fLog->SetLogFile(
      fRig->fDir.filePath(QStringLiteral("no/such/folder/debug.log")).toStdString());
  throwFromTimer("nowhere to go");
  QTest::qWait(50);
  QVERIFY(Window().timSystem->isActive());
}

void TMainWindowTest::shutDownSavesSettings() {
  QCOMPARE(Window().RestoredTop(), 40);  // as loaded: "Top"=dword:00000028
  QCOMPARE(Window().RestoredLeft(), 50);
  Window().move(70, 90);
  Window().FormDestroy();
  QVERIFY(!Window().Host().Endpoint().IsOpen());
  QVERIFY(!Window().timSystem->isActive());
  QFile file(fRig->fDir.filePath(QStringLiteral("KelvoRelay.reg")));
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  QVERIFY2(text.contains("\"Top\"=dword:0000005a"), text.constData());
  QVERIFY2(text.contains("\"Left\"=dword:00000046"), text.constData());
  QVERIFY(text.contains("\"EthernetAdapterID\"=\"lo\""));
}

void TMainWindowTest::unreadableSettingsStillListenAndStayOnDisk() {
  fRig->fWindow.reset();  // frees the port for the window under test
  const QString name = fRig->fDir.filePath(QStringLiteral("KelvoRelay.reg"));
  const QByteArray broken =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"
      "\"Top\"=dword:0000000a\r\n\"EthernetAdapterID\"=dword:00000001\r\n"
      "\"StaticList0\"=\"1001,10.0.0.1,8442\"\r\n";
  {
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(broken);
  }
  TRegistryStore store(name.toStdString());
  TfmMain window(*fRig->fLog, store, TCommandLine{});
  // The relay still listens (on the default adapter) although the settings stopped loading.
  QVERIFY(window.Host().Endpoint().IsOpen() || window.Ui().lblError->isVisibleTo(&window));
  QVERIFY(window.timSystem->isActive());
  window.FormDestroy();
  // Saving what little was read would drop the static entry: the file is left as it was.
  QFile file(name);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), broken);
}

// Setup's Add with a host that does not resolve: the entry reaches the relay with an empty IP
// at OK, is saved, and comes back at the next start, host as typed.
void TMainWindowTest::unresolvableHostKeptThroughSetupSaveAndLoad() {
  // Without a parent: they outlive the window, which goes half-way through.
  TfmEditNAT editor;
  TfmOptions options(editor);
  Window().SetDialogs({nullptr, &options, nullptr});
  bool editorShown = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  connect(&watchdog, &QTimer::timeout, [] {
    for (int guard = 0; guard < 5; ++guard) {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
      }
    }
  });
  watchdog.start(10000);
  QTimer::singleShot(0, &options, [&] {
    QTimer::singleShot(0, &editor, [&] {
      editorShown = editor.isVisible();
      editor.edNAD->setText(QStringLiteral("1001"));
      editor.edHost->setText(QStringLiteral("no-such-controller.invalid"));
      editor.edPort->setText(QStringLiteral("8442"));
      QTest::mouseClick(editor.btnOK, Qt::LeftButton);
    });
    options.acAdd->trigger();
    QTest::mouseClick(options.btnOK, Qt::LeftButton);
  });
  Window().acOptionsExecute();
  Window().SetDialogs({});
  QVERIFY(editorShown);
  TAddressTables& tables = Window().Host().Tables();
  {
    const TAddressTables::TLock lock(tables);
    QCOMPARE(tables.fStaticTable->Count(), 1);
    QCOMPARE(tables.fStaticTable->Items(0)->Host(), std::string("no-such-controller.invalid"));
    QCOMPARE(tables.fStaticTable->Items(0)->IP(), std::string());
  }
  const QString name = fRig->fDir.filePath(QStringLiteral("KelvoRelay.reg"));
  auto saved = [&name] {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  QVERIFY2(saved().contains("\"StaticList0\"=\"1001,no-such-controller.invalid,8442\""),
           saved().constData());

  // The next start loads it back; its shut-down saves it again.
  Window().FormDestroy();
  fRig->fWindow.reset();
  {
    TfmMain next(*fRig->fLog, *fRig->fStore, TCommandLine{});
    TAddressTables& loaded = next.Host().Tables();
    {
      const TAddressTables::TLock lock(loaded);
      QCOMPARE(loaded.fStaticTable->Count(), 1);
      QCOMPARE(loaded.fStaticTable->Items(0)->NAD(), 1001);
      QCOMPARE(loaded.fStaticTable->Items(0)->Host(), std::string("no-such-controller.invalid"));
      QCOMPARE(loaded.fStaticTable->Items(0)->Port(), std::uint16_t{8442});
    }
    next.timSystemTimer();
    QCOMPARE(RowTexts(next.Ui().ListView2, 0),
             QStringList({"1.", "1001", "no-such-controller.invalid:8442", "static"}));
    next.FormDestroy();
  }
  QVERIFY(saved().contains("\"StaticList0\"=\"1001,no-such-controller.invalid,8442\""));
}

int main(int argc, char** argv) {
  TKelvoApplication app(argc, argv);
  TMainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
