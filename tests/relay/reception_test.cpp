// Reassembly of frames from datagrams: buffer handling, validity, counters and lamps.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

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

// Where each frame of "f3 junk f4 junk f5" is handled, and as whose: f3 with its own datagram,
// f4 with the next one and f5 with the one after, each as the frame of that datagram's sender.
TEST_F(ReceptionTest, FramesBehindJunkBelongToTheDatagramsThatReachThem) {
  const TBytes junk = {0x01, 0x02};
  rig.Receive(Concat({Request(3, 3), junk, Request(4, 4), junk, Request(5, 5)}), "192.168.1.3",
              3003);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{3});
  rig.Receive({0x00}, "192.168.1.4", 4004);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{4});
  rig.Receive({0x00}, "192.168.1.5", 5005);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{5});

  const std::lock_guard<std::mutex> lock(rig.Tables.fTablesLock);
  ASSERT_EQ(rig.Tables.fNATTable->Count(), 3);
  for (int i = 0; i < 3; ++i) {
    const TNATInfo* app = rig.Tables.fNATTable->Items(i);
    EXPECT_EQ(app->IP(), "192.168.1." + std::to_string(app->NAD())) << app->NAD();
    EXPECT_EQ(app->Port(), app->NAD() * 1001) << app->NAD();
  }
}

// A valid frame behind two failing ones: each failure ends its datagram, the frame is
// delivered when the datagram after the second failure arrives.
TEST_F(ReceptionTest, FrameBehindTwoFailingOnesIsDeliveredTwoDatagramsLater) {
  rig.AddStatic(1001, "10.0.0.9", 5001);
  rig.Transport.FailHost = "10.0.0.9";
  const TBytes failing1 = MakeFrame(5, 1001, 0, {0x11});
  const TBytes failing2 = MakeFrame(5, 1001, 0, {0x12});
  rig.Receive(Concat({failing1, failing2, Request(9)}));
  EXPECT_EQ(rig.Engine.ReqCount(), 1);
  EXPECT_EQ(rig.Engine.BufferedBytes(), failing2.size() + Request(9).size());
  rig.Receive({0x00});
  EXPECT_EQ(rig.Engine.ReqCount(), 2);
  EXPECT_TRUE(rig.Transport.Sent.empty());
  rig.Receive({0x00});
  EXPECT_EQ(rig.Engine.ReqCount(), 3);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{9});
}

// Streams where every datagram leaves more behind than the next search takes away. The
// buffer grows as the order of handling says until the hard bound, and never beyond it.
TEST_F(ReceptionTest, StreamsThatPileUpLeftoversStayWithinTheBound) {
  rig.AddStatic(1001, "10.0.0.9", 5001);
  rig.Transport.FailHost = "10.0.0.9";
  const TBytes junk = {0x00, 0x01, 0x02};
  const TBytes failing = MakeFrame(5, 1001, 0, {0x11});
  const std::vector<std::pair<const char*, TBytes>> streams = {
      {"frame junk frame junk frame", Concat({Request(1), junk, Request(2), junk, Request(3)})},
      {"two failing frames", Concat({failing, failing})},
  };
  for (const auto& [label, datagram] : streams) {
    SCOPED_TRACE(label);
    std::size_t most = 0;
    const int datagrams = static_cast<int>(3 * kMaxRecBuffer / datagram.size());
    for (int i = 0; i < datagrams; ++i) {
      rig.Receive(datagram);
      ASSERT_LE(rig.Engine.BufferedBytes(), kMaxRecBuffer) << "datagram " << i;
      most = std::max(most, rig.Engine.BufferedBytes());
    }
    EXPECT_GT(most, kMaxRecBuffer / 2);  // the bound was met, so it was what held
    // One frame taken per datagram: the first ones, handled while the buffer was small, are
    // handled in arrival order.
    const std::vector<std::uint8_t> tags = SentTags();
    if (!tags.empty()) {
      EXPECT_EQ(std::vector<std::uint8_t>(tags.begin(), tags.begin() + 3),
                (std::vector<std::uint8_t>{1, 2, 3}));
    }
    while (rig.Engine.BufferedBytes() > 0)  // drain, so the next stream starts empty
      rig.Receive({0x00});
    rig.Transport.Take();
  }
}

// Held against a plain model of the order of handling, on random streams of frames, junk,
// failing frames and heads that can never be frames, cut into datagrams at random. Well below
// the bound the engine must agree with the model after every datagram.
TEST_F(ReceptionTest, AgreesWithAPlainModelOfTheHandlingOrder) {
  rig.AddStatic(1001, "10.0.0.9", 5001);
  rig.Transport.FailHost = "10.0.0.9";

  struct TModel {
    TBytes Buffer;
    bool Receiving = false;
    int Requests = 0;
    std::vector<std::uint8_t> Sent;  // tags of frames routed to the working controller

    void Search() {
      for (std::size_t i = 0; i + 1 < Buffer.size(); ++i) {
        if (Buffer[i] == 0xAA && Buffer[i + 1] == 0x55) {
          Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(i));
          Receiving = true;
          return;
        }
      }
      Buffer.clear();
    }
    void Datagram(const TBytes& ABytes) {
      Buffer.insert(Buffer.end(), ABytes.begin(), ABytes.end());
      if (!Receiving)
        Search();
      if (!Receiving)
        return;
      while (Buffer.size() >= 14 && Buffer[0] == 0xAA && Buffer[1] == 0x55) {
        const std::size_t length = Buffer[2] | (std::size_t{Buffer[3]} << 8);
        if (length < 2 || length > 65521) {
          Buffer.erase(Buffer.begin(), Buffer.begin() + 2);
          Receiving = false;
          Search();
          continue;
        }
        if (Buffer.size() < length + 14)
          return;
        const TBytes frame(Buffer.begin(),
                           Buffer.begin() + static_cast<std::ptrdiff_t>(length + 14));
        Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(length + 14));
        Receiving = false;
        if (!ParseFrame(frame).Valid)
          continue;
        ++Requests;
        if (frame[8] == 0xE9)  // destination 1001: routing fails and ends the datagram
          return;
        Sent.push_back(frame[14]);
      }
    }
  };

  std::mt19937 random(1202);
  auto below = [&random](int AEnd) {
    return std::uniform_int_distribution<int>(0, AEnd - 1)(random);
  };
  TModel model;  // the engine keeps its buffer from round to round, and so does the model
  for (int round = 0; round < 40; ++round) {
    TBytes stream;
    for (int piece = 0; piece < 60; ++piece) {
      const auto tag = static_cast<std::uint8_t>(below(0xA0));
      switch (below(6)) {
        case 0:
        case 1:
          stream = Concat({stream, Request(tag)});
          break;
        case 2:
          stream = Concat({stream, MakeFrame(5, 1001, 0, {tag})});
          break;
        case 3: {
          TBytes bad = Request(tag);
          bad.back() ^= 0x01;
          stream = Concat({stream, bad});
          break;
        }
        case 4:
          stream = Concat({stream, TBytes(static_cast<std::size_t>(1 + below(4)),
                                          static_cast<std::uint8_t>(below(0xA0)))});
          break;
        default:
          stream = Concat({stream, {0xAA, 0x55, static_cast<std::uint8_t>(below(2)), 0x00}});
      }
    }
    for (std::size_t pos = 0; pos < stream.size();) {
      const std::size_t size =
          std::min(stream.size() - pos, static_cast<std::size_t>(1 + below(40)));
      const TBytes datagram(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                            stream.begin() + static_cast<std::ptrdiff_t>(pos + size));
      pos += size;
      rig.Receive(datagram);
      model.Datagram(datagram);
      ASSERT_EQ(SentTags(), model.Sent) << "round " << round << " at byte " << pos;
      model.Sent.clear();
      ASSERT_EQ(rig.Engine.BufferedBytes(), model.Buffer.size()) << "round " << round;
      ASSERT_EQ(rig.Engine.CommState() == TCommState::csReceiving, model.Receiving);
      ASSERT_EQ(rig.Engine.ReqCount(), model.Requests);
    }
  }
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
