// The small modal editor for one static controller entry: it only collects three texts; the
// Setup dialog converts them and changes its working copy of the list. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace kelvo {

class TfmEditNAT : public QDialog {
  Q_OBJECT

 public:
  explicit TfmEditNAT(QWidget* AParent = nullptr);

  // Any text converts: empty, not a number or outside the signed 32-bit range gives 1.
  static std::int32_t ConvertNAD(const QString& AText);
  // Empty or not a number gives 1; otherwise the low 16 bits of the number (70000 -> 4464).
  static std::uint16_t ConvertPort(const QString& AText);

  // Children of the dialog (Qt parent-child ownership).
  QLineEdit* edNAD;
  QLineEdit* edHost;
  QLineEdit* edPort;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QPushButton* btnOK;
  QPushButton* Button2;
  // Set by the caller before each showing: false adds a new entry, true changes one.
  bool EditMode = false;

 protected:
  void showEvent(QShowEvent* AEvent) override;

 private:
  void FormShow();
  void edNADChange();
};

}  // namespace kelvo
