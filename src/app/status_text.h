// `kelvorelay --status` for people, in the manner of `wg show`: a short header, then both
// lists as aligned columns, numbered as the window numbers them.
//
//   relay: KelvoRelay 1.0.2, headless, pid 4242
//     state: listening on 192.168.1.10:8442
//     adapter: eth0
//     frames: 12 requests, 11 replies
//     rate: 3 msg/sec
//     debug log: off (/home/anna/.local/state/Marlowin/kelvorelay.log)
//
//   applications (LAN): 1
//     No.  NAD  IP address:port     Timeout
//     1.   5/6  192.168.1.20:50123  57
//
//   controllers (WAN): 1
//     No.  NAD   IP address:port   Timeout
//     1.   1001  ctl.example:8442  static
//
// Portable; any thread.
#pragma once

#include <string>

#include "app/status_report.h"

namespace kelvo {

std::string StatusText(const TStatusReport& AReport);

}  // namespace kelvo
