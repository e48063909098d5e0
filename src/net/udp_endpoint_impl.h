// The inside of TUDPEndpoint. This part is the same on every platform: the bindings, the
// listener threads, the handler, and the order, checks and texts of Open, Close and
// SendDatagram (udp_endpoint.cpp). TPlatform, defined in udp_endpoint_posix.cpp or
// udp_endpoint_win.cpp, derives from it and adds the sockets, what wakes the listeners, the
// receive loop and the raw send. Internal to those three files.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "net/ethernet_utils.h"
#include "net/udp_endpoint.h"

namespace kelvo {

struct TUDPEndpoint::TImpl {
  struct TPlatform;
  static std::unique_ptr<TImpl> MakePlatform();

  TImpl() = default;
  virtual ~TImpl() = default;
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  struct TBindingConfig {
    std::string Address;
    std::uint16_t Port;
  };

  // A listener while the endpoint is open; its socket is the platform's, at the same index.
  struct TListener {
    std::string BoundAddress;
    std::uint16_t BoundPort = 0;
    std::thread Thread;
  };

  // An IPv4 address and port in host order; address 0 stands for every local address.
  struct TAddress {
    std::uint32_t IP = 0;
    std::uint16_t Port = 0;
  };

  // What a raw send did: the bytes the system took, or -1 and the system's error code.
  struct TSendResult {
    std::ptrdiff_t Sent;
    int Error;
  };

  std::vector<TBindingConfig> fBindings;  // owner's thread only

  // Written by Open and Close under the exclusive lock; SendDatagram reads under a shared lock.
  // The platform's sockets are guarded alike.
  mutable TSharedMutex fSocketsLock;
  std::vector<std::unique_ptr<TListener>> fListeners GUARDED_BY(fSocketsLock);
  bool fOpen GUARDED_BY(fSocketsLock) = false;

  std::atomic<bool> fStopRequested{false};

  TMutex fEventLock;
  // The pointer, not the call: a listener calls the handler it took without the lock.
  std::shared_ptr<const TDatagramEvent> fOnDatagram GUARDED_BY(fEventLock);

  std::shared_ptr<const TDatagramEvent> CurrentEvent() EXCLUDES(fEventLock) {
    const TMutexLock Lock(fEventLock);
    return fOnDatagram;
  }
  bool Opened() const EXCLUDES(fSocketsLock) {
    const TSharedLock Lock(fSocketsLock);
    return fOpen;
  }

  // Listener thread. The handler's failure ends this datagram only; the listener must keep
  // running.
  static void Deliver(const TDatagramEvent& AEvent, std::span<const std::uint8_t> ABytes,
                      TAddress APeer) {
    try {
      AEvent(ABytes, IntToIPAddress(APeer.IP), APeer.Port);
    } catch (...) {
    }
  }

  bool IsListenerThread() const EXCLUDES(fSocketsLock);
  void OpenSockets() REQUIRES(fSocketsLock);
  void StartListeners() EXCLUDES(fSocketsLock);
  void StopAndRelease() EXCLUDES(fSocketsLock);

  // "AWhat: " and the system's text for AError.
  static std::string ErrorText(const std::string& AWhat, int AError);

  // ---- what the platform does ----

  // Open's first step, before any socket: what Close will wake the listeners with.
  virtual void CreateWakeUp() = 0;
  // Creates and binds the next listener's socket (under the exclusive lock) and returns the
  // address the system bound. AWhere names the binding in errors. Keeps what it made for
  // CloseSockets also when it throws.
  virtual TAddress OpenSocket(TAddress AAddress, const std::string& AWhere)
      REQUIRES(fSocketsLock) = 0;
  virtual void WakeListeners() = 0;
  // Listener thread AIndex: waits, receives and delivers until fStopRequested is set.
  virtual void Listen(std::size_t AIndex) = 0;
  // Once every listener has ended: under the exclusive lock the sockets, then the wake-up.
  virtual void CloseSockets() REQUIRES(fSocketsLock) = 0;
  virtual void CloseWakeUp() = 0;
  // From the first socket, under the shared lock while open. Any thread.
  virtual TSendResult SendFromFirst(TAddress ATarget, std::span<const std::uint8_t> ABytes)
      REQUIRES_SHARED(fSocketsLock) = 0;
};

}  // namespace kelvo
