#include "diag/trace.h"

#include <charconv>

namespace kelvo {

namespace {

constexpr std::size_t kPeerWidth = 21;

void AppendPeer(std::string& AOut, const std::string& AIP, std::uint16_t APort) {
  const std::size_t Start = AOut.size();
  AOut.append(AIP).push_back(':');
  char Digits[8];
  const auto Res = std::to_chars(Digits, Digits + sizeof Digits, APort);
  AOut.append(Digits, Res.ptr);
  const std::size_t Len = AOut.size() - Start;
  if (Len < kPeerWidth) {
    AOut.append(kPeerWidth - Len, ' ');
  }
}

void AppendHex(std::string& AOut, std::span<const std::uint8_t> ABytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t Start = AOut.size();
  AOut.resize(Start + 2 * ABytes.size());
  char* P = AOut.data() + Start;
  for (const std::uint8_t B : ABytes) {
    *P++ = kDigits[B >> 4];
    *P++ = kDigits[B & 0x0F];
  }
}

}  // namespace

std::string IPPortToStr(const std::string& AIP, std::uint16_t APort) {
  std::string Result;
  Result.reserve(kPeerWidth + AIP.size());
  AppendPeer(Result, AIP, APort);
  return Result;
}

std::string BytesToHex(std::span<const std::uint8_t> ABytes) {
  std::string Result;
  AppendHex(Result, ABytes);
  return Result;
}

std::string FormatTraceLine(const char* ADirection, const std::string& AIP, std::uint16_t APort,
                            std::span<const std::uint8_t> ABytes) {
  std::string Result;
  Result.reserve(2 + 1 + kPeerWidth + AIP.size() + 1 + 2 * ABytes.size());
  Result.append(ADirection).push_back(' ');
  const std::size_t PeerStart = Result.size();
  AppendPeer(Result, AIP, APort);
  // The peer column is cut to its width, as "%.21s" would.
  if (Result.size() - PeerStart > kPeerWidth) {
    Result.resize(PeerStart + kPeerWidth);
  }
  Result.push_back(' ');
  AppendHex(Result, ABytes);
  return Result;
}

}  // namespace kelvo
