// The main window for keyboard and screen-reader users: the names and values a screen reader
// gets through Qt's accessibility interfaces (what the AT-SPI bridge hands on), copying rows
// with Ctrl+C and the context menu, F1 and Esc, and the window kept on the screen.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/relay_host.h"
#include "support/relay_process.h"
#include "ui_qt/help_window.h"
#include "ui_qt/kelvo_application.h"
#include "ui_qt/main_window.h"
#include "ui_qt/screen_fit.h"
#include "ui_qt/tray_icon.h"
#include "window_test_support.h"

using namespace kelvo;

namespace {

QString Accessible(QObject* AObject, QAccessible::Text AText) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(AObject);
  return face != nullptr ? face->text(AText) : QStringLiteral("<no interface>");
}

void AddEntry(TAddressTables& ATables, std::unique_ptr<TNATInfoList> TAddressTables::*ATable,
              std::int32_t ANAD, std::int32_t AAlias, const char* AHost, std::uint16_t APort,
              std::int32_t ATimeout) {
  auto entry = std::make_unique<TNATInfo>(ANAD, AHost, APort, ATimeout);
  entry->SetNADAlias(AAlias);
  const TAddressTables::TLock lock(ATables);
  (ATables.*ATable)->Add(std::move(entry));
}

}  // namespace

class TWindowAccessTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    TTrayIcon::OverrideAvailable(true);
    fRig =
        std::make_unique<test::TWindowRig>("\"Top\"=dword:00000028\r\n\"Left\"=dword:00000032\r\n");
    fRig->fWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(fRig->fWindow.get()));
  }
  void cleanup() {
    fRig.reset();
    TTrayIcon::OverrideAvailable(std::nullopt);
  }

  void listsGaugeAndLabelsHaveNamesAndValues() {
    TfmMain& window = *fRig->fWindow;
    const TMainWindowUi& ui = window.Ui();
    QCOMPARE(Accessible(ui.ListView1, QAccessible::Name), QStringLiteral("Applications (LAN)"));
    QCOMPARE(Accessible(ui.ListView2, QAccessible::Name), QStringLiteral("Controllers (WAN)"));
    QCOMPARE(QAccessible::queryAccessibleInterface(ui.ListView1)->role(), QAccessible::Table);

    // The gauge: its name, the bar's position as its value, the rate itself as its description.
    QCOMPARE(Accessible(ui.Gauge1, QAccessible::Name), QStringLiteral("Message rate"));
    TRelayHost& host = window.Host();
    host.StopListening();  // this thread plays the listener now
    const test::TBytes frame = test::MakeFrame(5, 77, 0, {1});
    for (int i = 0; i < 25; ++i) {
      host.Engine().udpLocalUDPRead(frame, "127.0.0.1", 40000);
    }
    window.timSystemTimer();
    QAccessibleInterface* gauge = QAccessible::queryAccessibleInterface(ui.Gauge1);
    QVERIFY(gauge->valueInterface() != nullptr);
    QCOMPARE(gauge->valueInterface()->currentValue().toInt(), 20);
    QCOMPARE(gauge->valueInterface()->maximumValue().toInt(), 20);
    QCOMPARE(gauge->text(QAccessible::Description), QStringLiteral("25 msg/sec"));

    // The address and the error line are read by their text and described.
    ui.lblLocalIP->setText(QStringLiteral("127.0.0.1"));
    QCOMPARE(Accessible(ui.lblLocalIP, QAccessible::Name), QStringLiteral("127.0.0.1"));
    QCOMPARE(Accessible(ui.lblLocalIP, QAccessible::Description), QStringLiteral("Local address"));
    QCOMPARE(Accessible(ui.lblError, QAccessible::Name),
             QStringLiteral("Error opening port 8442!"));
    QCOMPARE(Accessible(ui.lblError, QAccessible::Description), QStringLiteral("Port error"));
  }

  void lampsNamedWithTheirState_data() {
    QTest::addColumn<int>("lamp");
    QTest::addColumn<int>("color");
    QTest::addColumn<QString>("name");
    QTest::newRow("LAN Rx") << int(TLamp::LANRx) << int(TLedColor::Red) << "LAN receive";
    QTest::newRow("WAN Rx") << int(TLamp::WANRx) << int(TLedColor::Red) << "WAN receive";
    QTest::newRow("LAN Tx") << int(TLamp::LANTx) << int(TLedColor::Green) << "LAN transmit";
    QTest::newRow("WAN Tx") << int(TLamp::WANTx) << int(TLedColor::Green) << "WAN transmit";
  }
  void lampsNamedWithTheirState() {
    QFETCH(int, lamp);
    QFETCH(int, color);
    QFETCH(QString, name);
    TfmMain& window = *fRig->fWindow;
    QLabel* image = window.Ui().Lamps()[static_cast<std::size_t>(lamp)];
    QCOMPARE(Accessible(image, QAccessible::Name), name + QStringLiteral(": idle"));
    window.SetLed(static_cast<TLamp>(lamp), static_cast<TLedColor>(color));
    QCOMPARE(Accessible(image, QAccessible::Name), name + QStringLiteral(": active"));
    QTRY_COMPARE_WITH_TIMEOUT(Accessible(image, QAccessible::Name), name + QStringLiteral(": idle"),
                              2000);
  }

  // Ctrl+C and the context menu's "Copy": the selected rows, or all rows without a selection,
  // tab-separated under the column titles.
  void copyPutsRowsOnTheClipboard() {
    TfmMain& window = *fRig->fWindow;
    TAddressTables& tables = window.Host().Tables();
    AddEntry(tables, &TAddressTables::fStaticTable, 1001, 1001, "localhost", 8442, -1);
    AddEntry(tables, &TAddressTables::fPushTable, 2000, 2000, "10.0.0.3", 9001, 598);
    AddEntry(tables, &TAddressTables::fPushTable, 100, 101, "10.0.0.4", 9002, 600);
    window.timSystemTimer();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTableView* list = window.Ui().ListView2;
    list->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), list);
    const QString titles = QStringLiteral("No.\tNAD\tIP address:port\tTimeout\n");
    const QString row1 = QStringLiteral("1.\t1001\tlocalhost:8442\tstatic\n");
    const QString row2 = QStringLiteral("2.\t2000\t10.0.0.3:9001\t598\n");
    const QString row3 = QStringLiteral("3.\t100/101\t10.0.0.4:9002\t600\n");

    QGuiApplication::clipboard()->clear();
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), titles + row1 + row2 + row3);

    // Rows 3 and 1 selected (Ctrl+click order does not matter).
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(list->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), titles + row1 + row3);

    // The context menu holds "Copy", which copies the same way.
    QCOMPARE(list->contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(list->actions().size(), 1);
    QAction* copy = list->actions().first();
    QCOMPARE(copy->text(), QStringLiteral("Copy"));
    list->selectionModel()->clearSelection();
    list->selectionModel()->select(list->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QGuiApplication::clipboard()->clear();
    copy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), titles + row2);

    // The other list, empty: the titles alone.
    window.Ui().ListView1->actions().first()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), titles);
  }

  void f1OpensHelpAndEscHides() {
    TfmMain& window = *fRig->fWindow;
    TfmHelp help(&window);
    window.SetDialogs({nullptr, nullptr, &help});
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    bool helpShown = false;
    QTimer::singleShot(0, &window, [&] {
      helpShown = QApplication::activeModalWidget() == &help;
      help.reject();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
      }
    });
    watchdog.start(10000);
    QTest::keyClick(&window, Qt::Key_F1);
    QVERIFY(helpShown);
    QVERIFY(help.HelpFile().endsWith(QStringLiteral("/Readme.txt")));

    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.Ui().ListView1->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), window.Ui().ListView1);
    QTest::keyClick(window.Ui().ListView1, Qt::Key_Escape);
    QVERIFY(window.isHidden());
    QVERIFY(window.Host().Endpoint().IsOpen() || window.Ui().lblError->isVisibleTo(&window));
    window.SetDialogs({});
  }

  // Never larger than the screen's available area, and wholly on it: wherever the settings
  // put it, and however large it was.
  void windowKeptOnTheScreen_data() {
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QSize>("size");
    QTest::newRow("designed size, fits") << QPoint(40, 50) << QSize(872, 456);
    QTest::newRow("off the right and bottom") << QPoint(1000, 700) << QSize(872, 456);
    QTest::newRow("off the left and top") << QPoint(-500, -300) << QSize(872, 456);
    QTest::newRow("larger than the screen") << QPoint(10, 10) << QSize(1400, 900);
  }
  void windowKeptOnTheScreen() {
    QFETCH(QPoint, at);
    QFETCH(QSize, size);
    TfmMain& window = *fRig->fWindow;
    window.hide();
    window.resize(size);
    window.move(at);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect area = window.screen()->availableGeometry();
    QTRY_VERIFY2(area.contains(window.frameGeometry()),
                 qPrintable(QStringLiteral("frame %1,%2 %3x%4")
                                .arg(window.frameGeometry().x())
                                .arg(window.frameGeometry().y())
                                .arg(window.frameGeometry().width())
                                .arg(window.frameGeometry().height())));
    if (area.contains(QRect(at, size + (window.frameGeometry().size() - window.size())))) {
      QCOMPARE(window.pos(), at);  // what fits stays where it was put
      QCOMPARE(window.size(), size);
    }
    // The lists still share the width the rule gives them.
    QCOMPARE(window.Ui().ListView1->width(), std::max(0, (window.width() - 196) / 2));
  }

 private:
  std::unique_ptr<test::TWindowRig> fRig;
};

int main(int argc, char** argv) {
  TKelvoApplication app(argc, argv);
  TWindowAccessTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_access_test.moc"
