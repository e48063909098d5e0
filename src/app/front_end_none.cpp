// A build without a window: only --headless and the commands run.
#include <cstdio>

#include "app/front_end.h"

namespace kelvo {

bool WindowCanStart() {
  std::fputs("kelvorelay: built without a window; use --headless\n", stderr);
  return false;
}

int RunWindowProgram(int /*argc*/, char** /*argv*/, const TCommandLine& /*AOptions*/,
                     TMyLog& /*ALog*/, TInstanceGuard& /*AGuard*/) {
  return kExitBadCommand;
}

int RunAttachedWindowProgram(int /*argc*/, char** /*argv*/, const TCommandLine& /*AOptions*/,
                             TMyLog& /*ALog*/, TInstanceGuard& /*AViewGuard*/,
                             const std::string& /*ARelaySocket*/) {
  return kExitBadCommand;
}

void BringRunningWindowForward(const std::string& /*ACaption*/) {}

}  // namespace kelvo
