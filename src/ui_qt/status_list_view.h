// A status list's view: a table whose frame stays whole at fractional scale factors. At 1.25,
// 1.5 or 1.75 the style draws the frame's one-pixel lines between device pixels, and the right
// and bottom ones (or the left, where the list starts mid-pixel) fall outside the list's
// pixels; this view draws them again on the outermost device pixels that are wholly its own.
// GUI thread only.
#pragma once

#include <QTableView>

namespace kelvo {

class TStatusListView : public QTableView {
  Q_OBJECT

 public:
  using QTableView::QTableView;

 protected:
  bool event(QEvent* AEvent) override;
};

}  // namespace kelvo
