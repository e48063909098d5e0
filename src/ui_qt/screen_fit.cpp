#include "ui_qt/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "present/placement.h"

namespace kelvo {

void KeepOnScreen(QWidget& AWindow) {
  const QRect frame = AWindow.frameGeometry();
  QScreen* screen = QGuiApplication::screenAt(frame.center());
  if (screen == nullptr) {
    screen = AWindow.screen();
  }
  if (screen == nullptr) {
    return;
  }
  const QRect area = screen->availableGeometry();
  const TRect fitted = FitOnScreen({frame.x(), frame.y(), frame.width(), frame.height()},
                                   {area.x(), area.y(), area.width(), area.height()});
  const int narrower = frame.width() - fitted.Width;
  const int lower = frame.height() - fitted.Height;
  if (narrower > 0 || lower > 0) {
    AWindow.resize(AWindow.width() - narrower, AWindow.height() - lower);
  }
  if (fitted.Left != frame.x() || fitted.Top != frame.y()) {
    AWindow.move(fitted.Left, fitted.Top);  // a window's position is its frame's
  }
}

TScreenFit::TScreenFit(QWidget& AWindow) : QObject(&AWindow), fWindow(AWindow) {
  setObjectName(QStringLiteral("ScreenFit"));
  AWindow.installEventFilter(this);
}

bool TScreenFit::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == &fWindow && AEvent->type() == QEvent::Show) {
    KeepOnScreen(fWindow);
    QWindow* handle = fWindow.windowHandle();
    if (handle != nullptr && !fWatchingHandle) {
      fWatchingHandle = true;
      // Once the window manager has framed it, the frame is known: fit again with it.
      handle->installEventFilter(this);
      connect(handle, &QWindow::screenChanged, this, [this] { KeepOnScreen(fWindow); });
    }
  } else if (AWatched == fWindow.windowHandle() && AEvent->type() == QEvent::Expose &&
             fWindow.isVisible()) {
    AWatched->removeEventFilter(this);
    KeepOnScreen(fWindow);
  }
  return QObject::eventFilter(AWatched, AEvent);
}

}  // namespace kelvo
