// Reassembly of frames from datagrams: buffer handling, validity, counters and lamps.
#include <gtest/gtest.h>

#include "relay/relay_test_support.h"

namespace kelvo {
namespace {

using test::Concat;
using test::MakeFrame;
using test::TBytes;
using test::TEngineRig;

constexpr std::int32_t kController = 1000;

class ReceptionTest : public ::testing::Test {
 protected:
  void SetUp() override { rig.AddStatic(kController, "10.0.0.1", 5000); }

  // A request to the configured controller; the payload tells frames apart.
  static TBytes Request(std::uint8_t ATag, std::int32_t ASource = 5) {
    return MakeFrame(ASource, kController, 0, {ATag});
  }
  std::vector<std::uint8_t> SentTags() {
    std::vector<std::uint8_t> tags;
    for (const auto& d : rig.Transport.Take())
      tags.push_back(d.Bytes[kFrameHeaderSize]);
    return tags;
  }
  int NATCount() {
    const std::lock_guard<std::mutex> lock(rig.Tables.fTablesLock);
    return rig.Tables.fNATTable->Count();
  }

  TEngineRig rig;
};

TEST_F(ReceptionTest, FrameSplitOverTwoDatagramsBelongsToTheSecondSender) {
  const TBytes frame = Request(1);
  rig.Receive(TBytes(frame.begin(), frame.begin() + 10), "192.168.1.20", 50123);
  EXPECT_EQ(rig.Engine.CommState(), TCommState::csReceiving);
  EXPECT_EQ(rig.Engine.BufferedBytes(), 10u);
  EXPECT_TRUE(rig.Transport.Sent.empty());
  EXPECT_EQ(rig.Engine.ReqCount(), 0);

  rig.Receive(TBytes(frame.begin() + 10, frame.end()), "192.168.1.99", 40000);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{1});
  EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
  EXPECT_EQ(rig.Engine.CommState(), TCommState::csReady);
  const std::lock_guard<std::mutex> lock(rig.Tables.fTablesLock);
  ASSERT_EQ(rig.Tables.fNATTable->Count(), 1);
  EXPECT_EQ(rig.Tables.fNATTable->Items(0)->IP(), "192.168.1.99");
  EXPECT_EQ(rig.Tables.fNATTable->Items(0)->Port(), 40000);
}

TEST_F(ReceptionTest, SeveralFramesInOneDatagramAreHandledInOrder) {
  rig.Receive(Concat({Request(1), Request(2), Request(3)}));
  EXPECT_EQ(SentTags(), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(rig.Engine.ReqCount(), 3);
  EXPECT_EQ(rig.Engine.TakeMsgCount(), 3);
  EXPECT_EQ(rig.Engine.TakeMsgCount(), 0);
}

TEST_F(ReceptionTest, JunkAndALoneFinalStartByteEmptyTheBuffer) {
  rig.Receive({0x01, 0x55, 0xAA, 0x00, 0x55});
  EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
  rig.Receive({0x10, 0x20, 0xAA});
  EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
  EXPECT_EQ(rig.Engine.CommState(), TCommState::csReady);
  // The lost 0xAA does not pair with a 0x55 that follows: this frame lacks its first byte.
  const TBytes frame = Request(1);
  rig.Receive(TBytes(frame.begin() + 1, frame.end()));
  EXPECT_TRUE(rig.Transport.Sent.empty());
  EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
}

TEST_F(ReceptionTest, PendingFrameTakesAnyDatagramAsItsContinuation) {
  const TBytes frame = Request(7);
  rig.Receive(TBytes(frame.begin(), frame.begin() + 4));  // head only, under 14 bytes
  rig.Receive(TBytes(frame.begin() + 4, frame.begin() + 12));
  EXPECT_EQ(rig.Engine.BufferedBytes(), 12u);
  rig.Receive(TBytes(frame.begin() + 12, frame.end()));
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{7});
}

TEST_F(ReceptionTest, LeftoverStartByteCompletesWithNextDatagram) {
  const TBytes second = Request(2);
  rig.Receive(Concat({Request(1), {0xAA}}));
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{1});
  EXPECT_EQ(rig.Engine.BufferedBytes(), 1u);
  rig.Receive(TBytes(second.begin() + 1, second.end()));
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{2});
}

TEST_F(ReceptionTest, FrameBehindJunkWaitsForTheNextDatagram) {
  const TBytes junk = {0x00, 0x11, 0x22};
  const TBytes second = Request(2);
  rig.Receive(Concat({Request(1), junk, second}));
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{1});
  EXPECT_EQ(rig.Engine.CommState(), TCommState::csReady);
  EXPECT_EQ(rig.Engine.BufferedBytes(), junk.size() + second.size());

  rig.Receive({0x00});
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{2});
  EXPECT_EQ(rig.Engine.BufferedBytes(), 1u);
}

TEST_F(ReceptionTest, InvalidFramesAreDroppedWhole) {
  TBytes badChecksum = Request(1);
  badChecksum.back() ^= 0xFF;
  TBytes format1 = MakeFrame(5, kController, 0, {3}, 1);
  rig.Receive(Concat({badChecksum, format1, Request(2)}));
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{2});
  EXPECT_EQ(rig.Engine.ReqCount(), 1);
  EXPECT_EQ(rig.Engine.TakeMsgCount(), 1);
  EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
  EXPECT_EQ(rig.View.LedCount(TLamp::LANRx, TLedColor::Red), 1);
}

TEST_F(ReceptionTest, LongHeadHoldsBackEverythingUntilComplete) {
  // A head announcing 5000 bytes swallows the good frames sent behind it.
  TBytes head = {0xAA, 0x55, 0x88, 0x13};  // length 5000
  head.resize(kFrameHeaderSize, 0);
  rig.Receive(head);
  std::size_t held = head.size();
  while (held + Request(1).size() <= 5014) {
    rig.Receive(Request(1));
    held += Request(1).size();
    ASSERT_EQ(rig.Engine.BufferedBytes(), held);
  }
  EXPECT_TRUE(rig.Transport.Sent.empty());
  rig.Receive(TBytes(5014 - held + 2, 0x00));  // completes it, two bytes to spare
  EXPECT_TRUE(rig.Transport.Sent.empty());     // its checksum fails: all of it goes
  EXPECT_EQ(rig.Engine.ReqCount(), 0);
  EXPECT_EQ(rig.Engine.BufferedBytes(), 2u);
}

TEST_F(ReceptionTest, LongFrameIsHandledOnceComplete) {
  const TBytes big = MakeFrame(5, kController, 0, TBytes(4998, 0x42));
  ASSERT_EQ(big.size(), 5014u);
  for (std::size_t at = 0; at < big.size(); at += 1000) {
    const std::size_t end = std::min(big.size(), at + 1000);
    rig.Receive(TBytes(big.begin() + static_cast<std::ptrdiff_t>(at),
                       big.begin() + static_cast<std::ptrdiff_t>(end)));
  }
  const auto sent = rig.Transport.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Bytes, big);
}

TEST_F(ReceptionTest, HeadsThatCanNeverBeFramesAreSkippedWithinTheDatagram) {
  for (std::uint16_t length : {0, 1, 65522, 65535}) {
    SCOPED_TRACE(length);
    TBytes head = {0xAA, 0x55, static_cast<std::uint8_t>(length & 0xFF),
                   static_cast<std::uint8_t>(length >> 8)};
    head.resize(kFrameHeaderSize, 0x01);
    rig.Receive(Concat({head, Request(9)}));
    EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{9});
    EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
  }
  // The same head with nothing behind it must not stay in the buffer either.
  rig.Receive({0xAA, 0x55, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
  EXPECT_EQ(rig.Engine.CommState(), TCommState::csReady);
}

TEST_F(ReceptionTest, BytesOfDifferentSendersJoinInArrivalOrder) {
  const TBytes frame = Request(4);
  rig.Receive(TBytes(frame.begin(), frame.begin() + 8), "192.168.1.20", 1);
  rig.Receive(TBytes(frame.begin() + 8, frame.begin() + 14), "192.168.1.21", 2);
  rig.Receive(TBytes(frame.begin() + 14, frame.end()), "192.168.1.22", 3);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{4});
  const std::lock_guard<std::mutex> lock(rig.Tables.fTablesLock);
  EXPECT_EQ(rig.Tables.fNATTable->Items(0)->IP(), "192.168.1.22");
}

TEST_F(ReceptionTest, CountersLabelsAndLampsPerSide) {
  rig.Receive(MakeFrame(kController, 0, 1), "10.0.0.7", 5000);  // push frame
  rig.Receive(Request(1));
  rig.Receive(MakeFrame(kController, 77, 1));  // reply nobody waits for
  EXPECT_EQ(rig.Engine.ReqCount(), 1);
  EXPECT_EQ(rig.Engine.AckCount(), 2);
  EXPECT_EQ(rig.Engine.TakeMsgCount(), 3);
  EXPECT_EQ(rig.View.LedCount(TLamp::WANRx, TLedColor::Red), 2);
  EXPECT_EQ(rig.View.LedCount(TLamp::LANRx, TLedColor::Red), 1);

  using test::TViewEvent;
  std::vector<std::pair<TViewEvent::TKind, std::int32_t>> counts;
  for (const auto& e : rig.View.Events)
    if (e.Kind != TViewEvent::Led)
      counts.emplace_back(e.Kind, e.Value);
  EXPECT_EQ(counts,
            (std::vector<std::pair<TViewEvent::TKind, std::int32_t>>{
                {TViewEvent::AckCount, 1}, {TViewEvent::ReqCount, 1}, {TViewEvent::AckCount, 2}}));
  // The receive lamp is lit before routing sends anything.
  ASSERT_GE(rig.View.Events.size(), 3u);
  EXPECT_EQ(rig.View.Events[1].Lamp, TLamp::WANRx);
  EXPECT_EQ(rig.View.Events[2].Lamp, TLamp::WANTx);
}

TEST_F(ReceptionTest, RoutingFailureEndsTheDatagramAndTheRestWaits) {
  rig.Transport.FailHost = "10.0.0.1";
  rig.Receive(Concat({Request(1), Request(2)}));
  EXPECT_TRUE(rig.Transport.Sent.empty());
  EXPECT_EQ(rig.Engine.ReqCount(), 1);  // counted before routing failed
  EXPECT_EQ(rig.Engine.CommState(), TCommState::csReady);
  EXPECT_EQ(rig.Engine.BufferedBytes(), Request(2).size());

  rig.Transport.FailHost.clear();
  rig.Receive({0x00});
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{2});
}

TEST_F(ReceptionTest, FailingDestinationCannotMakeTheBufferGrow) {
  rig.Transport.FailAll = true;
  TBytes datagram;
  for (std::uint8_t tag = 0; tag < 20; ++tag)
    datagram = Concat({datagram, Request(tag)});
  for (int i = 0; i < 50; ++i) {
    rig.Receive(datagram);
    ASSERT_LE(rig.Engine.BufferedBytes(), datagram.size());
  }
  EXPECT_EQ(rig.Engine.ReqCount(), 50);
}

TEST_F(ReceptionTest, LeftoversBehindJunkDoNotPileUp) {
  // Each datagram carries frames separated by junk, so only the first is handled at once.
  TBytes datagram;
  for (std::uint8_t tag = 0; tag < 10; ++tag)
    datagram = Concat({datagram, Request(tag), {0x00}});
  for (int i = 0; i < 30; ++i) {
    rig.Receive(datagram);
    ASSERT_LE(rig.Engine.BufferedBytes(), datagram.size());
  }
  rig.Receive({0x00});
  rig.Receive({0x00});
  // Nothing is lost: every frame of every datagram got through in the end.
  EXPECT_EQ(rig.Engine.ReqCount(), 300);
  EXPECT_EQ(rig.Transport.Take().size(), 300u);
}

TEST_F(ReceptionTest, RestartKeepsBufferedBytes) {
  const TBytes frame = Request(3);
  rig.Receive(TBytes(frame.begin(), frame.begin() + 15));
  rig.Engine.ResetCommState();
  EXPECT_EQ(rig.Engine.CommState(), TCommState::csReady);
  rig.Receive(TBytes(frame.begin() + 15, frame.end()));
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{3});
}

TEST_F(ReceptionTest, TraceLinesShowDatagramsInOrder) {
  rig.Engine.SetCreateDebugLogs(true);
  rig.Receive({0xAA}, "192.168.1.20", 50123);
  rig.Receive(MakeFrame(1000, 0, 1), "10.0.0.7", 5000);
  rig.Engine.SetCreateDebugLogs(false);
  rig.Receive(Request(1));
  const std::string log = rig.LogText();
  const auto rx1 = log.find("Rx 192.168.1.20:50123    AA\r\n");
  const std::string blanks(9, ' ');  // 8 to fill the column, 1 from the line format
  const auto rx2 = log.find("Rx 10.0.0.7:5000" + blanks + "AA55");
  const auto tx =
      log.find("Tx 10.0.0.7:5000" + blanks + "AA55080003000000E8030000000032170401000192CD\r\n");
  EXPECT_NE(rx1, std::string::npos) << log;
  EXPECT_NE(rx2, std::string::npos) << log;
  EXPECT_NE(tx, std::string::npos) << log;
  EXPECT_LT(rx1, rx2);
  EXPECT_LT(rx2, tx);
  EXPECT_EQ(log.find("10.0.0.1"), std::string::npos);  // written after the switch went off
}

TEST_F(ReceptionTest, UnwritableLogStopsNeitherReceptionNorSending) {
  rig.Log.SetLogFile((rig.LogPath.parent_path() / "no_such_dir_kelvo" / "x.log").string());
  rig.Engine.SetCreateDebugLogs(true);
  rig.Receive(Concat({Request(1), Request(2)}));
  EXPECT_EQ(SentTags(), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(rig.Engine.ReqCount(), 2);
  EXPECT_EQ(rig.View.LedCount(TLamp::WANTx, TLedColor::Green), 2);
}

}  // namespace
}  // namespace kelvo
