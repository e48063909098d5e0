// Reception, reassembly and routing: turns received datagrams into frames, checks and counts
// them, and forwards them between applications and controllers.
//
// Threads: udpLocalUDPRead and ResetCommState run on the listener thread only (or, while the
// endpoint is closed, on the thread that restarts it); calls never overlap. Everything marked
// "any thread" may be called concurrently with them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "relay/datagram_transport.h"
#include "relay/frame.h"
#include "relay/relay_view.h"
#include "tables/address_tables.h"

namespace kelvo {

class TMyLog;

enum class TCommState { csReady = 0, csWaiting = 1, csReceiving = 2 };

// Hard bound on the bytes kept in fRecBuffer between datagrams: several of the largest frames
// and datagrams, so only a stream that piles up leftovers (junk after every frame) reaches it.
inline constexpr std::size_t kMaxRecBuffer = 256 * 1024;

class TRelayEngine {
 public:
  TRelayEngine(TAddressTables& ATables, TDatagramTransport& ATransport, TRelayView& AView,
               TMyLog& ALog);
  TRelayEngine(const TRelayEngine&) = delete;
  TRelayEngine& operator=(const TRelayEngine&) = delete;

  // Listener thread: handles one received datagram of at least one byte. Never throws: a
  // failure while routing ends the handling of this datagram only.
  void udpLocalUDPRead(std::span<const std::uint8_t> ABytes, const std::string& APeerIP,
                       std::uint16_t APeerPort);

  // Called by StartListening while the endpoint is closed: state back to csReady, the buffer
  // keeps its bytes.
  void ResetCommState();

  // Any thread: frames counted since the last call; reads and zeroes in one step.
  std::int32_t TakeMsgCount() { return fMsgCounter.exchange(0); }
  // Any thread.
  std::int32_t ReqCount() const { return fReqCounter.load(); }
  std::int32_t AckCount() const { return fAckCounter.load(); }
  // Any thread: frames dropped because their sender was new and its table full.
  std::int32_t TableFullCount() const { return fTableFullCounter.load(); }
  bool CreateDebugLogs() const { return fCreateDebugLogs.load(); }
  void SetCreateDebugLogs(bool AValue) { fCreateDebugLogs.store(AValue); }

  // Listener thread (tests, fuzzer): the reassembly state. BufferedBytes() never exceeds
  // kMaxRecBuffer between datagrams.
  TCommState CommState() const { return fCommState; }
  std::size_t BufferedBytes() const { return fRecBuffer.size() - fRecStart; }

 private:
  enum class TTableKind { tkNAT, tkStatic, tkPush };
  // A destination copied out of its table under fTablesLock, so that resolving and sending
  // can run without the lock. Entry and Table identify the row for the IP write-back only;
  // they are never dereferenced without the lock and a fresh membership check.
  struct TRouteTarget {
    TTableKind Kind = TTableKind::tkNAT;
    const TNATInfoList* Table = nullptr;
    const TNATInfo* Entry = nullptr;
    std::int32_t NAD = 0;
    std::int32_t NADAlias = 0;
    std::string Host;
    std::string IP;  // the row's resolved address when it was copied
    std::uint16_t Port = 0;
  };

  void AppendDatagram(std::span<const std::uint8_t> ABytes);
  void LimitBuffer();
  void SearchStart();
  void FrameLoop(const std::string& APeerIP, std::uint16_t APeerPort);
  void TraceLine(const char* ADirection, const std::string& AIP, std::uint16_t APort,
                 std::span<const std::uint8_t> ABytes);

  void HandleFrame(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo,
                   const std::string& APeerIP, std::uint16_t APeerPort);
  void RoutePush(const TFrameInfo& AInfo, const std::string& APeerIP, std::uint16_t APeerPort);
  void RouteRequest(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo,
                    const std::string& APeerIP, std::uint16_t APeerPort);
  void RouteReply(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo);
  // Both require fTablesLock.
  const TNATInfoList* TableOf(TTableKind AKind) const;
  TRouteTarget& CopyTarget(TTableKind AKind, const TNATInfo& AEntry, std::size_t& ACount);
  void ForwardFrame(const TRouteTarget& ADest, const TRouteTarget* AApp,
                    std::span<std::uint8_t> AFrame, bool AIsRequest);
  void StoreResolvedIP(const TRouteTarget& ADest, const std::string& AIP);
  void SendPushAck(const std::string& APeerIP, std::uint16_t APeerPort, std::int32_t ANAD);
  // Counts a frame whose new sender found ATableName full and, with debug logs on, says so.
  void DropForFullTable(const char* ATableName, const std::string& APeerIP,
                        std::uint16_t APeerPort);

  TAddressTables& fTables;
  TDatagramTransport& fTransport;
  TRelayView& fView;
  TMyLog& fLog;

  std::vector<std::uint8_t> fRecBuffer;         // listener thread only; live bytes from fRecStart
  std::size_t fRecStart = 0;                    // listener thread only
  TCommState fCommState = TCommState::csReady;  // listener thread only
  std::atomic<std::int32_t> fMsgCounter{0};
  std::atomic<std::int32_t> fReqCounter{0};        // written by the listener thread only
  std::atomic<std::int32_t> fAckCounter{0};        // written by the listener thread only
  std::atomic<std::int32_t> fTableFullCounter{0};  // written by the listener thread only
  std::atomic<bool> fCreateDebugLogs{false};

  // Listener thread only: scratch space reused for every frame so that routing does not
  // allocate in the usual case.
  std::vector<TRouteTarget> fTargets;
  TRouteTarget fApp;
  std::string fResolvedIP;
};

}  // namespace kelvo
