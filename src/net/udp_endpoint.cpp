// The half of the UDP endpoint that every platform shares. Close stops the listeners, joins
// them and only then closes the sockets, so no thread ever waits on or reads a socket that
// has been closed.
#include <system_error>
#include <thread>
#include <vector>

#include "net/ethernet_utils.h"
#include "net/host_lookup.h"
#include "net/udp_endpoint.h"
#include "net/udp_endpoint_impl.h"

namespace kelvo {

namespace {

constexpr std::size_t kMaxUdpPayload = 65507;

// Empty text stands for every local address.
std::uint32_t ParseAddress(const std::string& AAddress) {
  if (AAddress.empty()) {
    return 0;
  }
  // The one reading of dotted text: leading zeros are decimal, which a typed address may well
  // have and the system's own parsers refuse or read as octal.
  if (const auto parsed = ParseDottedIPv4(AAddress)) {
    return *parsed;
  }
  throw TEndpointError("not an IPv4 address: \"" + AAddress + "\"");
}

}  // namespace

bool TUDPEndpoint::TImpl::IsListenerThread() const {
  const TSharedLock lock(fSocketsLock);
  const auto self = std::this_thread::get_id();
  for (const auto& l : fListeners) {
    if (l->Thread.get_id() == self) {
      return true;
    }
  }
  return false;
}

void TUDPEndpoint::TImpl::OpenSockets() {
  for (const TBindingConfig& binding : fBindings) {
    const TAddress address{ParseAddress(binding.Address), binding.Port};
    const std::string where = (binding.Address.empty() ? "0.0.0.0" : binding.Address) + ":" +
                              std::to_string(binding.Port);
    const TAddress bound = OpenSocket(address, where);
    auto listener = std::make_unique<TListener>();
    listener->BoundAddress = IntToIPAddress(bound.IP);
    listener->BoundPort = bound.Port;
    fListeners.push_back(std::move(listener));
  }
}

void TUDPEndpoint::TImpl::StartListeners() {
  // Shared: the listeners that start meanwhile may already send.
  const TSharedLock lock(fSocketsLock);
  for (std::size_t i = 0; i < fListeners.size(); ++i) {
    try {
      fListeners[i]->Thread = std::thread([this, i] { Listen(i); });
    } catch (const std::system_error& e) {
      throw TEndpointError(std::string("cannot start a listener thread: ") + e.what());
    }
  }
}

// Stops and joins every listener that runs, then closes the sockets and the wake-up. Also
// cleans up after a failed Open.
void TUDPEndpoint::TImpl::StopAndRelease() {
  fStopRequested.store(true);
  WakeListeners();
  // Joined without the lock, which a listener may still want for a last send. The listeners
  // stay listed (and their threads in place) until the owner's thread, this one, clears them.
  std::vector<std::thread*> threads;
  {
    const TSharedLock lock(fSocketsLock);
    for (auto& l : fListeners) {
      threads.push_back(&l->Thread);
    }
  }
  for (std::thread* thread : threads) {
    if (thread->joinable()) {
      thread->join();
    }
  }
  {
    const TExclusiveLock lock(fSocketsLock);
    CloseSockets();
    fListeners.clear();
    fOpen = false;
  }
  CloseWakeUp();
}

// ---- TUDPEndpoint ----

TUDPEndpoint::TUDPEndpoint() : fImpl(TImpl::MakePlatform()) {}

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
  auto event = std::make_shared<const TDatagramEvent>(std::move(AEvent));
  const TMutexLock lock(fImpl->fEventLock);
  fImpl->fOnDatagram = std::move(event);
}

void TUDPEndpoint::Open() {
  if (fImpl->Opened()) {
    return;
  }
  if (fImpl->fBindings.empty()) {
    throw TEndpointError("no binding to open");
  }
  fImpl->fStopRequested.store(false);
  try {
    fImpl->CreateWakeUp();
    {
      // Open before the first listener runs: a datagram that arrives at once is routed, and
      // the sends it causes must find the endpoint open, or they are lost.
      const TExclusiveLock lock(fImpl->fSocketsLock);
      fImpl->OpenSockets();
      fImpl->fOpen = true;
    }
    fImpl->StartListeners();
  } catch (...) {
    fImpl->StopAndRelease();  // closed again
    throw;
  }
}

void TUDPEndpoint::Close() {
  if (!fImpl->Opened()) {
    return;
  }
  if (fImpl->IsListenerThread()) {
    // Joining itself would never return.
    throw TEndpointError("the endpoint cannot be closed from its own listener");
  }
  fImpl->StopAndRelease();
}

bool TUDPEndpoint::IsOpen() const {
  return fImpl->Opened();
}

std::string TUDPEndpoint::BoundAddress() const {
  const TSharedLock lock(fImpl->fSocketsLock);
  return fImpl->fOpen ? fImpl->fListeners.front()->BoundAddress : std::string();
}

std::uint16_t TUDPEndpoint::BoundPort() const {
  const TSharedLock lock(fImpl->fSocketsLock);
  return fImpl->fOpen ? fImpl->fListeners.front()->BoundPort : 0;
}

void TUDPEndpoint::SendDatagram(const std::string& AHost, std::uint16_t APort,
                                std::span<const std::uint8_t> ABytes) {
  if (ABytes.size() > kMaxUdpPayload) {
    throw TEndpointError("datagram too large: " + std::to_string(ABytes.size()) + " bytes");
  }
  // Resolve before taking the lock: a slow lookup must not hold up Close.
  const std::string ip = ResolveHostToIP(AHost);
  const TImpl::TAddress target{ParseAddress(ip), APort};

  const TSharedLock lock(fImpl->fSocketsLock);
  if (!fImpl->fOpen) {
    throw TEndpointError("the endpoint is not open");
  }
  const TImpl::TSendResult result = fImpl->SendFromFirst(target, ABytes);
  if (result.Sent < 0) {
    throw TEndpointError(
        TImpl::ErrorText("cannot send to " + ip + ":" + std::to_string(APort), result.Error));
  }
  if (static_cast<std::size_t>(result.Sent) != ABytes.size()) {
    throw TEndpointError("short send to " + ip + ":" + std::to_string(APort) + ": " +
                         std::to_string(result.Sent) + " of " + std::to_string(ABytes.size()) +
                         " bytes");
  }
}

}  // namespace kelvo
