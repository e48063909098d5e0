// The sending side of the local socket of a running relay (see control_requests.h).
// Main thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace kelvo {

// Sends ALine to the instance listening on ASocketName and returns its one-line answer
// without the line end. nullopt when nobody of this user accepts the connection (the listener
// runs as another user, or the name is empty): nothing is sent then. An empty text when the
// connection ended, or ATimeout passed, before a whole answer came.
std::optional<std::string> SendControlRequest(const std::string& ASocketName,
                                              const std::string& ALine,
                                              std::chrono::milliseconds ATimeout);

}  // namespace kelvo
