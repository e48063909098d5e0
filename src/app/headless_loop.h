// The headless relay's main loop: the 100 ms tick (ageing, following the network), the
// system's notes that the network changed, its stop and reload requests (SIGINT/SIGTERM,
// SIGHUP), and the request lines of the local socket that a second start, --quit and the
// settings options talk to. Main thread only.
#pragma once

#include <functional>
#include <string>

namespace kelvo {

struct THeadlessHandlers {
  std::function<void()> Tick;  // every 100 ms
  // The system says that links or addresses changed (the loop watches for that itself).
  std::function<void()> NetworkChanged;
  std::function<void()> Reload;  // re-read the settings
  // One request line (without its end) → the answer line (empty: none); sets AStop when the
  // loop must end after answering.
  std::function<std::string(const std::string& ALine, bool& AStop)> Request;
  std::function<void(const std::string&)> Warn;  // the local socket cannot be set up
};

// Listens on ASocketName and runs until a stop request. Stop requests that arrived before the
// call (held back since the program's first statement) end it at once.
void RunHeadlessLoop(const std::string& ASocketName, const THeadlessHandlers& AHandlers);

}  // namespace kelvo
