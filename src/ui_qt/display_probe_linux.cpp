// Reachable means a connection is accepted: an X server on its local socket (named or
// abstract) or TCP port 6000 + n, a Wayland compositor on its socket in XDG_RUNTIME_DIR.
#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/file_descriptor.h"
#include "ui_qt/display_probe.h"

namespace kelvo {

namespace {

std::string Env(const char* AName) {
  const char* value = std::getenv(AName);
  return value != nullptr ? value : "";
}

bool ConnectUnix(const std::string& APath, bool AAbstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = AAbstract ? 1 : 0;
  if (APath.empty() || APath.size() + offset >= sizeof(address.sun_path)) {
    return false;
  }
  std::memcpy(address.sun_path + offset, APath.data(), APath.size());
  // An abstract name is the bytes after the leading zero, without a terminating one.
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                                  APath.size() + (AAbstract ? 0 : 1));
  const TFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.IsOpen()) {
    return false;
  }
  return connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

bool ConnectTcp(const std::string& AHost, int APort) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(AHost.c_str(), std::to_string(APort).c_str(), &hints, &found) != 0) {
    return false;
  }
  bool connected = false;
  for (addrinfo* item = found; item != nullptr && !connected; item = item->ai_next) {
    const TFd fd(socket(item->ai_family, item->ai_socktype | SOCK_CLOEXEC, item->ai_protocol));
    if (fd.IsOpen()) {
      connected = connect(fd.Get(), item->ai_addr, item->ai_addrlen) == 0;
    }
  }
  freeaddrinfo(found);
  return connected;
}

// DISPLAY is [host]:number[.screen]; an empty host or "unix" means the local socket.
bool XServerReachable(const std::string& ADisplay) {
  const std::size_t colon = ADisplay.rfind(':');
  if (ADisplay.empty() || colon == std::string::npos) {
    return false;
  }
  if (ADisplay[0] == '/') {
    return ConnectUnix(ADisplay.substr(0, colon), false);  // a socket path (launchd style)
  }
  const std::string host = ADisplay.substr(0, colon);
  const std::string rest = ADisplay.substr(colon + 1);
  const std::string number = rest.substr(0, rest.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
      number.size() > 5) {
    return false;
  }
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return ConnectUnix(path, false) || ConnectUnix(path, true);
  }
  return ConnectTcp(host, 6000 + std::stoi(number));
}

bool WaylandReachable(const TDisplayEnvironment& AEnvironment) {
  std::string name =
      AEnvironment.WaylandDisplay.empty() ? std::string("wayland-0") : AEnvironment.WaylandDisplay;
  if (name[0] != '/') {
    if (AEnvironment.RuntimeDir.empty()) {
      return false;
    }
    name = AEnvironment.RuntimeDir + "/" + name;
  }
  return ConnectUnix(name, false);
}

}  // namespace

TDisplayEnvironment CurrentDisplayEnvironment() {
  return {Env("QT_QPA_PLATFORM"), Env("DISPLAY"), Env("WAYLAND_DISPLAY"), Env("XDG_RUNTIME_DIR")};
}

bool DisplayReachable(const TDisplayEnvironment& AEnvironment) {
  // QT_QPA_PLATFORM may list several platforms ("wayland;xcb"), each with options after ':'.
  std::string_view platforms = AEnvironment.QtPlatform;
  if (platforms.empty()) {
    platforms = "wayland;xcb";  // what Qt tries on its own, when its plugins are there
  }
  while (!platforms.empty()) {
    const std::size_t end = platforms.find(';');
    std::string_view platform = platforms.substr(0, end);
    platform = platform.substr(0, platform.find(':'));
    platforms = end == std::string_view::npos ? std::string_view() : platforms.substr(end + 1);
    if (platform == "xcb") {
      if (XServerReachable(AEnvironment.Display)) {
        return true;
      }
    } else if (platform.starts_with("wayland")) {
      // Qt tries Wayland only when told to or inside a Wayland session.
      if ((!AEnvironment.QtPlatform.empty() || !AEnvironment.WaylandDisplay.empty()) &&
          WaylandReachable(AEnvironment)) {
        return true;
      }
    } else if (!platform.empty()) {
      return true;  // offscreen, minimal, vnc, eglfs...: no display server to reach
    }
  }
  return false;
}

}  // namespace kelvo
