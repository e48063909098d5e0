// The single-instance guard inside one process (each guard object stands for one start) and
// against a helper process that is killed while admitted.
#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "app/instance_guard.h"
#include "ui_qt/show_request_server.h"

using namespace kelvo;

namespace {

// Every test uses executable paths of its own, so leftovers of one cannot touch another.
std::string TestPath(const char* AName) {
  return "/tmp/kelvo guard test " + std::to_string(QCoreApplication::applicationPid()) + "/" +
         AName + "/kelvorelay";
}

bool Refused(TInstanceGuard& AGuard, int ALimit = 1) {
  return AGuard.RestoreIfRunning("TfmMain", "KelvoRelay v1.0.2", ALimit);
}

// Helper mode of this executable: be admitted for APath, report it, then wait to be killed.
int HoldAndWait(const char* APath) {
  TInstanceGuard guard(APath);
  std::puts(Refused(guard) ? "refused" : "admitted");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(30));
  return 0;
}

}  // namespace

class TInstanceGuardTest : public QObject {
  Q_OBJECT

 private slots:
  void secondStartIsRefusedUntilFirstEnds();
  void limitTwoAdmitsTwoAndRefusesThird();
  void differentPathsRunSideBySide();
  void veryLongPathIsGuarded();
  void killedInstanceDoesNotBlock();
  void refusedStartAsksForTheWindow();
  void showRequestIgnoresOtherData();
};

void TInstanceGuardTest::secondStartIsRefusedUntilFirstEnds() {
  const std::string path = TestPath("second");
  auto first = std::make_unique<TInstanceGuard>(path);
  QVERIFY(!Refused(*first));
  {
    TInstanceGuard second(path);
    QVERIFY(Refused(second));
  }
  // The refused start took no share: still refused while the first runs.
  {
    TInstanceGuard third(path);
    QVERIFY(Refused(third));
  }
  first.reset();
  TInstanceGuard next(path);
  QVERIFY(!Refused(next));
}

void TInstanceGuardTest::limitTwoAdmitsTwoAndRefusesThird() {
  const std::string path = TestPath("limit");
  TInstanceGuard first(path);
  TInstanceGuard second(path);
  TInstanceGuard third(path);
  QVERIFY(!Refused(first, 2));
  QVERIFY(!Refused(second, 2));
  QVERIFY(Refused(third, 2));
}

void TInstanceGuardTest::differentPathsRunSideBySide() {
  // The last two differ only where one has a slash and the other its escaped form.
  TInstanceGuard first(TestPath("a") + "/x/relay");
  TInstanceGuard second(TestPath("b") + "/x/relay");
  TInstanceGuard slash(TestPath("c") + "/x/relay");
  TInstanceGuard escaped(TestPath("c") + "%2Fx/relay");
  QVERIFY(!Refused(first));
  QVERIFY(!Refused(second));
  QVERIFY(!Refused(slash));
  QVERIFY(!Refused(escaped));
  QVERIFY(slash.ShowRequestName() != escaped.ShowRequestName());
}

void TInstanceGuardTest::veryLongPathIsGuarded() {
  const std::string path = TestPath("long") + std::string(400, 'p') + "/kelvorelay";
  TInstanceGuard first(path);
  QVERIFY(!Refused(first));
  TInstanceGuard second(path);
  QVERIFY(Refused(second));
  // Same long tail, another head: another instance.
  TInstanceGuard other(TestPath("long2") + std::string(400, 'p') + "/kelvorelay");
  QVERIFY(!Refused(other));
}

void TInstanceGuardTest::killedInstanceDoesNotBlock() {
  const std::string path = TestPath("killed");
  QProcess holder;
  holder.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--hold"), QString::fromStdString(path)});
  QVERIFY(holder.waitForStarted(5000));
  QVERIFY(holder.waitForReadyRead(10000));
  QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("admitted"));
  {
    TInstanceGuard whileAlive(path);
    QVERIFY(Refused(whileAlive));
  }
  holder.kill();  // SIGKILL: no clean-up runs, the record still counts it
  QVERIFY(holder.waitForFinished(5000));
  TInstanceGuard afterKill(path);
  QVERIFY(!Refused(afterKill));
  TInstanceGuard another(path);
  QVERIFY(Refused(another));
}

void TInstanceGuardTest::refusedStartAsksForTheWindow() {
  const std::string path = TestPath("show");
  TInstanceGuard first(path);
  QVERIFY(!Refused(first));
  // A socket file left behind by a killed instance must not keep the server from listening.
  const QString name = QString::fromStdString(first.ShowRequestName());
  {
    QFile stale(name);
    QVERIFY(stale.open(QIODevice::WriteOnly));
  }
  TShowRequestServer server(nullptr);
  QVERIFY(server.Listen(name));
  QSignalSpy requests(&server, &TShowRequestServer::ShowRequested);

  TInstanceGuard second(path);
  QVERIFY(Refused(second));
  QTRY_COMPARE(requests.count(), 1);
  TInstanceGuard third(path);
  QVERIFY(Refused(third));
  QTRY_COMPARE(requests.count(), 2);
}

void TInstanceGuardTest::showRequestIgnoresOtherData() {
  const std::string path = TestPath("other");
  TInstanceGuard first(path);
  QVERIFY(!Refused(first));
  TShowRequestServer server(nullptr);
  QVERIFY(server.Listen(QString::fromStdString(first.ShowRequestName())));
  QSignalSpy requests(&server, &TShowRequestServer::ShowRequested);

  QLocalSocket client;
  client.connectToServer(server.ServerName());
  QVERIFY(client.waitForConnected(2000));
  client.write("hello");
  client.flush();
  QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);  // dropped by the server
  QCOMPARE(requests.count(), 0);

  // A request that arrives in pieces still counts.
  QLocalSocket slow;
  slow.connectToServer(server.ServerName());
  QVERIFY(slow.waitForConnected(2000));
  slow.write("10");
  slow.flush();
  QTest::qWait(50);
  QCOMPARE(requests.count(), 0);
  slow.write("25");
  slow.flush();
  QTRY_COMPARE(requests.count(), 1);
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--hold") {
    return HoldAndWait(argv[2]);
  }
  QCoreApplication app(argc, argv);
  TInstanceGuardTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "instance_guard_test.moc"
