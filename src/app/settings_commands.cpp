#include "app/settings_commands.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include "app/autostart.h"
#include "app/config_change.h"
#include "app/control_client.h"
#include "app/control_requests.h"
#include "app/instance_guard.h"
#include "app/network_follower.h"
#include "app/relay_host.h"
#include "app/running_instance.h"
#include "app/static_entries.h"
#include "app/status_report.h"
#include "app/status_text.h"
#include "config/registry_store.h"
#include "config/settings.h"
#include "net/ethernet_utils.h"
#include "tables/address_tables.h"

namespace kelvo {

namespace {

using namespace std::chrono_literals;

// A relay that is still starting (resolving its static hosts, say) opens its socket late.
constexpr auto kConnectPatience = 10s;
// Applying a change resolves a host and restarts the endpoint.
constexpr auto kAnswerTimeout = 30s;
// Saving the settings, closing the endpoint.
constexpr auto kQuitPatience = 30s;

void Out(const std::string& AText) {
  std::fprintf(stdout, "%s\n", AText.c_str());
}

int Fail(int ACode, const std::string& AText) {
  std::fprintf(stderr, "kelvorelay: %s\n", AText.c_str());
  return ACode;
}

std::string AdapterLine(const TEthernetAdapterInfo& AAdapter) {
  return AAdapter.DescName() + " (" + AAdapter.IPAddress() + ")";
}

// Rows as the lists show them: "No.", NAD unsigned, the host as entered, the port.
std::string PadRight(std::string AText, std::size_t AWidth) {
  if (AText.size() < AWidth) {
    AText.resize(AWidth, ' ');
  }
  return AText;
}

int ListAdapters() {
  TEthernetAdapterInfoList adapters;
  adapters.Refresh();
  for (int i = 0; i < adapters.Count(); ++i) {
    const TEthernetAdapterInfo& adapter = *adapters.Items(i);
    Out(PadRight(AdapterLine(adapter), 40) + " ID " + adapter.ID());
  }
  if (adapters.Count() == 0) {
    std::fputs("kelvorelay: no network adapters found\n", stderr);
  }
  return kExitOk;
}

// The running relay's own account of its binding; nullopt when none runs or it does not
// answer.
std::optional<TStatusReport> AskStatus() {
  TInstanceGuard guard(ExecutablePath());
  if (!guard.AnyRunning()) {
    return std::nullopt;
  }
  return AskRunningStatus(guard, std::chrono::milliseconds(0));
}

int ShowSettings() {
  TRegistryStore store;
  if (std::string reason = UnreadableSettingsReason(store); !reason.empty()) {
    return Fail(kExitFailure, reason);
  }
  TStoredSettings values;
  try {
    LoadSettings(store, values);
  } catch (const std::exception& error) {
    return Fail(kExitFailure,
                "cannot load the settings from " + store.FileName() + ": " + error.what());
  }
  TNATInfoList staticTable(kStaticTableTimeout);
  AddStaticEntries(values.StaticList, values.StaticListTruncated, staticTable, {});

  std::string defaultError;
  const auto defaultAdapter = [&defaultError] { return DefaultAdapterOrNone(defaultError); };
  // As a relay started now would choose: the stored adapter, else the default one.
  const std::string chosenID =
      values.EthernetAdapterID ? *values.EthernetAdapterID : defaultAdapter().ID();
  std::optional<TEthernetAdapterInfo> chosen;
  if (TEthernetAdapterInfo adapter; !chosenID.empty() && adapter.SetByID(chosenID)) {
    chosen = adapter;
  }

  Out("Settings file: " + store.FileName());
  if (chosen) {
    Out("Adapter: " + AdapterLine(*chosen) + ", ID " + chosen->ID());
  } else if (!chosenID.empty()) {
    Out("Adapter: ID " + chosenID + " (not present)");
  } else {
    Out("Adapter: none" + (defaultError.empty()
                               ? std::string()
                               : " (the default adapter is unknown: " + defaultError + ")"));
  }
  if (const std::optional<TStatusReport> running = AskStatus()) {
    // The running relay knows what it is bound to; the settings may say otherwise for a while.
    const TNetworkStatus& network = running->Network;
    Out("Listening address: " +
        (network.IsListening() ? ListeningText(network) : std::string("none")) + " (running, pid " +
        std::to_string(running->Pid) + ": " + DescribeNetworkStatus(network) + ")");
  } else {
    const TBindingPlan plan = PlanBinding(chosenID, chosen, defaultAdapter);
    TNetworkStatus planned{plan.State, chosenID,
                           plan.Adapter.IPAddress().empty() ? "0.0.0.0" : plan.Adapter.IPAddress(),
                           ""};
    Out("Listening address: " + ListeningText(planned) +
        (planned.Address == "0.0.0.0" ? " (every local address)" : "") +
        (plan.State == TListenState::Listening ? "" : " (" + DescribeNetworkStatus(planned) + ")") +
        " when started now");
  }
  Out("Static IP list: " + std::to_string(staticTable.Count()) +
      (staticTable.Count() == 1 ? " entry" : " entries"));
  if (staticTable.Count() > 0) {
    Out(PadRight("No.", 6) + PadRight("NAD", 12) + PadRight("IP address", 32) + "Port");
  }
  for (int i = 0; i < staticTable.Count(); ++i) {
    const TNATInfo& entry = *staticTable.Items(i);
    Out(PadRight(std::to_string(i + 1) + ".", 6) +
        PadRight(std::to_string(static_cast<std::uint32_t>(entry.NAD())), 12) +
        PadRight(entry.Host(), 32) + std::to_string(entry.Port()));
  }
  try {
    Out(AutostartStateLine(ExecutablePath()));
  } catch (const std::exception& error) {
    Out(std::string("Start at sign-in: unknown (") + error.what() + ")");
  }
  return kExitOk;
}

// The user's own entry, not a setting of the relay: a running relay has nothing to take over.
int Autostart(const std::string& AValue) {
  if (AValue != "on" && AValue != "off") {
    return Fail(kExitBadCommand, "the value of --autostart is on or off, not '" + AValue + "'");
  }
  try {
    if (AValue == "on") {
      EnableAutostart(ExecutablePath());
    } else {
      DisableAutostart();
    }
    Out(AutostartStateLine(ExecutablePath()));
  } catch (const std::exception& error) {
    return Fail(kExitFailure, error.what());
  }
  return kExitOk;
}

// Sends ALine to the running instance; nullopt when it never accepted the connection.
std::optional<std::string> AskRunningInstance(const TInstanceGuard& AGuard,
                                              const std::string& ALine) {
  const auto deadline = std::chrono::steady_clock::now() + kConnectPatience;
  for (;;) {
    if (auto answer = SendControlRequest(AGuard.ShowRequestName(), ALine, kAnswerTimeout)) {
      return answer;
    }
    if (std::chrono::steady_clock::now() >= deadline || !AGuard.AnyRunning()) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(100ms);
  }
}

int Quit() {
  TInstanceGuard guard(ExecutablePath());
  if (!guard.AnyRunning()) {
    return Fail(kExitFailure, "no instance of " + ExecutablePath() + " is running");
  }
  TControlRequest request;
  request.Kind = TControlRequest::TKind::Quit;
  const std::optional<std::string> answer =
      AskRunningInstance(guard, EncodeControlRequest(request));
  if (!answer) {
    if (!guard.AnyRunning()) {
      return kExitOk;  // it ended by itself meanwhile
    }
    return Fail(kExitFailure, "the running instance of " + ExecutablePath() + " does not answer");
  }
  const TOutcome outcome = DecodeOutcome(*answer);
  if (outcome.ExitCode != kExitOk) {
    return Fail(kExitFailure, outcome.Message);
  }
  // It has said yes; it is done once it has saved and given back its admission.
  const auto deadline = std::chrono::steady_clock::now() + kQuitPatience;
  while (guard.AnyRunning()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return Fail(kExitFailure, "the running instance did not end within 30 seconds");
    }
    std::this_thread::sleep_for(20ms);
  }
  return kExitOk;
}

// --status: the running relay's own account, for people or as the JSON it sent.
int ShowStatus(bool AJson) {
  TInstanceGuard guard(ExecutablePath());
  const std::string none = "no instance of " + ExecutablePath() + " is running";
  if (!guard.AnyRunning()) {
    return Fail(kExitFailure, none);
  }
  const std::optional<std::string> answer = AskRunningInstance(guard, kStatusRequestLine);
  if (!answer) {
    return Fail(kExitFailure, guard.AnyRunning() ? "the running instance of " + ExecutablePath() +
                                                       " does not answer"
                                                 : none);
  }
  TStatusReport report;
  std::string error;
  if (!ParseStatusJson(*answer, report, error)) {
    return Fail(kExitFailure, "the running instance of " + ExecutablePath() + " gave " +
                                  (answer->empty() ? std::string("no answer") : error));
  }
  std::fputs(AJson ? (*answer + "\n").c_str() : StatusText(report).c_str(), stdout);
  return kExitOk;
}

// What can be told from the text alone is refused before anybody is asked.
std::string CheckText(const TConfigChange& AChange) {
  std::string error;
  if (AChange.Kind == TConfigChange::TKind::AddStatic) {
    TStaticEntryText entry;
    ParseStaticEntryText(AChange.Argument, entry, error);
  } else if (AChange.Kind == TConfigChange::TKind::RemoveStatic &&
             (AChange.Argument.empty() ||
              AChange.Argument.find_first_not_of("0123456789") != std::string::npos)) {
    error = "the row '" + AChange.Argument + "' is not a row number (1, 2, ...)";
  } else if (AChange.Kind == TConfigChange::TKind::SetAdapter && AChange.Argument.empty()) {
    error = "the adapter ID is empty (--list-adapters shows them)";
  }
  return error;
}

int ChangeSettings(const TConfigChange& AChange) {
  if (const std::string error = CheckText(AChange); !error.empty()) {
    return Fail(kExitBadCommand, error);
  }
  TInstanceGuard guard(ExecutablePath());
  bool admitted = false;
  try {
    admitted = guard.Admit(1);
  } catch (const std::exception& error) {
    return Fail(kExitFailure, error.what());
  }
  if (admitted) {
    // No relay runs, and none starts while the file is being changed.
    TRegistryStore store;
    const TOutcome outcome = ApplyConfigChangeToFile(store, AChange);
    return outcome.ExitCode == kExitOk ? kExitOk : Fail(outcome.ExitCode, outcome.Message);
  }
  // A relay of this executable runs: it takes the change, so that its own save at exit keeps
  // it, and saves it at once.
  TControlRequest request;
  request.Kind = TControlRequest::TKind::Change;
  request.Change = AChange;
  const std::optional<std::string> answer =
      AskRunningInstance(guard, EncodeControlRequest(request));
  if (!answer || answer->empty()) {
    return Fail(kExitFailure, "the running instance of " + ExecutablePath() +
                                  " does not answer; nothing was changed");
  }
  const TOutcome outcome = DecodeOutcome(*answer);
  return outcome.ExitCode == kExitOk ? kExitOk : Fail(outcome.ExitCode, outcome.Message);
}

}  // namespace

int RunSettingsCommand(const TCommandLine& AOptions) {
  switch (AOptions.Action) {
    case TCommandAction::ListAdapters:
      return ListAdapters();
    case TCommandAction::ShowSettings:
      return ShowSettings();
    case TCommandAction::Status:
      return ShowStatus(AOptions.Json);
    case TCommandAction::Quit:
      return Quit();
    case TCommandAction::Autostart:
      return Autostart(AOptions.Argument);
    case TCommandAction::SetAdapter:
      return ChangeSettings({TConfigChange::TKind::SetAdapter, AOptions.Argument});
    case TCommandAction::AddStatic:
      return ChangeSettings({TConfigChange::TKind::AddStatic, AOptions.Argument});
    case TCommandAction::RemoveStatic:
      return ChangeSettings({TConfigChange::TKind::RemoveStatic, AOptions.Argument});
    default:
      return Fail(kExitBadCommand, "not a settings command");
  }
}

}  // namespace kelvo
