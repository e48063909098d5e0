// Routing and forwarding of valid frames between applications and controllers.
//
// fTablesLock is held only while entries are looked up, updated or copied, and again for the
// IP write-back; never across a name lookup or a send.
#include <exception>
#include <mutex>
#include <string>

#include "diag/my_log.h"
#include "diag/trace.h"

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

void TRelayEngine::DropForFullTable(const char* ATableName, const std::string& APeerIP,
                                    std::uint16_t APeerPort) {
  fTableFullCounter.fetch_add(1, std::memory_order_relaxed);
  if (!fCreateDebugLogs.load(std::memory_order_relaxed))
    return;
  try {
    fLog.AddLog("Drop " + IPPortToStr(APeerIP, APeerPort) + " " + ATableName + " full (" +
                std::to_string(kMaxTableEntries) + " entries), sender not entered");
  } catch (const std::exception&) {
  }
}

void TRelayEngine::RoutePush(const TFrameInfo& AInfo, const std::string& APeerIP,
                             std::uint16_t APeerPort) {
  bool entered = false;
  {
    const std::lock_guard<std::mutex> lock(fTables.fTablesLock);
    entered = fTables.fPushTable->UpdateByNAD(AInfo.SourceNAD, APeerIP, APeerPort) != nullptr;
  }
  // Not even acknowledged: a flood of forged push frames gets nothing back.
  if (!entered) {
    DropForFullTable("fPushTable", APeerIP, APeerPort);
    return;
  }
  SendPushAck(APeerIP, APeerPort, AInfo.SourceNAD);
}

void TRelayEngine::RouteRequest(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo,
                                const std::string& APeerIP, std::uint16_t APeerPort) {
  std::size_t count = 0;
  {
    std::unique_lock<std::mutex> lock(fTables.fTablesLock);
    const TNATInfo* app = fTables.fNATTable->UpdateByNAD(AInfo.SourceNAD, APeerIP, APeerPort);
    // A sender without an entry would get no reply, so its request goes nowhere.
    if (app == nullptr) {
      lock.unlock();
      DropForFullTable("fNATTable", APeerIP, APeerPort);
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
    const std::lock_guard<std::mutex> lock(fTables.fTablesLock);
    if (const TNATInfo* app = fTables.fNATTable->FindByNADAlias(AInfo.DestNAD))
      CopyTarget(TTableKind::tkNAT, *app, count);
  }
  if (count > 0)
    ForwardFrame(fTargets[0], nullptr, AFrame, false);
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

  // Looked up again for every send, so a static host name follows its DNS record.
  fResolvedIP = ResolveHostToIP(ADest.Host);
  // Rows get their address only here, on the listener thread: a row that held this address
  // when it was copied still holds it, and needs no second visit under the lock.
  if (fResolvedIP != ADest.IP)
    StoreResolvedIP(ADest, fResolvedIP);
  fTransport.SendDatagram(fResolvedIP, ADest.Port, AFrame);
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    TraceLine("Tx", fResolvedIP, ADest.Port, AFrame);
  fView.SetLed(AIsRequest ? TLamp::WANTx : TLamp::LANTx, TLedColor::Green);
}

void TRelayEngine::StoreResolvedIP(const TRouteTarget& ADest, const std::string& AIP) {
  const std::lock_guard<std::mutex> lock(fTables.fTablesLock);
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

void TRelayEngine::SendPushAck(const std::string& APeerIP, std::uint16_t APeerPort,
                               std::int32_t ANAD) {
  const auto ack = BuildPushAck(ANAD);
  fTransport.SendDatagram(APeerIP, APeerPort, ack);
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    TraceLine("Tx", APeerIP, APeerPort, ack);
  fView.SetLed(TLamp::WANTx, TLedColor::Green);
}

}  // namespace kelvo
