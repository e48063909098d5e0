#include "ui_qt/group_frame.h"

#include <QFontMetrics>
#include <QPainter>

namespace kelvo {

namespace {

constexpr int kCaptionLeft = 8;
constexpr int kCaptionPadding = 2;

}  // namespace

QRect TGroupFrame::FrameRect() const {
  const int top = fontMetrics().height() / 2;
  return {0, top, width(), height() - top};
}

QRect TGroupFrame::CaptionRect() const {
  const QFontMetrics metrics = fontMetrics();
  QString caption = title();
  caption.remove(QLatin1Char('&'));
  return {kCaptionLeft, 0, metrics.horizontalAdvance(caption) + 2 * kCaptionPadding,
          metrics.height()};
}

void TGroupFrame::paintEvent(QPaintEvent* /*AEvent*/) {
  QPainter painter(this);
  const QRect frame = FrameRect();
  // An etched line: shadow, then light one pixel to the lower right.
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame.adjusted(0, 0, -2, -2));
  painter.setPen(palette().color(QPalette::Light));
  painter.drawRect(frame.adjusted(1, 1, -1, -1));
  const QRect caption = CaptionRect();
  painter.fillRect(caption, palette().color(QPalette::Window));
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  painter.drawText(caption, Qt::AlignCenter | Qt::TextShowMnemonic, title());
}

}  // namespace kelvo
