// Setup's whole result handed to a running relay in one request, by a window attached to it:
//
//   setup {"token":"...","adapter":"eth0","debug_log":false,"static":["1001,10.0.0.7,8442"]}
//
// The static list travels as its stored texts (config/static_list_codec.h). The relay applies
// and saves it as Setup's OK does, but only while the sender holds the relay's Setup
// (app/setup_hold.h), so that no change made meanwhile is lost. Portable; owner's thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/config_change.h"

namespace kelvo {

class TRelayHost;

// Longest "setup" line: every entry of a full static table, with room for long host names.
inline constexpr std::size_t kMaxSetupLine = 16u << 20;

struct TSetupRequest {
  std::string Token;  // the sender's hold (TSetupHold)
  std::string AdapterID;
  bool DebugLog = false;
  std::vector<std::string> StaticList;
};

// The part after "setup " (one line of JSON).
std::string EncodeSetupRequest(const TSetupRequest& ARequest);
std::optional<TSetupRequest> DecodeSetupRequest(std::string_view AText);

// Applies ARequest to the relay as Setup's OK does (static table, debug switch, adapter,
// endpoint restart) and saves the settings at once. Refused (kExitFailure, nothing changed)
// while its settings file cannot be read; answered as ApplyConfigChangeToRelay answers when
// the result cannot be saved or cannot listen. The caller checks the hold.
TOutcome ApplySetupToRelay(TRelayHost& AHost, const TSetupRequest& ARequest);

}  // namespace kelvo
