#include "app/autostart.h"

namespace kelvo {

std::string AutostartStateLine(const std::string& AExecutable) {
  const TAutostartEntry entry = ReadAutostart(AExecutable);
  const std::string location = AutostartLocation();
  switch (entry.State) {
    case TAutostartState::On:
      return "Start at sign-in: on (" + location + ")";
    case TAutostartState::Disabled:
      return "Start at sign-in: off (the entry " + location +
             " is there but switched off by the desktop)";
    case TAutostartState::Other:
      return "Start at sign-in: off for this copy (" + location + " starts " + entry.Command + ")";
    case TAutostartState::Off:
      break;
  }
  return "Start at sign-in: off";
}

}  // namespace kelvo
