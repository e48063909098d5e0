// The engine's calls from the listener thread reach the GUI thread coalesced and in order.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

#include "ui_qt/qt_relay_view.h"

using namespace kelvo;

class TRelayViewTest : public QObject {
  Q_OBJECT

 private slots:
  void floodCoalescesAndLastRequestWins();
  void countersShowLatestValues();
  void requestAfterDeliveryIsNotLost();
  void mainThreadCallsArriveAtOnce();
};

void TRelayViewTest::floodCoalescesAndLastRequestWins() {
  TQtRelayView view;
  std::vector<std::pair<TLamp, TLedColor>> shown;
  connect(&view, &TQtRelayView::LampRequested, &view,
          [&shown](TLamp ALamp, TLedColor AColor) { shown.emplace_back(ALamp, AColor); });
  std::atomic<int> mostPending{0};
  std::atomic<bool> done{false};
  std::thread listener([&view, &mostPending, &done] {
    for (int i = 0; i < 200000; ++i) {
      view.SetLed(TLamp::LANRx, TLedColor::Red);
      view.SetLed(TLamp::WANTx, i % 2 == 0 ? TLedColor::Gray : TLedColor::Green);
      view.ReqCountChanged(i);
      const int pending = view.PendingDeliveries();
      if (pending > mostPending.load()) {
        mostPending.store(pending);
      }
    }
    view.SetLed(TLamp::WANTx, TLedColor::Red);
    done.store(true);
  });
  // The GUI thread keeps its loop running meanwhile, as the window would.
  QElapsedTimer clock;
  clock.start();
  while (!done.load() && clock.elapsed() < 30000) {
    QCoreApplication::processEvents();
  }
  listener.join();
  QTRY_COMPARE(view.PendingDeliveries(), 0);
  QVERIFY2(mostPending.load() <= 3, qPrintable(QString::number(mostPending.load())));
  QVERIFY(!shown.empty());
  QVERIFY(shown.size() < 200000);  // coalesced, not one call per request
  // The last request for each lamp is the one that took effect.
  std::pair<TLamp, TLedColor> lastWANTx{TLamp::LANRx, TLedColor::Gray};
  std::pair<TLamp, TLedColor> lastLANRx{TLamp::WANTx, TLedColor::Gray};
  for (const auto& request : shown) {
    (request.first == TLamp::WANTx ? lastWANTx : lastLANRx) = request;
  }
  QCOMPARE(static_cast<int>(lastWANTx.second), static_cast<int>(TLedColor::Red));
  QCOMPARE(static_cast<int>(lastLANRx.first), static_cast<int>(TLamp::LANRx));
  QCOMPARE(static_cast<int>(lastLANRx.second), static_cast<int>(TLedColor::Red));
}

void TRelayViewTest::countersShowLatestValues() {
  TQtRelayView view;
  QSignalSpy requests(&view, &TQtRelayView::ReqCountShown);
  QSignalSpy replies(&view, &TQtRelayView::AckCountShown);
  std::thread listener([&view] {
    for (int i = 1; i <= 50000; ++i) {
      view.ReqCountChanged(i);
      if (i % 10 == 0) {
        view.AckCountChanged(i / 10);
      }
    }
  });
  listener.join();
  QTRY_COMPARE(view.PendingDeliveries(), 0);
  QCOMPARE(requests.count(), 1);
  QCOMPARE(requests.last().at(0).toInt(), 50000);
  QCOMPARE(replies.count(), 1);
  QCOMPARE(replies.last().at(0).toInt(), 5000);
}

void TRelayViewTest::requestAfterDeliveryIsNotLost() {
  TQtRelayView view;
  QSignalSpy lamps(&view, &TQtRelayView::LampRequested);
  QSignalSpy requests(&view, &TQtRelayView::ReqCountShown);
  view.SetLed(TLamp::LANTx, TLedColor::Green);
  view.ReqCountChanged(1);
  QTRY_COMPARE(lamps.count(), 1);
  QTRY_COMPARE(requests.count(), 1);
  // A second burst after the first was carried out posts again.
  view.SetLed(TLamp::LANTx, TLedColor::Green);
  view.ReqCountChanged(2);
  QTRY_COMPARE(lamps.count(), 2);
  QTRY_COMPARE(requests.count(), 2);
  QCOMPARE(requests.last().at(0).toInt(), 2);
  // Nothing comes without a request.
  QTest::qWait(20);
  QCOMPARE(lamps.count(), 2);
}

void TRelayViewTest::mainThreadCallsArriveAtOnce() {
  TQtRelayView view;
  QSignalSpy addresses(&view, &TQtRelayView::LocalIPShown);
  QSignalSpy errors(&view, &TQtRelayView::PortErrorShown);
  view.LocalIPChanged("127.0.0.1");
  view.PortErrorChanged(true);
  QCOMPARE(addresses.count(), 1);
  QCOMPARE(addresses.last().at(0).toString(), QStringLiteral("127.0.0.1"));
  QCOMPARE(errors.count(), 1);
  QCOMPARE(errors.last().at(0).toBool(), true);
}

QTEST_GUILESS_MAIN(TRelayViewTest)
#include "relay_view_test.moc"
