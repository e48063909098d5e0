// Link and IPv4 address changes from the kernel's routing netlink, read without waiting.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/errno_text_posix.h"
#include "base/file_descriptor.h"
#include "net/network_watcher.h"
#include "net/network_watcher_linux.h"

namespace kelvo {

struct TNetworkWatcher::TImpl {
  TFd Fd;
  std::string Error;
};

// AWake is for the Windows twin: here the owner waits on the socket itself.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
TNetworkWatcher::TNetworkWatcher(std::function<void()>) : fImpl(std::make_unique<TImpl>()) {
  TFd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (!fd.IsOpen()) {
    fImpl->Error = std::string("cannot open a netlink socket: ") + ErrnoText(errno);
    return;
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
  if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fImpl->Error = std::string("cannot subscribe to network changes: ") + ErrnoText(errno);
    return;
  }
  fImpl->Fd = std::move(fd);
}

TNetworkWatcher::~TNetworkWatcher() = default;

const std::string& TNetworkWatcher::Error() const {
  return fImpl->Error;
}

bool TNetworkWatcher::Drain() {
  if (!fImpl->Fd.IsOpen()) {
    return false;
  }
  bool changed = false;
  alignas(nlmsghdr) char buffer[8192];
  for (;;) {
    const ssize_t received = recv(fImpl->Fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
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
  return AWatcher.fImpl->Fd.Get();
}

}  // namespace kelvo
