// The main window's shared behaviour, held against a view that writes down every call: the
// start-up in its order, the attached start-up, "Exit", the show request and shut-down, as
// both front-ends get them.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/relay_host.h"
#include "config/registry_store.h"
#include "config/settings_home.h"
#include "diag/my_log.h"
#include "net/udp_endpoint.h"
#include "present/main_presenter.h"
#include "support/relay_doubles.h"

namespace kelvo {
namespace {

class TRecordingView final : public TMainView {
 public:
  std::int32_t RestoredTop() const override { return 10; }
  std::int32_t RestoredLeft() const override { return 20; }
  void SetTop(std::int32_t ATop) override { Calls.push_back("top " + std::to_string(ATop)); }
  void SetLeft(std::int32_t ALeft) override { Calls.push_back("left " + std::to_string(ALeft)); }
  void ShowCounters(const std::string& AText) override { Calls.push_back("counters " + AText); }
  void SetCaption(const std::string& ACaption) override { Calls.push_back("caption " + ACaption); }
  void SetExceptionHandler(TFormLifecycle::TExceptionHandler AHandler) override {
    Calls.push_back(AHandler ? "handler" : "no handler");
    Handler = std::move(AHandler);
  }
  void CreateLamps() override { Calls.push_back("lamps"); }
  void SetLed(TLamp ALamp, TLedColor AColor) override {
    Calls.push_back("led " + std::to_string(static_cast<int>(ALamp)) + " " +
                    std::to_string(static_cast<int>(AColor)));
  }
  void StartTimers() override { Calls.push_back("start timers"); }
  void StopTimers() override { Calls.push_back("stop timers"); }
  void StartAttached(TRelayAsk AAsk) override {
    Calls.push_back("attached");
    Ask = std::move(AAsk);
  }
  void RemoveTrayIcon() override { Calls.push_back("remove icon"); }
  void ShowNetworkTexts(const std::string& ATrayTip, bool AAlert,
                        const std::string& AAddressTip) override {
    Calls.push_back("tip " + ATrayTip + (AAlert ? " alert " : " ") + AAddressTip);
  }
  bool Minimized() const override { return IsMinimized; }
  void RestoreMinimized() override { Calls.push_back("restore"); }
  void ShowMainWindow() override { Calls.push_back("show"); }
  void EndMessageLoop() override { Calls.push_back("end loop"); }

  std::vector<std::string> Calls;
  TFormLifecycle::TExceptionHandler Handler;
  TRelayAsk Ask;
  bool IsMinimized = false;
};

class MainPresenter : public ::testing::Test {
 protected:
  test::TSettingsHome home;
  test::TNullView relayView;
  TMyLog log;
  TRegistryStore store;
  TRecordingView view;
  TMainPresenter presenter{view, log, store};
};

TEST_F(MainPresenter, StartUpRunsTheWindowsStepsInOrderAndTheRelayListens) {
  presenter.CreateRelay(relayView);
  presenter.StartRelay(true);
  ASSERT_NE(presenter.Host(), nullptr);
  const std::vector<std::string> startUp = {"counters -", "caption KelvoRelay v1.0.2",
                                            "handler",    "start timers",
                                            "lamps",      "led 0 0",
                                            "led 2 0",    "led 1 0",
                                            "led 3 0"};
  ASSERT_GE(view.Calls.size(), startUp.size());
  EXPECT_EQ(std::vector<std::string>(view.Calls.begin(), view.Calls.begin() + 9), startUp);
  EXPECT_TRUE(presenter.Host()->Engine().CreateDebugLogs()) << "--debug-log";
  EXPECT_TRUE(presenter.Host()->Endpoint().IsOpen());

  // Shut-down once: timers, then (endpoint and settings) the icon, last.
  view.Calls.clear();
  presenter.FormDestroy();
  presenter.FormDestroy();
  EXPECT_EQ(view.Calls, (std::vector<std::string>{"stop timers", "remove icon"}));
  EXPECT_FALSE(presenter.Host()->Endpoint().IsOpen());
}

TEST_F(MainPresenter, AttachedWindowHasNoRelayAndSavesNothing) {
  int asked = 0;
  presenter.FormCreateAttached(
      [&asked](const std::string&, std::chrono::milliseconds) -> std::optional<std::string> {
        ++asked;
        return std::nullopt;
      });
  EXPECT_EQ(view.Calls,
            (std::vector<std::string>{"counters -", "caption KelvoRelay v1.0.2 (service)",
                                      "handler", "attached"}));
  EXPECT_EQ(presenter.Host(), nullptr);
  ASSERT_TRUE(view.Ask);
  view.Ask("status", std::chrono::milliseconds(1));
  EXPECT_EQ(asked, 1) << "the view polls the relay the presenter was given";

  view.Calls.clear();
  presenter.FormDestroy();
  EXPECT_EQ(view.Calls, (std::vector<std::string>{"stop timers", "remove icon"}));
}

TEST_F(MainPresenter, ExitShowRequestAndAbandon) {
  struct TCase {
    bool Minimized;
    std::vector<std::string> Calls;
  };
  for (const TCase& c : {TCase{false, {"show"}}, TCase{true, {"restore", "show"}}}) {
    view.Calls.clear();
    view.IsMinimized = c.Minimized;
    presenter.ShowRequested();
    EXPECT_EQ(view.Calls, c.Calls) << c.Minimized;
  }

  EXPECT_FALSE(presenter.Exiting());
  view.Calls.clear();
  presenter.Exit1Click();
  EXPECT_TRUE(presenter.Exiting());
  EXPECT_EQ(view.Calls, std::vector<std::string>{"end loop"});

  view.Calls.clear();
  presenter.Abandon();
  EXPECT_EQ(view.Calls, (std::vector<std::string>{"stop timers", "no handler"}));
}

}  // namespace
}  // namespace kelvo
