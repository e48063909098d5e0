// The model of a window attached to a relay that runs as a service, against a relay played by
// the test: what the window shows from each answer, that it says so when the relay has ended
// and attaches again, lamps from the activity between two looks, lists once a second, polls
// spaced out by slow answers, and Setup's hold and its one request.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "present/attached_view.h"

namespace kelvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using TTime = std::chrono::steady_clock::time_point;

// What the played relay answers "status" with.
struct TRelayState {
  long Pid = 4242;
  std::string State = "listening";
  std::int64_t Requests = 0;
  std::int64_t Replies = 0;
  int Rate = 0;
  std::array<std::uint64_t, 4> Lamps{};
  int Applications = 0;
  std::vector<std::string> StaticHosts;  // "host" of each static controller, IP "" when empty
  bool DebugLog = false;

  std::string Json() const {
    json applications = json::array();
    for (int i = 0; i < Applications; ++i) {
      applications.push_back({{"no", i + 1},
                              {"nad", 5},
                              {"alias", 5 + i},
                              {"nad_text", i == 0 ? "5" : "5/" + std::to_string(5 + i)},
                              {"ip", "192.168.1.20"},
                              {"port", 50000 + i},
                              {"timeout", 60}});
    }
    json controllers = json::array();
    for (std::size_t i = 0; i < StaticHosts.size(); ++i) {
      controllers.push_back({{"no", i + 1},
                             {"nad", 1001 + i},
                             {"alias", 1001 + i},
                             {"nad_text", std::to_string(1001 + i)},
                             {"ip", StaticHosts[i] == "ctl.invalid" ? "" : "10.0.0.7"},
                             {"port", 8442},
                             {"timeout", nullptr},
                             {"static", true},
                             {"host", StaticHosts[i]}});
    }
    controllers.push_back({{"no", StaticHosts.size() + 1},
                           {"nad", 2002},
                           {"alias", 2002},
                           {"nad_text", "2002"},
                           {"ip", "10.0.0.8"},
                           {"port", 8442},
                           {"timeout", 600},
                           {"static", false},
                           {"host", "10.0.0.8"}});
    const bool listening = State != "error";
    return json{
        {"version", "1.0.2"},
        {"mode", "headless"},
        {"pid", Pid},
        {"adapter", "eth0"},
        {"adapter_in_use", "eth0"},
        {"state", State},
        {"listening", listening ? json("192.168.1.10:8442") : json(nullptr)},
        {"error", listening ? "" : "cannot bind"},
        {"requests", Requests},
        {"replies", Replies},
        {"rate", Rate},
        {"debug_log", DebugLog},
        {"log_path", "/tmp/kelvorelay.log"},
        {"lamps",
         {{"lan_rx", Lamps[0]}, {"wan_rx", Lamps[1]}, {"lan_tx", Lamps[2]}, {"wan_tx", Lamps[3]}}},
        {"applications", applications},
        {"controllers", controllers}}
        .dump();
  }
};

// The played relay: a clock the test moves, the requests it received, what it answers.
class AttachedView : public ::testing::Test {
 public:
  std::optional<std::string> Ask(const std::string& ALine, std::chrono::milliseconds ATimeout) {
    requests.push_back(ALine);
    timeouts.push_back(ATimeout);
    now += answerTime;
    if (!running) {
      return std::nullopt;
    }
    if (silent) {
      return std::string();
    }
    if (ALine == "status") {
      return relay.Json();
    }
    return changeAnswer;
  }
  // One tick of the window's timer.
  TAttachedView::TPollResult Tick() {
    now += kAttachedPollPeriod;
    return view.Poll();
  }
  int StatusRequests() const {
    return static_cast<int>(std::count(requests.begin(), requests.end(), "status"));
  }

  TTime now{std::chrono::hours(1)};
  std::chrono::milliseconds answerTime{1};
  bool running = true;
  bool silent = false;
  TRelayState relay;
  std::string changeAnswer = "0 ok";
  std::vector<std::string> requests;
  std::vector<std::chrono::milliseconds> timeouts;
  TAttachedView view{[this](const std::string& ALine, std::chrono::milliseconds ATimeout) {
                       return Ask(ALine, ATimeout);
                     },
                     [this] { return now; }};
};

TEST_F(AttachedView, ShowsTheRelaySaysWhenItHasEndedAndAttachesAgainWhenItIsBack) {
  const struct {
    const char* Step;
    std::function<void(AttachedView&)> Change;
    bool Attached;
    const char* ErrorText;  // "" = hidden
    const char* ReqCount;
    const char* MsgCount;
    const char* LocalIP;
    bool Alert;
    bool RowsChanged;
  } steps[] = {
      {"relay idle", [](AttachedView&) {}, true, "", "-", "0 msg/sec", "192.168.1.10", false, true},
      {"traffic",
       [](AttachedView& t) {
         t.relay.Requests = 12;
         t.relay.Replies = 11;
         t.relay.Rate = 25;
         t.relay.Applications = 2;
       },
       true, "", "12", "25 msg/sec", "192.168.1.10", false, false},
      {"port lost", [](AttachedView& t) { t.relay.State = "error"; }, true,
       "Error opening port 8442!", "12", "25 msg/sec", "", true, false},
      {"relay ended", [](AttachedView& t) { t.running = false; }, false, "The relay has ended", "-",
       "-", "", true, true},
      {"still away", [](AttachedView&) {}, false, "The relay has ended", "-", "-", "", true, false},
      {"back, freshly started",
       [](AttachedView& t) {
         t.running = true;
         t.relay = TRelayState{};
         t.relay.Pid = 5151;
       },
       true, "", "-", "0 msg/sec", "192.168.1.10", false, true},
      {"answers nothing in time", [](AttachedView& t) { t.silent = true; }, false,
       "The relay does not answer", "-", "-", "", true, true},
  };
  for (const auto& step : steps) {
    step.Change(*this);
    const TAttachedView::TPollResult result = Tick();
    const TAttachedDisplay& shown = view.Display();
    EXPECT_TRUE(result.Polled) << step.Step;
    EXPECT_EQ(shown.Attached, step.Attached) << step.Step;
    EXPECT_EQ(shown.SetupEnabled, step.Attached) << step.Step;
    EXPECT_EQ(shown.ErrorVisible, *step.ErrorText != '\0') << step.Step;
    if (*step.ErrorText != '\0') {
      EXPECT_EQ(shown.ErrorText, step.ErrorText) << step.Step;
    }
    EXPECT_EQ(shown.ReqCount, step.ReqCount) << step.Step;
    EXPECT_EQ(shown.MsgCount, step.MsgCount) << step.Step;
    EXPECT_EQ(shown.LocalIP, step.LocalIP) << step.Step;
    EXPECT_EQ(shown.Alert, step.Alert) << step.Step;
    EXPECT_EQ(result.RowsChanged, step.RowsChanged) << step.Step;
    EXPECT_EQ(shown.ToolTip.rfind("KelvoRelay\n", 0), 0u) << step.Step;
  }
  EXPECT_EQ(view.Display().Rows->NATRows.size(), 0u) << "a relay away lists nothing";
  // Every look is bounded in time.
  for (std::chrono::milliseconds timeout : timeouts) {
    EXPECT_EQ(timeout, kAttachedPollTimeout);
  }
}

TEST_F(AttachedView, ListsTheRowsAsTheWindowDoesOnceASecond) {
  relay.Applications = 2;
  relay.StaticHosts = {"ctl.example", "ctl.invalid"};
  ASSERT_TRUE(Tick().RowsChanged);
  const TTablesSnapshot& rows = *view.Display().Rows;
  ASSERT_EQ(rows.NATRows.size(), 2u);
  EXPECT_EQ(rows.NATRows[1].NAD, 5);
  EXPECT_EQ(rows.NATRows[1].NADAlias, 6);
  EXPECT_EQ(rows.NATRows[1].Host, "192.168.1.20") << "an application by its address";
  ASSERT_EQ(rows.StaticRows.size(), 2u);
  EXPECT_EQ(rows.StaticRows[0].Host, "ctl.example") << "a controller by its host as entered";
  ASSERT_EQ(rows.PushRows.size(), 1u);
  EXPECT_EQ(rows.PushRows[0].Timeout, 600);

  // The lamps and counters follow every look; the lists, like the window's, once a second.
  relay.Applications = 3;
  int rebuilt = 0;
  for (int tick = 0; tick < 16; ++tick) {
    rebuilt += Tick().RowsChanged ? 1 : 0;
  }
  EXPECT_EQ(StatusRequests(), 17);
  EXPECT_EQ(rebuilt, 4);
  EXPECT_EQ(view.Display().Rows->NATRows.size(), 3u);
}

TEST_F(AttachedView, LightsALampForActivitySinceTheLastLookOnly) {
  const auto lamps = [this] { return view.Display().Lamps; };
  using C = TLedColor;
  relay.Lamps = {5, 5, 5, 5};
  Tick();
  EXPECT_EQ(lamps(), (std::array<C, 4>{C::Gray, C::Gray, C::Gray, C::Gray}))
      << "counts of a relay seen for the first time are no activity";
  relay.Lamps = {6, 5, 5, 7};
  Tick();
  EXPECT_EQ(lamps(), (std::array<C, 4>{C::Red, C::Gray, C::Gray, C::Green}));
  relay.Lamps = {6, 9, 6, 7};
  Tick();
  EXPECT_EQ(lamps(), (std::array<C, 4>{C::Gray, C::Red, C::Green, C::Gray}));
  Tick();
  EXPECT_EQ(lamps(), (std::array<C, 4>{C::Gray, C::Gray, C::Gray, C::Gray}));
  // A restarted relay counts from nothing: not activity either.
  relay.Pid = 1;
  relay.Lamps = {1, 0, 0, 0};
  Tick();
  EXPECT_EQ(lamps(), (std::array<C, 4>{C::Gray, C::Gray, C::Gray, C::Gray}));
}

TEST_F(AttachedView, SlowAnswersSpaceThePollsOutAndFastOnesPollAtEveryTick) {
  for (int tick = 0; tick < 40; ++tick) {  // 10 s
    Tick();
  }
  EXPECT_EQ(StatusRequests(), 40);

  requests.clear();
  answerTime = 400ms;  // a table near its bound
  const TTime start = now;
  while (now - start < 20s) {
    Tick();
  }
  // Each look is followed by four times its length without one: some 20 s / 2.2 s.
  EXPECT_GE(StatusRequests(), 8);
  EXPECT_LE(StatusRequests(), 10);
}

TEST_F(AttachedView, SetupStartsFromTheRelaysValuesWithoutLookingUpAName) {
  relay.StaticHosts = {"ctl.invalid", "ctl.example"};
  relay.DebugLog = true;
  Tick();
  const TSetupResult values = view.SetupValues();
  ASSERT_EQ(values.StaticList->Count(), 2) << "the announced controller is not Setup's";
  EXPECT_EQ(values.StaticList->Items(0)->Host(), "ctl.invalid");
  EXPECT_EQ(values.StaticList->Items(0)->IP(), "");
  EXPECT_EQ(values.StaticList->Items(1)->NAD(), 1002);
  EXPECT_EQ(values.StaticList->Items(1)->NADAlias(), 1002);
  EXPECT_EQ(values.StaticList->Items(1)->Timeout(), -1);
  EXPECT_EQ(values.EthernetAdapterID, "eth0");
  EXPECT_TRUE(values.CreateDebugLogs);
}

// What a front-end's Setup dialog offers RunSetup.
struct TSetupForm {
  void SetStaticList(std::unique_ptr<TNATInfoList> AList) { StaticList = std::move(AList); }
  std::unique_ptr<TNATInfoList> TakeStaticList() { return std::move(StaticList); }
  std::unique_ptr<TNATInfoList> StaticList;
  std::string EthernetAdapterID;
  bool CreateDebugLogs = false;
};

TEST_F(AttachedView, SetupHoldsTheRelayWhileOpenAndHandsOkOverInOneRequest) {
  relay.StaticHosts = {"ctl.example"};
  Tick();
  requests.clear();
  TSetupForm form;
  view.RunSetup(form, [&] {
    EXPECT_EQ(requests, std::vector<std::string>{"setup-begin " + view.Token()});
    EXPECT_EQ(form.EthernetAdapterID, "eth0");
    // The window's timer goes on while the dialog is open, and keeps the hold.
    for (int tick = 0; tick < 8; ++tick) {
      Tick();
    }
    form.StaticList->Remove(form.StaticList->Items(0)).reset();
    form.EthernetAdapterID = "eth1";
    form.CreateDebugLogs = true;
    return true;
  });
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "setup-begin " + view.Token()), 3)
      << "one to open, one renewal per second of the two";
  const std::string& last = requests.back();
  ASSERT_EQ(last.rfind("setup ", 0), 0u) << last;
  EXPECT_EQ(json::parse(last.substr(6)), (json{{"token", view.Token()},
                                               {"adapter", "eth1"},
                                               {"debug_log", true},
                                               {"static", json::array()}}));
  EXPECT_EQ(timeouts.back(), kAttachedSetupTimeout);
  EXPECT_FALSE(view.SetupOpen());
  EXPECT_FALSE(view.Display().ErrorVisible);

  // Cancel lets go at once; nothing else is sent.
  requests.clear();
  view.RunSetup(form, [] { return false; });
  EXPECT_EQ(requests,
            (std::vector<std::string>{"setup-begin " + view.Token(), "setup-end " + view.Token()}));
}

TEST_F(AttachedView, ARefusalShowsForAWhileAndAGoneRelayOffersNoSetup) {
  Tick();
  changeAnswer = "1 busy: Setup is open in the relay's window; nothing was changed";
  TSetupForm form;
  bool shown = false;
  view.RunSetup(form, [&] { return shown = true; });
  EXPECT_FALSE(shown) << "the dialog does not open while the relay's Setup is held";
  EXPECT_TRUE(view.Display().ErrorVisible);
  EXPECT_EQ(view.Display().ErrorText, kSetupRefusedText);
  EXPECT_EQ(view.Display().ErrorHint, changeAnswer.substr(2));
  Tick();
  EXPECT_EQ(view.Display().ErrorText, kSetupRefusedText) << "still shown at the next look";
  for (int tick = 0; tick < 40; ++tick) {
    Tick();
  }
  EXPECT_FALSE(view.Display().ErrorVisible) << "gone after a while";

  // The relay refuses OK (its hold ran out): the result was not taken, and says so.
  changeAnswer = "0 ok";
  view.RunSetup(form, [&] {
    changeAnswer = "1 busy: Setup was opened elsewhere or waited too long";
    return true;
  });
  EXPECT_EQ(view.Display().ErrorText, kSetupRefusedText);

  // Gone while Setup is open: OK finds nobody, and the window says the relay has ended.
  changeAnswer = "0 ok";
  view.RunSetup(form, [&] { return !(running = false); });
  EXPECT_FALSE(view.Display().Attached);
  EXPECT_FALSE(view.Display().SetupEnabled);
  requests.clear();
  EXPECT_FALSE(view.BeginSetup());
  EXPECT_TRUE(requests.empty()) << "nothing is asked of a relay that is away";
}

// Its own socket or pipe only brings it forward; the relay's requests are the relay's.
TEST(AttachedWindowRequest, TakesTheShowRequestAndNothingElse) {
  const TControlAnswer show = AnswerAttachedWindowRequest("1025");
  EXPECT_TRUE(show.Show);
  EXPECT_EQ(show.Line, "") << "a show request gets no answer";
  for (const char* line : {"quit", "status", "add-static 1,127.0.0.1,1", "setup-begin x"}) {
    const TControlAnswer other = AnswerAttachedWindowRequest(line);
    EXPECT_FALSE(other.Show || other.Quit || other.Applied) << line;
    EXPECT_EQ(DecodeOutcome(other.Line).ExitCode, 2) << line;
  }
}

}  // namespace
}  // namespace kelvo
