// The UDP endpoint's sockets over Winsock 2. Each listener waits in WaitForMultipleObjects on
// its socket's event (WSAEventSelect, FD_READ) and on one manual-reset stop event shared by
// all listeners, which Close sets.
#include <mswsock.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

#include "base/handle_win.h"
#include "base/windows_text.h"
#include "net/socket_address.h"
#include "net/udp_endpoint_impl.h"
#include "net/winsock.h"

namespace kelvo {

namespace {

constexpr DWORD kListenerWaitMs = 1000;
constexpr int kDatagramsPerWakeUp = 64;
constexpr int kSendWaitMs = 1000;
constexpr int kReceiveBufferBytes = 1 << 20;

}  // namespace

struct TUDPEndpoint::TImpl::TPlatform final : TUDPEndpoint::TImpl {
  // One bound socket and its readiness event, per listener at the same index.
  // The socket goes first, then its event (members end in reverse order).
  struct TSocket {
    THandle Readable;  // WSAEventSelect(FD_READ); a WSA event is a kernel event
    TSocketHandle Socket;
  };

  std::vector<TSocket> fSockets;  // guarded as fListeners
  THandle fStopEvent;             // created by Open, closed by Close after every listener ended

  void CreateWakeUp() override;
  TAddress OpenSocket(TAddress AAddress, const std::string& AWhere) override;
  void WakeListeners() override;
  void Listen(std::size_t AIndex) override;
  void CloseSockets() override;
  void CloseWakeUp() override;
  TSendResult SendFromFirst(TAddress ATarget, std::span<const std::uint8_t> ABytes) override;

  // Reads and delivers one datagram; false when none was waiting.
  bool ReceiveOne(SOCKET ASocket, std::vector<std::uint8_t>& ABuffer);
};

std::unique_ptr<TUDPEndpoint::TImpl> TUDPEndpoint::TImpl::MakePlatform() {
  return std::make_unique<TPlatform>();
}

std::string TUDPEndpoint::TImpl::ErrorText(const std::string& AWhat, int AError) {
  return AWhat + ": " + WindowsErrorText(static_cast<unsigned long>(AError));
}

void TUDPEndpoint::TImpl::TPlatform::CreateWakeUp() {
  try {
    EnsureWinsock();
  } catch (const std::exception& e) {
    throw TEndpointError(e.what());
  }
  fStopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!fStopEvent) {
    throw TEndpointError(
        ErrorText("cannot create the listener stop event", static_cast<int>(GetLastError())));
  }
}

TUDPEndpoint::TImpl::TAddress TUDPEndpoint::TImpl::TPlatform::OpenSocket(
    TAddress AAddress, const std::string& AWhere) {
  sockaddr_in address = MakeSocketAddress(AAddress.IP, AAddress.Port);
  TSocketHandle created(::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
  if (!created) {
    throw TEndpointError(ErrorText("cannot create a UDP socket", WSAGetLastError()));
  }
  const SOCKET socket = created.Get();
  // The endpoint owns the socket before anything else can fail.
  fSockets.push_back({THandle(), std::move(created)});
  // A second relay on the same address and port must fail to bind, also against programs
  // that ask for SO_REUSEADDR.
  BOOL exclusive = TRUE;
  ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  if (::bind(socket, AsSockaddr(address), sizeof address) != 0) {
    throw TEndpointError(ErrorText("cannot bind " + AWhere, WSAGetLastError()));
  }
  // Windows' default receive buffer (64 KB) holds only eight datagrams of the largest size
  // the relay takes; a burst from several applications while one frame is routed would be
  // dropped. Best effort: a smaller buffer still works.
  int receiveBuffer = kReceiveBufferBytes;
  ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
               sizeof receiveBuffer);
  // An ICMP port-unreachable for an earlier send would otherwise surface as WSAECONNRESET
  // on the next receive.
  BOOL reportReset = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(socket, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned,
             nullptr, nullptr);
  sockaddr_in bound{};
  int boundSize = sizeof bound;
  if (::getsockname(socket, AsSockaddr(bound), &boundSize) != 0) {
    throw TEndpointError(
        ErrorText("cannot read the address bound to " + AWhere, WSAGetLastError()));
  }
  const HANDLE readable = ::WSACreateEvent();
  if (readable == WSA_INVALID_EVENT) {
    throw TEndpointError(ErrorText("cannot create a socket event", WSAGetLastError()));
  }
  fSockets.back().Readable.Reset(readable);
  // Also makes the socket non-blocking.
  if (::WSAEventSelect(socket, readable, FD_READ) != 0) {
    throw TEndpointError(ErrorText("cannot watch " + AWhere, WSAGetLastError()));
  }
  return {ntohl(bound.sin_addr.s_addr), ntohs(bound.sin_port)};
}

void TUDPEndpoint::TImpl::TPlatform::WakeListeners() {
  if (fStopEvent) {
    ::SetEvent(fStopEvent.Get());  // manual reset: every listener sees it
  }
}

void TUDPEndpoint::TImpl::TPlatform::CloseSockets() {
  fSockets.clear();
}

void TUDPEndpoint::TImpl::TPlatform::CloseWakeUp() {
  fStopEvent.Reset();
}

void TUDPEndpoint::TImpl::TPlatform::Listen(std::size_t AIndex) {
  const SOCKET ownSocket = fSockets[AIndex].Socket.Get();
  const HANDLE ownReadable = fSockets[AIndex].Readable.Get();
  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  const HANDLE waits[2] = {fStopEvent.Get(), ownReadable};
  while (!fStopRequested.load()) {
    const DWORD ready = ::WaitForMultipleObjects(2, waits, FALSE, kListenerWaitMs);
    if (ready == WAIT_FAILED) {
      // Should not happen with valid handles; do not spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (ready != WAIT_OBJECT_0 + 1 || fStopRequested.load()) {
      continue;  // timeout or stop: the loop condition decides
    }
    // Resets the event; FD_READ is signalled again by the next datagram or by a receive that
    // leaves datagrams queued.
    WSANETWORKEVENTS events{};
    ::WSAEnumNetworkEvents(ownSocket, ownReadable, &events);
    // Under load, read what is queued before waiting again; bounded so a stop is seen
    // promptly.
    for (int count = 0; count < kDatagramsPerWakeUp && !fStopRequested.load(); ++count) {
      if (!ReceiveOne(ownSocket, buffer)) {
        break;
      }
    }
  }
}

bool TUDPEndpoint::TImpl::TPlatform::ReceiveOne(SOCKET ASocket,
                                                std::vector<std::uint8_t>& ABuffer) {
  sockaddr_in peer{};
  int peerSize = sizeof peer;
  const int received = ::recvfrom(ASocket, reinterpret_cast<char*>(ABuffer.data()),
                                  static_cast<int>(ABuffer.size()), 0, AsSockaddr(peer), &peerSize);
  if (received == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      return false;
    }
    // WSAEMSGSIZE: longer than the buffer; Winsock has dropped the rest, so the datagram is
    // dropped whole. Other receive errors are not the listener's concern either.
    return true;
  }
  const auto length = static_cast<std::size_t>(received);
  if (length == 0) {
    return true;
  }
  const auto event = CurrentEvent();
  if (!event || !*event) {
    return true;
  }
  Deliver(*event, std::span<const std::uint8_t>(ABuffer.data(), length),
          {ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)});
  return true;
}

TUDPEndpoint::TImpl::TSendResult TUDPEndpoint::TImpl::TPlatform::SendFromFirst(
    TAddress ATarget, std::span<const std::uint8_t> ABytes) {
  const SOCKET socket = fSockets.front().Socket.Get();
  sockaddr_in target = MakeSocketAddress(ATarget.IP, ATarget.Port);
  // The socket is non-blocking (WSAEventSelect): a full send buffer is waited out briefly, as
  // a blocking send would.
  int sent = SOCKET_ERROR;
  for (int attempt = 0; attempt < 2; ++attempt) {
    sent = ::sendto(socket, reinterpret_cast<const char*>(ABytes.data()),
                    static_cast<int>(ABytes.size()), 0, AsSockaddr(target), sizeof target);
    if (sent != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK) {
      break;
    }
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    timeval wait{kSendWaitMs / 1000, (kSendWaitMs % 1000) * 1000};
    ::select(0, nullptr, &writable, nullptr, &wait);
  }
  return {sent, sent == SOCKET_ERROR ? WSAGetLastError() : 0};
}

}  // namespace kelvo
