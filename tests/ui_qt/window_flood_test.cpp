// The window under a flood on loopback: applications with requests in flight and a static
// controller echoing replies, all through the relay on 127.0.0.1:8442, while the window's own
// event loop runs. The status tick must keep its one-second pace, the lamps must go grey soon
// after the flood, memory and the calls queued for the GUI thread must stay bounded, and the
// counters must end on the relay's own counts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "app/relay_host.h"
#include "config/registry_store.h"
#include "diag/my_log.h"
#include "relay/frame.h"
#include "support/relay_process.h"
#include "ui_qt/kelvo_application.h"
#include "ui_qt/lamp_panel.h"
#include "ui_qt/main_window.h"
#include "ui_qt/qt_relay_view.h"
#include "ui_qt/tray_icon.h"
#include "window_test_support.h"

using namespace kelvo;
using namespace std::chrono;
using TSteady = steady_clock;

namespace {

constexpr int kApplications = 4;
constexpr int kInFlight = 8;
constexpr std::int32_t kControllerNAD = 1001;
constexpr auto kFloodTime = milliseconds(4000);
constexpr auto kWarmUpTime = milliseconds(500);
constexpr std::int64_t kMaxRequests = 20'000'000;  // a count bound beside the time bound

double Seconds(TSteady::duration ADuration) {
  return duration<double>(ADuration).count();
}

// Resident set size of this process in kB, or -1 when /proc is not there.
long ResidentKB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

// A non-blocking UDP socket bound to 127.0.0.1 on an ephemeral port.
class TLoopbackSocket {
 public:
  TLoopbackSocket() : fFd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fFd >= 0 && ::bind(fFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      socklen_t length = sizeof address;
      ::getsockname(fFd, reinterpret_cast<sockaddr*>(&address), &length);
      fPort = ntohs(address.sin_port);
    }
  }
  ~TLoopbackSocket() {
    if (fFd >= 0) {
      ::close(fFd);
    }
  }
  TLoopbackSocket(const TLoopbackSocket&) = delete;
  TLoopbackSocket& operator=(const TLoopbackSocket&) = delete;

  int Fd() const { return fFd; }
  std::uint16_t Port() const { return fPort; }  // 0 when the socket could not be bound
  bool SendToRelay(std::span<const std::uint8_t> ABytes) const {
    sockaddr_in relay{};
    relay.sin_family = AF_INET;
    relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    relay.sin_port = htons(8442);
    return ::sendto(fFd, ABytes.data(), ABytes.size(), 0, reinterpret_cast<sockaddr*>(&relay),
                    sizeof relay) == static_cast<ssize_t>(ABytes.size());
  }
  // One waiting datagram into ABuffer; its size, or 0 when none waits.
  std::size_t Receive(std::span<std::uint8_t> ABuffer) const {
    const ssize_t n = ::recv(fFd, ABuffer.data(), ABuffer.size(), 0);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }

 private:
  int fFd;
  std::uint16_t fPort = 0;
};

// What the flood thread saw; read by the GUI thread only after the thread has ended.
struct TFloodResult {
  std::int64_t RequestsSent = 0;
  std::int64_t RepliesSent = 0;
  std::int64_t Refilled = 0;  // requests re-sent after a window went quiet (lost datagrams)
  int MostPending = 0;
  TSteady::time_point Start;
  TSteady::time_point LastSend;
};

// kApplications applications keep kInFlight requests each in flight to the controller's NAD;
// the controller answers every request through the relay, and every reply sends the next
// request. One thread drives all of them for at most ADuration and kMaxRequests requests.
class TFlood {
 public:
  std::uint16_t ControllerPort() const { return fController.Port(); }
  bool SocketsReady() const {
    return fController.Port() != 0 &&
           std::all_of(fApps.begin(), fApps.end(),
                       [](const TLoopbackSocket& AApp) { return AApp.Port() != 0; });
  }

  // AView is sampled for its queued calls; ADone runs on this thread at the end.
  TFloodResult Run(TSteady::duration ADuration, const TQtRelayView& AView,
                   const std::function<void()>& ADone) {
    TFloodResult result;
    result.Start = TSteady::now();
    const TSteady::time_point end = result.Start + ADuration;
    std::array<TSteady::time_point, kApplications> lastReply{};
    std::array<int, kApplications> inFlight{};
    std::vector<pollfd> polls;
    for (const TLoopbackSocket& app : fApps) {
      polls.push_back({app.Fd(), POLLIN, 0});
    }
    polls.push_back({fController.Fd(), POLLIN, 0});

    const auto sendRequest = [&](std::size_t AApp) {
      const test::TBytes frame =
          test::MakeFrame(100 + static_cast<std::int32_t>(AApp), kControllerNAD, 0, {1, 2, 3, 4});
      if (fApps[AApp].SendToRelay(frame)) {
        ++result.RequestsSent;
        result.LastSend = TSteady::now();
      }
      ++inFlight[AApp];
    };
    for (std::size_t app = 0; app < fApps.size(); ++app) {
      lastReply[app] = result.Start;
      for (int i = 0; i < kInFlight; ++i) {
        sendRequest(app);
      }
    }

    std::array<std::uint8_t, 2048> buffer{};
    while (TSteady::now() < end && result.RequestsSent < kMaxRequests) {
      ::poll(polls.data(), polls.size(), 20);
      // The controller: each request comes back as a reply to its source NAD.
      for (;;) {
        const std::size_t n = fController.Receive(buffer);
        if (n < kMinFrameSize) {
          break;
        }
        const std::span<std::uint8_t> frame(buffer.data(), n);
        const std::int32_t source = ReadNAD(frame, kOffsetSourceNAD);
        WriteNAD(frame, kOffsetSourceNAD, kControllerNAD);
        WriteNAD(frame, kOffsetDestNAD, source);
        frame[kOffsetDirection] = 1;
        RefreshChecksum(frame);
        if (fController.SendToRelay(frame)) {
          ++result.RepliesSent;
          result.LastSend = TSteady::now();
        }
      }
      const TSteady::time_point now = TSteady::now();
      for (std::size_t app = 0; app < fApps.size(); ++app) {
        while (fApps[app].Receive(buffer) >= kMinFrameSize) {
          lastReply[app] = now;
          --inFlight[app];
          if (now < end) {
            sendRequest(app);
          }
        }
        // A lost datagram would shrink the window for good: refill after 200 ms of silence.
        if (now - lastReply[app] > milliseconds(200) && now < end) {
          while (inFlight[app] < kInFlight) {
            sendRequest(app);
            ++result.Refilled;
          }
          lastReply[app] = now;
        }
      }
      result.MostPending = std::max(result.MostPending, AView.PendingDeliveries());
    }
    ADone();
    return result;
  }

 private:
  TLoopbackSocket fController;
  std::array<TLoopbackSocket, kApplications> fApps;
};

// Runs AQuitWhen every few ms on the GUI thread's real event loop until it holds or ATimeout.
void RunLoopUntil(const std::function<bool()>& AQuitWhen, milliseconds ATimeout) {
  QEventLoop loop;
  QTimer check;
  check.setInterval(2);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (AQuitWhen()) {
      loop.quit();
    }
  });
  QTimer::singleShot(ATimeout, &loop, &QEventLoop::quit);
  check.start();
  if (!AQuitWhen()) {
    loop.exec();
  }
}

}  // namespace

class TWindowFloodTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void windowStaysLiveUnderFlood();

 private:
  std::unique_ptr<TFlood> fFlood;
  std::unique_ptr<test::TWindowRig> fRig;
};

void TWindowFloodTest::init() {
  TTrayIcon::OverrideAvailable(true);
  fFlood = std::make_unique<TFlood>();
  QVERIFY(fFlood->SocketsReady());
  fRig =
      std::make_unique<test::TWindowRig>(QStringLiteral("\"StaticList0\"=\"%1,127.0.0.1,%2\"\r\n")
                                             .arg(kControllerNAD)
                                             .arg(fFlood->ControllerPort())
                                             .toLatin1());
  QVERIFY(fRig->fDir.isValid());
  fRig->fWindow->show();
  QVERIFY(QTest::qWaitForWindowExposed(fRig->fWindow.get()));
  QVERIFY2(fRig->fWindow->Host().Endpoint().IsOpen(), "port 8442 on 127.0.0.1 could not be bound");
}

void TWindowFloodTest::cleanup() {
  fRig.reset();
  fFlood.reset();
  TTrayIcon::OverrideAvailable(std::nullopt);
}

void TWindowFloodTest::windowStaysLiveUnderFlood() {
  TfmMain& window = *fRig->fWindow;
  const TMainWindowUi& ui = window.Ui();
  TLampPanel& lamps = window.Lamps();
  TRelayEngine& engine = window.Host().Engine();
  const QImage gray = lamps.Picture(TLedColor::Gray).toImage();
  const std::array<QLabel*, 4> lampLabels = ui.Lamps();
  const std::array<TLamp, 4> lampOrder = {TLamp::LANRx, TLamp::WANRx, TLamp::LANTx, TLamp::WANTx};

  // Every status tick, seen right after the window's own handler (connected earlier, so
  // called first): when it came and what the rate label then said.
  struct TTick {
    TSteady::time_point At;
    QString Rate;
  };
  std::vector<TTick> ticks;
  connect(window.timSystem, &QTimer::timeout, this, [&] {
    ticks.push_back({TSteady::now(), ui.lblMsgCount->text()});
  });

  // When each lamp's flash timer last ran out (the lamp panel greys the lamp in its own,
  // earlier connected, handler).
  std::array<TSteady::time_point, 4> lastGrey{};
  for (std::size_t i = 0; i < lampOrder.size(); ++i) {
    connect(lamps.Timer(lampOrder[i]), &QTimer::timeout, this,
            [&lastGrey, i] { lastGrey[i] = TSteady::now(); });
  }

  // A 10 ms probe on the same loop: its largest gap is the longest the loop was held up. It
  // also samples the lamps and the calls queued for the GUI thread.
  std::atomic<bool> floodDone{false};
  TSteady::duration largestGap{};
  TSteady::time_point lastProbe = TSteady::now();
  std::array<bool, 4> litSeen{};
  int mostPendingSeen = 0;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(10);
  connect(&probe, &QTimer::timeout, this, [&] {
    const TSteady::time_point now = TSteady::now();
    if (!floodDone.load()) {
      largestGap = std::max(largestGap, now - lastProbe);
    }
    lastProbe = now;
    for (std::size_t i = 0; i < lampLabels.size(); ++i) {
      if (lampLabels[i]->pixmap().toImage() != gray) {
        litSeen[i] = true;
      }
    }
    mostPendingSeen = std::max(mostPendingSeen, window.View().PendingDeliveries());
  });
  probe.start();

  // The resident size once the flood has warmed up (buffers and caches allocated).
  long warmRSS = -1;
  QTimer::singleShot(kWarmUpTime, this, [&] { warmRSS = ResidentKB(); });

  QEventLoop floodLoop;
  TFloodResult flood;
  std::thread floodThread([&] {
    flood = fFlood->Run(kFloodTime, window.View(), [&] {
      floodDone.store(true);
      QMetaObject::invokeMethod(&floodLoop, &QEventLoop::quit, Qt::QueuedConnection);
    });
  });
  // The window's loop runs while the flood goes on; the flood bounds itself in time, and the
  // safety timer bounds this loop should the quit never arrive.
  QTimer::singleShot(kFloodTime + seconds(10), &floodLoop, &QEventLoop::quit);
  if (!floodDone.load()) {
    floodLoop.exec();
  }
  floodThread.join();
  const long floodRSS = ResidentKB();

  // After the flood: all four lamps grey.
  const auto allGrey = [&] {
    return std::all_of(lampLabels.begin(), lampLabels.end(),
                       [&gray](const QLabel* ALamp) { return ALamp->pixmap().toImage() == gray; });
  };
  RunLoopUntil(allGrey, milliseconds(3000));
  const TSteady::time_point greyCheckedAt = TSteady::now();
  // One more tick, so the last second of the flood is measured too; the counters' last
  // queued call is carried out by then.
  RunLoopUntil(
      [&] {
        return !ticks.empty() && ticks.back().At > flood.LastSend &&
               window.View().PendingDeliveries() == 0;
      },
      milliseconds(2500));
  probe.stop();

  // The figures.
  const double floodSeconds = Seconds(flood.LastSend - flood.Start);
  const std::int32_t requests = engine.ReqCount();
  const std::int32_t replies = engine.AckCount();
  std::vector<double> intervals;
  std::int64_t tickedFrames = 0;
  std::vector<TTick> floodTicks;
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    tickedFrames += ticks[i].Rate.section(QLatin1Char(' '), 0, 0).toLongLong();
    // Ticks that came while the flood had been running for a while.
    if (ticks[i].At > flood.Start + milliseconds(200) && ticks[i].At <= flood.LastSend) {
      floodTicks.push_back(ticks[i]);
    }
    if (i > 0 && ticks[i].At > flood.Start && ticks[i - 1].At < flood.LastSend) {
      intervals.push_back(Seconds(ticks[i].At - ticks[i - 1].At));
    }
  }
  const auto [minInterval, maxInterval] = std::minmax_element(intervals.begin(), intervals.end());
  TSteady::duration greyDelay{};
  for (const TSteady::time_point at : lastGrey) {
    greyDelay = std::max(greyDelay, at - flood.LastSend);
  }
  QStringList rates;
  for (const TTick& tick : floodTicks) {
    rates << tick.Rate;
  }
  qInfo(
      "flood: %.2f s, %lld requests and %lld replies sent (%lld re-sent), relay counted %d "
      "requests and %d replies: %.0f frames/s",
      floodSeconds, static_cast<long long>(flood.RequestsSent),
      static_cast<long long>(flood.RepliesSent), static_cast<long long>(flood.Refilled), requests,
      replies, floodSeconds > 0 ? (static_cast<double>(requests) + replies) / floodSeconds : 0.0);
  qInfo("status ticks during the flood: %zu intervals, min %.3f s, max %.3f s; rates: %s",
        intervals.size(), intervals.empty() ? 0.0 : *minInterval,
        intervals.empty() ? 0.0 : *maxInterval, qPrintable(rates.join(QStringLiteral(", "))));
  qInfo("event loop: largest gap between 10 ms probes during the flood %.1f ms",
        Seconds(largestGap) * 1000.0);
  qInfo("lamps all grey %.1f ms after the last datagram (checked at %.1f ms)",
        Seconds(greyDelay) * 1000.0, Seconds(greyCheckedAt - flood.LastSend) * 1000.0);
  qInfo(
      "resident size: %ld kB after warm-up, %ld kB after the flood (%+ld kB); queued calls at "
      "most %d (listener side) / %d (GUI side)",
      warmRSS, floodRSS, floodRSS - warmRSS, flood.MostPending, mostPendingSeen);

  // The flood really was one: it ran its time, every lamp lit, the relay counted frames both
  // ways and never more requests than were sent.
  QVERIFY(floodSeconds > Seconds(kFloodTime) * 0.9);
  QVERIFY2(std::all_of(litSeen.begin(), litSeen.end(), [](bool ALit) { return ALit; }),
           "a lamp never lit during the flood");
  QVERIFY(requests > 1000);
  QVERIFY(replies > 1000);
  QVERIFY(requests <= flood.RequestsSent);
  QVERIFY(replies <= flood.RepliesSent);

  // The tick kept its pace and showed the traffic.
  QVERIFY2(intervals.size() >= 2, qPrintable(QString::number(intervals.size())));
  QVERIFY2(*minInterval >= 0.5, qPrintable(QString::number(*minInterval)));
  QVERIFY2(*maxInterval <= 2.0, qPrintable(QString::number(*maxInterval)));
  QVERIFY(floodTicks.size() >= 2);
  for (const TTick& tick : floodTicks) {
    QVERIFY2(tick.Rate.endsWith(QStringLiteral(" msg/sec")), qPrintable(tick.Rate));
    QVERIFY2(tick.Rate.section(QLatin1Char(' '), 0, 0).toLongLong() > 0, qPrintable(tick.Rate));
  }
  // No frame is lost between the counter and the ticks: what the ticks showed plus what is
  // still counted is every frame the relay took in.
  QCOMPARE(tickedFrames + engine.TakeMsgCount(), static_cast<std::int64_t>(requests) + replies);
  // The loop was never held up for long.
  QVERIFY2(largestGap < milliseconds(1000), qPrintable(QString::number(Seconds(largestGap))));

  // The lamps went grey on their timers, soon after the flood and not before it ended.
  QVERIFY(allGrey());
  QVERIFY2(greyDelay >= milliseconds(kLedPeriodMs - 10) && greyDelay <= milliseconds(1000),
           qPrintable(QString::number(Seconds(greyDelay))));
  for (const TSteady::time_point at : lastGrey) {
    QVERIFY(at >= flood.LastSend + milliseconds(kLedPeriodMs - 10));
  }

  // Bounded: memory, and the calls queued for the GUI thread.
  QVERIFY(warmRSS > 0 && floodRSS > 0);
  QVERIFY2(floodRSS - warmRSS < 8 * 1024, qPrintable(QString::number(floodRSS - warmRSS)));
  QVERIFY2(flood.MostPending <= 5, qPrintable(QString::number(flood.MostPending)));
  QVERIFY2(mostPendingSeen <= 5, qPrintable(QString::number(mostPendingSeen)));
  QCOMPARE(window.View().PendingDeliveries(), 0);

  // The counters end on the relay's own counts.
  QCOMPARE(ui.lblReqCount->text(), QString::number(requests));
  QCOMPARE(ui.lblAckCount->text(), QString::number(replies));
}

int main(int argc, char** argv) {
  TKelvoApplication app(argc, argv);
  TWindowFloodTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_flood_test.moc"
