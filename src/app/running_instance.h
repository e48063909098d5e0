// What a start learns about the instance of this executable that already runs, and the names
// of the window that attaches to a relay running without one (a service). Main thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "app/status_report.h"

namespace kelvo {

class TInstanceGuard;

// "KelvoRelay v1.0.2 (service)": the caption of a window attached to a running relay.
std::string AttachedWindowCaption();
// What the single-instance guard of attached windows is named from: one attached window runs
// per executable path, beside the relay's own admission.
std::string AttachedViewGuardKey(const std::string& AExecutablePath);

// The running instance's status answer (AGuard names it); a relay that is still starting gets
// up to APatience to open its socket or pipe. nullopt when none runs or it does not answer.
std::optional<TStatusReport> AskRunningStatus(const TInstanceGuard& AGuard,
                                              std::chrono::milliseconds APatience);
// "pid 4242, window" for a refused start's message; "it does not answer" without a report.
std::string RunningInstanceText(const std::optional<TStatusReport>& AReport);

}  // namespace kelvo
