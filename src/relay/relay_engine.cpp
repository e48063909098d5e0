// Reception and reassembly: datagrams in, checked and counted frames out to routing.
#include "relay/relay_engine.h"

#include <cstring>
#include <exception>

#include "diag/my_log.h"
#include "diag/trace.h"

namespace kelvo {

namespace {

// Counters wrap like the 32-bit fields they are shown from, without signed overflow.
std::int32_t Increment(std::atomic<std::int32_t>& ACounter) {
  const auto previous = static_cast<std::uint32_t>(ACounter.fetch_add(1));
  return static_cast<std::int32_t>(previous + 1u);
}

}  // namespace

TRelayEngine::TRelayEngine(TAddressTables& ATables, TDatagramTransport& ATransport,
                           TRelayView& AView, TMyLog& ALog)
    : fTables(ATables), fTransport(ATransport), fView(AView), fLog(ALog) {
  fRecBuffer.reserve(16 * 1024);
  fTargets.reserve(8);
}

void TRelayEngine::ResetCommState() {
  fCommState = TCommState::csReady;
}

void TRelayEngine::udpLocalUDPRead(std::span<const std::uint8_t> ABytes, const std::string& APeerIP,
                                   std::uint16_t APeerPort) {
  try {
    AppendDatagram(ABytes);
    if (fCreateDebugLogs.load(std::memory_order_relaxed))
      TraceLine("Rx", APeerIP, APeerPort, ABytes);
    // One search and one frame loop per datagram: bytes behind junk, and the rest of a
    // datagram whose frame failed to route, wait for the next datagram and are then handled as
    // that datagram's frames.
    if (fCommState == TCommState::csReady)
      SearchStart();
    if (fCommState == TCommState::csReceiving)
      FrameLoop(APeerIP, APeerPort);
  } catch (...) {
    // Routing failed (no address for a host, a send that failed): the rest of the buffer
    // waits for the next datagram.
    fCommState = TCommState::csReady;
  }
  LimitBuffer();
}

void TRelayEngine::LimitBuffer() {
  // Ordinary traffic never comes near the bound: an incomplete frame is under 64 KiB, and
  // leftovers only pile up when every datagram leaves more behind junk (or behind failing
  // frames) than the one search per datagram takes away. Beyond it the oldest bytes go, down to
  // half the bound so that this happens rarely; what stays is searched with the next datagram.
  if (BufferedBytes() <= kMaxRecBuffer)
    return;
  fRecStart = fRecBuffer.size() - kMaxRecBuffer / 2;
  fCommState = TCommState::csReady;
}

void TRelayEngine::AppendDatagram(std::span<const std::uint8_t> ABytes) {
  // Consumed bytes are dropped once they outweigh the live ones, so each byte is moved a
  // bounded number of times however long leftovers wait.
  if (fRecStart == fRecBuffer.size()) {
    fRecBuffer.clear();
    fRecStart = 0;
  } else if (fRecStart > 0 && fRecStart >= BufferedBytes()) {
    fRecBuffer.erase(fRecBuffer.begin(),
                     fRecBuffer.begin() + static_cast<std::ptrdiff_t>(fRecStart));
    fRecStart = 0;
  }
  fRecBuffer.insert(fRecBuffer.end(), ABytes.begin(), ABytes.end());
}

void TRelayEngine::SearchStart() {
  const std::uint8_t* base = fRecBuffer.data() + fRecStart;
  const std::size_t count = BufferedBytes();
  std::size_t i = 0;
  while (i + 1 < count) {
    const void* hit = std::memchr(base + i, kStartByte1, count - 1 - i);
    if (hit == nullptr)
      break;
    i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - base);
    if (base[i + 1] == kStartByte2) {
      fRecStart += i;
      fCommState = TCommState::csReceiving;
      return;
    }
    ++i;
  }
  // No start pair: everything goes, a lone final 0xAA included.
  fRecStart = fRecBuffer.size();
}

void TRelayEngine::FrameLoop(const std::string& APeerIP, std::uint16_t APeerPort) {
  while (BufferedBytes() >= kFrameHeaderSize) {
    std::uint8_t* head = fRecBuffer.data() + fRecStart;
    if (head[0] != kStartByte1 || head[1] != kStartByte2)
      break;
    const std::uint16_t length = ReadLengthField(std::span<const std::uint8_t>(head, 4));
    if (length < kMinLengthField || length > kMaxLengthField) {
      // This head can never become a frame; waiting on it would stall reception for good.
      fRecStart += 2;
      fCommState = TCommState::csReady;
      SearchStart();
      if (fCommState != TCommState::csReceiving)
        break;
      continue;
    }
    const std::size_t total = std::size_t{length} + kFrameHeaderSize;
    if (BufferedBytes() < total)
      break;  // incomplete: the rest comes with later datagrams
    const std::span<std::uint8_t> frame(head, total);
    const TFrameInfo info = ParseFrame(frame);
    // Removed whether valid or not. Routing rewrites the removed bytes in place: nothing
    // touches fRecBuffer until the next datagram is appended.
    fRecStart += total;
    if (info.Valid)
      HandleFrame(frame, info, APeerIP, APeerPort);
    fCommState = TCommState::csReady;
  }
}

void TRelayEngine::HandleFrame(std::span<std::uint8_t> AFrame, const TFrameInfo& AInfo,
                               const std::string& APeerIP, std::uint16_t APeerPort) {
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
  switch (AInfo.Class) {
    case TFrameClass::fcPush:
      RoutePush(AInfo, APeerIP, APeerPort);
      break;
    case TFrameClass::fcRequest:
    case TFrameClass::fcBroadcastRequest:
      RouteRequest(AFrame, AInfo, APeerIP, APeerPort);
      break;
    case TFrameClass::fcReply:
      RouteReply(AFrame, AInfo);
      break;
  }
}

void TRelayEngine::TraceLine(const char* ADirection, const std::string& AIP, std::uint16_t APort,
                             std::span<const std::uint8_t> ABytes) {
  // A log that cannot be written loses its line; relaying goes on regardless.
  try {
    fLog.AddLog(FormatTraceLine(ADirection, AIP, APort, ABytes));
  } catch (const std::exception&) {
  }
}

}  // namespace kelvo
