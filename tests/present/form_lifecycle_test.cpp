// The relay's part of the window's life, as both front-ends run it. Setup: the form starts from
// the relay's values, Cancel changes nothing, OK installs what it hands back and saves it at
// once, and from then on the settings are also written back at the end, even after a start-up
// that could not read them. Shut-down: timers, then endpoint and settings, then icon, once.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/control_requests.h"
#include "app/relay_host.h"
#include "app/status_report.h"
#include "config/registry_store.h"
#include "config/settings_home.h"
#include "diag/my_log.h"
#include "present/attached_view.h"
#include "present/form_lifecycle.h"
#include "support/relay_doubles.h"
#include "tables/address_tables.h"

namespace kelvo {
namespace {

// What RunSetup asks of a front-end's Setup dialog.
struct TSetupForm {
  void SetStaticList(std::unique_ptr<TNATInfoList> AStaticList) {
    StaticList = std::move(AStaticList);
  }
  std::unique_ptr<TNATInfoList> TakeStaticList() { return std::move(StaticList); }
  std::unique_ptr<TNATInfoList> StaticList;
  std::string EthernetAdapterID = "left over";
  bool CreateDebugLogs = false;
};

struct TPlacedWindow : TSettingsWindow {
  std::int32_t RestoredTop() const override { return Top; }
  std::int32_t RestoredLeft() const override { return 20; }
  void SetTop(std::int32_t ATop) override { Top = ATop; }
  void SetLeft(std::int32_t) override {}
  std::int32_t Top = 10;
};

// The stored values, read afresh; none when nothing has been saved.
std::vector<std::string> StoredStaticList() {
  TRegistryStore store;
  std::vector<std::string> values;
  if (store.OpenKey(false)) {
    for (int i = 0; store.ValueExists("StaticList" + std::to_string(i)); ++i) {
      values.push_back(store.ReadString("StaticList" + std::to_string(i)));
    }
    store.CloseKey();
  }
  return values;
}

std::int32_t StoredTop() {
  TRegistryStore store;
  if (!store.OpenKey(false) || !store.ValueExists("Top")) {
    return -1;
  }
  const std::int32_t top = store.ReadInteger("Top");
  store.CloseKey();
  return top;
}

// A relay with its window's lifecycle, its settings in a private home. Not started: as after
// settings that could not be read, nothing is written at the end until Setup confirms a set.
class FormLifecycle : public ::testing::Test {
 protected:
  test::TSettingsHome home;
  test::TNullView view;
  TMyLog log;
  TRegistryStore store;
  TRelayHost host{view, log, store};
  TPlacedWindow window;
  std::vector<std::string> errors;
  TFormLifecycle lifecycle{host, log, window,
                           [this](const std::string& AMessage) { errors.push_back(AMessage); }};
};

TEST_F(FormLifecycle, SetupCancelKeepsEverythingAndOkAppliesSavesAndSavesAgainAtTheEnd) {
  host.Engine().SetCreateDebugLogs(true);
  const std::string adapterID = host.EthAdapterInfo().ID();

  // Cancel: the form saw the relay's values; nothing reaches the relay or the store.
  TSetupForm form;
  int showings = 0;
  lifecycle.RunSetup(form, [&] {
    ++showings;
    EXPECT_TRUE(form.StaticList != nullptr);
    EXPECT_EQ(form.StaticList->Count(), 0);
    EXPECT_EQ(form.EthernetAdapterID, adapterID);
    EXPECT_TRUE(form.CreateDebugLogs);
    form.StaticList->Add(std::make_unique<TNATInfo>(7, "127.0.0.1", 1, kStaticTableTimeout));
    form.CreateDebugLogs = false;
    return false;
  });
  EXPECT_EQ(showings, 1);
  EXPECT_EQ(host.Tables().DuplicateStaticTable()->Count(), 0);
  EXPECT_TRUE(host.Engine().CreateDebugLogs());
  EXPECT_TRUE(StoredStaticList().empty());
  EXPECT_EQ(StoredTop(), -1);

  // OK: the form's copy (not the relay's table) was edited, and is installed and saved.
  lifecycle.RunSetup(form, [&] {
    EXPECT_EQ(form.StaticList->Count(), 0) << "a fresh copy at every showing";
    form.StaticList->Add(std::make_unique<TNATInfo>(1001, "127.0.0.1", 8442, kStaticTableTimeout));
    form.CreateDebugLogs = false;
    return true;
  });
  EXPECT_EQ(host.Tables().DuplicateStaticTable()->Count(), 1);
  EXPECT_FALSE(host.Engine().CreateDebugLogs());
  EXPECT_EQ(StoredStaticList(), std::vector<std::string>{"1001,127.0.0.1,8442"});
  EXPECT_EQ(StoredTop(), 10);

  // OK with no list handed back: the relay keeps its own.
  lifecycle.RunSetup(form, [&] {
    form.TakeStaticList();
    return true;
  });
  EXPECT_EQ(host.Tables().DuplicateStaticTable()->Count(), 1);
  EXPECT_EQ(StoredStaticList(), std::vector<std::string>{"1001,127.0.0.1,8442"});

  // Confirmed once, saved at the end as well.
  window.Top = 77;
  lifecycle.ShutDown();
  EXPECT_EQ(StoredTop(), 77);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

// --quit and the settings options as the window answers them: a refused change leaves the
// settings alone, one the relay took is saved at once and, as after Setup's OK, at the end too.
TEST_F(FormLifecycle, RequestsFromTheSocketAreAnsweredAndATakenChangeIsSavedAtTheEndToo) {
  const TControlAnswer refused = lifecycle.AnswerRequest("remove-static 3");
  EXPECT_EQ(DecodeOutcome(refused.Line).ExitCode, kExitBadCommand) << refused.Line;
  EXPECT_FALSE(refused.Applied);
  lifecycle.ShutDown();
  EXPECT_EQ(StoredTop(), -1) << "nothing confirmed yet: nothing written at the end";

  const TControlAnswer added = lifecycle.AnswerRequest("add-static 1001,127.0.0.1,8442");
  EXPECT_TRUE(added.Applied) << added.Line;
  EXPECT_EQ(StoredStaticList(), std::vector<std::string>{"1001,127.0.0.1,8442"});
  window.Top = 55;
  lifecycle.ShutDown();
  EXPECT_EQ(StoredTop(), 55);

  const TControlAnswer quit = lifecycle.AnswerRequest("quit");
  EXPECT_TRUE(quit.Quit);
  EXPECT_EQ(DecodeOutcome(quit.Line).ExitCode, kExitOk);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

// Setup replaces the whole static list: while it is open, in the relay's window or in a
// window attached to the relay, a change handed over the local channel is answered "busy" and
// nothing is lost; the attached window's OK arrives in one request and is applied and saved
// as the window's own OK is.
TEST_F(FormLifecycle, ChangesWaitWhileSetupIsOpenHereOrInAnAttachedWindow) {
  const std::string add = "add-static 7,127.0.0.1,1";
  const auto busy = [](const TControlAnswer& AAnswer) {
    return DecodeOutcome(AAnswer.Line).ExitCode == kExitFailure &&
           AAnswer.Line.find("busy: Setup is open") != std::string::npos && !AAnswer.Applied;
  };
  // An attached window, asking this relay over the channel as a service would be asked.
  auto now = std::chrono::steady_clock::now();
  TAttachedView attached(
      [this](const std::string& ALine, std::chrono::milliseconds) {
        return std::optional<std::string>(AnswerControlRequest(host, ALine, "headless").Line);
      },
      [&now] { return now; });
  attached.Poll();
  ASSERT_TRUE(attached.Display().Attached);

  // The window's own Setup: commands and the attached window wait; Cancel loses nothing.
  TSetupForm form;
  lifecycle.RunSetup(form, [&] {
    EXPECT_TRUE(busy(lifecycle.AnswerRequest(add)));
    EXPECT_TRUE(busy(lifecycle.AnswerRequest("set-adapter lo")));
    EXPECT_FALSE(attached.BeginSetup()) << "one Setup at a time";
    EXPECT_NE(attached.Display().ErrorHint.find("in the relay's window"), std::string::npos);
    TStatusReport report;
    std::string error;
    EXPECT_TRUE(ParseStatusJson(lifecycle.AnswerRequest("status").Line, report, error))
        << "looking is no change: " << error;
    return false;
  });
  EXPECT_TRUE(lifecycle.AnswerRequest(add).Applied) << "taken once Setup is closed";
  EXPECT_EQ(StoredStaticList(), std::vector<std::string>{"7,127.0.0.1,1"});

  // The attached window's Setup: the same; its OK replaces the list in one request and saves.
  now += kAttachedNoticeTime;
  attached.Poll();
  ASSERT_FALSE(attached.Display().ErrorVisible) << "the refusal was shown for a while";
  attached.RunSetup(form, [&] {
    EXPECT_EQ(form.StaticList->Count(), 1) << "starts from the relay's list";
    EXPECT_TRUE(busy(lifecycle.AnswerRequest("remove-static 1")));
    form.StaticList->Add(std::make_unique<TNATInfo>(1001, "127.0.0.1", 8442, kStaticTableTimeout));
    form.CreateDebugLogs = true;
    return true;
  });
  EXPECT_FALSE(attached.Display().ErrorVisible)
      << attached.Display().ErrorText << ": " << attached.Display().ErrorHint;
  EXPECT_EQ(StoredStaticList(), (std::vector<std::string>{"7,127.0.0.1,1", "1001,127.0.0.1,8442"}));
  EXPECT_EQ(host.Tables().DuplicateStaticTable()->Count(), 2);
  EXPECT_TRUE(host.Engine().CreateDebugLogs());
  EXPECT_TRUE(lifecycle.AnswerRequest("remove-static 1").Applied) << "free again after OK";

  // An OK that does not hold the relay's Setup (it ran out, or another took it) is refused.
  TControlRequest stale;
  stale.Kind = TControlRequest::TKind::Setup;
  stale.Setup = {attached.Token(), host.ChosenAdapterID(), false, {}};
  const TControlAnswer refused = lifecycle.AnswerRequest(EncodeControlRequest(stale));
  EXPECT_EQ(DecodeOutcome(refused.Line).ExitCode, kExitFailure) << refused.Line;
  EXPECT_EQ(host.Tables().DuplicateStaticTable()->Count(), 1) << "nothing was changed";
  EXPECT_TRUE(errors.empty()) << errors.front();
}

// The order is seen through the store: nothing saved while the timers stop, the settings
// saved (and the endpoint closed) by the time the icon goes.
TEST_F(FormLifecycle, DestroyStopsTimersThenSavesThenRemovesTheIconOnce) {
  lifecycle.Start();
  window.Top = 55;
  std::vector<std::string> steps;
  const auto destroy = [&] {
    lifecycle.Destroy([&] { steps.push_back("timers, top " + std::to_string(StoredTop())); },
                      [&] {
                        steps.push_back("icon, top " + std::to_string(StoredTop()) +
                                        (host.Endpoint().IsOpen() ? ", listening" : ", closed"));
                      });
  };
  destroy();
  destroy();  // a second shut-down (end of session, then the loop's end) does nothing
  EXPECT_EQ(steps, (std::vector<std::string>{"timers, top -1", "icon, top 55, closed"}));
  EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace
}  // namespace kelvo
