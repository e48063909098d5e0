// Reception, reassembly and routing: turns received datagrams into frames, checks and counts
// them, and forwards them between applications and controllers.
//
// Threads: udpLocalUDPRead runs on the listener thread only; ResetCommState, PrepareListening
// and SetMaxRecBufferTotal run on the thread that restarts the endpoint while it is closed.
// Calls of these never overlap. Everything marked "any thread" may be called concurrently
// with them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "base/thread_check.h"
#include "net/datagram_transport.h"
#include "relay/frame.h"
#include "relay/receive_states.h"
#include "relay/relay_view.h"
#include "tables/address_tables.h"
#include "tables/host_resolver.h"

namespace kelvo {

class TMyLog;

// Hard bound on the bytes kept for one sender between datagrams: several of the largest frames
// and datagrams, so only a stream that piles up leftovers (junk after every frame) reaches it.
inline constexpr std::size_t kMaxRecBuffer = std::size_t{256} * 1024;
// Bound on what the partial frames and leftovers of all senders hold together (bookkeeping
// included, see kReceiveStateOverhead). Beyond it the senders whose bytes have waited longest
// lose them first.
inline constexpr std::size_t kMaxRecBufferTotal = std::size_t{64} * 1024 * 1024;

class TRelayEngine {
 public:
  // AResolver looks static controllers' host names up; null: the engine runs one of its own
  // over the system resolver.
  TRelayEngine(TAddressTables& ATables, TDatagramTransport& ATransport, TRelayView& AView,
               TMyLog& ALog, THostResolver* AResolver = nullptr);
  TRelayEngine(const TRelayEngine&) = delete;
  TRelayEngine& operator=(const TRelayEngine&) = delete;
  ~TRelayEngine();

  // Listener thread: handles one received datagram of at least one byte. Never throws: a
  // failure while routing ends the handling of this datagram only.
  void udpLocalUDPRead(std::span<const std::uint8_t> ABytes, const std::string& APeerIP,
                       std::uint16_t APeerPort);

  // Called by StartListening while the endpoint is closed: every sender's state back to
  // csReady, their buffers keep their bytes.
  void ResetCommState();
  // Called by StartListening while the endpoint is closed, with the address (empty or
  // "0.0.0.0": every local address) and port it is about to bind. Nothing is ever sent there:
  // for every local address this reads the machine's adapters, and 127.0.0.0/8 always counts.
  // Also starts looking up the static controllers' host names, so that their first frames
  // find an address.
  void PrepareListening(const std::string& ABindAddress, std::uint16_t ABindPort);
  // As ResetCommState (tests): the total bound on all senders' waiting bytes.
  void SetMaxRecBufferTotal(std::size_t ABytes) { fReceiveStates.SetTotalBound(ABytes); }

  // Any thread: frames counted since the last call; reads and zeroes in one step.
  std::int32_t TakeMsgCount() { return fMsgCounter.exchange(0); }
  // Any thread.
  std::int32_t ReqCount() const { return fReqCounter.load(); }
  std::int32_t AckCount() const { return fAckCounter.load(); }
  // Any thread: frames dropped because their sender was new and its table full.
  std::int32_t TableFullCount() const { return fTableFullCounter.load(); }
  // Any thread: sends left out because they would have gone back to where the frame came
  // from, or to the relay's own address.
  std::int32_t LoopDropCount() const { return fLoopDropCounter.load(); }
  bool CreateDebugLogs() const { return fCreateDebugLogs.load(); }
  void SetCreateDebugLogs(bool AValue) { fCreateDebugLogs.store(AValue); }

  // Listener thread (tests, fuzzer): the reassembly state of one sender, and of all together.
  // BufferedBytes(ip, port) never exceeds kMaxRecBuffer between datagrams; a sender without
  // bytes waiting has no state kept (csReady, 0 bytes).
  TCommState CommState(const std::string& APeerIP, std::uint16_t APeerPort);
  std::size_t BufferedBytes(const std::string& APeerIP, std::uint16_t APeerPort);
  std::size_t BufferedBytes() const { return fReceiveStates.BufferedBytes(); }
  std::size_t SendersWaiting() const { return fReceiveStates.Count(); }
  std::size_t ReceiveStatesCost() const { return fReceiveStates.Cost(); }

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
  // The sender of the datagram being handled.
  struct TPeer {
    const std::string* IP = nullptr;
    std::uint16_t Port = 0;
  };

  static void AppendDatagram(TReceiveState& AState, std::span<const std::uint8_t> ABytes);
  static void LimitBuffer(TReceiveState& AState);
  static void SearchStart(TReceiveState& AState);
  void FrameLoop(TReceiveState& AState);
  void TraceLine(const char* ADirection, const std::string& AIP, std::uint16_t APort,
                 std::span<const std::uint8_t> ABytes);
  // Writes a line that says why something was dropped; the caller has checked that debug
  // logs are on.
  void DropLine(const std::string& AText);
  // "Drop IP:PORT" of the sender, and " NAD a to b" while a frame is routed.
  std::string DropPrefix() const;
  // With debug logs on, one line: the frame whose routing failed, and why. Ends the routing of
  // that frame.
  void RouteFailureLine(const char* AReason);

  void HandleFrame(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo);
  void RoutePush(const TFrameInfo& AInfo);
  void RouteRequest(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo);
  void RouteReply(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo);
  const TNATInfoList* TableOf(TTableKind AKind) const REQUIRES(fTables.LockCapability());
  TRouteTarget& CopyTarget(TTableKind AKind, const TNATInfo& AEntry, std::size_t& ACount)
      REQUIRES(fTables.LockCapability());
  void ForwardFrame(const TRouteTarget& ADest, const TRouteTarget* AApp,
                    std::span<std::uint8_t> AFrame, bool AIsRequest);
  // fResolvedIP := the address to send to for AHost; throws TResolveError when a host name
  // has no address yet.
  void ResolveDestination(const std::string& AHost, std::uint16_t APort);
  void StoreResolvedIP(const TRouteTarget& ADest, const std::string& AIP);
  void SendPushAck(std::int32_t ANAD);
  // True, after a debug-log line, when a datagram to AIP:APort would come straight back to
  // the relay, or (unless AToSender) go back to the sender of the datagram being handled.
  bool WouldLoop(const std::string& AIP, std::uint16_t APort, bool AToSender);
  // Whether a datagram to AAddress on the bound port reaches the relay's own endpoint.
  bool IsOwnAddress(std::uint32_t AAddress) const;
  // Counts a frame whose new sender found ATableName full and, with debug logs on, says so.
  void DropForFullTable(const char* ATableName);

  TAddressTables& fTables;
  TDatagramTransport& fTransport;
  TRelayView& fView;
  TMyLog& fLog;
  std::unique_ptr<THostResolver> fOwnResolver;
  THostResolver& fResolver;

  // Listener thread only: the senders with bytes waiting, and the state a sender without
  // any starts from.
  TReceiveStates fReceiveStates{kMaxRecBufferTotal};
  TReceiveState fScratch;
  TReceiveStates::TDropReport fOnStateDropped;
  TPeer fPeer;                         // listener thread only
  const TFrameInfo* fFrame = nullptr;  // listener thread only: the frame being routed
  TThreadOwner fListener;  // the thread that udpLocalUDPRead belongs to until the next restart

  // Set while the endpoint is closed, read by the listener thread.
  std::uint16_t fBindPort = 0;  // 0: not known, nothing counts as the relay's own address
  bool fBindAny = false;
  std::vector<std::uint32_t> fOwnAddresses;  // sorted

  std::atomic<std::int32_t> fMsgCounter{0};
  std::atomic<std::int32_t> fReqCounter{0};        // written by the listener thread only
  std::atomic<std::int32_t> fAckCounter{0};        // written by the listener thread only
  std::atomic<std::int32_t> fTableFullCounter{0};  // written by the listener thread only
  std::atomic<std::int32_t> fLoopDropCounter{0};   // written by the listener thread only
  std::atomic<bool> fCreateDebugLogs{false};

  // Listener thread only: scratch space reused for every frame so that routing does not
  // allocate in the usual case.
  std::vector<TRouteTarget> fTargets;
  TRouteTarget fApp;
  std::string fResolvedIP;
};

}  // namespace kelvo
