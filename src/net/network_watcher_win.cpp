// Interface and unicast IPv4 address changes from the IP helper. The callbacks run on a thread
// of the system's: they only note the change and wake the owner. (Wine's versions of these
// functions do nothing; the owner's re-check covers that.)
// The IP helper's declarations need the socket headers first.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

#include <atomic>
#include <utility>

#include "net/network_watcher.h"

namespace kelvo {

struct TNetworkWatcher::TImpl {
  std::function<void()> Wake;
  std::atomic<bool> Changed{false};
  HANDLE InterfaceHandle = nullptr;
  HANDLE AddressHandle = nullptr;
  std::string Error;

  void Note() {
    Changed.store(true);
    if (Wake) {
      Wake();
    }
  }
};

namespace {

VOID NETIOAPI_API_ InterfaceChanged(PVOID AContext, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE) {
  static_cast<TNetworkWatcher::TImpl*>(AContext)->Note();
}

VOID NETIOAPI_API_ AddressChanged(PVOID AContext, PMIB_UNICASTIPADDRESS_ROW,
                                  MIB_NOTIFICATION_TYPE) {
  static_cast<TNetworkWatcher::TImpl*>(AContext)->Note();
}

}  // namespace

TNetworkWatcher::TNetworkWatcher(std::function<void()> AWake) : fImpl(std::make_unique<TImpl>()) {
  fImpl->Wake = std::move(AWake);
  const DWORD interfaces = NotifyIpInterfaceChange(AF_INET, InterfaceChanged, fImpl.get(), FALSE,
                                                   &fImpl->InterfaceHandle);
  const DWORD addresses = NotifyUnicastIpAddressChange(AF_INET, AddressChanged, fImpl.get(), FALSE,
                                                       &fImpl->AddressHandle);
  if (interfaces != NO_ERROR || addresses != NO_ERROR) {
    fImpl->Error = "the system does not report network changes (error " +
                   std::to_string(interfaces != NO_ERROR ? interfaces : addresses) + ")";
  }
}

TNetworkWatcher::~TNetworkWatcher() {
  // Returns once no callback runs any more, so fImpl outlives every one of them.
  if (fImpl->InterfaceHandle != nullptr) {
    CancelMibChangeNotify2(fImpl->InterfaceHandle);
  }
  if (fImpl->AddressHandle != nullptr) {
    CancelMibChangeNotify2(fImpl->AddressHandle);
  }
}

const std::string& TNetworkWatcher::Error() const {
  return fImpl->Error;
}

bool TNetworkWatcher::Drain() {
  return fImpl->Changed.exchange(false);
}

}  // namespace kelvo
