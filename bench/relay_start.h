// Starting the headless relay for a benchmark: settings with one static controller on
// loopback, and a clear line when the relay does not come up. Main thread of the benchmark.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/relay_process.h"

namespace kelvo::bench {

// Writes AHome's settings: controller ANAD at 127.0.0.1:APort, nothing else.
inline void WriteControllerSettings(const test::TConfigHome& AHome, std::int32_t ANAD,
                                    std::uint16_t APort) {
  AHome.WriteSettings({std::to_string(ANAD) + ",127.0.0.1," + std::to_string(APort)});
}

// Starts the relay with AArguments; false, after a line on stderr, when it does not listen.
inline bool StartListeningRelay(test::TRelayProcess& ARelay, const test::TConfigHome& AHome,
                                const std::vector<std::string>& AArguments = {}) {
  if (ARelay.Start(AHome, AArguments).find("listening on") == std::string::npos) {
    std::fprintf(stderr, "the relay did not start: %s\n", ARelay.Output().c_str());
    return false;
  }
  return true;
}

}  // namespace kelvo::bench
