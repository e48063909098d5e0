#include "app/running_instance.h"

#include <thread>

#include "app/control_client.h"
#include "app/instance_guard.h"
#include "app/version.h"

namespace kelvo {

namespace {

using namespace std::chrono_literals;

// A large table makes a long answer; a relay that takes longer is taken as not answering.
constexpr auto kAnswerTimeout = 10s;

}  // namespace

std::string AttachedWindowCaption() {
  return MainWindowCaption() + " (service)";
}

std::string AttachedViewGuardKey(const std::string& AExecutablePath) {
  return AExecutablePath + " (attached window)";
}

std::optional<TStatusReport> AskRunningStatus(const TInstanceGuard& AGuard,
                                              std::chrono::milliseconds APatience) {
  const auto deadline = std::chrono::steady_clock::now() + APatience;
  for (;;) {
    if (const auto answer =
            SendControlRequest(AGuard.ShowRequestName(), kStatusRequestLine, kAnswerTimeout)) {
      TStatusReport report;
      std::string error;
      if (!ParseStatusJson(*answer, report, error)) {
        return std::nullopt;
      }
      return report;
    }
    if (std::chrono::steady_clock::now() >= deadline || !AGuard.AnyRunning()) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(100ms);
  }
}

std::string RunningInstanceText(const std::optional<TStatusReport>& AReport) {
  if (!AReport) {
    return "it does not answer";
  }
  return "pid " + std::to_string(AReport->Pid) + ", " + AReport->Mode;
}

}  // namespace kelvo
