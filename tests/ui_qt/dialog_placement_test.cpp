// Every dialog is centred on the main window at every showing, the first one included, and is
// not pushed back onto the screen when it is taller than the window.
#include <QTest>
#include <functional>
#include <memory>

#include "modal_helpers.h"
#include "present/placement.h"
#include "ui_qt/about_window.h"
#include "ui_qt/edit_nat_dialog.h"
#include "ui_qt/help_window.h"
#include "ui_qt/main_window_layout.h"
#include "ui_qt/options_dialog.h"

using namespace kelvo;

namespace {

QRect Expected(const QWidget& AOwner, const QDialog& ADialog) {
  const QRect owner = AOwner.frameGeometry();
  const QSize frame = ADialog.frameGeometry().size();
  const TRect place = CentredOn({owner.x(), owner.y(), owner.width(), owner.height()},
                                frame.width(), frame.height());
  return {place.Left, place.Top, place.Width, place.Height};
}

}  // namespace

class TDialogPlacementTest : public QObject {
  Q_OBJECT

 private slots:
  void centredAtEveryShowing_data() {
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QPoint>("ownerAt");
    for (const char* name : {"Setup", "editor", "About", "Help"}) {
      QTest::newRow(qPrintable(QStringLiteral("%1 mid-screen").arg(QLatin1String(name))))
          << QString::fromLatin1(name) << QPoint(300, 200);
      QTest::newRow(qPrintable(QStringLiteral("%1 at the top").arg(QLatin1String(name))))
          << QString::fromLatin1(name) << QPoint(40, 0);
    }
  }

  void centredAtEveryShowing() {
    QFETCH(QString, dialog);
    QFETCH(QPoint, ownerAt);
    QWidget owner;
    owner.resize(kDesignClientWidth, kDesignClientHeight);
    owner.move(ownerAt);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));

    auto editor = std::make_unique<TfmEditNAT>(&owner);
    std::unique_ptr<QDialog> shown;
    if (dialog == QLatin1String("Setup")) {
      shown = std::make_unique<TfmOptions>(*editor, &owner);
    } else if (dialog == QLatin1String("About")) {
      shown = std::make_unique<TfmAbout>(&owner);
    } else if (dialog == QLatin1String("Help")) {
      shown = std::make_unique<TfmHelp>(&owner);
    }
    QDialog& target = shown ? *shown : *editor;

    for (int showing = 0; showing < 2; ++showing) {
      QRect seen;
      QRect expected;
      test::ExecWith(target, [&] {
        seen = target.frameGeometry();
        expected = Expected(owner, target);
        target.reject();
      });
      QCOMPARE(seen, expected);
      owner.move(owner.pos() + QPoint(25, 15));  // the next showing follows the window
    }
  }
};

QTEST_MAIN(TDialogPlacementTest)
#include "dialog_placement_test.moc"
