// The real executable: one instance per executable path for the window and for --headless,
// recovery after the admitted instance was killed, and SIGTERM ending the window's run the way
// "Exit" does (settings saved, exit code 0).
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

#include "app/instance_guard.h"

using namespace kelvo;

namespace {

QString RelayBinary() {
  return QFileInfo(QStringLiteral(KELVO_RELAY_EXECUTABLE)).canonicalFilePath();
}

}  // namespace

class TProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void headlessSecondStartEndsAndKilledFirstDoesNotBlock();
  void windowSecondStartEndsAndTermSavesSettings();

 private:
  std::unique_ptr<QProcess> Start(const QStringList& AArgs);
  QString SettingsFile() const {
    return fHome->filePath(QStringLiteral("Marlowin/KelvoRelay.reg"));
  }

  std::unique_ptr<QTemporaryDir> fHome;
};

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

std::unique_ptr<QProcess> TProgramTest::Start(const QStringList& AArgs) {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), fHome->path());
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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
  const QString socketName =
      QString::fromStdString(TInstanceGuard(RelayBinary().toStdString()).ShowRequestName());
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

QTEST_GUILESS_MAIN(TProgramTest)
#include "program_test.moc"
