// Following the network: which address is bound for the chosen adapter as the machine changes,
// when a look is taken (debounce, re-check, backoff), and that the choice itself never moves.
// The adapters and the binding are the test's own; time is passed in.
#include "app/network_follower.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using TTime = TNetworkFollower::TTime;

// The machine as the follower sees it: adapters by ID (address "0.0.0.0": none yet), the
// default adapter, whether binding works, and every bind that was asked for.
struct TMachine {
  TMachine(std::map<std::string, std::string> AAdapters, std::string ADefault)
      : Adapters(std::move(AAdapters)), Default(std::move(ADefault)) {}

  std::map<std::string, std::string> Adapters;
  std::string Default;  // an adapter ID, or "" for none
  bool PortFree = true;
  std::string Bound;  // "" when closed
  std::vector<std::string> Binds;
  int DefaultLookups = 0;

  std::optional<TEthernetAdapterInfo> Find(const std::string& AID) const {
    const auto it = Adapters.find(AID);
    if (it == Adapters.end()) {
      return std::nullopt;
    }
    return TEthernetAdapterInfo(AID, AID, it->second, "255.255.255.0");
  }

  TNetworkFollower::TSeams Seams() {
    return {[this](const std::string& AID) { return Find(AID); },
            [this] {
              ++DefaultLookups;
              return Default.empty() ? TEthernetAdapterInfo() : *Find(Default);
            },
            [this](const TEthernetAdapterInfo& AAdapter) {
              const std::string address =
                  AAdapter.IPAddress().empty() ? "0.0.0.0" : AAdapter.IPAddress();
              Binds.push_back(address);
              if (!PortFree) {
                Bound.clear();
                return std::string("cannot bind " + address + ":8442: Address already in use");
              }
              Bound = address;
              return std::string();
            },
            [this] { return Bound; }};
  }
};

struct TRow {
  const char* Case;
  std::map<std::string, std::string> Adapters;
  std::string Default;
  std::string Chosen;
  TListenState State;
  std::string Address;
};

TEST(NetworkFollower, BindsWhatTheChosenAdapterAllows) {
  const std::vector<TRow> rows = {
      {"present with an address",
       {{"kr0", "10.0.0.5"}, {"lo", "127.0.0.1"}},
       "lo",
       "kr0",
       TListenState::Listening,
       "10.0.0.5"},
      {"present without an address",
       {{"kr0", "0.0.0.0"}, {"lo", "127.0.0.1"}},
       "lo",
       "kr0",
       TListenState::Waiting,
       "127.0.0.1"},
      {"absent", {{"lo", "127.0.0.1"}}, "lo", "kr0", TListenState::Fallback, "127.0.0.1"},
      {"absent, no default either",
       {{"lo", "127.0.0.1"}},
       "",
       "kr0",
       TListenState::Fallback,
       "0.0.0.0"},
      {"none chosen", {{"lo", "127.0.0.1"}}, "lo", "", TListenState::Listening, "127.0.0.1"},
      {"none chosen, no default", {}, "", "", TListenState::Listening, "0.0.0.0"},
  };
  for (const TRow& row : rows) {
    TMachine machine{row.Adapters, row.Default};
    TNetworkFollower follower(machine.Seams());
    follower.SetChosenAdapterID(row.Chosen);
    EXPECT_TRUE(follower.Restart(TTime{}));
    const TNetworkStatus& status = follower.Status();
    EXPECT_EQ(status.State, row.State) << row.Case;
    EXPECT_EQ(status.Address, row.Address) << row.Case;
    EXPECT_EQ(status.AdapterID, row.Chosen) << row.Case;
    EXPECT_EQ(machine.Bound, row.Address) << row.Case;
  }
}

// A run through a day at a site: every change is followed after the debounce, the choice stays
// "kr0" throughout, and nothing is bound again while nothing changed.
TEST(NetworkFollower, FollowsChangesAfterTheDebounceAndNeverLosesTheChoice) {
  TMachine machine{{{"lo", "127.0.0.1"}}, "lo"};
  TNetworkFollower follower(machine.Seams());
  follower.SetChosenAdapterID("kr0");
  TTime now{};
  follower.Restart(now);
  EXPECT_EQ(follower.Status().State, TListenState::Fallback);

  struct TStep {
    const char* Change;
    std::optional<std::string> Kr0;  // nullopt: absent
    TListenState State;
    std::string Address;
  };
  const std::vector<TStep> steps = {
      {"USB adapter plugged in, no address", "0.0.0.0", TListenState::Waiting, "127.0.0.1"},
      {"DHCP answers", "10.0.0.5", TListenState::Listening, "10.0.0.5"},
      {"a new lease", "10.0.0.9", TListenState::Listening, "10.0.0.9"},
      {"unplugged", std::nullopt, TListenState::Fallback, "127.0.0.1"},
      {"back with its old address", "10.0.0.9", TListenState::Listening, "10.0.0.9"},
  };
  for (const TStep& step : steps) {
    if (step.Kr0) {
      machine.Adapters["kr0"] = *step.Kr0;
    } else {
      machine.Adapters.erase("kr0");
    }
    const std::size_t binds = machine.Binds.size();
    follower.NetworkChanged(now);
    EXPECT_FALSE(follower.Tick(now + 499ms)) << step.Change << ": before the debounce";
    EXPECT_EQ(machine.Binds.size(), binds) << step.Change;
    EXPECT_TRUE(follower.Tick(now + 500ms)) << step.Change;
    EXPECT_EQ(follower.Status().State, step.State) << step.Change;
    EXPECT_EQ(follower.Status().Address, step.Address) << step.Change;
    EXPECT_EQ(follower.ChosenAdapterID(), "kr0") << step.Change;
    // Quiet afterwards: ticks and re-checks bind nothing more.
    const std::size_t after = machine.Binds.size();
    for (int tick = 1; tick <= 100; ++tick) {
      EXPECT_FALSE(follower.Tick(now + 500ms + tick * 100ms)) << step.Change;
    }
    EXPECT_EQ(machine.Binds.size(), after) << step.Change;
    now += 20s;
  }
  // Only a fallback or a change looks for the default adapter (it may ask a name server).
  EXPECT_EQ(machine.DefaultLookups, 3);
}

TEST(NetworkFollower, AStreamOfNotificationsStillGetsItsLookSoon) {
  TMachine machine{{{"kr0", "10.0.0.5"}}, ""};
  TNetworkFollower follower(machine.Seams());
  follower.SetChosenAdapterID("kr0");
  const TTime start{};
  follower.Restart(start);
  machine.Adapters["kr0"] = "10.0.0.6";
  TTime now = start;
  for (; now < start + 3s && follower.Status().Address != "10.0.0.6"; now += 100ms) {
    follower.NetworkChanged(now);  // one every 100 ms: never half a second of quiet
    follower.Tick(now);
  }
  EXPECT_EQ(follower.Status().Address, "10.0.0.6");
  EXPECT_LE(now - start, TNetworkFollower::kLongestDebounce + 100ms);
}

// Without notifications (Wine) the slow re-check finds a new address by itself.
TEST(NetworkFollower, TheRecheckFindsWhatNoNotificationTold) {
  TMachine machine{{{"kr0", "10.0.0.5"}}, ""};
  TNetworkFollower follower(machine.Seams());
  follower.SetChosenAdapterID("kr0");
  const TTime start{};
  follower.Restart(start);
  machine.Adapters["kr0"] = "10.0.0.7";
  EXPECT_FALSE(follower.Tick(start + TNetworkFollower::kRecheck - 1ms));
  EXPECT_TRUE(follower.Tick(start + TNetworkFollower::kRecheck));
  EXPECT_EQ(follower.Status().Address, "10.0.0.7");

  // A binding lost behind the follower's back (the endpoint closed) is made again.
  machine.Bound.clear();
  follower.Tick(start + 2 * TNetworkFollower::kRecheck);
  EXPECT_EQ(machine.Bound, "10.0.0.7");
  EXPECT_EQ(follower.Status().State, TListenState::Listening);
}

TEST(NetworkFollower, ABusyPortIsRetriedWithBackoffAndAtOnceOnAChange) {
  TMachine machine{{{"kr0", "10.0.0.5"}}, ""};
  machine.PortFree = false;
  TNetworkFollower follower(machine.Seams());
  follower.SetChosenAdapterID("kr0");
  TTime now{};
  follower.Restart(now);
  EXPECT_EQ(follower.Status().State, TListenState::Error);
  EXPECT_NE(follower.Status().Error.find("Address already in use"), std::string::npos);
  EXPECT_EQ(follower.Status().Address, "");

  // Tries at 1, 3, 7, 15, 31, 61, 91 s after the first: the wait doubles up to 30 s.
  std::vector<long> tries;
  for (TTime t = now; t <= now + 100s; t += 100ms) {
    const std::size_t before = machine.Binds.size();
    follower.Tick(t);
    if (machine.Binds.size() != before) {
      tries.push_back(std::chrono::duration_cast<std::chrono::seconds>(t - now).count());
    }
  }
  EXPECT_EQ(tries, (std::vector<long>{1, 3, 7, 15, 31, 61, 91}));
  EXPECT_EQ(follower.Status().State, TListenState::Error);

  // A change of the network is a reason to try at once (after the debounce), and success
  // clears the error and the backoff.
  machine.PortFree = true;
  now += 100s;
  follower.NetworkChanged(now);
  EXPECT_TRUE(follower.Tick(now + TNetworkFollower::kDebounce));
  EXPECT_EQ(follower.Status().State, TListenState::Listening);
  EXPECT_EQ(follower.Status().Error, "");
  EXPECT_EQ(follower.Status().Address, "10.0.0.5");

  machine.PortFree = false;
  follower.Restart(now + 1s);
  machine.PortFree = true;
  EXPECT_TRUE(follower.Tick(now + 2s));  // the first retry comes after 1 s again
  EXPECT_EQ(follower.Status().State, TListenState::Listening);
}

TEST(NetworkStatus, DescribesEachStateInOneLine) {
  const std::vector<std::pair<TNetworkStatus, std::string>> cases = {
      {{TListenState::Listening, "kr0", "10.0.0.5", ""}, "listening on 10.0.0.5:8442"},
      {{TListenState::Fallback, "kr0", "0.0.0.0", ""},
       "adapter kr0 is not present; listening on 0.0.0.0:8442 until it is back"},
      {{TListenState::Waiting, "kr0", "127.0.0.1", ""},
       "waiting for kr0 (no IPv4 address yet); listening on 127.0.0.1:8442 meanwhile"},
      {{TListenState::Error, "kr0", "", "cannot bind 10.0.0.5:8442: busy"},
       "Error opening port 8442! (cannot bind 10.0.0.5:8442: busy)"},
  };
  for (const auto& [status, text] : cases) {
    EXPECT_EQ(DescribeNetworkStatus(status), text);
    EXPECT_EQ(ListeningText(status).empty(), status.State == TListenState::Error);
  }
}

}  // namespace
}  // namespace kelvo
