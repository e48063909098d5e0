// The answer to the local channel's "status" request: one JSON object (one line) with what the
// window shows, for `kelvorelay --status`, --show-settings and a window attached to a headless
// relay. The two lists come from one snapshot of the tables, in the window's order and
// numbering. "lamps" counts how often each lamp was lit since the start, so that a window
// attached to the relay can light its lamps from the activity between two looks.
//
//   {"version":"1.0.2","mode":"headless","pid":4242,
//    "adapter":"eth0","state":"listening","listening":"192.168.1.10:8442","error":"",
//    "requests":12,"replies":11,"rate":3,"debug_log":false,"log_path":"...",
//    "lamps":{"lan_rx":12,"wan_rx":11,"lan_tx":11,"wan_tx":12},
//    "applications":[{"no":1,"nad":5,"alias":6,"nad_text":"5/6","ip":"192.168.1.20",
//                     "port":50123,"timeout":57}],
//    "controllers":[{"no":1,"nad":1001,"alias":1001,"nad_text":"1001","ip":"10.0.0.7",
//                    "port":8442,"timeout":null,"static":true,"host":"ctl.example"}]}
//
// Owner's thread (the snapshot itself never holds the tables' lock for long).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/network_status.h"

namespace kelvo {

class TRelayHost;

inline constexpr const char* kStatusRequestLine = "status";

// The NAD alone, or "NAD/alias" when they differ; both as unsigned 32-bit numbers.
std::string NADText(std::int32_t ANAD, std::int32_t ANADAlias);

std::string StatusJson(TRelayHost& AHost, const std::string& AMode);

// A status answer read back (by --status, --show-settings and the attached window).
struct TStatusRow {
  int No = 0;
  std::uint32_t NAD = 0;
  std::uint32_t Alias = 0;
  std::string NADText;
  std::string IP;
  std::uint16_t Port = 0;
  std::optional<std::int32_t> Timeout;  // none for a static entry
  bool Static = false;
  std::string Host;
};

struct TStatusReport {
  std::string Version;
  std::string Mode;
  long Pid = 0;
  TNetworkStatus Network;
  std::string BoundAdapterID;  // the adapter in use
  std::int64_t Requests = 0;
  std::int64_t Replies = 0;
  std::int32_t Rate = 0;
  bool DebugLog = false;
  std::string LogPath;
  // Lightings of each lamp since the start, in TLamp order (LANRx, WANRx, LANTx, WANTx).
  std::array<std::uint64_t, 4> LampCounts{};
  std::vector<TStatusRow> Applications;
  std::vector<TStatusRow> Controllers;
};

// False with AError set when AJson is not a status answer.
bool ParseStatusJson(const std::string& AJson, TStatusReport& AReport, std::string& AError);

}  // namespace kelvo
