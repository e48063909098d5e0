// The Linux watcher's descriptor, for the owner's poll set or socket notifier: readable when
// notifications are waiting. -1 when there is none. Linux files only.
#pragma once

#include "net/network_watcher.h"

namespace kelvo {

int WatcherDescriptor(const TNetworkWatcher& AWatcher);

}  // namespace kelvo
