#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "app/control_client.h"
#include "app/control_requests.h"
#include "app/runtime_folder_posix.h"
#include "base/file_descriptor.h"
#include "base/wait_time.h"

namespace kelvo {

std::optional<std::string> SendControlRequest(const std::string& ASocketName,
                                              const std::string& ALine,
                                              std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (ASocketName.empty() || ASocketName.size() >= sizeof(address.sun_path)) {
    return std::nullopt;
  }
  std::memcpy(address.sun_path, ASocketName.c_str(), ASocketName.size() + 1);
  const TFd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socketFd.Get() < 0 ||
      connect(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return std::nullopt;
  }
  // The request (a static entry, say) goes to a relay of this user only, and only such a
  // relay may answer for it.
  if (std::string why; !PeerIsThisUser(socketFd.Get(), why)) {
    return std::nullopt;
  }

  const std::string request = ALine + "\n";
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(socketFd.Get(), request.data() + sent, request.size() - sent,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return std::string();
    }
    pollfd writable{socketFd.Get(), POLLOUT, 0};
    if (poll(&writable, 1, MillisecondsUntil(deadline)) <= 0) {
      return std::string();
    }
  }

  std::string answer;
  for (;;) {
    pollfd readable{socketFd.Get(), POLLIN, 0};
    const int ready = poll(&readable, 1, MillisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      return std::string();
    }
    char buffer[65536];
    const ssize_t n = recv(socketFd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (n <= 0) {
      return std::string();
    }
    const std::size_t searched = answer.size();
    answer.append(buffer, static_cast<std::size_t>(n));
    if (const std::size_t end = answer.find('\n', searched); end != std::string::npos) {
      answer.resize(end);
      return answer;
    }
    if (answer.size() > kMaxControlAnswer) {
      return std::string();
    }
  }
}

}  // namespace kelvo
