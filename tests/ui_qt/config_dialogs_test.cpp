// The static entry editor and the Setup dialog, driven through their widgets.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <limits>
#include <memory>

#include "modal_helpers.h"
#include "net/ethernet_utils.h"
#include "tables/nat_info_list.h"
#include "ui_qt/edit_nat_dialog.h"
#include "ui_qt/group_frame.h"
#include "ui_qt/options_dialog.h"

using kelvo::TfmEditNAT;
using kelvo::TfmOptions;
using kelvo::TNATInfo;
using kelvo::TNATInfoList;
using kelvo::test::ExecWith;

namespace {

std::vector<kelvo::TPlatformAdapter> gAdapters;

kelvo::TAdapterPlatform FakePlatform() {
  kelvo::TAdapterPlatform platform;
  platform.Enumerate = [] { return std::optional(gAdapters); };
  platform.LocalIPAddress = [] { return std::string("127.0.0.1"); };
  return platform;
}

// Two entries that need no name lookup: NAD 5 (alias 9) and NAD -1.
std::unique_ptr<TNATInfoList> MakeCallerTable() {
  auto table = std::make_unique<TNATInfoList>(-1);
  auto first = std::make_unique<TNATInfo>(5, "127.0.0.1", 8442, -1);
  first->SetNADAlias(9);
  table->Add(std::move(first));
  table->Add(std::make_unique<TNATInfo>(-1, "localhost", 1000, -1));
  return table;
}

QString Cell(const QTableWidget* AList, int ARow, int AColumn) {
  const QTableWidgetItem* item = AList->item(ARow, AColumn);
  return item != nullptr ? item->text() : QStringLiteral("<none>");
}

struct TEditorSeen {
  bool Visible = false;
  QString Caption, NAD, Host, Port;
};

// Answers the program's next showing of the editor: records what it showed, types the texts
// and presses OK (or Cancel).
void AnswerEditor(TfmEditNAT& AEditor, TEditorSeen& ASeen, const QString& ANAD,
                  const QString& AHost, const QString& APort, bool AAccept) {
  QTimer::singleShot(0, &AEditor, [&AEditor, &ASeen, ANAD, AHost, APort, AAccept] {
    ASeen = {AEditor.isVisible(), AEditor.windowTitle(), AEditor.edNAD->text(),
             AEditor.edHost->text(), AEditor.edPort->text()};
    AEditor.edNAD->setText(ANAD);
    AEditor.edHost->setText(AHost);
    AEditor.edPort->setText(APort);
    QTest::mouseClick(AAccept ? AEditor.btnOK : AEditor.Button2, Qt::LeftButton);
  });
}

void SelectRow(TfmOptions& ADialog, int ARow) {
  ADialog.lvStatic->selectRow(ARow);
}

}  // namespace

class TConfigDialogsTest : public QObject {
  Q_OBJECT

 private:
  kelvo::TAdapterPlatform fPreviousPlatform;

 private slots:
  void initTestCase() {
    gAdapters = {{"eth0", "Intel Ethernet", "192.168.1.10", "255.255.255.0", "192.168.1.1"},
                 {"wlan0", "Wireless", "10.0.0.7", "255.0.0.0", "0.0.0.0"}};
    fPreviousPlatform = kelvo::SetAdapterPlatform(FakePlatform());
  }
  void cleanupTestCase() { kelvo::SetAdapterPlatform(fPreviousPlatform); }

  void editorCaptionFollowsMode() {
    TfmEditNAT editor;
    editor.EditMode = false;
    editor.show();
    QCOMPARE(editor.windowTitle(), QStringLiteral("Add"));
    editor.hide();
    editor.EditMode = true;
    editor.show();
    QCOMPARE(editor.windowTitle(), QStringLiteral("Edit"));
  }

  void editorOkNeedsAllThreeFields() {
    TfmEditNAT editor;
    QVERIFY(!editor.btnOK->isEnabled());
    editor.edNAD->setText(QStringLiteral("7"));
    editor.edHost->setText(QStringLiteral("controller"));
    QVERIFY(!editor.btnOK->isEnabled());
    editor.edPort->setText(QStringLiteral("8442"));
    QVERIFY(editor.btnOK->isEnabled());
    editor.edHost->clear();
    QVERIFY(!editor.btnOK->isEnabled());
    editor.edHost->setText(QStringLiteral("controller"));
    editor.edNAD->clear();
    QVERIFY(!editor.btnOK->isEnabled());
    editor.edNAD->setText(QStringLiteral("7"));
    // Only ports 1 to 65535: 99999 would be stored as 34463, 0 is no port.
    for (const char* port : {"99999", "65536", "0"}) {
      editor.edPort->setText(QLatin1String(port));
      QVERIFY2(!editor.btnOK->isEnabled(), port);
    }
    editor.edPort->setText(QStringLiteral("65535"));
    QVERIFY(editor.btnOK->isEnabled());
    editor.edNAD->setText(QStringLiteral("2147483648"));  // past the NAD's range
    QVERIFY(!editor.btnOK->isEnabled());
    // Enter with OK disabled does not accept: the texts are not lost.
    QCOMPARE(ExecWith(editor,
                      [&] {
                        QTest::keyClick(editor.edPort, Qt::Key_Return);
                        QVERIFY(editor.isVisible());
                        editor.reject();
                      }),
             int(QDialog::Rejected));
  }

  // Every showing starts in the NAD field with its text selected, wherever the last one ended.
  void editorFocusStartsInNADWithItsTextSelected() {
    TfmEditNAT editor;
    for (const bool editMode : {false, true, false}) {
      editor.SetTexts({"1001", "controller", "8442"});
      editor.EditMode = editMode;
      QLineEdit* focused = nullptr;
      QString selected;
      ExecWith(editor, [&] {
        focused = qobject_cast<QLineEdit*>(editor.focusWidget());
        selected = editor.edNAD->selectedText();
        editor.edHost->setFocus();  // the field used last this time
        QTest::keyClicks(editor.edHost, QStringLiteral("x"));
        editor.reject();
      });
      QCOMPARE(focused, editor.edNAD);
      QCOMPARE(selected, QStringLiteral("1001"));
    }
    // Typed at once, a NAD replaces the selected one.
    editor.SetTexts({"5", "h", "1"});
    ExecWith(editor, [&] {
      QTest::keyClicks(editor.focusWidget(), QStringLiteral("77"));
      editor.reject();
    });
    QCOMPARE(editor.edNAD->text(), QStringLiteral("77"));
    QCOMPARE(editor.edHost->text(), QStringLiteral("h"));
  }

  void editorTypingTakesDigitsOnly() {
    TfmEditNAT editor;
    editor.show();
    QTest::keyClicks(editor.edNAD, QStringLiteral("1a2-3"));
    QTest::keyClicks(editor.edPort, QStringLiteral("84.42"));
    QTest::keyClicks(editor.edHost, QStringLiteral("host-1.lan"));
    QCOMPARE(editor.edNAD->text(), QStringLiteral("123"));
    QCOMPARE(editor.edPort->text(), QStringLiteral("8442"));
    QCOMPARE(editor.edHost->text(), QStringLiteral("host-1.lan"));
  }

  // The caller's negative NAD stays acceptable, so the field goes on filtering what is typed
  // after it; Port stays digits only whatever it holds.
  void editorFieldsFilterAfterTheCallersText_data() {
    QTest::addColumn<QString>("callerNAD");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("nad");
    QTest::newRow("negative, then letters and space") << "-5"
                                                      << "x1 "
                                                      << "-51" << -51;
    QTest::newRow("negative, then a second minus") << "-5"
                                                   << "-2"
                                                   << "-52" << -52;
    QTest::newRow("positive, then minus") << "5"
                                          << "-"
                                          << "5" << 5;
    QTest::newRow("empty, digits") << ""
                                   << "a7b"
                                   << "7" << 7;
  }
  void editorFieldsFilterAfterTheCallersText() {
    QFETCH(QString, callerNAD);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, nad);
    TfmEditNAT editor;
    editor.SetTexts({callerNAD.toStdString(), "controller", "8442"});
    editor.show();
    editor.edNAD->setFocus();
    editor.edNAD->end(false);
    QTest::keyClicks(editor.edNAD, typed);
    QCOMPARE(editor.edNAD->text(), shown);
    QCOMPARE(kelvo::ConvertNAD(editor.Texts().NAD), nad);

    editor.edPort->end(false);
    QTest::keyClicks(editor.edPort, QStringLiteral("-1x "));
    QCOMPARE(editor.edPort->text(), QStringLiteral("84421"));
  }

  // The caption sits on the frame line of "General"; no control inside touches the line or
  // the caption, and every label is high enough for its font, access key underline included.
  void setupGroupBoxFrameClearOfControls() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    dialog.show();
    QCOMPARE(dialog.GroupBox1->geometry(), QRect(8, 8, 412, 305));
    QCOMPARE(dialog.GroupBox1->title(), QStringLiteral("General"));
    const QRect frame = dialog.GroupBox1->FrameRect();
    const QRect caption = dialog.GroupBox1->CaptionRect();
    QCOMPARE(frame.bottom(), dialog.GroupBox1->height() - 1);
    QVERIFY(frame.top() > caption.top() && frame.top() < caption.bottom());  // on the line
    const QRect inside = frame.adjusted(2, 2, -2, -2);
    const QList<QWidget*> children =
        dialog.GroupBox1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QVERIFY(children.size() >= 8);
    for (const QWidget* child : children) {
      QVERIFY2(inside.contains(child->geometry()), qPrintable(child->objectName()));
      QVERIFY2(!caption.intersects(child->geometry()), qPrintable(child->objectName()));
    }
    // The line drawn is the one measured: the first non-background pixel down the box's left
    // side, left of the caption.
    const QImage image = dialog.GroupBox1->grab().toImage();
    const QColor background = dialog.GroupBox1->palette().color(QPalette::Window);
    int line = -1;
    for (int y = 0; y < image.height() && line < 0; ++y) {
      if (image.pixelColor(caption.left() / 2, y) != background) {
        line = y;
      }
    }
    QCOMPARE(line, frame.top());
    // Nothing outside the box reaches into it.
    QVERIFY(!dialog.Panel1->geometry().intersects(dialog.GroupBox1->geometry()));

    for (QLabel* label : {dialog.Label1, dialog.Label2}) {
      const QFontMetrics metrics(label->font());
      QVERIFY2(label->height() >= metrics.ascent() + metrics.underlinePos() + metrics.lineWidth(),
               qPrintable(label->objectName()));
      QVERIFY(label->alignment() & Qt::AlignTop);
    }
    QCOMPARE(dialog.Label1->text(), QStringLiteral("&Ethernet adapter:"));
    QCOMPARE(dialog.Label1->buddy(), dialog.cbEthAdapter);
  }

  void editorResultsOfEnterEscAndCloseBox() {
    TfmEditNAT editor;
    editor.edNAD->setText(QStringLiteral("-5"));  // the caller may set what typing cannot
    editor.edHost->setText(QStringLiteral("h"));
    editor.edPort->setText(QStringLiteral("1"));
    QCOMPARE(ExecWith(editor, [&] { QTest::keyClick(editor.edPort, Qt::Key_Return); }),
             int(QDialog::Accepted));
    QCOMPARE(ExecWith(editor, [&] { QTest::keyClick(editor.edNAD, Qt::Key_Return); }),
             int(QDialog::Accepted));
    QCOMPARE(ExecWith(editor, [&] { QTest::keyClick(editor.edHost, Qt::Key_Escape); }),
             int(QDialog::Rejected));
    QCOMPARE(ExecWith(editor, [&] { editor.close(); }), int(QDialog::Rejected));
  }

  void setupShowsAdaptersAndHint() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    dialog.EthernetAdapterID = "wlan0";
    dialog.CreateDebugLogs = true;
    dialog.SetStaticList(MakeCallerTable());
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Setup"));
    QCOMPARE(dialog.cbEthAdapter->count(), 2);
    QCOMPARE(dialog.cbEthAdapter->itemText(0), QStringLiteral("Intel Ethernet (192.168.1.10)"));
    QCOMPARE(dialog.cbEthAdapter->currentIndex(), 1);
    QCOMPARE(dialog.cbEthAdapter->toolTip(), QStringLiteral("Wireless (10.0.0.7)"));
    QVERIFY(dialog.cbCreateDebugLogs->isChecked());

    dialog.cbEthAdapter->setCurrentIndex(0);
    QCOMPARE(dialog.cbEthAdapter->toolTip(), QStringLiteral("Intel Ethernet (192.168.1.10)"));
    dialog.cbCreateDebugLogs->setChecked(false);
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.EthernetAdapterID, std::string("eth0"));
    QVERIFY(!dialog.CreateDebugLogs);
  }

  void setupUnknownAdapterAndFreshEnumerationAtEveryShowing() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    // A chosen adapter that is away just now stays the choice, marked as such.
    dialog.EthernetAdapterID = "usb0";
    dialog.show();
    QCOMPARE(dialog.cbEthAdapter->count(), 3);
    QCOMPARE(dialog.cbEthAdapter->currentIndex(), 2);
    QCOMPARE(dialog.cbEthAdapter->currentText(), QStringLiteral("usb0 (not present)"));
    QCOMPARE(dialog.cbEthAdapter->toolTip(), QStringLiteral("usb0 (not present)"));
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    QCOMPARE(dialog.EthernetAdapterID, std::string("usb0"));
    // Without a choice nothing is selected.
    dialog.EthernetAdapterID = "";
    dialog.show();
    QCOMPARE(dialog.cbEthAdapter->count(), 2);
    QCOMPARE(dialog.cbEthAdapter->currentIndex(), -1);
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    QCOMPARE(dialog.EthernetAdapterID, std::string());

    const auto saved = gAdapters;
    gAdapters.push_back({"usb0", "USB LAN", "172.16.0.2", "255.255.0.0", "0.0.0.0"});
    dialog.EthernetAdapterID = "usb0";
    dialog.show();
    gAdapters = saved;
    QCOMPARE(dialog.cbEthAdapter->count(), 3);
    QCOMPARE(dialog.cbEthAdapter->currentIndex(), 2);
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    QCOMPARE(dialog.EthernetAdapterID, std::string("usb0"));
  }

  void setupListsEntriesAndFollowsSelection() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    dialog.SetStaticList(MakeCallerTable());
    dialog.show();
    const QTableWidget* list = dialog.lvStatic;
    QCOMPARE(list->rowCount(), 2);
    QCOMPARE(Cell(list, 0, 0), QStringLiteral("1."));
    QCOMPARE(Cell(list, 0, 1), QStringLiteral("5"));
    QCOMPARE(Cell(list, 0, 2), QStringLiteral("127.0.0.1"));
    QCOMPARE(Cell(list, 0, 3), QStringLiteral("8442"));
    QCOMPARE(Cell(list, 1, 0), QStringLiteral("2."));
    QCOMPARE(Cell(list, 1, 1), QStringLiteral("4294967295"));
    QCOMPARE(Cell(list, 1, 2), QStringLiteral("localhost"));  // as typed, not resolved
    QCOMPARE(list->horizontalHeaderItem(2)->text(), QStringLiteral("IP address"));

    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(dialog.acAdd->isEnabled());
    QVERIFY(!dialog.acEdit->isEnabled() && !dialog.Button3->isEnabled());
    QVERIFY(!dialog.acDelete->isEnabled() && !dialog.Button2->isEnabled());
    SelectRow(dialog, 1);
    QVERIFY(dialog.acEdit->isEnabled() && dialog.Button3->isEnabled());
    QVERIFY(dialog.acDelete->isEnabled() && dialog.Button2->isEnabled());
    dialog.lvStatic->clearSelection();
    QVERIFY(!dialog.acEdit->isEnabled());
    QVERIFY(!dialog.acDelete->isEnabled());
  }

  void setupAddThroughEditorOnOk() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    dialog.SetStaticList(MakeCallerTable());
    // Leftovers of an earlier use of the shared editor must not reach the Add form.
    editor.edNAD->setText(QStringLiteral("99"));
    editor.EditMode = true;
    TEditorSeen seen;
    bool timedOut = false;
    const int result = ExecWith(
        dialog,
        [&] {
          AnswerEditor(editor, seen, QStringLiteral("1001"), QStringLiteral("127.0.0.2"),
                       QStringLiteral("4464"), true);
          QTest::mouseClick(dialog.Button1, Qt::LeftButton);
          QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
        },
        &timedOut);
    QVERIFY(!timedOut);
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(seen.Visible);
    QCOMPARE(seen.Caption, QStringLiteral("Add"));
    QCOMPARE(seen.NAD + seen.Host + seen.Port, QString());

    const std::unique_ptr<TNATInfoList> table = dialog.TakeStaticList();
    QVERIFY(table != nullptr);
    QCOMPARE(table->Count(), 3);
    const TNATInfo* added = table->Items(2);
    QCOMPARE(added->NAD(), 1001);
    QCOMPARE(added->NADAlias(), 1001);
    QCOMPARE(added->Host(), std::string("127.0.0.2"));
    QCOMPARE(added->IP(), std::string("127.0.0.2"));
    QCOMPARE(added->Port(), std::uint16_t{4464});
    QCOMPARE(added->Timeout(), -1);
    QCOMPARE(table->Timeout(), -1);
    QVERIFY(dialog.TakeStaticList() == nullptr);  // handed over once
  }

  // A host that does not resolve now is added all the same, as typed, with an empty IP;
  // a cancelled editor adds nothing.
  void setupAddKeepsUnresolvableHostAndCancelledEditorAddsNothing() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    dialog.SetStaticList(MakeCallerTable());
    dialog.show();
    TEditorSeen seen;
    AnswerEditor(editor, seen, QStringLiteral("7"), QStringLiteral("no-such-controller.invalid"),
                 QStringLiteral("8442"), true);
    dialog.acAdd->trigger();
    QVERIFY(seen.Visible);
    QCOMPARE(dialog.lvStatic->rowCount(), 3);
    QCOMPARE(Cell(dialog.lvStatic, 2, 2), QStringLiteral("no-such-controller.invalid"));

    AnswerEditor(editor, seen, QStringLiteral("8"), QStringLiteral("127.0.0.1"),
                 QStringLiteral("8442"), false);
    dialog.acAdd->trigger();
    QVERIFY(seen.Visible);
    QCOMPARE(dialog.lvStatic->rowCount(), 3);

    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    const auto table = dialog.TakeStaticList();
    QCOMPARE(table->Count(), 3);
    QCOMPARE(table->Items(2)->Host(), std::string("no-such-controller.invalid"));
    QCOMPARE(table->Items(2)->IP(), std::string());
    QCOMPARE(table->Items(2)->Port(), std::uint16_t{8442});
  }

  void setupEditChangesEntryInPlace() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    dialog.SetStaticList(MakeCallerTable());
    dialog.show();

    SelectRow(dialog, 1);
    TEditorSeen seen;
    AnswerEditor(editor, seen, QStringLiteral("-1"), QStringLiteral("localhost"),
                 QStringLiteral("1000"), false);
    dialog.acEdit->trigger();
    QCOMPARE(seen.Caption, QStringLiteral("Edit"));
    QCOMPARE(seen.NAD, QStringLiteral("-1"));  // signed in the editor, unsigned in the list
    QCOMPARE(Cell(dialog.lvStatic, 1, 1), QStringLiteral("4294967295"));

    SelectRow(dialog, 0);
    // The new host is not looked up here, so even a name that cannot resolve is taken.
    AnswerEditor(editor, seen, QStringLiteral("42"), QStringLiteral("ctl.invalid"),
                 QStringLiteral("4464"), true);
    QTest::mouseClick(dialog.Button3, Qt::LeftButton);
    QCOMPARE(seen.Caption, QStringLiteral("Edit"));
    QCOMPARE(seen.NAD, QStringLiteral("5"));
    QCOMPARE(seen.Host, QStringLiteral("127.0.0.1"));
    QCOMPARE(seen.Port, QStringLiteral("8442"));
    QCOMPARE(Cell(dialog.lvStatic, 0, 1), QStringLiteral("42"));
    QCOMPARE(Cell(dialog.lvStatic, 0, 2), QStringLiteral("ctl.invalid"));
    QCOMPARE(Cell(dialog.lvStatic, 0, 3), QStringLiteral("4464"));
    QVERIFY(dialog.lvStatic->selectedItems().isEmpty());
    QVERIFY(!dialog.acEdit->isEnabled());

    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    const auto table = dialog.TakeStaticList();
    QCOMPARE(table->Count(), 2);
    const TNATInfo* edited = table->Items(0);
    QCOMPARE(edited->NAD(), 42);
    QCOMPARE(edited->NADAlias(), 42);  // was 9
    QCOMPARE(edited->Host(), std::string("ctl.invalid"));
    QCOMPARE(edited->IP(), std::string("127.0.0.1"));
    QCOMPARE(edited->Port(), std::uint16_t{4464});
    QCOMPARE(table->Items(1)->NAD(), -1);
  }

  void setupDeleteRemovesSelectedRow() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    dialog.SetStaticList(MakeCallerTable());
    dialog.show();
    dialog.acDelete->trigger();  // nothing selected: nothing happens
    QCOMPARE(dialog.lvStatic->rowCount(), 2);

    SelectRow(dialog, 0);
    QTest::mouseClick(dialog.Button2, Qt::LeftButton);
    QCOMPARE(dialog.lvStatic->rowCount(), 1);
    QCOMPARE(Cell(dialog.lvStatic, 0, 0), QStringLiteral("1."));
    QCOMPARE(Cell(dialog.lvStatic, 0, 2), QStringLiteral("localhost"));
    QVERIFY(!dialog.acDelete->isEnabled());
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    const auto table = dialog.TakeStaticList();
    QCOMPARE(table->Count(), 1);
    QCOMPARE(table->Items(0)->NAD(), -1);
  }

  void setupCancelLeavesCallerTableAndValues() {
    TfmEditNAT editor;
    TfmOptions dialog(editor);
    const auto relayTable = MakeCallerTable();
    dialog.EthernetAdapterID = "eth0";
    dialog.CreateDebugLogs = false;
    dialog.SetStaticList(relayTable->Duplicate());
    TEditorSeen seen;
    const int result = ExecWith(dialog, [&] {
      SelectRow(dialog, 0);
      dialog.acDelete->trigger();
      AnswerEditor(editor, seen, QStringLiteral("77"), QStringLiteral("127.0.0.3"),
                   QStringLiteral("1"), true);
      dialog.acAdd->trigger();
      dialog.cbEthAdapter->setCurrentIndex(1);
      dialog.cbCreateDebugLogs->setChecked(true);
      QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(seen.Caption, QStringLiteral("Add"));
    QVERIFY(dialog.TakeStaticList() == nullptr);
    QCOMPARE(dialog.EthernetAdapterID, std::string("eth0"));
    QVERIFY(!dialog.CreateDebugLogs);
    QCOMPARE(relayTable->Count(), 2);
    QCOMPARE(relayTable->Items(0)->NAD(), 5);
    QCOMPARE(relayTable->Items(1)->NAD(), -1);

    // The next showing starts again from the caller's table, not from the cancelled edits;
    // the close box and Cancel drop the edits the same way.
    dialog.SetStaticList(relayTable->Duplicate());
    QCOMPARE(ExecWith(dialog,
                      [&] {
                        QCOMPARE(dialog.lvStatic->rowCount(), 2);
                        SelectRow(dialog, 1);
                        dialog.acDelete->trigger();
                        dialog.close();
                      }),
             int(QDialog::Rejected));
    dialog.SetStaticList(relayTable->Duplicate());
    QCOMPARE(ExecWith(dialog,
                      [&] {
                        QCOMPARE(dialog.lvStatic->rowCount(), 2);
                        QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
                      }),
             int(QDialog::Rejected));
    QVERIFY(dialog.TakeStaticList() == nullptr);
  }
};

QTEST_MAIN(TConfigDialogsTest)
#include "config_dialogs_test.moc"
