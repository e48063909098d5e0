#include "relay/frame.h"

namespace kelvo {

namespace {

constexpr std::array<std::uint16_t, 16> kWeights = {
    0x049D, 0x0C07, 0x1591, 0x1ACF, 0x1D4B, 0x202D, 0x2507, 0x2B4B,
    0x34A5, 0x38C5, 0x3D3F, 0x4445, 0x4D0F, 0x538F, 0x5FB3, 0x6BBF,
};

std::uint16_t ReadU16(std::span<const std::uint8_t> ABytes, std::size_t AOffset) {
  return static_cast<std::uint16_t>(ABytes[AOffset] | (ABytes[AOffset + 1] << 8));
}

void WriteU16(std::span<std::uint8_t> ABytes, std::size_t AOffset, std::uint16_t AValue) {
  ABytes[AOffset] = static_cast<std::uint8_t>(AValue & 0xFF);
  ABytes[AOffset + 1] = static_cast<std::uint8_t>(AValue >> 8);
}

TFrameClass Classify(const TFrameInfo& AInfo) {
  if (AInfo.Direction == 1 && AInfo.DestNAD == 0)
    return TFrameClass::fcPush;
  if (AInfo.Direction == 0)
    return AInfo.DestNAD == 0 ? TFrameClass::fcBroadcastRequest : TFrameClass::fcRequest;
  return TFrameClass::fcReply;
}

}  // namespace

std::uint16_t CalcChecksum(const std::uint8_t* ABytes, std::int32_t ACount,
                           std::uint16_t AInitial) {
  if (ABytes == nullptr || ACount <= 0)
    return AInitial;
  // Unsigned 32-bit accumulation wraps exactly like the 16-bit sum once truncated.
  std::uint32_t acc = AInitial;
  const auto count = static_cast<std::size_t>(ACount);
  for (std::size_t i = 0; i < count; ++i)
    acc += static_cast<std::uint32_t>(ABytes[i] ^ 0x5Au) * kWeights[i & 15];
  return static_cast<std::uint16_t>(acc);
}

std::uint16_t ReadLengthField(std::span<const std::uint8_t> ABytes) {
  return ReadU16(ABytes, kOffsetLength);
}

TFrameInfo ParseFrame(std::span<const std::uint8_t> AFrame) {
  TFrameInfo info;
  if (AFrame.size() < kFrameHeaderSize)
    return info;
  info.Length = ReadLengthField(AFrame);
  // A head that describes no frame, or a span that is too short for it, is never valid.
  if (info.Length < kMinLengthField || info.Length > kMaxLengthField ||
      AFrame.size() < info.Total())
    return info;
  const std::size_t total = info.Total();
  info.SourceNAD = ReadNAD(AFrame, kOffsetSourceNAD);
  info.DestNAD = ReadNAD(AFrame, kOffsetDestNAD);
  info.Direction = AFrame[kOffsetDirection];
  info.Format = AFrame[kOffsetFormat];
  info.StoredChecksum = ReadU16(AFrame, total - 2);
  info.Valid =
      info.Format == 0 && AFrame[0] == kStartByte1 && AFrame[1] == kStartByte2 &&
      CalcChecksum(AFrame.data(), static_cast<std::int32_t>(total - 2), 0) == info.StoredChecksum;
  if (info.Valid)
    info.Class = Classify(info);
  return info;
}

std::array<std::uint8_t, kPushAckSize> BuildPushAck(std::int32_t APushSourceNAD) {
  std::array<std::uint8_t, kPushAckSize> ack = {
      kStartByte1, kStartByte2, 8,    0,  // length 8: six payload bytes and the checksum
      3,           0,           0,    0,  // source NAD 3
      0,           0,           0,    0,  // destination NAD, filled in below
      0,           0,                     // direction and format
      0x32,        0x17,        0x04, 0x01, 0x00, 0x01, 0, 0,  // checksum
  };
  WriteNAD(ack, kOffsetDestNAD, APushSourceNAD);
  RefreshChecksum(ack);
  return ack;
}

void RefreshChecksum(std::span<std::uint8_t> AFrame) {
  if (AFrame.size() < 2)
    return;
  const std::size_t covered = AFrame.size() - 2;
  WriteU16(AFrame, covered, CalcChecksum(AFrame.data(), static_cast<std::int32_t>(covered), 0));
}

std::int32_t ReadNAD(std::span<const std::uint8_t> AFrame, std::size_t AOffset) {
  const std::uint32_t value = static_cast<std::uint32_t>(AFrame[AOffset]) |
                              (static_cast<std::uint32_t>(AFrame[AOffset + 1]) << 8) |
                              (static_cast<std::uint32_t>(AFrame[AOffset + 2]) << 16) |
                              (static_cast<std::uint32_t>(AFrame[AOffset + 3]) << 24);
  return static_cast<std::int32_t>(value);
}

void WriteNAD(std::span<std::uint8_t> AFrame, std::size_t AOffset, std::int32_t ANAD) {
  const auto value = static_cast<std::uint32_t>(ANAD);
  AFrame[AOffset] = static_cast<std::uint8_t>(value & 0xFF);
  AFrame[AOffset + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  AFrame[AOffset + 2] = static_cast<std::uint8_t>((value >> 16) & 0xFF);
  AFrame[AOffset + 3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace kelvo
