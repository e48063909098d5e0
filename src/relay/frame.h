// Relay frame layout, checksum, validity test and the push acknowledgement.
//
//   offset  0    2       4            8             12    13      14         total-2
//          +----+-------+------------+-------------+-----+-------+----------+--------+
//          |AA55|length | source NAD | dest. NAD   | dir | format| payload  | chksum |
//          +----+-------+------------+-------------+-----+-------+----------+--------+
//   length = payload + 2, total = length + 14; multi-byte fields little-endian.
//
// Pure functions on byte spans; safe to call from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvo {

inline constexpr std::uint8_t kStartByte1 = 0xAA;
inline constexpr std::uint8_t kStartByte2 = 0x55;
inline constexpr std::size_t kFrameHeaderSize = 14;
inline constexpr std::size_t kMinFrameSize = 16;
inline constexpr std::uint16_t kMinLengthField = 2;
inline constexpr std::uint16_t kMaxLengthField = 65521;
inline constexpr std::size_t kPushAckSize = 22;

inline constexpr std::size_t kOffsetLength = 2;
inline constexpr std::size_t kOffsetSourceNAD = 4;
inline constexpr std::size_t kOffsetDestNAD = 8;
inline constexpr std::size_t kOffsetDirection = 12;
inline constexpr std::size_t kOffsetFormat = 13;

enum class TFrameClass { fcRequest, fcBroadcastRequest, fcReply, fcPush };

// Header fields and verdict of one frame.
struct TFrameInfo {
  std::uint16_t Length = 0;  // the length field
  std::int32_t SourceNAD = 0;
  std::int32_t DestNAD = 0;
  std::uint8_t Direction = 0;
  std::uint8_t Format = 0;
  std::uint16_t StoredChecksum = 0;
  bool Valid = false;
  TFrameClass Class = TFrameClass::fcRequest;  // meaningful only when Valid

  std::size_t Total() const { return std::size_t{Length} + kFrameHeaderSize; }
};

// Weighted 16-bit sum over the first ACount bytes. A null sequence or a count of 0 or less
// yields AInitial unchanged.
std::uint16_t CalcChecksum(const std::uint8_t* ABytes, std::int32_t ACount, std::uint16_t AInitial);

// Reads the length field of a buffer that holds at least 4 bytes.
std::uint16_t ReadLengthField(std::span<const std::uint8_t> ABytes);

// Tests and classifies one frame. AFrame must hold at least Total() bytes as given by its
// length field, and the length field must lie within [kMinLengthField, kMaxLengthField].
TFrameInfo ParseFrame(std::span<const std::uint8_t> AFrame);

// The 22-byte acknowledgement of a push frame from APushSourceNAD, checksum filled in.
std::array<std::uint8_t, kPushAckSize> BuildPushAck(std::int32_t APushSourceNAD);

// Recomputes the checksum over all but the last two bytes and stores it there.
void RefreshChecksum(std::span<std::uint8_t> AFrame);

std::int32_t ReadNAD(std::span<const std::uint8_t> AFrame, std::size_t AOffset);
void WriteNAD(std::span<std::uint8_t> AFrame, std::size_t AOffset, std::int32_t ANAD);

}  // namespace kelvo
