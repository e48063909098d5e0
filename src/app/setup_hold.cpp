#include "app/setup_hold.h"

namespace kelvo {

void TSetupHold::HoldLocal(bool AOpen) {
  fLocal = AOpen;
  if (AOpen) {
    fToken.clear();
  }
}

bool TSetupHold::Take(const std::string& AToken, TTime ANow) {
  if (AToken.empty() || fLocal || (!fToken.empty() && fToken != AToken && ANow < fUntil)) {
    return false;
  }
  fToken = AToken;
  fUntil = ANow + kRemoteSetupHold;
  return true;
}

void TSetupHold::Release(const std::string& AToken) {
  if (!AToken.empty() && fToken == AToken) {
    fToken.clear();
  }
}

bool TSetupHold::HeldBy(const std::string& AToken, TTime ANow) const {
  return !fLocal && !AToken.empty() && fToken == AToken && ANow < fUntil;
}

bool TSetupHold::Busy(TTime ANow) const {
  return fLocal || (!fToken.empty() && ANow < fUntil);
}

std::string TSetupHold::BusyText(TTime ANow) const {
  const char* where = fLocal ? "in the relay's window" : "in an attached window";
  if (!Busy(ANow)) {
    // A hold that ran out (or was taken over by the window) no longer covers an OK.
    return "busy: Setup was opened elsewhere or waited too long; nothing was changed, open Setup "
           "again";
  }
  return std::string("busy: Setup is open ") + where +
         "; nothing was changed, try again when it is closed";
}

}  // namespace kelvo
