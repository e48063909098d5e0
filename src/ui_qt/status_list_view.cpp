#include "ui_qt/status_list_view.h"

#include <QEvent>
#include <QPainter>
#include <cmath>

namespace kelvo {

bool TStatusListView::event(QEvent* AEvent) {
  const bool handled = QTableView::event(AEvent);
  const qreal ratio = devicePixelRatioF();
  if (AEvent->type() != QEvent::Paint || frameWidth() <= 0 ||
      std::abs(ratio - std::round(ratio)) < 0.01) {
    return handled;  // at whole ratios the style's own lines land on whole pixels
  }
  QPainter painter(this);
  // Work in device pixels: the pixels wholly inside the view are certainly its own.
  const QTransform toDevice = painter.deviceTransform();
  const QRectF area = toDevice.mapRect(QRectF(rect()));
  const int left = static_cast<int>(std::ceil(area.left() - 0.01));
  const int top = static_cast<int>(std::ceil(area.top() - 0.01));
  const int right = static_cast<int>(std::floor(area.right() + 0.01)) - 1;
  const int bottom = static_cast<int>(std::floor(area.bottom() + 0.01)) - 1;
  if (right <= left || bottom <= top) {
    return handled;
  }
  painter.setWorldTransform(toDevice.inverted());
  painter.setRenderHint(QPainter::Antialiasing, false);
  // The outline colour of the style's frame around item views.
  const QColor line = palette().color(QPalette::Window).darker(140);
  painter.fillRect(QRect(left, top, right - left + 1, 1), line);
  painter.fillRect(QRect(left, bottom, right - left + 1, 1), line);
  painter.fillRect(QRect(left, top, 1, bottom - top + 1), line);
  painter.fillRect(QRect(right, top, 1, bottom - top + 1), line);
  return handled;
}

}  // namespace kelvo
