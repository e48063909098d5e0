// Small helpers that place widgets the way the forms were designed: absolute pixel geometry,
// an objectName equal to the field name, fixed frames and design fonts. GUI thread only.
#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <QWidget>

namespace kelvo {

// A child of AParent (which owns it) at the designed place, named like its field.
template <typename TWidget>
TWidget* MakeChild(QWidget* AParent, const char* AName, int ALeft, int ATop, int AWidth,
                   int AHeight) {
  auto* widget = new TWidget(AParent);
  widget->setObjectName(QString::fromLatin1(AName));
  widget->setGeometry(ALeft, ATop, AWidth, AHeight);
  return widget;
}

// A dialog frame of fixed client size with only the close box in its title bar.
inline void SetFixedDialogFrame(QDialog* ADialog, int AClientWidth, int AClientHeight) {
  ADialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  ADialog->setFixedSize(AClientWidth, AClientHeight);
}

// Sizes are given in pixels so that a design made at 96 dpi keeps its proportions.
inline QFont DesignFont(const QString& AFamily, int APixelSize, bool ABold = false) {
  QFont font(AFamily);
  font.setPixelSize(APixelSize);
  font.setBold(ABold);
  return font;
}

}  // namespace kelvo
