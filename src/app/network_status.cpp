#include "app/network_status.h"

namespace kelvo {

const char* ListenStateName(TListenState AState) {
  switch (AState) {
    case TListenState::Listening:
      return "listening";
    case TListenState::Fallback:
      return "fallback";
    case TListenState::Waiting:
      return "waiting";
    case TListenState::Error:
      return "error";
  }
  return "error";
}

std::string ListeningText(const TNetworkStatus& AStatus) {
  if (!AStatus.IsListening()) {
    return {};
  }
  return (AStatus.Address.empty() ? std::string("0.0.0.0") : AStatus.Address) + ":8442";
}

std::string DescribeNetworkStatus(const TNetworkStatus& AStatus) {
  switch (AStatus.State) {
    case TListenState::Listening:
      return "listening on " + ListeningText(AStatus);
    case TListenState::Fallback:
      return "adapter " + AStatus.AdapterID + " is not present; listening on " +
             ListeningText(AStatus) + " until it is back";
    case TListenState::Waiting:
      return "waiting for " + AStatus.AdapterID + " (no IPv4 address yet); listening on " +
             ListeningText(AStatus) + " meanwhile";
    case TListenState::Error:
      break;
  }
  return "Error opening port 8442!" + (AStatus.Error.empty() ? "" : " (" + AStatus.Error + ")");
}

}  // namespace kelvo
