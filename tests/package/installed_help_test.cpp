// Help of an installed program, which has no read-me beside it: the copy in the documentation
// folder is shown, the one beside the executable still wins where there is one.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include "ui_qt/help_window.h"

using kelvo::TfmHelp;

namespace {

void WriteFile(const QString& APath, const QByteArray& ABytes) {
  QVERIFY(QDir().mkpath(QFileInfo(APath).path()));
  QFile file(APath);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(ABytes), ABytes.size());
}

QString Shown(const QString& AHelpFile, const QString& AInstalledFile) {
  TfmHelp help;
  help.SetHelpFile(AHelpFile);
  help.SetInstalledHelpFile(AInstalledFile);
  help.show();
  return help.Memo1->toPlainText();
}

}  // namespace

class TInstalledHelpTest : public QObject {
  Q_OBJECT

 private slots:
  void readmeBesideTheExecutableWinsOverTheInstalledOne() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString beside = dir.filePath(QStringLiteral("bin/Readme.txt"));
    const QString installed = dir.filePath(QStringLiteral("share/doc/kelvorelay/Readme.txt"));
    WriteFile(installed, "installed copy\n");
    QCOMPARE(Shown(beside, installed), QStringLiteral("installed copy"));
    WriteFile(beside, "beside the executable\n");
    QCOMPARE(Shown(beside, installed), QStringLiteral("beside the executable"));
    QCOMPARE(Shown(dir.filePath(QStringLiteral("none/Readme.txt")),
                   dir.filePath(QStringLiteral("none/either.txt"))),
             QString());
  }

  void installedReadmeThatAppearsLaterIsShownAtTheNextShowing() {
    QTemporaryDir dir;
    const QString installed = dir.filePath(QStringLiteral("doc/Readme.txt"));
    TfmHelp help;
    help.SetHelpFile(dir.filePath(QStringLiteral("bin/Readme.txt")));
    help.SetInstalledHelpFile(installed);
    help.show();
    QCOMPARE(help.Memo1->toPlainText(), QString());
    help.hide();
    WriteFile(installed, "now installed\n");
    help.show();
    QCOMPARE(help.Memo1->toPlainText(), QStringLiteral("now installed"));
  }
};

QTEST_MAIN(TInstalledHelpTest)
#include "installed_help_test.moc"
