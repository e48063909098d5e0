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
    const TAddressTables::TLock lock(rig.Tables);
    return rig.Tables.fNATTable->Count();
  }

  TEngineRig rig;
};

TEST_F(ReceptionTest, FrameSplitOverTwoDatagramsOfOneSenderIsHandledWithTheSecond) {
  const TBytes frame = Request(1);
  rig.Receive(TBytes(frame.begin(), frame.begin() + 10), "192.168.1.99", 40000);
  EXPECT_EQ(rig.CommState("192.168.1.99", 40000), TCommState::csReceiving);
  EXPECT_EQ(rig.Engine.BufferedBytes("192.168.1.99", 40000), 10u);
  EXPECT_TRUE(rig.Transport.Sent.empty());
  EXPECT_EQ(rig.Engine.ReqCount(), 0);

  rig.Receive(TBytes(frame.begin() + 10, frame.end()), "192.168.1.99", 40000);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{1});
  EXPECT_EQ(rig.Engine.BufferedBytes(), 0u);
  EXPECT_EQ(rig.Engine.SendersWaiting(), 0u);  // nothing is kept for a sender with no bytes
  EXPECT_EQ(rig.CommState("192.168.1.99", 40000), TCommState::csReady);
  const TAddressTables::TLock lock(rig.Tables);
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
  EXPECT_EQ(rig.CommState(), TCommState::csReady);
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
  EXPECT_EQ(rig.CommState(), TCommState::csReady);
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
  EXPECT_EQ(rig.CommState(), TCommState::csReady);
}

// A sender (IP and port) is one stream: pieces of a frame from different senders never join,
// whatever the order of arrival, and each sender's own pieces still make its frame.
TEST_F(ReceptionTest, BytesOfDifferentSendersNeverJoin) {
  const TBytes frame = Request(4);
  const std::vector<std::pair<std::string, std::uint16_t>> senders = {
      {"192.168.1.20", 1}, {"192.168.1.21", 2}, {"192.168.1.20", 3}};
  const std::size_t cuts[] = {0, 8, 14, frame.size()};
  for (std::size_t i = 0; i < senders.size(); ++i) {
    rig.Receive(TBytes(frame.begin() + static_cast<std::ptrdiff_t>(cuts[i]),
                       frame.begin() + static_cast<std::ptrdiff_t>(cuts[i + 1])),
                senders[i].first, senders[i].second);
  }
  EXPECT_TRUE(rig.Transport.Sent.empty());
  EXPECT_EQ(rig.Engine.BufferedBytes("192.168.1.20", 1), 8u);  // the head waits for its rest
  EXPECT_EQ(rig.CommState("192.168.1.20", 1), TCommState::csReceiving);
  EXPECT_EQ(rig.Engine.BufferedBytes("192.168.1.21", 2), 0u);  // no start pair: gone
  EXPECT_EQ(rig.Engine.BufferedBytes("192.168.1.20", 3), 0u);

  rig.Receive(TBytes(frame.begin() + 8, frame.end()), "192.168.1.20", 1);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{4});
  EXPECT_EQ(rig.Engine.SendersWaiting(), 0u);
  const TAddressTables::TLock lock(rig.Tables);
  ASSERT_EQ(rig.Tables.fNATTable->Count(), 1);
  EXPECT_EQ(rig.Tables.fNATTable->Items(0)->Port(), 1);
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
  EXPECT_EQ(rig.CommState(), TCommState::csReady);
  EXPECT_EQ(rig.Engine.BufferedBytes(), Request(2).size());

  rig.Transport.FailHost.clear();
  rig.Receive({0x00});
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{2});
}

// Where each frame of "f3 junk f4 junk f5" from one sender is handled: f3 with its own
// datagram, f4 with that sender's next datagram and f5 with the one after; datagrams of other
// senders in between neither reach them nor take them as their own.
TEST_F(ReceptionTest, FramesBehindJunkWaitForTheirSendersNextDatagrams) {
  const TBytes junk = {0x01, 0x02};
  rig.Receive(Concat({Request(3, 3), junk, Request(4, 4), junk, Request(5, 5)}), "192.168.1.3",
              3003);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{3});
  rig.Receive({0x00}, "192.168.1.4", 4004);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{});
  rig.Receive({0x00}, "192.168.1.3", 3003);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{4});
  rig.Receive(Request(6, 6), "192.168.1.5", 5005);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{6});
  rig.Receive({0x00}, "192.168.1.3", 3003);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{5});

  const TAddressTables::TLock lock(rig.Tables);
  ASSERT_EQ(rig.Tables.fNATTable->Count(), 4);
  for (int i = 0; i < 4; ++i) {
    const TNATInfo* app = rig.Tables.fNATTable->Items(i);
    const bool fromThree = app->NAD() != 6;
    EXPECT_EQ(app->IP(), fromThree ? "192.168.1.3" : "192.168.1.5") << app->NAD();
    EXPECT_EQ(app->Port(), fromThree ? 3003 : 5005) << app->NAD();
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

// Held against a plain model of the order of handling, one model per sender, on random
// streams of frames, junk, failing frames and heads that can never be frames, each sender's
// stream cut into datagrams at random and the senders' datagrams interleaved at random. Well
// below the bound the engine must agree with the models after every datagram: a sender's
// frames are handled exactly as if it were alone.
TEST_F(ReceptionTest, AgreesWithAPlainModelOfTheHandlingOrderPerSender) {
  rig.AddStatic(1001, "10.0.0.9", 5001);
  rig.Transport.FailHost = "10.0.0.9";

  struct TModel {
    TBytes Buffer;
    bool Receiving = false;
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
    // Returns the valid requests counted.
    int Datagram(const TBytes& ABytes) {
      int requests = 0;
      Buffer.insert(Buffer.end(), ABytes.begin(), ABytes.end());
      if (!Receiving)
        Search();
      if (!Receiving)
        return requests;
      while (Buffer.size() >= 14 && Buffer[0] == 0xAA && Buffer[1] == 0x55) {
        const std::size_t length = Buffer[2] | (std::size_t{Buffer[3]} << 8);
        if (length < 2 || length > 65521) {
          Buffer.erase(Buffer.begin(), Buffer.begin() + 2);
          Receiving = false;
          Search();
          continue;
        }
        if (Buffer.size() < length + 14)
          return requests;
        const TBytes frame(Buffer.begin(),
                           Buffer.begin() + static_cast<std::ptrdiff_t>(length + 14));
        Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(length + 14));
        Receiving = false;
        if (!ParseFrame(frame).Valid)
          continue;
        ++requests;
        if (frame[8] == 0xE9)  // destination 1001: routing fails and ends the datagram
          return requests;
        Sent.push_back(frame[14]);
      }
      return requests;
    }
  };

  std::mt19937 random(1202);
  auto below = [&random](int AEnd) {
    return std::uniform_int_distribution<int>(0, AEnd - 1)(random);
  };
  const std::vector<std::pair<std::string, std::uint16_t>> senders = {
      {"192.168.1.20", 50123}, {"192.168.1.20", 50124}, {"192.168.1.21", 50123}};
  // The engine keeps its buffers from round to round, and so do the models.
  std::vector<TModel> models(senders.size());
  int requests = 0;
  for (int round = 0; round < 40; ++round) {
    std::vector<TBytes> streams(senders.size());
    for (TBytes& stream : streams) {
      for (int piece = 0; piece < 20; ++piece) {
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
    }
    std::vector<std::size_t> positions(senders.size(), 0);
    for (;;) {
      std::vector<std::size_t> open;
      for (std::size_t i = 0; i < senders.size(); ++i) {
        if (positions[i] < streams[i].size())
          open.push_back(i);
      }
      if (open.empty())
        break;
      const std::size_t who = open[static_cast<std::size_t>(below(static_cast<int>(open.size())))];
      std::size_t& pos = positions[who];
      const std::size_t size =
          std::min(streams[who].size() - pos, static_cast<std::size_t>(1 + below(40)));
      const TBytes datagram(streams[who].begin() + static_cast<std::ptrdiff_t>(pos),
                            streams[who].begin() + static_cast<std::ptrdiff_t>(pos + size));
      pos += size;
      const auto& [ip, port] = senders[who];
      rig.Receive(datagram, ip, port);
      requests += models[who].Datagram(datagram);
      ASSERT_EQ(SentTags(), models[who].Sent) << "round " << round << ", sender " << who;
      models[who].Sent.clear();
      for (std::size_t i = 0; i < senders.size(); ++i) {
        ASSERT_EQ(rig.Engine.BufferedBytes(senders[i].first, senders[i].second),
                  models[i].Buffer.size())
            << "round " << round << ", sender " << i;
        ASSERT_EQ(rig.CommState(senders[i].first, senders[i].second) == TCommState::csReceiving,
                  models[i].Receiving);
      }
      ASSERT_EQ(rig.Engine.ReqCount(), requests);
    }
  }
}

// A poison from one sender, of every kind that holds up a buffer, costs any other sender
// nothing: 5,000 requests with one poison per 100, some of them split over two datagrams, all
// arrive in order, and afterwards no sender but the poisoner has state kept.
TEST_F(ReceptionTest, PoisonFromOneSenderLosesNothingOfAnother) {
  rig.AddStatic(1001, "10.0.0.9", 5001);
  rig.Transport.FailHost = "10.0.0.9";
  TBytes head5000 = {0xAA, 0x55, 0x88, 0x13};
  head5000.resize(kFrameHeaderSize, 0);
  const std::vector<std::pair<const char*, TBytes>> poisons = {
      {"head of the longest frame", {0xAA, 0x55, 0xF1, 0xFF}},
      {"head of 5000 bytes", head5000},
      {"lone start byte", {0xAA}},
      {"head that can never be a frame", {0xAA, 0x55, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"frame whose routing fails, and one behind it",
       Concat({MakeFrame(6, 1001, 0, {1}), MakeFrame(6, kController, 0, {2})})},
  };
  const std::string poisoner = "10.9.9.9";
  for (const auto& [label, poison] : poisons) {
    SCOPED_TRACE(label);
    int delivered = 0;
    int inOrder = 0;
    for (int i = 0; i < 5000; ++i) {
      if (i % 100 == 0)
        rig.Receive(poison, poisoner, 4000);
      const auto tag = static_cast<std::uint8_t>(i % 0xA0);
      const TBytes request = Request(tag);
      if (i % 7 == 0) {  // split, with the poisoner's bytes in between
        rig.Receive(TBytes(request.begin(), request.begin() + 9));
        rig.Receive(poison, poisoner, 4000);
        rig.Receive(TBytes(request.begin() + 9, request.end()));
      } else {
        rig.Receive(request);
      }
      for (const auto& sent : rig.Transport.Take()) {
        if (ReadNAD(sent.Bytes, kOffsetSourceNAD) != 5)
          continue;  // the poisoner's own good frame
        ++delivered;
        inOrder += sent.Bytes[kFrameHeaderSize] == tag ? 1 : 0;
      }
    }
    EXPECT_EQ(delivered, 5000);
    EXPECT_EQ(inOrder, 5000);
    EXPECT_EQ(rig.Engine.BufferedBytes(TEngineRig::kPeerIP, TEngineRig::kPeerPort), 0u);
    EXPECT_LE(rig.Engine.SendersWaiting(), 1u);
    while (rig.Engine.BufferedBytes(poisoner, 4000) > 0)  // drain for the next kind
      rig.Receive(TBytes(8192, 0x00), poisoner, 4000);
    rig.Transport.Take();
  }
}

// Many senders each leaving a partial frame: the states together stay within the total bound
// after every datagram; the senders whose bytes waited longest lose them first (one line
// each in the debug log), a sender that sent again lately keeps its bytes and can complete
// its frame, and so can the newest.
TEST_F(ReceptionTest, PartialFramesOfManySendersStayWithinTheTotalBound) {
  constexpr std::size_t kBound = 64 * 1024;
  rig.Engine.SetMaxRecBufferTotal(kBound);
  rig.Engine.SetCreateDebugLogs(true);
  const TBytes frame = Request(9);
  const TBytes head(frame.begin(), frame.begin() + 15);
  const TBytes rest(frame.begin() + 15, frame.end());
  auto ip = [](int ASender) {
    return "10.1." + std::to_string(ASender / 256) + "." + std::to_string(ASender % 256);
  };
  for (int sender = 0; sender < 400; ++sender) {
    if (sender == 300)  // sender 100 sends again: its bytes are now the newest
      rig.Receive({0x01}, ip(100), 7);
    rig.Receive(head, ip(sender), 7);
    ASSERT_LE(rig.Engine.ReceiveStatesCost(), kBound) << "sender " << sender;
  }
  const std::size_t kept = rig.Engine.SendersWaiting();
  EXPECT_GT(kept, 100u);  // each costs a few hundred bytes: the bound holds a few hundred
  EXPECT_LT(kept, 300u);
  EXPECT_EQ(rig.Engine.BufferedBytes(ip(0), 7), 0u);
  EXPECT_EQ(rig.Engine.BufferedBytes(ip(101), 7), 0u);
  EXPECT_EQ(rig.Engine.BufferedBytes(ip(100), 7), head.size() + 1);
  EXPECT_EQ(rig.Engine.BufferedBytes(ip(399), 7), head.size());
  const std::string log = rig.LogText();
  EXPECT_NE(log.find("Drop 10.1.0.0:7"), std::string::npos) << log.substr(0, 2000);
  std::size_t dropLines = 0;
  for (std::size_t at = log.find("the receive buffers are full"); at != std::string::npos;
       at = log.find("the receive buffers are full", at + 1))
    ++dropLines;
  EXPECT_EQ(dropLines, 400 - kept);

  rig.Receive(rest, ip(399), 7);
  EXPECT_EQ(SentTags(), std::vector<std::uint8_t>{9});
  rig.Receive(TBytes(rest.begin() + 1, rest.end()), ip(100), 7);  // its byte stood in
  EXPECT_EQ(rig.Engine.ReqCount(), 1);  // 0x01 broke sender 100's frame: its checksum fails
}

// The same with the real bound: senders each holding most of the longest frame fill it, and
// it holds.
TEST_F(ReceptionTest, TheDefaultTotalBoundHoldsAgainstManyLargePartialFrames) {
  TBytes chunk(8192, 0x42);
  chunk[0] = 0xAA;
  chunk[1] = 0x55;
  chunk[2] = 0xF1;
  chunk[3] = 0xFF;
  const TBytes more(8192, 0x42);
  constexpr int kSenders = 1300;  // 1300 * 56 KiB and more is more than the bound
  for (int sender = 0; sender < kSenders; ++sender) {
    const std::string ip =
        "10.2." + std::to_string(sender / 256) + "." + std::to_string(sender % 256);
    rig.Receive(chunk, ip, 9);
    for (int i = 0; i < 6; ++i)  // 7 * 8 KiB: the frame (65,535 bytes) stays incomplete
      rig.Receive(more, ip, 9);
    ASSERT_EQ(rig.Engine.BufferedBytes(ip, 9), 7u * 8192u);
    ASSERT_LE(rig.Engine.ReceiveStatesCost(), kMaxRecBufferTotal) << "sender " << sender;
  }
  EXPECT_LT(rig.Engine.SendersWaiting(), static_cast<std::size_t>(kSenders));
  EXPECT_GT(rig.Engine.ReceiveStatesCost(), kMaxRecBufferTotal / 2);
  EXPECT_EQ(rig.Engine.BufferedBytes("10.2.0.0", 9), 0u);
}

TEST_F(ReceptionTest, RestartResetsEverySenderAndKeepsTheirBytes) {
  const TBytes frame = Request(3);
  rig.Receive(TBytes(frame.begin(), frame.begin() + 15));
  rig.Receive(TBytes(frame.begin(), frame.begin() + 4), "192.168.1.77", 1);
  ASSERT_EQ(rig.CommState("192.168.1.77", 1), TCommState::csReceiving);
  rig.Engine.ResetCommState();
  EXPECT_EQ(rig.CommState(), TCommState::csReady);
  EXPECT_EQ(rig.CommState("192.168.1.77", 1), TCommState::csReady);
  EXPECT_EQ(rig.Engine.BufferedBytes(), 19u);
  // Each sender's bytes are searched again with its next datagram, and still make its frame.
  rig.Receive(TBytes(frame.begin() + 15, frame.end()));
  rig.Receive(TBytes(frame.begin() + 4, frame.end()), "192.168.1.77", 1);
  EXPECT_EQ(SentTags(), (std::vector<std::uint8_t>{3, 3}));
  EXPECT_EQ(rig.Engine.SendersWaiting(), 0u);
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
