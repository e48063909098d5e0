#include "ui_qt/centred_dialog.h"

#include <QEvent>
#include <QMargins>
#include <QWindow>

#include "present/placement.h"

namespace kelvo {

namespace {

QMargins FrameMargins(const QWidget& AWindow) {
  const QRect frame = AWindow.frameGeometry();
  const QRect client = AWindow.geometry();
  return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
          frame.bottom() - client.bottom()};
}

}  // namespace

void TCentredDialog::setVisible(bool AVisible) {
  if (AVisible && !isVisible()) {
    CentreOnOwner();
  }
  const bool first = AVisible && !fShownBefore;
  QDialog::setVisible(AVisible);
  if (first) {
    fShownBefore = true;
    // Once the window manager has framed it, the dialog's own frame is known: centre again
    // with it, where it differs from the owner's (a fixed dialog has no resize border).
    if (QWindow* window = windowHandle()) {
      window->installEventFilter(this);
    }
  }
}

bool TCentredDialog::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == windowHandle() && AEvent->type() == QEvent::Expose && isVisible()) {
    AWatched->removeEventFilter(this);
    CentreOnOwner();
  }
  return QDialog::eventFilter(AWatched, AEvent);
}

void TCentredDialog::CentreOnOwner() {
  const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
  if (owner == nullptr || !owner->isVisible()) {
    return;  // nothing to centre on: the platform places it
  }
  // Before its first showing a dialog's frame is not known yet; the window manager decorates
  // it as it does the owner, so the owner's frame stands in. Without this the first showing
  // sits one title bar too high.
  const QMargins margins = fShownBefore ? FrameMargins(*this) : FrameMargins(*owner);
  const QRect ownerFrame = owner->frameGeometry();
  const TRect place = CentredOn(
      {ownerFrame.x(), ownerFrame.y(), ownerFrame.width(), ownerFrame.height()},
      width() + margins.left() + margins.right(), height() + margins.top() + margins.bottom());
  move(place.Left, place.Top);  // a window's position is its frame's
}

}  // namespace kelvo
