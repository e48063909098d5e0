#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <climits>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "app/command_line.h"
#include "app/config_change.h"
#include "app/control_requests.h"
#include "app/relay_host.h"
#include "app/version.h"
#include "base/wait_time.h"
#include "config/registry_store.h"
#include "config/settings_home.h"
#include "diag/my_log.h"
#include "net/ethernet_utils.h"
#include "support/relay_doubles.h"
#include "tables/address_tables.h"

namespace kelvo {
namespace {

TCommandLine Parse(std::vector<std::string> AArgs) {
  AArgs.insert(AArgs.begin(), "kelvorelay");
  std::vector<char*> argv;
  for (auto& arg : AArgs) {
    argv.push_back(arg.data());
  }
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// A fraction of a millisecond left must still be a wait: rounding it down to 0 made the
// headless loop spin through the end of every tick.
TEST(WaitTime, RoundsUpWhatIsLeftAndNeverGoesBelowZero) {
  using namespace std::chrono;
  const auto Now = steady_clock::now();
  const struct {
    steady_clock::duration Left;
    int Low, High;
  } Cases[] = {
      {-seconds(5), 0, 0},
      {microseconds(300), 1, 1},
      {milliseconds(100) - microseconds(1), 99, 100},
      {hours(24 * 20), 1'727'999'000, 1'728'000'000},
      {hours(24 * 365 * 100), INT_MAX, INT_MAX},
  };
  for (const auto& Case : Cases) {
    const int Ms = kelvo::MillisecondsUntil(Now + Case.Left);
    EXPECT_GE(Ms, Case.Low) << duration_cast<microseconds>(Case.Left).count() << " us left";
    EXPECT_LE(Ms, Case.High) << duration_cast<microseconds>(Case.Left).count() << " us left";
  }
}

TEST(CommandLine, PicksOneActionWithItsValueAndRefusesEverythingElse) {
  using A = TCommandAction;
  const struct {
    std::vector<std::string> Args;
    A Action;
    std::string Argument;
    bool DebugLog;
  } good[] = {
      {{}, A::Window, "", false},
      {{"--debug-log"}, A::Window, "", true},
      {{"--debug-log", "--headless"}, A::Headless, "", true},
      {{"--headless", "--debug-log"}, A::Headless, "", true},
      {{"-h"}, A::Help, "", false},
      {{"--help"}, A::Help, "", false},
      {{"--version"}, A::Version, "", false},
      {{"--quit"}, A::Quit, "", false},
      {{"--list-adapters"}, A::ListAdapters, "", false},
      {{"--show-settings"}, A::ShowSettings, "", false},
      {{"--set-adapter", "eth0"}, A::SetAdapter, "eth0", false},
      {{"--set-adapter=eth0"}, A::SetAdapter, "eth0", false},
      {{"--set-adapter="}, A::SetAdapter, "", false},
      {{"--add-static", "1001,10.0.0.7,8442"}, A::AddStatic, "1001,10.0.0.7,8442", false},
      {{"--add-static=-5 \"a=b\" 1"}, A::AddStatic, "-5 \"a=b\" 1", false},
      {{"--add-static", "--headless"}, A::AddStatic, "--headless", false},  // a value
      {{"--remove-static", "2"}, A::RemoveStatic, "2", false},
      {{"--status"}, A::Status, "", false},
      {{"--json", "--status"}, A::Status, "", false},
  };
  for (const auto& each : good) {
    const TCommandLine parsed = Parse(each.Args);
    const std::string shown = ::testing::PrintToString(each.Args);
    EXPECT_EQ(parsed.Error, "") << shown;
    EXPECT_EQ(parsed.Action, each.Action) << shown;
    EXPECT_EQ(parsed.Argument, each.Argument) << shown;
    EXPECT_EQ(parsed.DebugLog, each.DebugLog) << shown;
    EXPECT_EQ(parsed.Headless, each.Action == A::Headless) << shown;
    EXPECT_EQ(parsed.ShowHelp, each.Action == A::Help) << shown;
    EXPECT_EQ(parsed.Json, each.Args.size() == 2 && each.Args[0] == "--json") << shown;
  }

  const struct {
    std::vector<std::string> Args;
    std::string Mentioned;  // the message names what is wrong
  } bad[] = {
      {{"--headles"}, "--headles"},
      {{"headless"}, "headless"},
      {{"--set-adapter"}, "--set-adapter"},
      {{"--remove-static"}, "--remove-static"},
      {{"--headless", "--quit"}, "--quit"},
      {{"--set-adapter", "a", "--set-adapter", "b"}, "--set-adapter"},
      {{"--show-settings", "--debug-log"}, "--debug-log"},
      {{"--quit=now"}, "--quit"},
      {{"--add-static", "1,a\n,2"}, "one line"},
      {{"--json"}, "--json"},
      {{"--headless", "--json"}, "--json"},
      {{"--status", "--quit"}, "--quit"},
      {{"--status=x"}, "--status"},
  };
  for (const auto& each : bad) {
    const TCommandLine parsed = Parse(each.Args);
    const std::string shown = ::testing::PrintToString(each.Args);
    EXPECT_NE(parsed.Error.find(each.Mentioned), std::string::npos) << shown << parsed.Error;
    EXPECT_EQ(parsed.Error.find('\n'), std::string::npos) << shown;
  }
}

// --hidden only changes how the window starts; --autostart carries its value to the command,
// which judges it.
TEST(CommandLine, HiddenGoesWithTheWindowAloneAndAutostartTakesAValue) {
  using A = TCommandAction;
  const struct {
    std::vector<std::string> Args;
    A Action;
    std::string Argument;
    bool Hidden;
  } good[] = {
      {{"--hidden"}, A::Window, "", true},
      {{"--debug-log", "--hidden"}, A::Window, "", true},
      {{"--autostart", "on"}, A::Autostart, "on", false},
      {{"--autostart=off"}, A::Autostart, "off", false},
      {{"--autostart", "maybe"}, A::Autostart, "maybe", false},
  };
  for (const auto& each : good) {
    const TCommandLine parsed = Parse(each.Args);
    const std::string shown = ::testing::PrintToString(each.Args);
    EXPECT_EQ(parsed.Error, "") << shown;
    EXPECT_EQ(parsed.Action, each.Action) << shown;
    EXPECT_EQ(parsed.Argument, each.Argument) << shown;
    EXPECT_EQ(parsed.Hidden, each.Hidden) << shown;
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--hidden", "--headless"},
                                               {"--show-settings", "--hidden"},
                                               {"--autostart", "on", "--hidden"},
                                               {"--hidden", "--quit"}}) {
    EXPECT_NE(Parse(args).Error.find("--hidden"), std::string::npos)
        << ::testing::PrintToString(args);
  }
  EXPECT_NE(Parse({"--autostart"}).Error.find("needs a value"), std::string::npos);
}

TEST(CommandLine, HelpNamesEveryOptionAndExitCode) {
  const std::string help = UsageText();
  for (const char* text : {"--headless",
                           "--debug-log",
                           "--list-adapters",
                           "--set-adapter",
                           "--add-static",
                           "--remove-static",
                           "--show-settings",
                           "--status",
                           "--json",
                           "watch -n1 kelvorelay --status",
                           "--quit",
                           "--version",
                           "--help",
                           "--hidden",
                           "--autostart on|off",
                           "0.0.0.0",
                           "SIGHUP",
                           "  0  ",
                           "  1  ",
                           "  2  ",
                           "  3  "}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
}

TEST(ControlRequests, EveryRequestSurvivesTheWireAndNothingElsePasses) {
  using K = TConfigChange::TKind;
  std::vector<TControlRequest> requests(2);
  requests[1].Kind = TControlRequest::TKind::Quit;
  for (const K kind : {K::SetAdapter, K::AddStatic, K::RemoveStatic}) {
    for (const char* argument : {"", "eth0", "1001 \"my host\" 8442", "quit", "1025"}) {
      TControlRequest request;
      request.Kind = TControlRequest::TKind::Change;
      request.Change = {kind, argument};
      requests.push_back(request);
    }
  }
  for (const auto& request : requests) {
    const std::string line = EncodeControlRequest(request);
    EXPECT_TRUE(CouldBeControlRequest(line)) << line;
    const auto decoded = DecodeControlRequest(line);
    ASSERT_TRUE(decoded.has_value()) << line;
    EXPECT_EQ(decoded->Kind, request.Kind) << line;
    if (request.Kind == TControlRequest::TKind::Change) {
      EXPECT_EQ(decoded->Change.Kind, request.Change.Kind) << line;
      EXPECT_EQ(decoded->Change.Argument, request.Change.Argument) << line;
    }
    // Every beginning of a request may still become one; the client is not cut off early.
    for (std::size_t length = 0; length <= line.size(); ++length) {
      EXPECT_TRUE(CouldBeControlRequest(line.substr(0, length))) << line << " " << length;
    }
  }
  for (const char* junk : {"", "hello", "quit now", "set-adapter", "add-static", "QUIT", "1026",
                           "remove-static\t1", "quit\r"}) {
    EXPECT_FALSE(DecodeControlRequest(junk).has_value()) << junk;
  }
  for (const char* junk : {"hello", "qx", "1026", "set-adaptor", "add-staticx"}) {
    EXPECT_FALSE(CouldBeControlRequest(junk)) << junk;
  }
  EXPECT_FALSE(CouldBeControlRequest("add-static " + std::string(kMaxControlLine, 'x')));
}

TEST(ControlRequests, AnswersCarryTheExitCodeAndAnythingElseIsAFailure) {
  const struct {
    std::string Line;
    int Code;
    std::string Message;
  } cases[] = {
      {"0 ok", 0, ""},
      {"2 there is no row '3'", 2, "there is no row '3'"},
      {"1 cannot save", 1, "cannot save"},
      {"", 1, ""},
      {"0", 1, ""},
      {"3 other instance", 1, ""},
      {"x ok", 1, ""},
      {"-1 no", 1, ""},
  };
  for (const auto& each : cases) {
    const TOutcome outcome = DecodeOutcome(each.Line);
    EXPECT_EQ(outcome.ExitCode, each.Code) << each.Line;
    if (each.Code != 1 || each.Line == "1 cannot save") {
      EXPECT_EQ(outcome.Message, each.Message) << each.Line;
    } else {
      EXPECT_NE(outcome.Message.find("not understood"), std::string::npos) << each.Line;
    }
  }
  for (const TOutcome& outcome : {TOutcome{0, ""}, TOutcome{2, "bad: 'x,y'"}, TOutcome{1, "no"}}) {
    const TOutcome back = DecodeOutcome(EncodeOutcome(outcome));
    EXPECT_EQ(back.ExitCode, outcome.ExitCode);
    EXPECT_EQ(back.Message, outcome.Message);
  }
}

TEST(StaticEntryText, ReadsTheStoredFormWithTheEditorsNumbers) {
  const struct {
    std::string Text;
    bool Ok;
    std::int32_t NAD;
    std::string Host;
    std::uint16_t Port;
  } cases[] = {
      {"1001,192.168.1.20,8442", true, 1001, "192.168.1.20", 8442},
      {"-5 localhost 70000", true, -5, "localhost", 4464},
      {"  7 , \"my, \"\"host\"\"\" , 65536", true, 7, "my, \"host\"", 0},
      {"-2147483648,h,-1", true, -2147483648, "h", 65535},
      {"1,,2", true, 1, "", 2},
      {"1,h", false, 0, "", 0},
      {"1,h,2,3", false, 0, "", 0},
      {"", false, 0, "", 0},
      {"x,h,2", false, 0, "", 0},
      {"1,h,y", false, 0, "", 0},
      {"2147483648,h,1", false, 0, "", 0},
      {"1,h,99999999999", false, 0, "", 0},
      {"1.5,h,2", false, 0, "", 0},
  };
  for (const auto& each : cases) {
    TStaticEntryText entry;
    std::string error;
    ASSERT_EQ(ParseStaticEntryText(each.Text, entry, error), each.Ok) << each.Text;
    if (each.Ok) {
      EXPECT_EQ(entry.NAD, each.NAD) << each.Text;
      EXPECT_EQ(entry.Host, each.Host) << each.Text;
      EXPECT_EQ(entry.Port, each.Port) << each.Text;
    } else {
      EXPECT_FALSE(error.empty()) << each.Text;
    }
  }
}

class FakeAdapters : public ::testing::Test {
 protected:
  void SetUp() override {
    fPrevious = SetAdapterPlatform(
        TAdapterPlatform{[] {
                           return std::optional<std::vector<TPlatformAdapter>>({
                               {"lo", "Loopback", "127.0.0.1", "255.0.0.0", "0.0.0.0"},
                               {"eth0", "Wired", "10.1.0.5", "255.255.0.0", "10.1.0.1"},
                           });
                         },
                         [this]() -> std::string {
                           if (fHostNameResolves) {
                             return "127.0.0.1";
                           }
                           throw std::runtime_error("cannot resolve host name \"unnamed\"");
                         }});
  }
  void TearDown() override { SetAdapterPlatform(std::move(fPrevious)); }

  bool fHostNameResolves = true;
  TAdapterPlatform fPrevious;
};

using ConfigChange = FakeAdapters;

// Random additions (good and bad texts) and removals (rows in and out of range) against a
// plain list of what the static table must hold.
TEST_F(ConfigChange, AddAndRemoveFollowASimpleListAndRefusalsChangeNothing) {
  using TRow = std::tuple<std::int32_t, std::string, std::uint16_t>;
  std::vector<TRow> model;
  TNATInfoList table(kStaticTableTimeout);
  std::string adapterID = "lo";
  std::mt19937 random(7);
  const auto pick = [&random](int AFrom, int ATo) {
    return std::uniform_int_distribution<int>(AFrom, ATo)(random);
  };
  for (int step = 0; step < 400; ++step) {
    TConfigChange change;
    bool accepted = false;
    std::optional<TRow> added;
    if (pick(0, 1) == 0) {
      change.Kind = TConfigChange::TKind::AddStatic;
      const std::int32_t nad = pick(-3, 3) * 1000003;
      const int port = pick(-70000, 140000);
      const std::string host = "127.0.0." + std::to_string(pick(1, 254));
      const int form = pick(0, 4);
      switch (form) {
        case 0:
          change.Argument = std::to_string(nad) + "," + host + "," + std::to_string(port);
          break;
        case 1:  // blanks separate fields too, and a quoted host is one field
          change.Argument =
              " " + std::to_string(nad) + " \"" + host + "\"  " + std::to_string(port);
          break;
        case 2:
          change.Argument = std::to_string(nad) + "," + host;  // two fields
          break;
        case 3:
          change.Argument = std::to_string(nad) + "," + host + ",p" + std::to_string(port);
          break;
        default:
          change.Argument = std::to_string(nad) + "," + host + "," + std::to_string(port) + ",1";
      }
      if (form <= 1) {
        accepted = true;
        added = TRow{nad, host, static_cast<std::uint16_t>(static_cast<std::uint32_t>(port))};
      }
    } else {
      change.Kind = TConfigChange::TKind::RemoveStatic;
      const int row = pick(-1, static_cast<int>(model.size()) + 1);
      change.Argument = std::to_string(row);
      if (row >= 1 && row <= static_cast<int>(model.size())) {
        accepted = true;
        model.erase(model.begin() + (row - 1));
      }
    }
    if (added) {
      model.push_back(*added);
    }
    const TOutcome outcome = ApplyConfigChange(change, adapterID, table);
    ASSERT_EQ(outcome.ExitCode, accepted ? kExitOk : kExitBadCommand)
        << "step " << step << ": " << change.Argument << " " << outcome.Message;
    EXPECT_EQ(outcome.Message.empty(), accepted) << change.Argument;
    ASSERT_EQ(table.Count(), static_cast<int>(model.size())) << "step " << step;
    for (int i = 0; i < table.Count(); ++i) {
      const TNATInfo& entry = *table.Items(i);
      ASSERT_EQ(TRow(entry.NAD(), entry.Host(), entry.Port()), model[static_cast<std::size_t>(i)])
          << "step " << step << " row " << i + 1;
      EXPECT_EQ(entry.NADAlias(), entry.NAD());
      EXPECT_EQ(entry.Timeout(), -1);
    }
  }
  EXPECT_EQ(adapterID, "lo");
}

TEST_F(ConfigChange, AdapterMustExistAndAHostMustResolve) {
  TNATInfoList table(kStaticTableTimeout);
  std::string adapterID = "lo";
  EXPECT_EQ(
      ApplyConfigChange({TConfigChange::TKind::SetAdapter, "eth0"}, adapterID, table).ExitCode,
      kExitOk);
  EXPECT_EQ(adapterID, "eth0");
  for (const char* missing : {"ETH0", "eth", "", "gone"}) {
    EXPECT_EQ(
        ApplyConfigChange({TConfigChange::TKind::SetAdapter, missing}, adapterID, table).ExitCode,
        kExitBadCommand)
        << missing;
    EXPECT_EQ(adapterID, "eth0");
  }
  const TOutcome unresolved =
      ApplyConfigChange({TConfigChange::TKind::AddStatic, "1,nowhere.invalid,2"}, adapterID, table);
  EXPECT_EQ(unresolved.ExitCode, kExitBadCommand);
  EXPECT_NE(unresolved.Message.find("nowhere.invalid"), std::string::npos);
  EXPECT_EQ(table.Count(), 0);
}

// A machine whose own name does not resolve: wherever the default adapter is asked for, that
// is a warning, the adapter record stays empty and the relay goes on.
TEST_F(FakeAdapters, AnUnknownDefaultAdapterIsAWarningEverywhere) {
  fHostNameResolves = false;
  // The settings as an earlier run left them, in this platform's store of a private home.
  test::TSettingsHome home;
  {
    TRegistryStore preset;
    ASSERT_TRUE(preset.OpenKey(true));
    preset.WriteString("EthernetAdapterID", "");
    preset.WriteString("StaticList0", "1,127.0.0.1,2");
    preset.WriteString("StaticList1", "3,127.0.0.1,4");
    preset.CloseKey();
  }
  test::TNullView view;
  TMyLog log;
  TRegistryStore store;
  TRelayHost host(view, log, store);
  std::vector<std::string> warnings;
  host.SetWarningSink([&warnings](const std::string& AText) { warnings.push_back(AText); });

  EXPECT_FALSE(host.SelectDefaultAdapter());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("cannot resolve host name"), std::string::npos) << warnings[0];
  EXPECT_EQ(host.EthAdapterInfo().IPAddress(), "");

  // The stored adapter is gone and the default unknown: the static list still loads.
  TStoredPlacement placement;
  ASSERT_NO_THROW(host.LoadSettings(placement));
  EXPECT_EQ(host.Tables().DuplicateStaticTable()->Count(), 2);
  EXPECT_EQ(host.ChosenAdapterID(), "");

  // Setup's OK with an adapter that has gone: a warning, and the relay still restarts.
  host.ApplySetup(host.Tables().DuplicateStaticTable(), false, "gone");
  EXPECT_EQ(warnings.size(), 2u);
  EXPECT_EQ(host.EthAdapterInfo().IPAddress(), "");

  // Once the name resolves again, the same steps find the default adapter without a word.
  fHostNameResolves = true;
  host.ApplySetup(host.Tables().DuplicateStaticTable(), false, "gone");
  EXPECT_EQ(warnings.size(), 2u);
  EXPECT_EQ(host.EthAdapterInfo().ID(), "lo");
  host.StopListening();
}

}  // namespace
}  // namespace kelvo
