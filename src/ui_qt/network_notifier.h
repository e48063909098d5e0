// The system's notes that links or addresses changed, delivered on the GUI thread: the
// watcher's descriptor in Qt's event loop. GUI thread only.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace kelvo {

class TNetworkWatcher;

class TNetworkNotifier : public QObject {
  Q_OBJECT

 public:
  explicit TNetworkNotifier(QObject* AParent);
  ~TNetworkNotifier() override;

 signals:
  void NetworkChanged();

 private:
  std::unique_ptr<TNetworkWatcher> fWatcher;
  QSocketNotifier* fNotifier = nullptr;  // child of this object
};

}  // namespace kelvo
