// The UDP endpoint's sockets over BSD sockets. Each listener waits in poll() on its socket and
// on one eventfd shared by all listeners, which Close signals. A wake-up takes everything
// queued with recvmmsg, a batch per call, and hands the datagrams on one at a time in arrival
// order.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/errno_text_posix.h"
#include "base/file_descriptor.h"
#include "net/socket_address.h"
#include "net/udp_endpoint_impl.h"

namespace kelvo {

namespace {

constexpr int kListenerWaitMs = 1000;
constexpr unsigned kDatagramsPerBatch = 64;

// Errors that an ICMP message about an earlier datagram can leave pending on an unconnected
// socket. They say nothing about the datagram at hand.
bool IsStaleIcmpError(int AErrno) {
  switch (AErrno) {
    case ECONNREFUSED:
    case ECONNRESET:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EPROTO:
    case ENOPROTOOPT:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct TUDPEndpoint::TImpl::TPlatform final : TUDPEndpoint::TImpl {
  std::vector<TFd> fSockets;  // one per listener, same index; guarded as fListeners
  TFd fWakeFd;                // created by Open, closed by Close after every listener has ended

  // Room for one recvmmsg call: kDatagramsPerBatch slots of kReceiveBufferSize bytes.
  struct TBatch {
    std::vector<std::uint8_t> Bytes;
    std::vector<sockaddr_in> Peers;
    std::vector<iovec> Parts;
    std::vector<mmsghdr> Messages;
    TBatch();
  };

  void CreateWakeUp() override;
  TAddress OpenSocket(TAddress AAddress, const std::string& AWhere) override;
  void WakeListeners() override;
  void Listen(std::size_t AIndex) override;
  void CloseSockets() override;
  void CloseWakeUp() override;
  TSendResult SendFromFirst(TAddress ATarget, std::span<const std::uint8_t> ABytes) override;

  // Reads and delivers what is queued; returns when the queue is empty or a stop is requested.
  void ReceiveQueued(int ASocket, TBatch& ABatch);
};

std::unique_ptr<TUDPEndpoint::TImpl> TUDPEndpoint::TImpl::MakePlatform() {
  return std::make_unique<TPlatform>();
}

std::string TUDPEndpoint::TImpl::ErrorText(const std::string& AWhat, int AError) {
  return AWhat + ": " + ErrnoText(AError);
}

TUDPEndpoint::TImpl::TPlatform::TBatch::TBatch()
    : Bytes(kDatagramsPerBatch * kReceiveBufferSize),
      Peers(kDatagramsPerBatch),
      Parts(kDatagramsPerBatch),
      Messages(kDatagramsPerBatch) {}

void TUDPEndpoint::TImpl::TPlatform::CreateWakeUp() {
  fWakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fWakeFd.IsOpen()) {
    throw TEndpointError(ErrorText("cannot create the listener wake-up", errno));
  }
}

TUDPEndpoint::TImpl::TAddress TUDPEndpoint::TImpl::TPlatform::OpenSocket(
    TAddress AAddress, const std::string& AWhere) {
  sockaddr_in address = MakeSocketAddress(AAddress.IP, AAddress.Port);
  TFd created(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!created.IsOpen()) {
    throw TEndpointError(ErrorText("cannot create a UDP socket", errno));
  }
  const int socket = created.Get();
  // The endpoint owns the socket before anything else can fail.
  fSockets.push_back(std::move(created));
  // No SO_REUSEADDR: a second relay on the same address and port must fail here.
  if (::bind(socket, AsSockaddr(address), sizeof address) != 0) {
    throw TEndpointError(ErrorText("cannot bind " + AWhere, errno));
  }
  sockaddr_in bound{};
  socklen_t boundSize = sizeof bound;
  if (::getsockname(socket, AsSockaddr(bound), &boundSize) != 0) {
    throw TEndpointError(ErrorText("cannot read the address bound to " + AWhere, errno));
  }
  return {ntohl(bound.sin_addr.s_addr), ntohs(bound.sin_port)};
}

void TUDPEndpoint::TImpl::TPlatform::WakeListeners() {
  if (fWakeFd.IsOpen()) {
    const std::uint64_t one = 1;
    // Every listener polls the same eventfd; it stays readable until it is closed.
    [[maybe_unused]] const ssize_t written = ::write(fWakeFd.Get(), &one, sizeof one);
  }
}

void TUDPEndpoint::TImpl::TPlatform::CloseSockets() {
  fSockets.clear();
}

void TUDPEndpoint::TImpl::TPlatform::CloseWakeUp() {
  fWakeFd.Reset();
}

void TUDPEndpoint::TImpl::TPlatform::Listen(std::size_t AIndex) {
  const int socket = fSockets[AIndex].Get();
  TBatch batch;
  pollfd waits[2] = {{socket, POLLIN, 0}, {fWakeFd.Get(), POLLIN, 0}};
  while (!fStopRequested.load()) {
    waits[0].revents = 0;
    waits[1].revents = 0;
    const int ready = ::poll(waits, 2, kListenerWaitMs);
    if (ready < 0) {
      if (errno != EINTR) {
        // Out of kernel memory or similar: do not spin, try again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    if (ready == 0 || fStopRequested.load() || waits[1].revents != 0) {
      continue;  // the loop condition decides whether to stop
    }
    if ((waits[0].revents & (POLLIN | POLLERR)) != 0) {
      ReceiveQueued(socket, batch);
    }
  }
}

void TUDPEndpoint::TImpl::TPlatform::ReceiveQueued(int ASocket, TBatch& ABatch) {
  while (!fStopRequested.load(std::memory_order_relaxed)) {
    for (unsigned i = 0; i < kDatagramsPerBatch; ++i) {
      ABatch.Parts[i] = {ABatch.Bytes.data() + i * kReceiveBufferSize, kReceiveBufferSize};
      msghdr& header = ABatch.Messages[i].msg_hdr;
      header = {};
      header.msg_name = &ABatch.Peers[i];
      header.msg_namelen = sizeof(sockaddr_in);
      header.msg_iov = &ABatch.Parts[i];
      header.msg_iovlen = 1;
      ABatch.Messages[i].msg_len = 0;
    }
    // MSG_TRUNC makes each length the datagram's real one, so an oversized datagram is seen
    // and dropped whole instead of being delivered cut short.
    const int received = ::recvmmsg(ASocket, ABatch.Messages.data(), kDatagramsPerBatch,
                                    MSG_TRUNC | MSG_DONTWAIT, nullptr);
    if (received < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // Woken by an error report that left no datagram: read and forget it so that poll
        // does not keep reporting it.
        int pending = 0;
        socklen_t pendingSize = sizeof pending;
        ::getsockopt(ASocket, SOL_SOCKET, SO_ERROR, &pending, &pendingSize);
        char discard[512];
        while (::recv(ASocket, discard, sizeof discard, MSG_ERRQUEUE | MSG_DONTWAIT) >= 0) {
        }
        return;
      }
      // Stale ICMP reports and other receive errors are not the listener's concern; poll
      // tells whether anything is left.
      return;
    }
    // Read once per batch: a handler set meanwhile takes over with the next batch.
    const auto event = CurrentEvent();
    for (int i = 0; i < received; ++i) {
      if (fStopRequested.load(std::memory_order_relaxed)) {
        return;  // the rest of the batch is dropped, as a closed socket would drop it
      }
      const auto slot = static_cast<std::size_t>(i);
      const mmsghdr& message = ABatch.Messages[slot];
      const std::size_t length = message.msg_len;
      if (length == 0 || length > kReceiveBufferSize ||
          (message.msg_hdr.msg_flags & MSG_TRUNC) != 0 || !event || !*event) {
        continue;
      }
      const sockaddr_in& peer = ABatch.Peers[slot];
      Deliver(
          *event,
          std::span<const std::uint8_t>(ABatch.Bytes.data() + slot * kReceiveBufferSize, length),
          {ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)});
    }
    if (static_cast<unsigned>(received) < kDatagramsPerBatch) {
      return;  // the queue was emptied; poll reports what arrives next
    }
  }
}

TUDPEndpoint::TImpl::TSendResult TUDPEndpoint::TImpl::TPlatform::SendFromFirst(
    TAddress ATarget, std::span<const std::uint8_t> ABytes) {
  const int socketFd = fSockets.front().Get();
  sockaddr_in target = MakeSocketAddress(ATarget.IP, ATarget.Port);
  auto sendOnce = [&] {
    ssize_t sent;
    do {
      sent = ::sendto(socketFd, ABytes.data(), ABytes.size(), MSG_NOSIGNAL, AsSockaddr(target),
                      sizeof target);
    } while (sent < 0 && errno == EINTR);
    return sent;
  };
  ssize_t sent = sendOnce();
  if (sent < 0 && IsStaleIcmpError(errno)) {
    // The error most likely belongs to an earlier datagram to someone else (a peer that has
    // gone away); reporting it consumed it, so this datagram gets one more chance.
    sent = sendOnce();
  }
  return {sent, sent < 0 ? errno : 0};
}

}  // namespace kelvo
