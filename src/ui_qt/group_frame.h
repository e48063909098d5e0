// A group box drawn the way the forms were designed: the caption sits on the frame's top line,
// which runs at half the caption's height, and children keep their designed places inside.
// (A style that puts the caption above the frame moves the line through the first row.)
// GUI thread only.
#pragma once

#include <QGroupBox>

namespace kelvo {

class TGroupFrame : public QGroupBox {
  Q_OBJECT

 public:
  using QGroupBox::QGroupBox;

  // In the box's own coordinates: the frame's outer rectangle, and the caption's band, which
  // the frame line does not cross.
  QRect FrameRect() const;
  QRect CaptionRect() const;

 protected:
  void paintEvent(QPaintEvent* AEvent) override;
};

}  // namespace kelvo
