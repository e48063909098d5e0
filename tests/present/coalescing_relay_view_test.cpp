// The listener's lamp and counter requests on their way to the GUI thread: repeats coalesce
// into one delivery, and the newest request is never lost, also with both threads at full speed.
#include "present/coalescing_relay_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace kelvo {
namespace {

constexpr std::array<TLamp, kLampCount> kLamps = {TLamp::LANRx, TLamp::WANRx, TLamp::LANTx,
                                                  TLamp::WANTx};

// An event queue as a toolkit would keep it: posting only locks it for the push, so the
// listener never waits for the GUI thread to take anything out.
class TQueueView : public TCoalescingRelayView {
 public:
  // A delivery: a lamp, or the counters when empty.
  using TToken = std::optional<TLamp>;

  void LocalIPChanged(const std::string&) override {}
  void PortErrorChanged(bool) override {}

  // GUI thread: carries out the oldest delivery; false when none is queued.
  bool DeliverOne() {
    TToken token;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      if (fQueue.empty()) {
        return false;
      }
      token = fQueue.front();
      fQueue.pop_front();
    }
    if (token) {
      const auto lamp = static_cast<std::size_t>(*token);
      Shown[lamp] = TakeLamp(*token);
      ShownNow[lamp] = static_cast<int>(*Shown[lamp]);
    } else {
      const TCounterValues values = TakeCounters();
      if (values.ReqCount) {
        ReqShown.push_back(*values.ReqCount);
        ReqShownNow = *values.ReqCount;
      }
      if (values.AckCount) {
        AckShown.push_back(*values.AckCount);
      }
    }
    return true;
  }
  void DeliverAll() {
    while (DeliverOne()) {
    }
  }

  std::size_t Queued() {
    std::lock_guard<std::mutex> lock(fMutex);
    return fQueue.size();
  }

  std::atomic<bool> RefusePosts{false};
  std::atomic<std::size_t> MostQueued{0};
  int Posts = 0;  // listener thread
  // What the GUI thread last showed, for the other thread to watch.
  std::array<std::atomic<int>, kLampCount> ShownNow{};
  std::atomic<std::int32_t> ReqShownNow{0};
  // GUI thread.
  std::array<std::optional<TLedColor>, kLampCount> Shown{};
  std::vector<std::int32_t> ReqShown;
  std::vector<std::int32_t> AckShown;

 private:
  bool PostLamp(TLamp ALamp) override { return Post(ALamp); }
  bool PostCounters() override { return Post(std::nullopt); }
  bool Post(TToken AToken) {
    if (RefusePosts.load()) {
      return false;
    }
    std::lock_guard<std::mutex> lock(fMutex);
    fQueue.push_back(AToken);
    ++Posts;
    MostQueued = std::max(MostQueued.load(), fQueue.size());
    return true;
  }

  std::mutex fMutex;
  std::deque<TToken> fQueue;
};

TEST(CoalescingRelayView, RepeatsPostOnceUntilTheDeliveryIsTaken) {
  TQueueView view;
  for (int i = 1; i <= 1000; ++i) {
    for (TLamp lamp : kLamps) {
      view.SetLed(lamp, i % 2 == 0 ? TLedColor::Red : TLedColor::Green);
    }
    view.ReqCountChanged(i);
    view.AckCountChanged(-i);
  }
  EXPECT_EQ(view.Posts, 5);
  EXPECT_EQ(view.PendingDeliveries(), 5);
  view.DeliverAll();
  EXPECT_EQ(view.PendingDeliveries(), 0);
  for (TLamp lamp : kLamps) {
    EXPECT_EQ(view.Shown[static_cast<std::size_t>(lamp)], TLedColor::Red);
  }
  EXPECT_EQ(view.ReqShown, std::vector<std::int32_t>{1000});
  EXPECT_EQ(view.AckShown, std::vector<std::int32_t>{-1000});

  // Once taken, the next request posts again; a counter that did not change is not shown.
  view.SetLed(TLamp::WANTx, TLedColor::Gray);
  view.ReqCountChanged(1001);
  EXPECT_EQ(view.Posts, 7);
  view.DeliverAll();
  EXPECT_EQ(view.Shown[static_cast<std::size_t>(TLamp::WANTx)], TLedColor::Gray);
  EXPECT_EQ(view.ReqShown, (std::vector<std::int32_t>{1000, 1001}));
  EXPECT_EQ(view.AckShown, std::vector<std::int32_t>{-1000});
  // Out of range: nothing posted, nothing stored.
  view.SetLed(static_cast<TLamp>(kLampCount), TLedColor::Red);
  EXPECT_EQ(view.Posts, 7);
}

TEST(CoalescingRelayView, ARefusedPostLeavesNothingPendingAndTheNextRequestPostsAgain) {
  TQueueView view;
  view.RefusePosts = true;
  view.SetLed(TLamp::LANRx, TLedColor::Red);
  view.ReqCountChanged(5);
  EXPECT_EQ(view.PendingDeliveries(), 0);
  EXPECT_EQ(view.Queued(), 0u);
  view.RefusePosts = false;
  view.SetLed(TLamp::LANRx, TLedColor::Green);
  view.AckCountChanged(6);
  EXPECT_EQ(view.PendingDeliveries(), 2);
  view.DeliverAll();
  EXPECT_EQ(view.Shown[0], TLedColor::Green);
  // The refused counter value was stored: the next delivery carries it along.
  EXPECT_EQ(view.ReqShown, std::vector<std::int32_t>{5});
  EXPECT_EQ(view.AckShown, std::vector<std::int32_t>{6});
}

// Model: any interleaving of requests and deliveries; once the queue is drained, every lamp
// and counter shows the newest request, and the queue never holds more than one delivery per
// lamp and one for the counters.
TEST(CoalescingRelayView, AnyInterleavingEndsOnTheNewestRequests) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 200; ++round) {
    TQueueView view;
    std::array<std::optional<TLedColor>, kLampCount> newest{};
    std::optional<std::int32_t> newestReq;
    std::optional<std::int32_t> newestAck;
    std::int32_t next = 0;
    for (int step = 0; step < 300; ++step) {
      const unsigned action = random() % 6;
      if (action < 2) {
        const auto lamp = static_cast<std::size_t>(random() % kLampCount);
        const auto color = static_cast<TLedColor>(random() % 3);
        view.SetLed(kLamps[lamp], color);
        newest[lamp] = color;
      } else if (action == 2) {
        view.ReqCountChanged(++next);
        newestReq = next;
      } else if (action == 3) {
        view.AckCountChanged(++next);
        newestAck = next;
      } else if (action == 4) {
        view.DeliverOne();
      } else if (random() % 8 == 0) {
        view.DeliverAll();
        ASSERT_EQ(view.Shown, newest) << "round " << round << " step " << step;
        ASSERT_EQ(view.ReqShown.empty() ? std::nullopt : std::optional(view.ReqShown.back()),
                  newestReq);
        ASSERT_EQ(view.AckShown.empty() ? std::nullopt : std::optional(view.AckShown.back()),
                  newestAck);
      }
      ASSERT_LE(view.Queued(), 5u);
      ASSERT_EQ(static_cast<std::size_t>(view.PendingDeliveries()), view.Queued());
    }
    view.DeliverAll();
    ASSERT_EQ(view.Shown, newest) << "round " << round;
    EXPECT_TRUE(std::is_sorted(view.ReqShown.begin(), view.ReqShown.end()));
    EXPECT_TRUE(std::is_sorted(view.AckShown.begin(), view.AckShown.end()));
  }
}

// The listener floods while the GUI thread drains at the same time: nothing is lost between
// them (the last request of each kind arrives), counters never go back, at most five
// deliveries are ever queued.
TEST(CoalescingRelayView, TwoThreadsLoseNoRequestAndNeverGoBack) {
  constexpr std::int32_t kFrames = 140000;
  TQueueView view;
  std::array<TLedColor, kLampCount> lastRequested{};
  std::atomic<bool> done{false};
  std::thread listener([&] {
    for (std::int32_t i = 1; i <= kFrames; ++i) {
      const auto lamp = static_cast<std::size_t>(i % kLampCount);
      lastRequested[lamp] = static_cast<TLedColor>((i / kLampCount) % 3);
      view.SetLed(kLamps[lamp], lastRequested[lamp]);
      view.ReqCountChanged(i);
      if (i % 7 == 0) {
        view.AckCountChanged(i / 7);
      }
    }
    // A last request unlike the one before it, for every lamp.
    for (std::size_t lamp = 0; lamp < kLampCount; ++lamp) {
      lastRequested[lamp] = static_cast<TLedColor>((static_cast<int>(lastRequested[lamp]) + 1) % 3);
      view.SetLed(kLamps[lamp], lastRequested[lamp]);
    }
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done.load() && std::chrono::steady_clock::now() < deadline) {
    view.DeliverOne();
  }
  listener.join();
  ASSERT_TRUE(done.load());
  view.DeliverAll();

  EXPECT_EQ(view.PendingDeliveries(), 0);
  EXPECT_LE(view.MostQueued.load(), 5u);
  for (std::size_t lamp = 0; lamp < kLampCount; ++lamp) {
    EXPECT_EQ(view.Shown[lamp], lastRequested[lamp]) << "lamp " << lamp;
  }
  ASSERT_FALSE(view.ReqShown.empty());
  EXPECT_EQ(view.ReqShown.back(), kFrames);
  EXPECT_TRUE(std::is_sorted(view.ReqShown.begin(), view.ReqShown.end()));
  ASSERT_FALSE(view.AckShown.empty());
  EXPECT_EQ(view.AckShown.back(), kFrames / 7);
  EXPECT_TRUE(std::is_sorted(view.AckShown.begin(), view.AckShown.end()));
}

// Two requests back to back, then the listener watches for the second to show: a delivery
// that reads the value before it lets go of its pending flag drops the second one when it
// lands in between, and that round never ends.
TEST(CoalescingRelayView, TwoThreadsShowTheSecondOfTwoRequestsEveryTime) {
  constexpr int kRounds = 50000;
  TQueueView view;
  std::atomic<bool> done{false};
  int lostRound = -1;
  std::thread listener([&] {
    std::array<int, kLampCount> shown{};  // every lamp starts grey (0)
    // Bounded in time as well, well inside the deliverer's own bound below: a slow machine
    // (Wine under load) runs fewer rounds rather than outliving the thread that delivers.
    const auto roundsEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int round = 0;
         round < kRounds && lostRound < 0 && std::chrono::steady_clock::now() < roundsEnd;
         ++round) {
      const auto lamp = static_cast<std::size_t>(round % kLampCount);
      const int first = (shown[lamp] + 1) % 3;
      const int second = (first + 1) % 3;  // unlike both the first and what shows now
      view.SetLed(kLamps[lamp], static_cast<TLedColor>(first));
      view.ReqCountChanged(2 * round + 1);
      view.SetLed(kLamps[lamp], static_cast<TLedColor>(second));
      view.ReqCountChanged(2 * round + 2);
      shown[lamp] = second;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (view.ShownNow[lamp].load() != second || view.ReqShownNow.load() != 2 * round + 2) {
        if (std::chrono::steady_clock::now() > deadline) {
          lostRound = round;
          break;
        }
        std::this_thread::yield();
      }
    }
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done.load() && std::chrono::steady_clock::now() < deadline) {
    view.DeliverOne();
  }
  listener.join();
  EXPECT_EQ(lostRound, -1) << "a request was never shown";
  EXPECT_LE(view.MostQueued.load(), 5u);
}

}  // namespace
}  // namespace kelvo
