#include "diag/trace.h"

#include <charconv>

namespace kelvo {

namespace {

constexpr std::size_t kPeerWidth = 21;

void AppendPeer(std::string& AOut, const std::string& AIP, std::uint16_t APort) {
  const std::size_t start = AOut.size();
  AOut.append(AIP).push_back(':');
  char digits[8];
  const auto res = std::to_chars(digits, digits + sizeof digits, APort);
  AOut.append(digits, res.ptr);
  const std::size_t len = AOut.size() - start;
  if (len < kPeerWidth) {
    AOut.append(kPeerWidth - len, ' ');
  }
}

void AppendHex(std::string& AOut, std::span<const std::uint8_t> ABytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t start = AOut.size();
  AOut.resize(start + 2 * ABytes.size());
  char* p = AOut.data() + start;
  for (const std::uint8_t b : ABytes) {
    *p++ = kDigits[b >> 4];
    *p++ = kDigits[b & 0x0F];
  }
}

}  // namespace

std::string IPPortToStr(const std::string& AIP, std::uint16_t APort) {
  std::string result;
  result.reserve(kPeerWidth + AIP.size());
  AppendPeer(result, AIP, APort);
  return result;
}

std::string BytesToHex(std::span<const std::uint8_t> ABytes) {
  std::string result;
  AppendHex(result, ABytes);
  return result;
}

std::string FormatTraceLine(const char* ADirection, const std::string& AIP, std::uint16_t APort,
                            std::span<const std::uint8_t> ABytes) {
  std::string result;
  result.reserve(2 + 1 + kPeerWidth + AIP.size() + 1 + 2 * ABytes.size());
  result.append(ADirection).push_back(' ');
  const std::size_t peerStart = result.size();
  AppendPeer(result, AIP, APort);
  // The peer column is cut to its width, as "%.21s" would.
  if (result.size() - peerStart > kPeerWidth) {
    result.resize(peerStart + kPeerWidth);
  }
  result.push_back(' ');
  AppendHex(result, ABytes);
  return result;
}

}  // namespace kelvo
