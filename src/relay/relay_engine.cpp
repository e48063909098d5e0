// Reception and reassembly: datagrams in, checked and counted frames out to routing. Each
// sender's bytes are reassembled apart from every other sender's.
#include "relay/relay_engine.h"

#include <cstring>
#include <exception>
#include <new>

#include "diag/my_log.h"
#include "diag/trace.h"
#include "tables/nat_info.h"

namespace kelvo {

namespace {

// Counters wrap like the 32-bit fields they are shown from, without signed overflow.
std::int32_t Increment(std::atomic<std::int32_t>& ACounter) {
  const auto previous = static_cast<std::uint32_t>(ACounter.fetch_add(1));
  return static_cast<std::int32_t>(previous + 1u);
}

}  // namespace

TRelayEngine::TRelayEngine(TAddressTables& ATables, TDatagramTransport& ATransport,
                           TRelayView& AView, TMyLog& ALog, THostResolver* AResolver)
    : fTables(ATables),
      fTransport(ATransport),
      fView(AView),
      fLog(ALog),
      fOwnResolver(AResolver != nullptr ? nullptr : std::make_unique<THostResolver>()),
      fResolver(AResolver != nullptr ? *AResolver : *fOwnResolver) {
  fScratch.fRecBuffer.reserve(std::size_t{16} * 1024);
  fTargets.reserve(8);
  fOnStateDropped = [this](const std::string& AIP, std::uint16_t APort, std::size_t ABytes) {
    if (fCreateDebugLogs.load(std::memory_order_relaxed))
      DropLine("Drop " + IPPortToStr(AIP, APort) + " " + std::to_string(ABytes) +
               " bytes waiting for the rest of a frame: the receive buffers are full");
  };
}

// Out of line, so that the resolver's worker is stopped here, after the listener is gone.
TRelayEngine::~TRelayEngine() = default;

void TRelayEngine::ResetCommState() {
  fReceiveStates.ResetAll();
  // The endpoint is closed: its next listener is a new thread.
  fListener.Release();
}

void TRelayEngine::udpLocalUDPRead(std::span<const std::uint8_t> ABytes, const std::string& APeerIP,
                                   std::uint16_t APeerPort) {
  KELVO_ASSERT_THREAD(fListener, "TRelayEngine::udpLocalUDPRead: listener thread only");
  fPeer.IP = &APeerIP;
  fPeer.Port = APeerPort;
  // A sender without bytes waiting starts from the scratch state; only what is left of its
  // datagram afterwards is kept for it.
  TReceiveState* state = fReceiveStates.Find(APeerIP, APeerPort);
  const bool known = state != nullptr;
  if (!known) {
    fScratch.fRecBuffer.clear();
    fScratch.fRecStart = 0;
    fScratch.fCommState = TCommState::csReady;
    state = &fScratch;
  }
  try {
    AppendDatagram(*state, ABytes);
    if (fCreateDebugLogs.load(std::memory_order_relaxed))
      TraceLine("Rx", APeerIP, APeerPort, ABytes);
    // One search and one frame loop per datagram: bytes behind junk, and the rest of a
    // datagram whose frame failed to route, wait for this sender's next datagram and are then
    // handled as that datagram's frames.
    if (state->fCommState == TCommState::csReady)
      SearchStart(*state);
    if (state->fCommState == TCommState::csReceiving)
      FrameLoop(*state);
  } catch (...) {
    // Routing failed (no address for a host, a send that failed): the rest of this sender's
    // buffer waits for its next datagram.
    state->fCommState = TCommState::csReady;
  }
  LimitBuffer(*state);
  try {
    if (known)
      fReceiveStates.Changed(fOnStateDropped);
    else
      fReceiveStates.Adopt(APeerIP, APeerPort, fScratch, fOnStateDropped);
  } catch (const std::bad_alloc&) {
    // No memory for this sender's leftovers: they are lost, the relay goes on.
  }
  fPeer = {};
}

void TRelayEngine::LimitBuffer(TReceiveState& AState) {
  // Ordinary traffic never comes near the bound: an incomplete frame is under 64 KiB, and
  // leftovers only pile up when every datagram leaves more behind junk (or behind failing
  // frames) than the one search per datagram takes away. Beyond it the oldest bytes go, down to
  // half the bound so that this happens rarely; what stays is searched with the next datagram.
  if (AState.BufferedBytes() <= kMaxRecBuffer)
    return;
  AState.fRecStart = AState.fRecBuffer.size() - kMaxRecBuffer / 2;
  AState.fCommState = TCommState::csReady;
}

void TRelayEngine::AppendDatagram(TReceiveState& AState, std::span<const std::uint8_t> ABytes) {
  // Consumed bytes are dropped once they outweigh the live ones, so each byte is moved a
  // bounded number of times however long leftovers wait.
  std::vector<std::uint8_t>& buffer = AState.fRecBuffer;
  if (AState.fRecStart == buffer.size()) {
    buffer.clear();
    AState.fRecStart = 0;
  } else if (AState.fRecStart > 0 && AState.fRecStart >= AState.BufferedBytes()) {
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(AState.fRecStart));
    AState.fRecStart = 0;
  }
  buffer.insert(buffer.end(), ABytes.begin(), ABytes.end());
}

void TRelayEngine::SearchStart(TReceiveState& AState) {
  const std::uint8_t* base = AState.fRecBuffer.data() + AState.fRecStart;
  const std::size_t count = AState.BufferedBytes();
  std::size_t i = 0;
  while (i + 1 < count) {
    const void* hit = std::memchr(base + i, kStartByte1, count - 1 - i);
    if (hit == nullptr)
      break;
    i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - base);
    if (base[i + 1] == kStartByte2) {
      AState.fRecStart += i;
      AState.fCommState = TCommState::csReceiving;
      return;
    }
    ++i;
  }
  // No start pair: everything goes, a lone final 0xAA included.
  AState.fRecStart = AState.fRecBuffer.size();
}

void TRelayEngine::FrameLoop(TReceiveState& AState) {
  while (AState.BufferedBytes() >= kFrameHeaderSize) {
    std::uint8_t* head = AState.fRecBuffer.data() + AState.fRecStart;
    if (head[0] != kStartByte1 || head[1] != kStartByte2)
      break;
    const std::uint16_t length = ReadLengthField(std::span<const std::uint8_t>(head, 4));
    if (length < kMinLengthField || length > kMaxLengthField) {
      // This head can never become a frame; waiting on it would stall the sender for good.
      AState.fRecStart += 2;
      AState.fCommState = TCommState::csReady;
      SearchStart(AState);
      if (AState.fCommState != TCommState::csReceiving)
        break;
      continue;
    }
    const std::size_t total = std::size_t{length} + kFrameHeaderSize;
    if (AState.BufferedBytes() < total)
      break;  // incomplete: the rest comes with this sender's later datagrams
    const std::span<std::uint8_t> frame(head, total);
    const TFrameInfo info = ParseFrame(frame);
    // Removed whether valid or not. Routing rewrites the removed bytes in place: nothing
    // touches the buffer until this sender's next datagram is appended.
    AState.fRecStart += total;
    if (info.Valid)
      HandleFrame(frame, info);
    AState.fCommState = TCommState::csReady;
  }
}

TCommState TRelayEngine::CommState(const std::string& APeerIP, std::uint16_t APeerPort) {
  const TReceiveState* state = fReceiveStates.Find(APeerIP, APeerPort);
  return state != nullptr ? state->fCommState : TCommState::csReady;
}

std::size_t TRelayEngine::BufferedBytes(const std::string& APeerIP, std::uint16_t APeerPort) {
  const TReceiveState* state = fReceiveStates.Find(APeerIP, APeerPort);
  return state != nullptr ? state->BufferedBytes() : 0;
}

void TRelayEngine::HandleFrame(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo) {
  fMsgCounter.fetch_add(1, std::memory_order_relaxed);
  const bool isRequest =
      AInfo.Class == TFrameClass::fcRequest || AInfo.Class == TFrameClass::fcBroadcastRequest;
  if (isRequest) {
    fView.ReqCountChanged(Increment(fReqCounter));
    fView.SetLed(TLamp::LANRx, TLedColor::Red);
  } else {
    fView.AckCountChanged(Increment(fAckCounter));
    fView.SetLed(TLamp::WANRx, TLedColor::Red);
  }
  fFrame = &AInfo;
  try {
    switch (AInfo.Class) {
      case TFrameClass::fcPush:
        RoutePush(AInfo);
        break;
      case TFrameClass::fcRequest:
      case TFrameClass::fcBroadcastRequest:
        RouteRequest(AFrame, AInfo);
        break;
      case TFrameClass::fcReply:
        RouteReply(AFrame, AInfo);
        break;
    }
  } catch (const TResolveError&) {
    fFrame = nullptr;
    throw;  // its line was written where it arose, with the host it waits for
  } catch (const std::exception& error) {
    RouteFailureLine(error.what());
    throw;
  } catch (...) {
    RouteFailureLine("an unknown failure");
    throw;
  }
  fFrame = nullptr;
}

std::string TRelayEngine::DropPrefix() const {
  std::string text = "Drop " + IPPortToStr(*fPeer.IP, fPeer.Port);
  if (fFrame != nullptr)
    text += " NAD " + std::to_string(fFrame->SourceNAD) + " to " + std::to_string(fFrame->DestNAD);
  return text;
}

void TRelayEngine::RouteFailureLine(const char* AReason) {
  if (fCreateDebugLogs.load(std::memory_order_relaxed))
    DropLine(DropPrefix() + ": " + AReason);
  fFrame = nullptr;
}

void TRelayEngine::TraceLine(const char* ADirection, const std::string& AIP, std::uint16_t APort,
                             std::span<const std::uint8_t> ABytes) {
  // A log that cannot be written loses its line; relaying goes on regardless.
  try {
    fLog.AddLog(FormatTraceLine(ADirection, AIP, APort, ABytes));
  } catch (const std::exception&) {
  }
}

void TRelayEngine::DropLine(const std::string& AText) {
  try {
    fLog.AddLog(AText);
  } catch (const std::exception&) {
  }
}

}  // namespace kelvo
