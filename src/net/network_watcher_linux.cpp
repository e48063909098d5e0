// Link and IPv4 address changes from the kernel's routing netlink, read without waiting.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "net/network_watcher.h"
#include "net/network_watcher_linux.h"

namespace kelvo {

struct TNetworkWatcher::TImpl {
  int Fd = -1;
  std::string Error;
};

// AWake is for the Windows twin: here the owner waits on the socket itself.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
TNetworkWatcher::TNetworkWatcher(std::function<void()>) : fImpl(std::make_unique<TImpl>()) {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) {
    fImpl->Error = std::string("cannot open a netlink socket: ") + std::strerror(errno);
    return;
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fImpl->Error = std::string("cannot subscribe to network changes: ") + std::strerror(errno);
    close(fd);
    return;
  }
  fImpl->Fd = fd;
}

TNetworkWatcher::~TNetworkWatcher() {
  if (fImpl->Fd >= 0) {
    close(fImpl->Fd);
  }
}

const std::string& TNetworkWatcher::Error() const {
  return fImpl->Error;
}

bool TNetworkWatcher::Drain() {
  if (fImpl->Fd < 0) {
    return false;
  }
  bool changed = false;
  alignas(nlmsghdr) char buffer[8192];
  for (;;) {
    const ssize_t received = recv(fImpl->Fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (received < 0) {
      if (errno == EINTR) {
        continue;
      }
      // ENOBUFS: the kernel dropped notifications because we were slow; whatever they said,
      // something changed.
      return changed || errno == ENOBUFS;
    }
    if (received == 0) {
      return changed;
    }
    auto length = static_cast<unsigned int>(received);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length)) {
      switch (message->nlmsg_type) {
        case RTM_NEWLINK:
        case RTM_DELLINK:
        case RTM_NEWADDR:
        case RTM_DELADDR:
          changed = true;
          break;
        default:
          break;
      }
    }
  }
}

int WatcherDescriptor(const TNetworkWatcher& AWatcher) {
  return AWatcher.fImpl->Fd;
}

}  // namespace kelvo
