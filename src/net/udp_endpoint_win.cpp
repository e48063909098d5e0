// The UDP endpoint over Winsock 2. Each listener waits in WaitForMultipleObjects on its
// socket's event (WSAEventSelect, FD_READ) and on one manual-reset stop event shared by all
// listeners; Close sets the stop event, joins the listeners and only then closes the sockets,
// so no thread ever waits on or reads a socket that has been closed.
#include <mswsock.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "app/windows_text.h"
#include "net/udp_endpoint.h"
#include "net/winsock.h"
#include "tables/nat_info.h"

namespace kelvo {

namespace {

constexpr DWORD kListenerWaitMs = 1000;
constexpr int kDatagramsPerWakeUp = 64;
constexpr std::size_t kMaxUdpPayload = 65507;
constexpr int kSendWaitMs = 1000;

std::string ErrorText(const std::string& AWhat, int AError) {
  return AWhat + ": " + WindowsErrorText(static_cast<unsigned long>(AError));
}

sockaddr_in MakeAddress(const std::string& AAddress, std::uint16_t APort) {
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(APort);
  if (AAddress.empty()) {
    Address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (inet_pton(AF_INET, AAddress.c_str(), &Address.sin_addr) != 1) {
    throw TEndpointError("not an IPv4 address: \"" + AAddress + "\"");
  }
  return Address;
}

sockaddr* AsSockaddr(sockaddr_in& AAddress) {
  return reinterpret_cast<sockaddr*>(&AAddress);
}

std::string DottedText(const in_addr& AAddress) {
  unsigned char Bytes[4];
  std::memcpy(Bytes, &AAddress, sizeof Bytes);
  return DottedQuad(Bytes);
}

void CloseSocket(SOCKET& ASocket) {
  if (ASocket != INVALID_SOCKET) {
    ::closesocket(ASocket);
    ASocket = INVALID_SOCKET;
  }
}

void CloseEvent(HANDLE& AEvent) {
  if (AEvent != nullptr) {
    ::CloseHandle(AEvent);
    AEvent = nullptr;
  }
}

}  // namespace

struct TUDPEndpoint::TImpl {
  struct TBindingConfig {
    std::string Address;
    std::uint16_t Port;
  };

  // One bound socket, its readiness event and its listener while the endpoint is open.
  struct TListener {
    SOCKET Socket = INVALID_SOCKET;
    HANDLE Readable = nullptr;  // WSAEventSelect(FD_READ)
    std::string BoundAddress;
    std::uint16_t BoundPort = 0;
    std::thread Thread;
  };

  std::vector<TBindingConfig> fBindings;  // owner's thread only

  // Written by Open and Close under the exclusive lock; SendDatagram reads under a shared lock.
  mutable std::shared_mutex fSocketsLock;
  std::vector<std::unique_ptr<TListener>> fListeners;
  bool fOpen = false;

  HANDLE fStopEvent = nullptr;  // created by Open, closed by Close after every listener ended
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
  void Listen(TListener& AListener);
  // Reads and delivers one datagram; false when none was waiting.
  bool ReceiveOne(SOCKET ASocket, std::vector<std::uint8_t>& ABuffer);
};

void TUDPEndpoint::TImpl::OpenSockets() {
  for (const TBindingConfig& Binding : fBindings) {
    sockaddr_in Address = MakeAddress(Binding.Address, Binding.Port);
    auto Listener = std::make_unique<TListener>();
    Listener->Socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                    WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (Listener->Socket == INVALID_SOCKET) {
      throw TEndpointError(ErrorText("cannot create a UDP socket", WSAGetLastError()));
    }
    // Keep the socket owned before anything else can fail.
    fListeners.push_back(std::move(Listener));
    TListener& L = *fListeners.back();
    const std::string Where = (Binding.Address.empty() ? "0.0.0.0" : Binding.Address) + ":" +
                              std::to_string(Binding.Port);
    // A second relay on the same address and port must fail to bind, also against programs
    // that ask for SO_REUSEADDR.
    BOOL Exclusive = TRUE;
    ::setsockopt(L.Socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&Exclusive), sizeof Exclusive);
    if (::bind(L.Socket, AsSockaddr(Address), sizeof Address) != 0) {
      throw TEndpointError(ErrorText("cannot bind " + Where, WSAGetLastError()));
    }
    // An ICMP port-unreachable for an earlier send would otherwise surface as WSAECONNRESET
    // on the next receive.
    BOOL ReportReset = FALSE;
    DWORD Returned = 0;
    ::WSAIoctl(L.Socket, SIO_UDP_CONNRESET, &ReportReset, sizeof ReportReset, nullptr, 0, &Returned,
               nullptr, nullptr);
    sockaddr_in Bound{};
    int BoundSize = sizeof Bound;
    if (::getsockname(L.Socket, AsSockaddr(Bound), &BoundSize) != 0) {
      throw TEndpointError(
          ErrorText("cannot read the address bound to " + Where, WSAGetLastError()));
    }
    L.BoundAddress = DottedText(Bound.sin_addr);
    L.BoundPort = ntohs(Bound.sin_port);
    L.Readable = ::WSACreateEvent();
    if (L.Readable == WSA_INVALID_EVENT) {
      L.Readable = nullptr;
      throw TEndpointError(ErrorText("cannot create a socket event", WSAGetLastError()));
    }
    // Also makes the socket non-blocking.
    if (::WSAEventSelect(L.Socket, L.Readable, FD_READ) != 0) {
      throw TEndpointError(ErrorText("cannot watch " + Where, WSAGetLastError()));
    }
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

// Stops and joins every listener that runs, then closes the sockets and the events. Also
// cleans up after a failed Open.
void TUDPEndpoint::TImpl::StopAndRelease() {
  fStopRequested.store(true);
  if (fStopEvent != nullptr) {
    ::SetEvent(fStopEvent);  // manual reset: every listener sees it
  }
  for (auto& L : fListeners) {
    if (L->Thread.joinable()) {
      L->Thread.join();
    }
  }
  std::unique_lock Lock(fSocketsLock);
  for (auto& L : fListeners) {
    CloseSocket(L->Socket);
    if (L->Readable != nullptr) {
      ::WSACloseEvent(L->Readable);
      L->Readable = nullptr;
    }
  }
  fListeners.clear();
  fOpen = false;
  Lock.unlock();
  CloseEvent(fStopEvent);
}

void TUDPEndpoint::TImpl::Listen(TListener& AListener) {
  std::vector<std::uint8_t> Buffer(kReceiveBufferSize);
  const HANDLE Waits[2] = {fStopEvent, AListener.Readable};
  while (!fStopRequested.load()) {
    const DWORD Ready = ::WaitForMultipleObjects(2, Waits, FALSE, kListenerWaitMs);
    if (Ready == WAIT_FAILED) {
      // Should not happen with valid handles; do not spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (Ready != WAIT_OBJECT_0 + 1 || fStopRequested.load()) {
      continue;  // timeout or stop: the loop condition decides
    }
    // Resets the event; FD_READ is signalled again by the next datagram or by a receive that
    // leaves datagrams queued.
    WSANETWORKEVENTS Events{};
    ::WSAEnumNetworkEvents(AListener.Socket, AListener.Readable, &Events);
    // Under load, read what is queued before waiting again; bounded so a stop is seen
    // promptly.
    for (int Count = 0; Count < kDatagramsPerWakeUp && !fStopRequested.load(); ++Count) {
      if (!ReceiveOne(AListener.Socket, Buffer)) {
        break;
      }
    }
  }
}

bool TUDPEndpoint::TImpl::ReceiveOne(SOCKET ASocket, std::vector<std::uint8_t>& ABuffer) {
  sockaddr_in Peer{};
  int PeerSize = sizeof Peer;
  const int Received = ::recvfrom(ASocket, reinterpret_cast<char*>(ABuffer.data()),
                                  static_cast<int>(ABuffer.size()), 0, AsSockaddr(Peer), &PeerSize);
  if (Received == SOCKET_ERROR) {
    const int Error = WSAGetLastError();
    if (Error == WSAEWOULDBLOCK) {
      return false;
    }
    // WSAEMSGSIZE: longer than the buffer; Winsock has dropped the rest, so the datagram is
    // dropped whole. Other receive errors are not the listener's concern either.
    return true;
  }
  const auto Length = static_cast<std::size_t>(Received);
  if (Length == 0) {
    return true;
  }
  const auto Event = CurrentEvent();
  if (!Event || !*Event) {
    return true;
  }
  try {
    (*Event)(std::span<const std::uint8_t>(ABuffer.data(), Length), DottedText(Peer.sin_addr),
             ntohs(Peer.sin_port));
  } catch (...) {
    // The handler's failure ends this datagram only; the listener must keep running.
  }
  return true;
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
  try {
    EnsureWinsock();
  } catch (const std::exception& E) {
    throw TEndpointError(E.what());
  }
  fImpl->fStopRequested.store(false);
  try {
    fImpl->fStopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (fImpl->fStopEvent == nullptr) {
      throw TEndpointError(
          ErrorText("cannot create the listener stop event", static_cast<int>(GetLastError())));
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
  const SOCKET Socket = fImpl->fListeners.front()->Socket;
  const std::string Where = IP + ":" + std::to_string(APort);
  // The socket is non-blocking (WSAEventSelect): a full send buffer is waited out briefly, as
  // a blocking send would.
  int Sent = SOCKET_ERROR;
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    Sent = ::sendto(Socket, reinterpret_cast<const char*>(ABytes.data()),
                    static_cast<int>(ABytes.size()), 0, AsSockaddr(Target), sizeof Target);
    if (Sent != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK) {
      break;
    }
    fd_set Writable;
    FD_ZERO(&Writable);
    FD_SET(Socket, &Writable);
    timeval Wait{kSendWaitMs / 1000, (kSendWaitMs % 1000) * 1000};
    ::select(0, nullptr, &Writable, nullptr, &Wait);
  }
  if (Sent == SOCKET_ERROR) {
    throw TEndpointError(ErrorText("cannot send to " + Where, WSAGetLastError()));
  }
  if (static_cast<std::size_t>(Sent) != ABytes.size()) {
    throw TEndpointError("short send to " + Where + ": " + std::to_string(Sent) + " of " +
                         std::to_string(ABytes.size()) + " bytes");
  }
}

}  // namespace kelvo
