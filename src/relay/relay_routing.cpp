// Routing and forwarding of valid frames between applications and controllers.
//
// fTablesLock is held only while entries are looked up, updated or copied, and again for the
// IP write-back; never across a name lookup or a send. Host names are never looked up here:
// the resolver's worker does that, and routing takes the address it found last.
#include <algorithm>
#include <exception>
#include <optional>
#include <string>

#include "diag/my_log.h"
#include "diag/trace.h"
#include "net/ethernet_utils.h"

#include "relay/relay_engine.h"

namespace kelvo {

const TNATInfoList* TRelayEngine::TableOf(TTableKind AKind) const {
  switch (AKind) {
    case TTableKind::tkNAT:
      return fTables.fNATTable.get();
    case TTableKind::tkStatic:
      return fTables.fStaticTable.get();
    case TTableKind::tkPush:
      return fTables.fPushTable.get();
  }
  return nullptr;
}

TRelayEngine::TRouteTarget& TRelayEngine::CopyTarget(TTableKind AKind, const TNATInfo& AEntry,
                                                     std::size_t& ACount) {
  // Slots are reused, so their strings keep their storage from frame to frame.
  if (ACount == fTargets.size())
    fTargets.emplace_back();
  TRouteTarget& target = fTargets[ACount++];
  target.Kind = AKind;
  target.Table = TableOf(AKind);
  target.Entry = &AEntry;
  target.NAD = AEntry.NAD();
  target.NADAlias = AEntry.NADAlias();
  target.Host = AEntry.Host();
  target.IP = AEntry.IP();
  target.Port = AEntry.Port();
  return target;
}

void TRelayEngine::PrepareListening(const std::string& ABindAddress, std::uint16_t ABindPort) {
  fBindPort = ABindPort;
  fOwnAddresses.clear();
  const std::optional<std::uint32_t> bound =
      ABindAddress.empty() ? std::optional<std::uint32_t>(0) : ParseDottedIPv4(ABindAddress);
  fBindAny = !bound || *bound == 0;
  if (bound)
    fOwnAddresses.push_back(*bound);
  // A datagram to 0.0.0.0 reaches this machine, whatever the binding.
  fOwnAddresses.push_back(0);
  if (fBindAny) {
    try {
      TEthernetAdapterInfoList adapters;
      adapters.Refresh();
      for (int i = 0; i < adapters.Count(); ++i) {
        if (const auto address = ParseDottedIPv4(adapters.Items(i)->IPAddress()))
          fOwnAddresses.push_back(*address);
      }
    } catch (const std::exception&) {
      // Without the adapters, loopback and the sender check still hold.
    }
  }
  std::sort(fOwnAddresses.begin(), fOwnAddresses.end());

  std::vector<std::string> names;
  {
    const TAddressTables::TLock lock(fTables);
    const TNATInfoList& statics = *fTables.fStaticTable;
    for (int i = 0; i < statics.Count(); ++i) {
      if (NeedsNameLookup(statics.Items(i)->Host()))
        names.push_back(statics.Items(i)->Host());
    }
  }
  fResolver.SetNames(names);
}

bool TRelayEngine::IsOwnAddress(std::uint32_t AAddress) const {
  if (fBindAny && (AAddress >> 24) == 127)
    return true;
  return std::binary_search(fOwnAddresses.begin(), fOwnAddresses.end(), AAddress);
}

bool TRelayEngine::WouldLoop(const std::string& AIP, std::uint16_t APort, bool AToSender) {
  // Every relay frame that leaves here is a valid frame, and the acknowledgement is even a
  // request: sent back to its sender (an echo service, say) or to the relay itself, it would
  // come back and be relayed again, for as long as the tables keep the entries. The ports are
  // compared first, so the usual send parses no address.
  const char* reason = nullptr;
  if (APort == fBindPort && fBindPort != 0) {
    const std::optional<std::uint32_t> address = ParseDottedIPv4(AIP);
    if (address && IsOwnAddress(*address))
      reason = "the relay's own address";
  }
  if (reason == nullptr && !AToSender && APort == fPeer.Port) {
    // A configured address may carry leading zeros that the sender's text never has.
    const std::optional<std::uint32_t> address = ParseDottedIPv4(AIP);
    if (AIP == *fPeer.IP || (address && address == ParseDottedIPv4(*fPeer.IP)))
      reason = "where the frame came from";
  }
  if (reason == nullptr)
    return false;
  fLoopDropCounter.fetch_add(1, std::memory_order_relaxed);
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    DropLine("Drop " + IPPortToStr(*fPeer.IP, fPeer.Port) + " Tx to " + AIP + ":" +
             std::to_string(APort) + " would loop: " + reason);
  return true;
}

void TRelayEngine::DropForFullTable(const char* ATableName) {
  fTableFullCounter.fetch_add(1, std::memory_order_relaxed);
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    DropLine("Drop " + IPPortToStr(*fPeer.IP, fPeer.Port) + " " + ATableName + " full (" +
             std::to_string(kMaxTableEntries) + " entries), sender not entered");
}

void TRelayEngine::RoutePush(const TFrameInfo& AInfo) {
  bool entered = false;
  {
    const TAddressTables::TLock lock(fTables);
    entered = fTables.fPushTable->UpdateByNAD(AInfo.SourceNAD, *fPeer.IP, fPeer.Port) != nullptr;
  }
  // Not even acknowledged: a flood of forged push frames gets nothing back.
  if (!entered) {
    DropForFullTable("fPushTable");
    return;
  }
  SendPushAck(AInfo.SourceNAD);
}

void TRelayEngine::RouteRequest(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo) {
  std::size_t count = 0;
  {
    TAddressTables::TLock lock(fTables);
    const TNATInfo* app = fTables.fNATTable->UpdateByNAD(AInfo.SourceNAD, *fPeer.IP, fPeer.Port);
    // A sender without an entry would get no reply, so its request goes nowhere.
    if (app == nullptr) {
      lock.Unlock();
      DropForFullTable("fNATTable");
      return;
    }
    fApp.NAD = app->NAD();
    fApp.NADAlias = app->NADAlias();
    const TNATInfoList& statics = *fTables.fStaticTable;
    const TNATInfoList& pushed = *fTables.fPushTable;
    if (AInfo.Class == TFrameClass::fcBroadcastRequest) {
      for (int i = 0; i < statics.Count(); ++i)
        CopyTarget(TTableKind::tkStatic, *statics.Items(i), count);
      for (int i = 0; i < pushed.Count(); ++i)
        CopyTarget(TTableKind::tkPush, *pushed.Items(i), count);
    } else if (const TNATInfo* e = statics.FindByNAD(AInfo.DestNAD)) {
      CopyTarget(TTableKind::tkStatic, *e, count);
    } else if (const TNATInfo* p = pushed.FindByNAD(AInfo.DestNAD)) {
      CopyTarget(TTableKind::tkPush, *p, count);
    }
  }
  // A failing destination ends the broadcast there: the ones after it get nothing.
  for (std::size_t i = 0; i < count; ++i)
    ForwardFrame(fTargets[i], &fApp, AFrame, true);
}

void TRelayEngine::RouteReply(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo) {
  std::size_t count = 0;
  {
    const TAddressTables::TLock lock(fTables);
    if (const TNATInfo* app = fTables.fNATTable->FindByNADAlias(AInfo.DestNAD))
      CopyTarget(TTableKind::tkNAT, *app, count);
  }
  if (count > 0)
    ForwardFrame(fTargets[0], nullptr, AFrame, false);
}

void TRelayEngine::ResolveDestination(const std::string& AHost, std::uint16_t APort) {
  // "localhost" or an address: nothing to look up.
  if (ResolveWithoutLookup(AHost, fResolvedIP) || fResolver.LastAddress(AHost, fResolvedIP))
    return;
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    DropLine(DropPrefix() + " Tx to " + AHost + ":" + std::to_string(APort) +
             ": the host name has no address yet");
  throw TResolveError("Cannot resolve host \"" + AHost + "\": no address yet");
}

void TRelayEngine::ForwardFrame(const TRouteTarget& ADest, const TRouteTarget* AApp,
                                std::span<std::uint8_t> AFrame, bool AIsRequest) {
  bool rewritten = false;
  if (AIsRequest) {
    if (AApp != nullptr && AApp->NADAlias != AApp->NAD) {
      WriteNAD(AFrame, kOffsetSourceNAD, AApp->NADAlias);
      rewritten = true;
    }
  } else if (ADest.NADAlias != ADest.NAD) {
    WriteNAD(AFrame, kOffsetDestNAD, ADest.NAD);
    rewritten = true;
  }
  if (rewritten)
    RefreshChecksum(AFrame);

  ResolveDestination(ADest.Host, ADest.Port);
  // Rows get their address only here, on the listener thread: a row that held this address
  // when it was copied still holds it, and needs no second visit under the lock.
  if (fResolvedIP != ADest.IP)
    StoreResolvedIP(ADest, fResolvedIP);
  if (WouldLoop(fResolvedIP, ADest.Port, false))
    return;
  try {
    fTransport.SendDatagram(fResolvedIP, ADest.Port, AFrame);
  } catch (...) {
    // The name may have moved: its next lookup need not wait for the refresh.
    if (NeedsNameLookup(ADest.Host))
      fResolver.SendFailed(ADest.Host);
    throw;
  }
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    TraceLine("Tx", fResolvedIP, ADest.Port, AFrame);
  fView.SetLed(AIsRequest ? TLamp::WANTx : TLamp::LANTx, TLedColor::Green);
}

void TRelayEngine::StoreResolvedIP(const TRouteTarget& ADest, const std::string& AIP) {
  const TAddressTables::TLock lock(fTables);
  // The entry may have aged out, or Setup may have replaced the static table, while the lock
  // was free. Only the very same row, still listed, gets the address; comparing host and port
  // as well guards against a freed entry whose memory now holds another one.
  const TNATInfoList* table = TableOf(ADest.Kind);
  if (table == nullptr || table != ADest.Table)
    return;
  const int index = table->IndexOf(ADest.Entry);
  if (index < 0)
    return;
  TNATInfo* entry = table->Items(index);
  if (entry->Host() != ADest.Host || entry->Port() != ADest.Port)
    return;
  if (entry->IP() != AIP)
    entry->SetIP(AIP);
}

void TRelayEngine::SendPushAck(std::int32_t ANAD) {
  // The acknowledgement answers the push frame's sender, so it goes back there by design.
  if (WouldLoop(*fPeer.IP, fPeer.Port, true))
    return;
  const auto ack = BuildPushAck(ANAD);
  fTransport.SendDatagram(*fPeer.IP, fPeer.Port, ack);
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    TraceLine("Tx", *fPeer.IP, fPeer.Port, ack);
  fView.SetLed(TLamp::WANTx, TLedColor::Green);
}

}  // namespace kelvo
