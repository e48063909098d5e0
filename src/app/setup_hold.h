// Who has Setup open on a relay: its own window, or an attached window that asked over the
// local channel. While Setup is open a change handed over by anybody else is answered "busy":
// Setup's OK replaces the whole static list, and a change taken meanwhile would be lost.
//
// An attached window holds for kRemoteSetupHold at a time and renews while its Setup is open,
// so a window that went away without a word frees the relay soon. The relay's own window
// holds for as long as its Setup is open and takes precedence: an attached window's hold ends
// then, and its OK is refused rather than replacing what the window confirms.
//
// Owner's thread only (GUI thread, or the headless runner's main thread).
#pragma once

#include <chrono>
#include <string>

namespace kelvo {

inline constexpr std::chrono::seconds kRemoteSetupHold{5};

class TSetupHold {
 public:
  using TTime = std::chrono::steady_clock::time_point;

  // The relay's own window opens (true) or closes (false) its Setup.
  void HoldLocal(bool AOpen);
  // An attached window's Setup, named by AToken: taken or renewed until ANow +
  // kRemoteSetupHold. False while the window or another attached window holds it.
  bool Take(const std::string& AToken, TTime ANow);
  // AToken lets go (Cancel); nothing happens when somebody else holds it.
  void Release(const std::string& AToken);
  // Whether AToken holds it now: its OK may be applied.
  bool HeldBy(const std::string& AToken, TTime ANow) const;
  // Whether anybody holds it now: a change from the command line must wait.
  bool Busy(TTime ANow) const;
  // The answer's text for a refused change, starting with "busy:".
  std::string BusyText(TTime ANow) const;

 private:
  bool fLocal = false;
  std::string fToken;  // the attached window's, "" when none holds
  TTime fUntil{};
};

}  // namespace kelvo
