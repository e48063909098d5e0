// The notification icon's tooltip: the program's name, then what the relay is doing, for a
// glance without opening the window. Both front-ends show it as it is. Any thread.
#pragma once

#include <string>

#include "app/network_status.h"

namespace kelvo {

// "KelvoRelay\nListening on 192.168.1.10:8442 · 3 applications · 1 controller", or the
// waiting, fallback or error line in place of the second.
std::string TrayToolTip(const TNetworkStatus& AStatus, int AApplications, int AControllers);

}  // namespace kelvo
