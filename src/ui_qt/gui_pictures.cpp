#include "ui_qt/gui_pictures.h"

#include <QGuiApplication>

#include "present/picture_scale.h"
#include "ui_qt/gui_resources.h"

namespace kelvo {

qreal PictureDevicePixelRatio() {
  return qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
}

QPixmap LoadPicture(const QString& AName, qreal ADevicePixelRatio) {
  InitGuiResources();
  const int scale = PictureScaleFor(ADevicePixelRatio);
  QPixmap picture(QStringLiteral(":/") +
                  QString::fromStdString(ScaledPictureName(AName.toStdString(), scale)));
  if (picture.isNull()) {
    return QPixmap(QStringLiteral(":/") + AName);
  }
  picture.setDevicePixelRatio(scale / 100.0);
  return picture;
}

}  // namespace kelvo
