// Keeps a top-level window on the screen it stands on: never larger than the screen's available
// area (a 1.5x scale can make the designed window wider than a small screen) and moved wholly
// onto it, at every showing and whenever the window changes screens. GUI thread only.
#pragma once

#include <QObject>

class QWidget;

namespace kelvo {

// Fits AWindow's frame to the available area of the screen under its centre (or its own
// screen, when that point lies on none).
void KeepOnScreen(QWidget& AWindow);

class TScreenFit : public QObject {
  Q_OBJECT

 public:
  // A child of AWindow, which it watches.
  explicit TScreenFit(QWidget& AWindow);

 protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  QWidget& fWindow;
  bool fWatchingHandle = false;
};

}  // namespace kelvo
