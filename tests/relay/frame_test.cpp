#include "relay/frame.h"

#include <gtest/gtest.h>

#include "relay/relay_test_support.h"

namespace kelvo {
namespace {

using test::Hex;
using test::MakeFrame;
using test::TBytes;

std::uint16_t Checksum(const TBytes& ABytes, std::int32_t ACount, std::uint16_t AInitial = 0) {
  return CalcChecksum(ABytes.data(), ACount, AInitial);
}

TEST(Checksum, WorkedExampleAbc) {
  const TBytes abc = {0x61, 0x62, 0x63};
  EXPECT_EQ(Checksum(abc, 3), 0x7F00);
}

TEST(Checksum, EmptyOrNegativeRangeGivesInitialValue) {
  const TBytes abc = {0x61, 0x62, 0x63};
  EXPECT_EQ(CalcChecksum(nullptr, 3, 0x1234), 0x1234);
  EXPECT_EQ(Checksum(abc, 0, 0xBEEF), 0xBEEF);
  EXPECT_EQ(Checksum(abc, -5, 7), 7);
}

TEST(Checksum, InitialValueIsAddedAndSumWrapsAt16Bits) {
  const TBytes abc = {0x61, 0x62, 0x63};
  EXPECT_EQ(Checksum(abc, 3, 0x8100), static_cast<std::uint16_t>(0x7F00 + 0x8100));
}

TEST(Checksum, WeightsRepeatEvery16Bytes) {
  // Only bytes 0 and 16 differ from 0x5A, so each contributes b ^ 0x5A times its weight.
  TBytes bytes(17, 0x5A);
  bytes[0] = 0x5B;
  EXPECT_EQ(Checksum(bytes, 17), 0x049D);
  bytes[16] = 0x5B;
  EXPECT_EQ(Checksum(bytes, 17), 2 * 0x049D);
  bytes[0] = 0x5A;
  bytes[15] = 0x5B;
  EXPECT_EQ(Checksum(bytes, 16), 0x6BBF);
}

TEST(PushAck, BytesForWorkedNADs) {
  const auto ack1000 = BuildPushAck(1000);
  EXPECT_EQ(TBytes(ack1000.begin(), ack1000.end()),
            Hex("AA 55 08 00 03 00 00 00 E8 03 00 00 00 00 32 17 04 01 00 01 92 CD"));
  const auto ack1 = BuildPushAck(1);
  EXPECT_EQ(ack1[20], 0x44);
  EXPECT_EQ(ack1[21], 0x22);
  const auto ack0 = BuildPushAck(0);
  EXPECT_EQ(ack0[20], 0x9F);
  EXPECT_EQ(ack0[21], 0xED);
}

TEST(PushAck, IsItselfAValidRequest) {
  const auto ack = BuildPushAck(-1);
  const TFrameInfo info = ParseFrame(ack);
  EXPECT_TRUE(info.Valid);
  EXPECT_EQ(info.Class, TFrameClass::fcRequest);
  EXPECT_EQ(info.DestNAD, -1);
  EXPECT_EQ(info.Total(), kPushAckSize);
}

TEST(ParseFrame, ReadsFieldsLittleEndian) {
  const TBytes frame = MakeFrame(0x12345678, static_cast<std::int32_t>(0xF1E2D3C4), 7, {1, 2, 3});
  const TFrameInfo info = ParseFrame(frame);
  ASSERT_TRUE(info.Valid);
  EXPECT_EQ(info.Length, 5);
  EXPECT_EQ(info.Total(), 19u);
  EXPECT_EQ(info.SourceNAD, 0x12345678);
  EXPECT_EQ(static_cast<std::uint32_t>(info.DestNAD), 0xF1E2D3C4u);
  EXPECT_EQ(info.Direction, 7);
  EXPECT_EQ(info.StoredChecksum, frame[17] | (frame[18] << 8));
}

TEST(ParseFrame, Classification) {
  EXPECT_EQ(ParseFrame(MakeFrame(5, 0, 1)).Class, TFrameClass::fcPush);
  EXPECT_EQ(ParseFrame(MakeFrame(5, 0, 2)).Class, TFrameClass::fcReply);
  EXPECT_EQ(ParseFrame(MakeFrame(5, 9, 1)).Class, TFrameClass::fcReply);
  EXPECT_EQ(ParseFrame(MakeFrame(5, 0, 255)).Class, TFrameClass::fcReply);
  EXPECT_EQ(ParseFrame(MakeFrame(5, 0, 0)).Class, TFrameClass::fcBroadcastRequest);
  EXPECT_EQ(ParseFrame(MakeFrame(5, 9, 0)).Class, TFrameClass::fcRequest);
}

TEST(ParseFrame, SmallestFrameHasEmptyPayload) {
  const TBytes frame = MakeFrame(1, 2, 0);
  ASSERT_EQ(frame.size(), kMinFrameSize);
  EXPECT_TRUE(ParseFrame(frame).Valid);
  TBytes header(frame.begin(), frame.begin() + 14);
  EXPECT_EQ(frame[14] | (frame[15] << 8), Checksum(header, 14));
}

TEST(ParseFrame, InvalidFrames) {
  TBytes format1 = MakeFrame(1, 2, 0, {}, 1);  // checksum right, format byte wrong
  EXPECT_FALSE(ParseFrame(format1).Valid);

  // Every header byte is covered, start bytes and length field included.
  for (std::size_t offset : {0u, 1u, 2u, 5u, 9u, 12u, 15u}) {
    TBytes frame = MakeFrame(1, 2, 0, {9, 9});
    frame[offset] ^= 0x01;
    EXPECT_FALSE(ParseFrame(frame).Valid) << "offset " << offset;
  }

  TBytes shortSpan = MakeFrame(1, 2, 0, {1, 2, 3});
  shortSpan.pop_back();
  EXPECT_FALSE(ParseFrame(shortSpan).Valid);
}

TEST(FrameFields, WriteNADAndRefreshChecksum) {
  TBytes frame = MakeFrame(5, 1001, 0, {1, 2});
  WriteNAD(frame, kOffsetSourceNAD, 6);
  EXPECT_FALSE(ParseFrame(frame).Valid);
  RefreshChecksum(frame);
  EXPECT_TRUE(ParseFrame(frame).Valid);
  EXPECT_EQ(ReadNAD(frame, kOffsetSourceNAD), 6);
  EXPECT_EQ(frame, Hex("AA 55 04 00 06 00 00 00 E9 03 00 00 00 00 01 02 50 0D"));
}

}  // namespace
}  // namespace kelvo
