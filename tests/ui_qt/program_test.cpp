// The real executable: one instance per executable path for the window and for --headless,
// recovery after the admitted instance was killed, SIGTERM and --quit ending the window's run
// the way "Exit" does (settings saved, exit code 0), settings handed to a running window, and
// a start without a display. The executable runs as a link in a folder of the test's own, so
// its log and instance record are never those of build/bin/kelvorelay.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "app/instance_guard.h"
#include "ui_qt/display_probe.h"

using namespace kelvo;

namespace {

// Whether the process holds SIGTERM blocked: true from the first statement of its main on.
bool HoldsStopRequests(qint64 APid) {
  std::ifstream status("/proc/" + std::to_string(APid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0) {
      return (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0;
    }
  }
  return false;
}

// A listening local socket standing in for a display server.
class TFakeServer {
 public:
  explicit TFakeServer(const std::string& APath) : fPath(APath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", APath.c_str());
    fFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(fFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fFd, 4) != 0) {
      close(fFd);
      fFd = -1;
    }
  }
  ~TFakeServer() {
    if (fFd >= 0) {
      close(fFd);
      unlink(fPath.c_str());
    }
  }
  TFakeServer(const TFakeServer&) = delete;
  TFakeServer& operator=(const TFakeServer&) = delete;
  bool Listening() const { return fFd >= 0; }

 private:
  std::string fPath;
  int fFd = -1;
};

}  // namespace

class TProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void headlessSecondStartEndsAndKilledFirstDoesNotBlock();
  void windowSecondStartEndsAndTermSavesSettings();
  void windowTakesHandedOverSettingsReloadsOnHangupAndQuitEndsItAsExitDoes();
  void windowStopRequestsDuringStartUpEndCleanly();
  void noDisplayIsOneLineAndExitCodeTwo_data();
  void noDisplayIsOneLineAndExitCodeTwo();
  void displayProbe_data();
  void displayProbe();

 private:
  std::unique_ptr<QProcess> Start(const QStringList& AArgs, const QProcessEnvironment& AExtra = {});
  // Runs a command of the executable to its end; returns its exit code (-1: did not end).
  int Run(const QStringList& AArgs, QByteArray* AOutput = nullptr);
  QString RelayBinary() const { return fBinDir.filePath(QStringLiteral("kelvorelay")); }
  QString SocketName() const {
    return QString::fromStdString(TInstanceGuard(RelayBinary().toStdString()).ShowRequestName());
  }
  QByteArray ReadSettings() const {
    QFile settings(SettingsFile());
    return settings.open(QIODevice::ReadOnly) ? settings.readAll() : QByteArray();
  }
  QString SettingsFile() const {
    return fHome->filePath(QStringLiteral("Marlowin/KelvoRelay.reg"));
  }

  std::unique_ptr<QTemporaryDir> fHome;
  QTemporaryDir fBinDir;
};

void TProgramTest::initTestCase() {
  QVERIFY(fBinDir.isValid());
  const QString built = QFileInfo(QStringLiteral(KELVO_RELAY_EXECUTABLE)).canonicalFilePath();
  if (::link(built.toLocal8Bit().constData(), RelayBinary().toLocal8Bit().constData()) != 0) {
    QVERIFY(QFile::copy(built, RelayBinary()));
  }
}

void TProgramTest::init() {
  fHome = std::make_unique<QTemporaryDir>();
  QVERIFY(fHome->isValid());
  QVERIFY(QDir(fHome->path()).mkpath(QStringLiteral("Marlowin")));
  QFile settings(SettingsFile());
  QVERIFY(settings.open(QIODevice::WriteOnly));
  settings.write(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"
      "\"EthernetAdapterID\"=\"lo\"\r\n");
}

std::unique_ptr<QProcess> TProgramTest::Start(const QStringList& AArgs,
                                              const QProcessEnvironment& AExtra) {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), fHome->path());
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  // An empty value in AExtra removes the variable.
  for (const QString& name : AExtra.keys()) {
    if (AExtra.value(name).isEmpty()) {
      environment.remove(name);
    } else {
      environment.insert(name, AExtra.value(name));
    }
  }
  process->setProcessEnvironment(environment);
  process->setProcessChannelMode(QProcess::MergedChannels);
  process->start(RelayBinary(), AArgs);
  return process;
}

void TProgramTest::headlessSecondStartEndsAndKilledFirstDoesNotBlock() {
  auto first = Start({QStringLiteral("--headless")});
  QVERIFY(first->waitForStarted(5000));
  // Admitted once it reports its address (or that the port is taken).
  QTRY_VERIFY_WITH_TIMEOUT(
      first->state() != QProcess::Running || first->peek(4096).contains("8442"), 10000);
  QCOMPARE(first->state(), QProcess::Running);

  auto second = Start({QStringLiteral("--headless")});
  QVERIFY(second->waitForFinished(10000));
  QCOMPARE(second->exitCode(), 3);
  QVERIFY(second->readAll().contains("already running"));

  first->kill();
  QVERIFY(first->waitForFinished(5000));

  auto third = Start({QStringLiteral("--headless")});
  QVERIFY(third->waitForStarted(5000));
  QTRY_VERIFY_WITH_TIMEOUT(
      third->state() != QProcess::Running || third->peek(4096).contains("8442"), 10000);
  const QByteArray output = third->peek(4096);
  QVERIFY2(!output.contains("already running"), output.constData());
  if (third->state() == QProcess::Running) {
    third->terminate();
    QVERIFY(third->waitForFinished(10000));
  }
}

void TProgramTest::windowSecondStartEndsAndTermSavesSettings() {
  auto first = Start({});
  QVERIFY(first->waitForStarted(5000));
  // The window listens for show requests once it is up.
  const QString socketName = SocketName();
  QTRY_VERIFY_WITH_TIMEOUT(first->state() != QProcess::Running || QFile::exists(socketName), 15000);
  QCOMPARE(first->state(), QProcess::Running);

  QElapsedTimer clock;
  clock.start();
  auto second = Start({});
  QVERIFY(second->waitForFinished(10000));
  QCOMPARE(second->exitStatus(), QProcess::NormalExit);
  QCOMPARE(second->exitCode(), 0);
  QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
  QCOMPARE(first->state(), QProcess::Running);

  // SIGTERM: the same road as "Exit", so the settings are written on the way out.
  QFile::remove(SettingsFile());
  first->terminate();
  QVERIFY(first->waitForFinished(10000));
  QCOMPARE(first->exitStatus(), QProcess::NormalExit);
  QCOMPARE(first->exitCode(), 0);
  QFile settings(SettingsFile());
  QVERIFY(settings.open(QIODevice::ReadOnly));
  const QByteArray text = settings.readAll();
  QVERIFY2(text.contains("\"Top\"=dword:"), text.constData());
  QVERIFY(text.contains("\"EthernetAdapterID\"=\"lo\""));

  // The instance ended cleanly: the next start is admitted and runs.
  QVERIFY(!QFile::exists(socketName));
  auto next = Start({});
  QVERIFY(next->waitForStarted(5000));
  QTRY_VERIFY_WITH_TIMEOUT(next->state() != QProcess::Running || QFile::exists(socketName), 15000);
  QCOMPARE(next->state(), QProcess::Running);
  next->terminate();
  QVERIFY(next->waitForFinished(10000));
  QCOMPARE(next->exitCode(), 0);
}

int TProgramTest::Run(const QStringList& AArgs, QByteArray* AOutput) {
  auto process = Start(AArgs);
  if (!process->waitForFinished(60000) || process->exitStatus() != QProcess::NormalExit) {
    return -1;
  }
  if (AOutput != nullptr) {
    *AOutput = process->readAll();
  }
  return process->exitCode();
}

void TProgramTest::windowTakesHandedOverSettingsReloadsOnHangupAndQuitEndsItAsExitDoes() {
  QByteArray output;
  QCOMPARE(Run({QStringLiteral("--quit")}, &output), 1);
  QVERIFY2(output.contains("no instance"), output.constData());

  auto window = Start({});
  QVERIFY(window->waitForStarted(5000));
  QTRY_VERIFY_WITH_TIMEOUT(window->state() != QProcess::Running || QFile::exists(SocketName()),
                           15000);
  QCOMPARE(window->state(), QProcess::Running);

  // Taken and saved at once, as after Setup's OK; refused input changes nothing.
  QCOMPARE(Run({QStringLiteral("--add-static"), QStringLiteral("1001,127.0.0.1,9")}, &output), 0);
  QVERIFY2(ReadSettings().contains("\"StaticList0\"=\"1001,127.0.0.1,9\""), ReadSettings());
  // The window answers the status request from its own tables.
  QCOMPARE(Run({QStringLiteral("--status"), QStringLiteral("--json")}, &output), 0);
  const QJsonObject status = QJsonDocument::fromJson(output).object();
  QCOMPARE(status.value(QStringLiteral("mode")).toString(), QStringLiteral("window"));
  QCOMPARE(status.value(QStringLiteral("pid")).toInteger(), window->processId());
  QCOMPARE(status.value(QStringLiteral("state")).toString(), QStringLiteral("listening"));
  const QJsonArray controllers = status.value(QStringLiteral("controllers")).toArray();
  QCOMPARE(controllers.size(), 1);
  QCOMPARE(controllers[0].toObject().value(QStringLiteral("nad_text")).toString(),
           QStringLiteral("1001"));
  QCOMPARE(controllers[0].toObject().value(QStringLiteral("static")).toBool(), true);
  const QByteArray saved = ReadSettings();
  QCOMPARE(Run({QStringLiteral("--remove-static"), QStringLiteral("2")}, &output), 2);
  QCOMPARE(ReadSettings(), saved);

  // SIGHUP: the window applies the file as Setup's OK would; its save at exit shows it.
  QFile rewritten(SettingsFile());
  QVERIFY(rewritten.open(QIODevice::WriteOnly | QIODevice::Truncate));
  rewritten.write(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"
      "\"EthernetAdapterID\"=\"lo\"\r\n\"StaticList0\"=\"2002 127.0.0.1 11\"\r\n");
  rewritten.close();
  ::kill(static_cast<pid_t>(window->processId()), SIGHUP);
  QTest::qWait(500);
  QCOMPARE(window->state(), QProcess::Running);

  QFile::remove(SettingsFile());
  QCOMPARE(Run({QStringLiteral("--quit")}, &output), 0);
  // The window has saved on its way out before --quit came back.
  const QByteArray text = ReadSettings();
  QVERIFY2(text.contains("\"Top\"=dword:"), text.constData());
  QVERIFY2(text.contains("\"StaticList0\"=\"2002,127.0.0.1,11\""), text.constData());
  QVERIFY2(!text.contains("StaticList1"), text.constData());
  QVERIFY(window->waitForFinished(10000));
  QCOMPARE(window->exitStatus(), QProcess::NormalExit);
  QCOMPARE(window->exitCode(), 0);
  QCOMPARE(Run({QStringLiteral("--quit")}), 1);
}

void TProgramTest::windowStopRequestsDuringStartUpEndCleanly() {
  std::mt19937 random(1209);
  std::uniform_int_distribution<int> delayMs(0, 150);
  constexpr int kTrials = 6;
  for (int trial = 0; trial < kTrials; ++trial) {
    QFile::remove(SettingsFile());
    auto window = Start({});
    QVERIFY(window->waitForStarted(5000));
    QElapsedTimer clock;
    clock.start();
    while (!HoldsStopRequests(window->processId()) && clock.elapsed() < 5000) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    ::kill(static_cast<pid_t>(window->processId()), SIGTERM);
    QVERIFY(window->waitForFinished(15000));
    QVERIFY2(window->exitStatus() == QProcess::NormalExit, qPrintable(QString::number(trial)));
    QCOMPARE(window->exitCode(), 0);
    QVERIFY2(ReadSettings().contains("\"EthernetAdapterID\""), qPrintable(QString::number(trial)));
  }
}

void TProgramTest::noDisplayIsOneLineAndExitCodeTwo_data() {
  QTest::addColumn<QString>("platform");
  QTest::addColumn<QString>("display");
  QTest::addColumn<QString>("wayland");
  // An empty value leaves the variable unset.
  QTest::newRow("default, X display without a server")
      << QString() << QStringLiteral(":93") << QString();
  QTest::newRow("xcb, no DISPLAY") << QStringLiteral("xcb") << QString() << QString();
  QTest::newRow("wayland, no compositor")
      << QStringLiteral("wayland") << QString() << QStringLiteral("wayland-93");
  QTest::newRow("default, neither reachable")
      << QString() << QStringLiteral("unix:93.0") << QStringLiteral("wayland-93");
}

void TProgramTest::noDisplayIsOneLineAndExitCodeTwo() {
  QFETCH(QString, platform);
  QFETCH(QString, display);
  QFETCH(QString, wayland);
  QProcessEnvironment extra;
  extra.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
  extra.insert(QStringLiteral("DISPLAY"), display);
  extra.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland);
  auto window = Start({}, extra);
  QVERIFY(window->waitForFinished(10000));
  const QByteArray output = window->readAll();
  QCOMPARE(window->exitStatus(), QProcess::NormalExit);
  QCOMPARE(window->exitCode(), 2);
  QCOMPARE(output.count('\n'), 1);
  QVERIFY2(output.contains("no display") && output.contains("--headless"), output.constData());
  QVERIFY(!QFile::exists(SocketName()));  // it ended before the single-instance guard
}

void TProgramTest::displayProbe_data() {
  QTest::addColumn<QString>("platform");
  QTest::addColumn<QString>("display");
  QTest::addColumn<QString>("wayland");
  QTest::addColumn<bool>("reachable");
  // "LISTENING" stands for the path of a socket that accepts connections.
  QTest::newRow("offscreen needs nothing") << "offscreen"
                                           << ""
                                           << "" << true;
  QTest::newRow("minimal with options") << "minimal:enable_fonts"
                                        << ""
                                        << "" << true;
  QTest::newRow("nothing set") << ""
                               << ""
                               << "" << false;
  QTest::newRow("X number without server") << ""
                                           << ":93"
                                           << "" << false;
  QTest::newRow("X display not a number") << ""
                                          << ":x"
                                          << "" << false;
  QTest::newRow("wayland socket") << ""
                                  << ""
                                  << "LISTENING" << true;
  QTest::newRow("wayland socket, xcb forced") << "xcb"
                                              << ""
                                              << "LISTENING" << false;
  QTest::newRow("wayland;xcb list") << "wayland;xcb"
                                    << ":93"
                                    << "LISTENING" << true;
  QTest::newRow("wayland without socket") << "wayland"
                                          << ""
                                          << "wayland-93" << false;
}

void TProgramTest::displayProbe() {
  QFETCH(QString, platform);
  QFETCH(QString, display);
  QFETCH(QString, wayland);
  QFETCH(bool, reachable);
  const std::string socketPath = fHome->filePath(QStringLiteral("wl")).toStdString();
  const TFakeServer server(socketPath);
  QVERIFY(server.Listening());
  TDisplayEnvironment environment{platform.toStdString(), display.toStdString(),
                                  wayland.toStdString(), fHome->path().toStdString()};
  if (environment.WaylandDisplay == "LISTENING") {
    environment.WaylandDisplay = socketPath;
  }
  QCOMPARE(DisplayReachable(environment), reachable);
}

QTEST_GUILESS_MAIN(TProgramTest)
#include "program_test.moc"
