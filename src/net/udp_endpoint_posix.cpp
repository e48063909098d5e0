// The UDP endpoint over BSD sockets. Each listener waits in poll() on its socket and on one
// eventfd shared by all listeners; Close signals the eventfd, joins the listeners and only then
// closes the sockets, so no thread ever polls or reads a descriptor that has been closed.
// A wake-up takes everything queued with recvmmsg, a batch per call, and hands the datagrams
// on one at a time in arrival order.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "net/ethernet_utils.h"
#include "net/udp_endpoint.h"
#include "tables/nat_info.h"

namespace kelvo {

namespace {

constexpr int kListenerWaitMs = 1000;
constexpr unsigned kDatagramsPerBatch = 64;
constexpr std::size_t kMaxUdpPayload = 65507;

std::string ErrorText(const std::string& AWhat, int AErrno) {
  return AWhat + ": " + std::strerror(AErrno);
}

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

sockaddr_in MakeAddress(const std::string& AAddress, std::uint16_t APort) {
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(APort);
  if (AAddress.empty()) {
    Address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (const auto Parsed = ParseDottedIPv4(AAddress)) {
    // inet_pton refuses leading zeros, which a typed address may well have.
    Address.sin_addr.s_addr = htonl(*Parsed);
  } else {
    throw TEndpointError("not an IPv4 address: \"" + AAddress + "\"");
  }
  return Address;
}

sockaddr* AsSockaddr(sockaddr_in& AAddress) {
  return reinterpret_cast<sockaddr*>(&AAddress);
}

std::string DottedText(const in_addr& AAddress) {
  return IntToIPAddress(ntohl(AAddress.s_addr));
}

void CloseDescriptor(int& AFd) {
  if (AFd >= 0) {
    ::close(AFd);
    AFd = -1;
  }
}

}  // namespace

struct TUDPEndpoint::TImpl {
  struct TBindingConfig {
    std::string Address;
    std::uint16_t Port;
  };

  // One bound socket and its listener while the endpoint is open.
  struct TListener {
    int Socket = -1;
    std::string BoundAddress;
    std::uint16_t BoundPort = 0;
    std::thread Thread;
  };

  std::vector<TBindingConfig> fBindings;  // owner's thread only

  // Written by Open and Close under the exclusive lock; SendDatagram reads under a shared lock.
  mutable std::shared_mutex fSocketsLock;
  std::vector<std::unique_ptr<TListener>> fListeners;
  bool fOpen = false;

  int fWakeFd = -1;  // created by Open, closed by Close after every listener has ended
  std::atomic<bool> fStopRequested{false};

  std::mutex fEventLock;  // guards fOnDatagram (the pointer, not the call)
  std::shared_ptr<const TDatagramEvent> fOnDatagram;

  std::shared_ptr<const TDatagramEvent> CurrentEvent() {
    std::lock_guard Lock(fEventLock);
    return fOnDatagram;
  }

  bool IsListenerThread() const {
    const auto Self = std::this_thread::get_id();
    for (const auto& L : fListeners) {
      if (L->Thread.get_id() == Self) {
        return true;
      }
    }
    return false;
  }

  void OpenSockets();
  void StartListeners();
  void StopAndRelease();
  // Room for one recvmmsg call: kDatagramsPerBatch slots of kReceiveBufferSize bytes.
  struct TBatch {
    std::vector<std::uint8_t> Bytes;
    std::vector<sockaddr_in> Peers;
    std::vector<iovec> Parts;
    std::vector<mmsghdr> Messages;
    TBatch();
  };

  void Listen(TListener& AListener);
  // Reads and delivers what is queued; returns when the queue is empty or a stop is requested.
  void ReceiveQueued(int ASocket, TBatch& ABatch);
  void Deliver(const TDatagramEvent& AEvent, std::span<const std::uint8_t> ABytes,
               const sockaddr_in& APeer);
};

TUDPEndpoint::TImpl::TBatch::TBatch()
    : Bytes(kDatagramsPerBatch * kReceiveBufferSize),
      Peers(kDatagramsPerBatch),
      Parts(kDatagramsPerBatch),
      Messages(kDatagramsPerBatch) {}

void TUDPEndpoint::TImpl::OpenSockets() {
  for (const TBindingConfig& Binding : fBindings) {
    auto Listener = std::make_unique<TListener>();
    sockaddr_in Address = MakeAddress(Binding.Address, Binding.Port);
    Listener->Socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (Listener->Socket < 0) {
      throw TEndpointError(ErrorText("cannot create a UDP socket", errno));
    }
    // Keep the descriptor owned before anything else can fail.
    fListeners.push_back(std::move(Listener));
    TListener& L = *fListeners.back();
    const std::string Where = (Binding.Address.empty() ? "0.0.0.0" : Binding.Address) + ":" +
                              std::to_string(Binding.Port);
    // No SO_REUSEADDR: a second relay on the same address and port must fail here.
    if (::bind(L.Socket, AsSockaddr(Address), sizeof Address) != 0) {
      throw TEndpointError(ErrorText("cannot bind " + Where, errno));
    }
    sockaddr_in Bound{};
    socklen_t BoundSize = sizeof Bound;
    if (::getsockname(L.Socket, AsSockaddr(Bound), &BoundSize) != 0) {
      throw TEndpointError(ErrorText("cannot read the address bound to " + Where, errno));
    }
    L.BoundAddress = DottedText(Bound.sin_addr);
    L.BoundPort = ntohs(Bound.sin_port);
  }
}

void TUDPEndpoint::TImpl::StartListeners() {
  for (auto& L : fListeners) {
    TListener* Listener = L.get();
    try {
      L->Thread = std::thread([this, Listener] { Listen(*Listener); });
    } catch (const std::system_error& E) {
      throw TEndpointError(std::string("cannot start a listener thread: ") + E.what());
    }
  }
}

// Stops and joins every listener that runs, then closes the sockets and the wake-up descriptor.
// Also cleans up after a failed Open.
void TUDPEndpoint::TImpl::StopAndRelease() {
  fStopRequested.store(true);
  if (fWakeFd >= 0) {
    const std::uint64_t One = 1;
    // Every listener polls the same eventfd; it stays readable until it is closed.
    [[maybe_unused]] const ssize_t Written = ::write(fWakeFd, &One, sizeof One);
  }
  for (auto& L : fListeners) {
    if (L->Thread.joinable()) {
      L->Thread.join();
    }
  }
  std::unique_lock Lock(fSocketsLock);
  for (auto& L : fListeners) {
    CloseDescriptor(L->Socket);
  }
  fListeners.clear();
  fOpen = false;
  Lock.unlock();
  CloseDescriptor(fWakeFd);
}

void TUDPEndpoint::TImpl::Listen(TListener& AListener) {
  TBatch Batch;
  pollfd Waits[2] = {{AListener.Socket, POLLIN, 0}, {fWakeFd, POLLIN, 0}};
  while (!fStopRequested.load()) {
    Waits[0].revents = 0;
    Waits[1].revents = 0;
    const int Ready = ::poll(Waits, 2, kListenerWaitMs);
    if (Ready < 0) {
      if (errno != EINTR) {
        // Out of kernel memory or similar: do not spin, try again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    if (Ready == 0 || fStopRequested.load() || Waits[1].revents != 0) {
      continue;  // the loop condition decides whether to stop
    }
    if ((Waits[0].revents & (POLLIN | POLLERR)) != 0) {
      ReceiveQueued(AListener.Socket, Batch);
    }
  }
}

void TUDPEndpoint::TImpl::ReceiveQueued(int ASocket, TBatch& ABatch) {
  while (!fStopRequested.load(std::memory_order_relaxed)) {
    for (unsigned I = 0; I < kDatagramsPerBatch; ++I) {
      ABatch.Parts[I] = {ABatch.Bytes.data() + I * kReceiveBufferSize, kReceiveBufferSize};
      msghdr& Header = ABatch.Messages[I].msg_hdr;
      Header = {};
      Header.msg_name = &ABatch.Peers[I];
      Header.msg_namelen = sizeof(sockaddr_in);
      Header.msg_iov = &ABatch.Parts[I];
      Header.msg_iovlen = 1;
      ABatch.Messages[I].msg_len = 0;
    }
    // MSG_TRUNC makes each length the datagram's real one, so an oversized datagram is seen
    // and dropped whole instead of being delivered cut short.
    const int Received = ::recvmmsg(ASocket, ABatch.Messages.data(), kDatagramsPerBatch,
                                    MSG_TRUNC | MSG_DONTWAIT, nullptr);
    if (Received < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // Woken by an error report that left no datagram: read and forget it so that poll
        // does not keep reporting it.
        int Pending = 0;
        socklen_t PendingSize = sizeof Pending;
        ::getsockopt(ASocket, SOL_SOCKET, SO_ERROR, &Pending, &PendingSize);
        char Discard[512];
        while (::recv(ASocket, Discard, sizeof Discard, MSG_ERRQUEUE | MSG_DONTWAIT) >= 0) {
        }
        return;
      }
      // Stale ICMP reports and other receive errors are not the listener's concern; poll
      // tells whether anything is left.
      return;
    }
    // Read once per batch: a handler set meanwhile takes over with the next batch.
    const auto Event = CurrentEvent();
    for (int I = 0; I < Received; ++I) {
      if (fStopRequested.load(std::memory_order_relaxed)) {
        return;  // the rest of the batch is dropped, as a closed socket would drop it
      }
      const mmsghdr& Message = ABatch.Messages[static_cast<std::size_t>(I)];
      const std::size_t Length = Message.msg_len;
      if (Length == 0 || Length > kReceiveBufferSize ||
          (Message.msg_hdr.msg_flags & MSG_TRUNC) != 0 || !Event || !*Event) {
        continue;
      }
      Deliver(*Event,
              std::span<const std::uint8_t>(
                  ABatch.Bytes.data() + static_cast<std::size_t>(I) * kReceiveBufferSize, Length),
              ABatch.Peers[static_cast<std::size_t>(I)]);
    }
    if (static_cast<unsigned>(Received) < kDatagramsPerBatch) {
      return;  // the queue was emptied; poll reports what arrives next
    }
  }
}

void TUDPEndpoint::TImpl::Deliver(const TDatagramEvent& AEvent,
                                  std::span<const std::uint8_t> ABytes, const sockaddr_in& APeer) {
  try {
    AEvent(ABytes, DottedText(APeer.sin_addr), ntohs(APeer.sin_port));
  } catch (...) {
    // The handler's failure ends this datagram only; the listener must keep running.
  }
}

// ---- TUDPEndpoint ----

TUDPEndpoint::TUDPEndpoint() : fImpl(std::make_unique<TImpl>()) {}

TUDPEndpoint::~TUDPEndpoint() {
  try {
    Close();
  } catch (...) {
  }
}

void TUDPEndpoint::ClearBindings() {
  fImpl->fBindings.clear();
}

void TUDPEndpoint::AddBinding(const std::string& AAddress, std::uint16_t APort) {
  fImpl->fBindings.push_back({AAddress, APort});
}

void TUDPEndpoint::SetOnDatagram(TDatagramEvent AEvent) {
  auto Event = std::make_shared<const TDatagramEvent>(std::move(AEvent));
  std::lock_guard Lock(fImpl->fEventLock);
  fImpl->fOnDatagram = std::move(Event);
}

void TUDPEndpoint::Open() {
  if (fImpl->fOpen) {
    return;
  }
  if (fImpl->fBindings.empty()) {
    throw TEndpointError("no binding to open");
  }
  fImpl->fStopRequested.store(false);
  try {
    fImpl->fWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fImpl->fWakeFd < 0) {
      throw TEndpointError(ErrorText("cannot create the listener wake-up", errno));
    }
    {
      std::unique_lock Lock(fImpl->fSocketsLock);
      fImpl->OpenSockets();
    }
    fImpl->StartListeners();
  } catch (...) {
    fImpl->StopAndRelease();
    throw;
  }
  std::unique_lock Lock(fImpl->fSocketsLock);
  fImpl->fOpen = true;
}

void TUDPEndpoint::Close() {
  if (!fImpl->fOpen) {
    return;
  }
  if (fImpl->IsListenerThread()) {
    // Joining itself would never return.
    throw TEndpointError("the endpoint cannot be closed from its own listener");
  }
  fImpl->StopAndRelease();
}

bool TUDPEndpoint::IsOpen() const {
  return fImpl->fOpen;
}

std::string TUDPEndpoint::BoundAddress() const {
  std::shared_lock Lock(fImpl->fSocketsLock);
  return fImpl->fOpen ? fImpl->fListeners.front()->BoundAddress : std::string();
}

std::uint16_t TUDPEndpoint::BoundPort() const {
  std::shared_lock Lock(fImpl->fSocketsLock);
  return fImpl->fOpen ? fImpl->fListeners.front()->BoundPort : 0;
}

void TUDPEndpoint::SendDatagram(const std::string& AHost, std::uint16_t APort,
                                std::span<const std::uint8_t> ABytes) {
  if (ABytes.size() > kMaxUdpPayload) {
    throw TEndpointError("datagram too large: " + std::to_string(ABytes.size()) + " bytes");
  }
  // Resolve before taking the lock: a slow lookup must not hold up Close.
  const std::string IP = ResolveHostToIP(AHost);
  sockaddr_in Target = MakeAddress(IP, APort);

  std::shared_lock Lock(fImpl->fSocketsLock);
  if (!fImpl->fOpen) {
    throw TEndpointError("the endpoint is not open");
  }
  const int Socket = fImpl->fListeners.front()->Socket;
  auto SendOnce = [&] {
    ssize_t Sent;
    do {
      Sent = ::sendto(Socket, ABytes.data(), ABytes.size(), MSG_NOSIGNAL, AsSockaddr(Target),
                      sizeof Target);
    } while (Sent < 0 && errno == EINTR);
    return Sent;
  };
  ssize_t Sent = SendOnce();
  if (Sent < 0 && IsStaleIcmpError(errno)) {
    // The error most likely belongs to an earlier datagram to someone else (a peer that has
    // gone away); reporting it consumed it, so this datagram gets one more chance.
    Sent = SendOnce();
  }
  if (Sent < 0) {
    throw TEndpointError(ErrorText("cannot send to " + IP + ":" + std::to_string(APort), errno));
  }
  if (static_cast<std::size_t>(Sent) != ABytes.size()) {
    throw TEndpointError("short send to " + IP + ":" + std::to_string(APort) + ": " +
                         std::to_string(Sent) + " of " + std::to_string(ABytes.size()) + " bytes");
  }
}

}  // namespace kelvo
