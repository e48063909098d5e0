// Small helpers that place widgets the way the forms were designed: absolute pixel geometry,
// an objectName equal to the field name, fixed frames and design fonts. GUI thread only.
#pragma once

#include <QDialog>
#include <QFont>
#include <QLabel>
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

// Sizes are given in pixels so that a design made at 96 dpi keeps its proportions. Where the
// designed family is missing, a face with Arial's metrics (no wider than the designed ones)
// keeps the texts inside their designed widths.
inline QFont DesignFont(const QString& AFamily, int APixelSize, bool ABold = false) {
  QFont font;
  font.setFamilies({AFamily, QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans")});
  font.setPixelSize(APixelSize);
  font.setBold(ABold);
  return font;
}

// Labels size themselves to their text, as the designed labels did: a font with other metrics
// must not cut a caption. A right-aligned label grows to the left, any other to the right.
inline void FitLabelWidth(QLabel* ALabel) {
  const int missing = ALabel->sizeHint().width() - ALabel->width();
  if (missing <= 0) {
    return;
  }
  QRect place = ALabel->geometry();
  if (ALabel->alignment() & Qt::AlignRight) {
    place.setLeft(place.left() - missing);
  } else {
    place.setWidth(place.width() + missing);
  }
  ALabel->setGeometry(place);
}

// A label as high as its font needs, text at the top as the designed labels drew it, so a font
// taller than the designed one keeps its descenders and the access key's underline.
inline void FitLabelHeight(QLabel* ALabel) {
  const int needed = ALabel->fontMetrics().height();
  if (ALabel->height() < needed) {
    ALabel->resize(ALabel->width(), needed);
  }
  ALabel->setAlignment((ALabel->alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop);
}

}  // namespace kelvo
