// The About and Help windows.
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/version.h"
#include "modal_helpers.h"
#include "ui_qt/about_window.h"
#include "ui_qt/help_window.h"
#include "ui_qt/shell_open.h"

using kelvo::DecodeReadmeText;
using kelvo::TfmAbout;
using kelvo::TfmHelp;
using kelvo::test::ExecWith;

namespace {

void WriteFile(const QString& APath, const QByteArray& ABytes) {
  QFile file(APath);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(ABytes), ABytes.size());
}

}  // namespace

class TAboutHelpTest : public QObject {
  Q_OBJECT

 private slots:
  void aboutShowsNameVersionAndMaker() {
    TfmAbout about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.lblProgramName->text(), QStringLiteral("KelvoRelay"));
    QCOMPARE(about.Label3->text(), QStringLiteral("version"));
    QCOMPARE(about.lblVersionNum->text(), QString::fromStdString(kelvo::GetVersionText(3)));
    QCOMPARE(about.lblVersionNum->text().count(QLatin1Char('.')), 2);
    QVERIFY(about.Label2->text().contains(QStringLiteral("Marlowin")));
  }

  void aboutLinksHandTheirTextToTheOpener() {
    QStringList opened;
    const kelvo::TShellOpener previous =
        kelvo::SetShellOpener([&opened](const QString& AText) { opened << AText; });
    TfmAbout about;
    about.show();
    QTest::mouseClick(about.Label6, Qt::LeftButton);
    QTest::mouseClick(about.Label5, Qt::LeftButton);
    QTest::mouseClick(about.Label2, Qt::LeftButton);   // not a link
    QTest::mouseClick(about.Label5, Qt::RightButton);  // not a click
    kelvo::SetShellOpener(previous);
    QCOMPARE(opened, QStringList({QStringLiteral("mailto: ") + about.Label6->text(),
                                  about.Label5->text()}));
    QVERIFY(about.Label6->text().contains(QLatin1Char('@')));
    QVERIFY(!about.Label5->text().contains(QLatin1Char('@')));
  }

  void desktopAddressesOfTheLinkTexts() {
    // The space after "mailto:" survives as %20 rather than making the address invalid.
    const QUrl mail = kelvo::ShellTextToUrl(QStringLiteral("mailto: info@marlowin.com"));
    QVERIFY(mail.isValid());
    QCOMPARE(mail.scheme(), QStringLiteral("mailto"));
    QCOMPARE(mail.toEncoded(), QByteArray("mailto:%20info@marlowin.com"));
    const QUrl web = kelvo::ShellTextToUrl(QStringLiteral("www.marlowin.com"));
    QCOMPARE(web.toString(), QStringLiteral("http://www.marlowin.com"));
  }

  void aboutClosesOnEscOnly() {
    TfmAbout about;
    about.show();
    QTest::keyClick(&about, Qt::Key_Return);
    QTest::keyClick(&about, Qt::Key_A);
    QVERIFY(about.isVisible());
    about.hide();
    bool timedOut = false;
    QCOMPARE(ExecWith(
                 about, [&] { QTest::keyClick(&about, Qt::Key_Escape); }, &timedOut),
             int(QDialog::Rejected));
    QVERIFY(!timedOut);
    QVERIFY(!about.isVisible());
  }

  void decodeFollowsByteOrderMark() {
    const QString umlauts = QStringLiteral("Gr\u00FC\u00DFe \u20AC");
    QCOMPARE(DecodeReadmeText(QByteArray("\xEF\xBB\xBF") + umlauts.toUtf8()), umlauts);

    QByteArray le("\xFF\xFE", 2);
    QByteArray be("\xFE\xFF", 2);
    for (const QChar ch : umlauts + QStringLiteral("\r\n")) {
      const char16_t unit = ch.unicode();
      le.append(char(unit & 0xFF)).append(char(unit >> 8));
      be.append(char(unit >> 8)).append(char(unit & 0xFF));
    }
    QCOMPARE(DecodeReadmeText(le), umlauts);
    QCOMPARE(DecodeReadmeText(be), umlauts);

    // Without a mark: UTF-8 when it is valid UTF-8, otherwise one byte per character.
    QCOMPARE(DecodeReadmeText(umlauts.toUtf8()), umlauts);
    QCOMPARE(DecodeReadmeText(QByteArray("caf\xE9 \xB0"
                                         "C")),
             QStringLiteral("caf\u00E9 \u00B0C"));
    QCOMPARE(DecodeReadmeText(QByteArray("a\r\nb\rc\n\nd\r\n")), QStringLiteral("a\nb\nc\n\nd"));
  }

  void helpReadsTheFileOnlyOnce() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Readme.txt"));
    WriteFile(path,
              QByteArray("\xEF\xBB\xBF") + QStringLiteral("K\u00F6nig\r\nLine 2\r\n").toUtf8());
    TfmHelp help;
    help.SetHelpFile(path);
    help.show();
    QCOMPARE(help.Memo1->toPlainText(), QStringLiteral("K\u00F6nig\nLine 2"));
    QVERIFY(help.Memo1->isReadOnly());
    help.hide();

    WriteFile(path, QByteArray("changed while running"));
    help.show();
    QCOMPARE(help.Memo1->toPlainText(), QStringLiteral("K\u00F6nig\nLine 2"));
  }

  void helpWithoutFileIsEmptyAndRetries() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Readme.txt"));
    TfmHelp help;
    help.SetHelpFile(path);
    help.show();
    QVERIFY(help.isVisible());
    QCOMPARE(help.Memo1->toPlainText(), QString());
    help.hide();

    WriteFile(path, QByteArray("Now it is there.\n"));
    help.show();
    QCOMPARE(help.Memo1->toPlainText(), QStringLiteral("Now it is there."));
  }

  void helpClosesByButtonAndEscAndKeepsItsAnchors() {
    TfmHelp help;
    QCOMPARE(help.size(), QSize(475, 463));
    QCOMPARE(help.Memo1->geometry(), QRect(8, 8, 460, 416));
    QCOMPARE(help.Button1->geometry(), QRect(392, 430, 75, 25));
    QVERIFY(help.Button1->isDefault());
    QCOMPARE(ExecWith(help, [&] { QTest::mouseClick(help.Button1, Qt::LeftButton); }),
             int(QDialog::Rejected));
    QCOMPARE(ExecWith(help, [&] { QTest::keyClick(help.Memo1, Qt::Key_Escape); }),
             int(QDialog::Rejected));

    help.show();
    help.resize(600, 500);
    QCOMPARE(help.Memo1->geometry(), QRect(8, 8, 585, 453));
    QCOMPARE(help.Button1->geometry(), QRect(517, 467, 75, 25));
  }
};

QTEST_MAIN(TAboutHelpTest)
#include "about_help_test.moc"
