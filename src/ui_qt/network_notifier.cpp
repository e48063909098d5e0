#include "ui_qt/network_notifier.h"

#include <QSocketNotifier>

#include "net/network_watcher.h"
#include "net/network_watcher_linux.h"

namespace kelvo {

TNetworkNotifier::TNetworkNotifier(QObject* AParent)
    : QObject(AParent), fWatcher(std::make_unique<TNetworkWatcher>()) {
  setObjectName(QStringLiteral("NetworkNotifier"));
  const int descriptor = WatcherDescriptor(*fWatcher);
  if (descriptor < 0) {
    return;  // the relay's re-check on the ageing tick still finds every change
  }
  fNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
  connect(fNotifier, &QSocketNotifier::activated, this, [this] {
    if (fWatcher->Drain()) {
      emit NetworkChanged();
    }
  });
}

TNetworkNotifier::~TNetworkNotifier() {
  delete fNotifier;  // before the descriptor it watches is closed
  fNotifier = nullptr;
}

}  // namespace kelvo
