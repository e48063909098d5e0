// What the relay's endpoint is doing about the network: listening on the chosen adapter, on a
// fallback while the chosen one is absent or has no address, or not at all (the port cannot be
// opened). Shown by the window, the tray, the headless relay's output and the status answer.
// Plain values; any thread.
#pragma once

#include <string>

namespace kelvo {

enum class TListenState { Listening, Fallback, Waiting, Error };

struct TNetworkStatus {
  TListenState State = TListenState::Error;
  std::string AdapterID;  // the chosen adapter (a setting), "" when none was ever chosen
  std::string Address;    // the bound address ("0.0.0.0": every address), "" when not listening
  std::string Error;      // why the port cannot be opened (State == Error), else ""

  bool IsListening() const { return State != TListenState::Error; }
  bool operator==(const TNetworkStatus&) const = default;
};

// "listening", "fallback", "waiting", "error".
const char* ListenStateName(TListenState AState);
// "ADDRESS:8442", or "" when not listening.
std::string ListeningText(const TNetworkStatus& AStatus);
// One line for people, without the program's name:
//   "listening on 192.168.1.10:8442"
//   "adapter kr0 is not present; listening on 0.0.0.0:8442 until it is back"
//   "waiting for kr0 (no IPv4 address yet); listening on 0.0.0.0:8442 meanwhile"
//   "Error opening port 8442! (cannot bind ...)"
std::string DescribeNetworkStatus(const TNetworkStatus& AStatus);

}  // namespace kelvo
