// The headless relay as a service manager and an operator drive it: the settings options with
// and without a running relay, --quit, SIGHUP, stop requests during start-up, a vanished
// reader of its output, a machine whose own name does not resolve, and start at sign-in. Real
// processes, real loopback datagrams.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "support/relay_process.h"

namespace kelvo::test {
namespace {

using namespace std::chrono_literals;

const TBytes kPayload{0x01, 0x02};

std::string Static(int ANAD, const TUdpPeer& APeer) {
  return std::to_string(ANAD) + ",127.0.0.1," + std::to_string(APeer.Port());
}

std::size_t CountLines(const std::string& AText) {
  std::size_t lines = 0;
  for (char c : AText) {
    lines += c == '\n' ? 1 : 0;
  }
  return lines;
}

std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether the process holds SIGTERM blocked: true from the first statement of its main on.
bool HoldsStopRequests(int APid) {
  std::ifstream status("/proc/" + std::to_string(APid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask & (1ULL << (SIGTERM - 1))) != 0;
    }
  }
  return false;
}

class HeadlessService : public ::testing::Test {
 protected:
  void StartRelay(const std::vector<std::string>& AArgs = {}) {
    const std::string line = fRelay.Start(fHome, AArgs);
    ASSERT_NE(line.find("listening on 127.0.0.1:8442"), std::string::npos) << fRelay.Output();
  }
  // A request from an application to ANAD reaches APeer (or, with AExpected false, nobody
  // within a short wait).
  static void ExpectRouted(const TUdpPeer& AApp, int ANAD, const TUdpPeer& APeer,
                           bool AExpected = true) {
    const TBytes request = MakeFrame(5, ANAD, 0, kPayload);
    AApp.SendToRelay(request);
    if (AExpected) {
      EXPECT_EQ(APeer.Receive(2s), request) << "NAD " << ANAD;
    } else {
      EXPECT_FALSE(APeer.Receive(300ms).has_value()) << "NAD " << ANAD;
    }
  }

  TConfigHome fHome;
  TRelayProcess fRelay;
};

// Every refusal: exit code 2, one line on stderr, nothing on stdout, the file byte for byte as
// it was, both when the file is changed directly and when a running relay is asked.
TEST_F(HeadlessService, SettingsOptionsRefuseBadInputAndLeaveTheFileUntouched) {
  const std::vector<std::vector<std::string>> bad = {
      {"--add-static", "1001,127.0.0.1"},
      {"--add-static", "1001,127.0.0.1,8442,9"},
      {"--add-static", ""},
      {"--add-static", "x,127.0.0.1,8442"},
      {"--add-static", "1001,127.0.0.1,port"},
      {"--add-static", "2147483648,127.0.0.1,1"},
      {"--add-static", "1001,nowhere.invalid,1"},
      {"--add-static"},
      {"--remove-static", "0"},
      {"--remove-static", "2"},
      {"--remove-static", "-1"},
      {"--remove-static", "1x"},
      {"--set-adapter", "no-such-adapter"},
      {"--set-adapter", ""},
      {"--set-adapter"},
      {"--bogus"},
      {"--headless", "--quit"},
      {"--show-settings", "--debug-log"},
      {"--version=3"},
  };
  TUdpPeer controller;
  fHome.WriteSettings({Static(1001, controller)}, {"\"Top\"=dword:0000000a"});
  const std::string before = fHome.ReadSettings();

  for (const bool relayRuns : {false, true}) {
    if (relayRuns) {
      StartRelay();
    }
    for (const auto& args : bad) {
      const TCommandResult result = RunRelayCommand(fHome, args);
      const std::string shown = args[0] + (args.size() > 1 ? " '" + args[1] + "'" : "");
      EXPECT_EQ(result.ExitCode, 2) << shown << (relayRuns ? " (relay runs)" : "");
      EXPECT_EQ(CountLines(result.Err), 1u) << shown << ": " << result.Err;
      EXPECT_EQ(result.Out, "") << shown;
      EXPECT_EQ(fHome.ReadSettings(), before) << shown;
    }
  }
  // The relay still routes by its unchanged table.
  TUdpPeer app;
  ExpectRouted(app, 1001, controller);
}

TEST_F(HeadlessService, SettingsOptionsChangeTheFileAsSetupWouldWhenNoRelayRuns) {
  fHome.WriteSettings({"1001,127.0.0.1,9000"},
                      {"\"Top\"=dword:fffffffb", "\"Left\"=dword:0000012c", "\"Other\"=\"x\""});

  const TCommandResult adapters = RunRelayCommand(fHome, {"--list-adapters"});
  EXPECT_EQ(adapters.ExitCode, 0) << adapters.Err;
  EXPECT_NE(adapters.Out.find("(127.0.0.1)"), std::string::npos) << adapters.Out;
  EXPECT_NE(adapters.Out.find(" ID lo\n"), std::string::npos) << adapters.Out;

  // The stored text form, read by the editor's rules: blanks separate, the port keeps 16 bits.
  EXPECT_EQ(RunRelayCommand(fHome, {"--add-static", "-5 localhost 70000"}).ExitCode, 0);
  EXPECT_EQ(RunRelayCommand(fHome, {"--add-static", "2002,127.0.0.1,65535"}).ExitCode, 0);
  EXPECT_EQ(RunRelayCommand(fHome, {"--remove-static", "1"}).ExitCode, 0);
  EXPECT_EQ(RunRelayCommand(fHome, {"--set-adapter=lo"}).ExitCode, 0);

  const std::string settings = fHome.ReadSettings();
  EXPECT_NE(settings.find("\"StaticList0\"=\"-5,localhost,4464\""), std::string::npos) << settings;
  EXPECT_NE(settings.find("\"StaticList1\"=\"2002,127.0.0.1,65535\""), std::string::npos);
  EXPECT_EQ(settings.find("StaticList2"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("1001,"), std::string::npos) << settings;
  // What the options do not touch stays as it was.
  EXPECT_NE(settings.find("\"Top\"=dword:fffffffb"), std::string::npos) << settings;
  EXPECT_NE(settings.find("\"Left\"=dword:0000012c"), std::string::npos) << settings;
  EXPECT_NE(settings.find("\"Other\"=\"x\""), std::string::npos) << settings;

  // Rows as the lists show them: numbered from 1, NAD unsigned, the host as entered.
  const TCommandResult shown = RunRelayCommand(fHome, {"--show-settings"});
  EXPECT_EQ(shown.ExitCode, 0) << shown.Err;
  EXPECT_EQ(shown.Err, "");
  EXPECT_NE(shown.Out.find("ID lo"), std::string::npos) << shown.Out;
  EXPECT_NE(shown.Out.find("Listening address: 127.0.0.1:8442"), std::string::npos) << shown.Out;
  std::istringstream lines(shown.Out);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> row{std::istream_iterator<std::string>(words), {}};
    if (!row.empty() && row[0].back() == '.' && std::isdigit(row[0][0])) {
      rows.push_back(row);
    }
  }
  const std::vector<std::vector<std::string>> expected = {{"1.", "4294967291", "localhost", "4464"},
                                                          {"2.", "2002", "127.0.0.1", "65535"}};
  EXPECT_EQ(rows, expected) << shown.Out;
}

// A running relay takes the change at once and saves it; its own save at exit keeps it.
TEST_F(HeadlessService, ARunningRelayTakesAHandedOverChangeAtOnceAndKeepsIt) {
  TUdpPeer first, second, app;
  fHome.WriteSettings({Static(1001, first)});
  StartRelay();

  const std::size_t before = fRelay.Output().size();
  const TCommandResult added = RunRelayCommand(fHome, {"--add-static", Static(2002, second)});
  ASSERT_EQ(added.ExitCode, 0) << added.Err;
  EXPECT_NE(fHome.ReadSettings().find("\"StaticList1\"=\"" + Static(2002, second) + "\""),
            std::string::npos)
      << fHome.ReadSettings();
  ExpectRouted(app, 2002, second);
  // The endpoint restarted, as after Setup's OK, and says where it listens.
  EXPECT_TRUE(fRelay.WaitForOutput("listening on 127.0.0.1:8442", before));

  ASSERT_EQ(RunRelayCommand(fHome, {"--remove-static", "1"}).ExitCode, 0);
  ExpectRouted(app, 1001, first, false);
  ExpectRouted(app, 2002, second);

  ASSERT_EQ(fRelay.Stop(SIGTERM), 0) << fRelay.Output();
  const std::string settings = fHome.ReadSettings();
  EXPECT_NE(settings.find("\"StaticList0\"=\"" + Static(2002, second) + "\""), std::string::npos)
      << settings;
  EXPECT_EQ(settings.find("StaticList1"), std::string::npos) << settings;
}

TEST_F(HeadlessService, QuitEndsTheRunningRelayAsExitDoesAndFailsWhenNoneRuns) {
  const TCommandResult none = RunRelayCommand(fHome, {"--quit"});
  EXPECT_EQ(none.ExitCode, 1);
  EXPECT_NE(none.Err.find("no instance"), std::string::npos) << none.Err;

  TUdpPeer controller;
  fHome.WriteSettings({Static(1001, controller)});
  StartRelay();
  std::filesystem::remove(fHome.SettingsFile());
  const TCommandResult quit = RunRelayCommand(fHome, {"--quit"});
  EXPECT_EQ(quit.ExitCode, 0) << quit.Err;
  // --quit came back only once the relay had saved and given back its instance record.
  EXPECT_NE(fHome.ReadSettings().find("\"StaticList0\"=\"" + Static(1001, controller) + "\""),
            std::string::npos);
  EXPECT_EQ(fRelay.Wait(2s), 0) << fRelay.Output();
  EXPECT_NE(fRelay.Output().find("KelvoRelay stopped."), std::string::npos);
  EXPECT_EQ(RunRelayCommand(fHome, {"--quit"}).ExitCode, 1);
}

// SIGHUP applies the file as Setup's OK does; a file that cannot be read changes nothing and
// is not overwritten at exit.
TEST_F(HeadlessService, HangupReReadsTheSettingsAndKeepsThemWhenTheFileIsUnreadable) {
  TUdpPeer first, second, app;
  fHome.WriteSettings({Static(1001, first)});
  StartRelay({"--debug-log"});
  ExpectRouted(app, 1001, first);

  fHome.WriteSettings({Static(2002, second)});
  std::size_t before = fRelay.Output().size();
  ::kill(fRelay.Pid(), SIGHUP);
  ASSERT_TRUE(fRelay.WaitForOutput("listening on 127.0.0.1:8442", before)) << fRelay.Output();
  ExpectRouted(app, 2002, second);
  ExpectRouted(app, 1001, first, false);
  // The debug switch is the command line's, untouched by the re-read.
  const std::string log = ReadFile(RelayDebugLog());
  EXPECT_NE(log.find("Tx 127.0.0.1:" + std::to_string(second.Port())), std::string::npos) << log;

  const std::string broken = "this is not a settings file\r\n";
  { std::ofstream(fHome.SettingsFile(), std::ios::binary) << broken; }
  before = fRelay.Output().size();
  ::kill(fRelay.Pid(), SIGHUP);
  ASSERT_TRUE(fRelay.WaitForOutput("Cannot read the settings file", before)) << fRelay.Output();
  ExpectRouted(app, 2002, second);
  // A handed-over change would be saved at once: refused while the file cannot be read.
  const TCommandResult added = RunRelayCommand(fHome, {"--add-static", Static(3003, first)});
  EXPECT_EQ(added.ExitCode, 1);
  EXPECT_NE(added.Err.find("Cannot read the settings file"), std::string::npos) << added.Err;
  ExpectRouted(app, 3003, first, false);
  ASSERT_EQ(fRelay.Stop(SIGTERM), 0) << fRelay.Output();
  EXPECT_EQ(fHome.ReadSettings(), broken);
}

// Stop requests at random moments of start-up, from the first statement of main on, all end
// the relay cleanly: settings saved, instance record given back.
TEST_F(HeadlessService, StopRequestsDuringStartUpEndCleanly) {
  TUdpPeer controller;
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> delayUs(0, 30000);
  constexpr int kTrials = 20;
  for (int trial = 0; trial < kTrials; ++trial) {
    // Written with blanks between the fields: the relay's save writes commas, so the
    // file shows that the settings were both read and saved.
    fHome.WriteSettings({"1001 127.0.0.1 " + std::to_string(controller.Port())});
    TRelayProcess relay;
    relay.StartProgram(RelayExecutable(), {"--headless"}, fHome, {});
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!HoldsStopRequests(relay.Pid()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(100us);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
    ASSERT_EQ(relay.Stop(SIGTERM), 0) << "trial " << trial << ": " << relay.Output();
    EXPECT_NE(relay.Output().find("KelvoRelay stopped."), std::string::npos) << relay.Output();
    EXPECT_NE(fHome.ReadSettings().find("\"StaticList0\"=\"" + Static(1001, controller) + "\""),
              std::string::npos)
        << "trial " << trial;
  }
  EXPECT_EQ(RunRelayCommand(fHome, {"--quit"}).ExitCode, 1);  // nobody left registered
}

// The reader of its output is gone (a closed terminal, a finished pipeline): the stop still
// saves, exits 0 and gives the instance record back.
TEST_F(HeadlessService, StopsCleanlyAfterTheReaderOfItsOutputIsGone) {
  TUdpPeer controller;
  fHome.WriteSettings({Static(1001, controller)});
  StartRelay();
  fRelay.CloseOutput();
  std::filesystem::remove(fHome.SettingsFile());
  EXPECT_EQ(fRelay.Stop(SIGTERM), 0);
  EXPECT_NE(fHome.ReadSettings().find("StaticList0"), std::string::npos);
  TRelayProcess next;
  EXPECT_NE(next.Start(fHome, {}).find("listening on 127.0.0.1:8442"), std::string::npos)
      << next.Output();
  EXPECT_EQ(next.Stop(SIGTERM), 0) << next.Output();
}

// A machine whose own host name does not resolve: the default adapter is unknown, which is a
// warning; the relay listens on every local address, start after start.
TEST_F(HeadlessService, StartsOnAMachineWhoseNameDoesNotResolve) {
  if (!CanUseOwnHostName()) {
    GTEST_SKIP() << "needs a UTS namespace (root or user namespaces) to give the relay an "
                    "unresolvable host name";
  }
  TStartOptions unnamed;
  unnamed.HostName = "kelvo-unnamed-host";
  TUdpPeer controller, app;
  fHome.WriteSettings({Static(1001, controller)}, {"\"EthernetAdapterID\"=\"\""});
  for (int start = 0; start < 2; ++start) {
    TRelayProcess relay;
    const std::string line = relay.StartProgram(RelayExecutable(), {"--headless"}, fHome,
                                                {"listening on", "Error opening port"}, unnamed);
    ASSERT_NE(line.find("listening on 0.0.0.0:8442"), std::string::npos) << relay.Output();
    EXPECT_NE(relay.Output().find("warning: the default adapter is unknown"), std::string::npos)
        << relay.Output();
    ExpectRouted(app, 1001, controller);
    ASSERT_EQ(relay.Stop(SIGTERM), 0) << relay.Output();
    EXPECT_NE(fHome.ReadSettings().find("\"EthernetAdapterID\"=\"\""), std::string::npos);
  }
}

// `make run` with a display that is named but does not answer: the window's start says so and
// the script starts the relay headless instead.
TEST_F(HeadlessService, RunScriptFallsBackToHeadlessWhenTheDisplayDoesNotAnswer) {
  TUdpPeer controller, app;
  fHome.WriteSettings({Static(1001, controller)});
  // The script runs <folder>/bin/kelvorelay: a folder of our own around the tests' link.
  const std::filesystem::path folder = fHome.Dir() / "build";
  std::filesystem::create_directories(folder / "bin");
  std::filesystem::create_symlink(RelayExecutable(), folder / "bin" / "kelvorelay");
  TStartOptions noDisplay;
  noDisplay.Environment = {"DISPLAY=:93", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

  TRelayProcess script;
  const std::string line = script.StartProgram("/bin/bash", {KELVO_RUN_SCRIPT, folder.string()},
                                               fHome, {"listening on", "Error opening"}, noDisplay);
  ASSERT_NE(line.find("listening on 127.0.0.1:8442"), std::string::npos) << script.Output();
  EXPECT_TRUE(script.Output().find("no display can be reached") != std::string::npos ||
              script.Output().find("built without a window") != std::string::npos)
      << script.Output();
  ExpectRouted(app, 1001, controller);
  // The script hands its process over to the relay: the stop reaches the relay itself.
  EXPECT_EQ(script.Stop(SIGTERM), 0) << script.Output();
}

// Start at sign-in: the XDG autostart file starts exactly the executable that wrote it with
// --hidden, in the desktop entry's quoting whatever its path holds; on and off may be given
// again, and off takes away that file alone.
TEST_F(HeadlessService, AutostartWritesTheDesktopEntryAndOffRemovesExactlyIt) {
  namespace fs = std::filesystem;
  const fs::path folder = fHome.Dir() / "autostart";
  const fs::path entry = folder / "com.marlowin.KelvoRelay.desktop";
  // A second copy where spaces, quotes, a backslash, a dollar and a percent sign need quoting.
  const fs::path odd = fHome.Dir() / R"(my "relay" \ $HOME 100%)" / "kelvorelay";
  fs::create_directories(odd.parent_path());
  std::error_code linkError;
  fs::create_hard_link(RelayExecutable(), odd, linkError);
  if (linkError) {
    fs::copy_file(RelayExecutable(), odd);
    fs::permissions(odd, fs::perms::owner_all);
  }
  ASSERT_EQ(RelayExecutable().find_first_of(" \"\\$%'"), std::string::npos) << RelayExecutable();
  const std::string home = fHome.Dir().string();
  const struct {
    std::string Program;
    std::string Exec;     // as the file holds it
    std::string TryExec;  // likewise
  } cases[] = {
      {RelayExecutable(), RelayExecutable() + " --hidden", RelayExecutable()},
      {odd.string(), "\"" + home + R"(/my \\"relay\\" \\\\ \\$HOME 100%%/kelvorelay" --hidden)",
       home + R"(/my "relay" \\ $HOME 100%/kelvorelay)"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.Program);
    TStartOptions copy;
    copy.Executable = each.Program;
    const auto run = [&](std::vector<std::string> AArgs) {
      return RunRelayCommand(fHome, AArgs, copy);
    };
    const std::string expected =
        "[Desktop Entry]\n"
        "# Written by kelvorelay --autostart on; kelvorelay --autostart off removes it.\n"
        "Type=Application\n"
        "Name=KelvoRelay\n"
        "Comment=Starts KelvoRelay in the notification area at sign-in\n"
        "Exec=" +
        each.Exec + "\nTryExec=" + each.TryExec +
        "\n"
        "Icon=com.marlowin.KelvoRelay\n"
        "Terminal=false\n";
    const std::string on = "Start at sign-in: on (" + entry.string() + ")\n";

    TCommandResult result = run({"--autostart", "off"});
    EXPECT_EQ(result.ExitCode, 0) << "off when nothing is there: " << result.Err;
    EXPECT_EQ(result.Out, "Start at sign-in: off\n");
    EXPECT_FALSE(fs::exists(entry));

    // A neighbour of our entry, which nothing of ours may touch.
    fs::create_directories(folder);
    std::ofstream(folder / "other.desktop") << "[Desktop Entry]\n";
    for (int time = 0; time < 2; ++time) {
      result = run({"--autostart", "on"});
      EXPECT_EQ(result.ExitCode, 0) << result.Err;
      EXPECT_EQ(result.Out, on);
      EXPECT_EQ(ReadFile(entry), expected);
      EXPECT_EQ(fs::status(entry).permissions(), fs::perms(0644));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2)
        << "no temporary file left behind";
    result = run({"--show-settings"});
    EXPECT_NE(result.Out.find(on), std::string::npos) << result.Out;
    // The other copy is not the one that starts at sign-in.
    TStartOptions other;
    other.Executable = each.Program == odd.string() ? RelayExecutable() : odd.string();
    result = RunRelayCommand(fHome, {"--show-settings"}, other);
    EXPECT_NE(
        result.Out.find("Start at sign-in: off for this copy (" + entry.string() + " starts "),
        std::string::npos)
        << result.Out;

    // Switched off in the desktop's session settings, and on again.
    std::ofstream(entry, std::ios::app) << "Hidden=true\n";
    EXPECT_NE(run({"--show-settings"}).Out.find("switched off by the desktop"), std::string::npos);
    EXPECT_EQ(run({"--autostart", "on"}).ExitCode, 0);
    EXPECT_EQ(ReadFile(entry), expected);

    for (int time = 0; time < 2; ++time) {
      result = run({"--autostart", "off"});
      EXPECT_EQ(result.ExitCode, 0) << result.Err;
      EXPECT_EQ(result.Out, "Start at sign-in: off\n");
      EXPECT_FALSE(fs::exists(entry));
      EXPECT_TRUE(fs::exists(folder / "other.desktop"));
    }
    fs::remove(folder / "other.desktop");
  }
  const TCommandResult bad = RunRelayCommand(fHome, {"--autostart", "yes"});
  EXPECT_EQ(bad.ExitCode, 2);
  EXPECT_NE(bad.Err.find("on or off"), std::string::npos) << bad.Err;
  EXPECT_FALSE(fs::exists(entry));
}

}  // namespace
}  // namespace kelvo::test
