#include "app/config_change.h"

#include <exception>
#include <memory>

#include "app/command_line.h"
#include "app/network_follower.h"
#include "app/relay_host.h"
#include "app/static_entries.h"
#include "config/registry_store.h"
#include "config/settings.h"
#include "config/static_list_codec.h"
#include "net/ethernet_utils.h"
#include "tables/address_tables.h"

namespace kelvo {

namespace {

// The store's text, and the system's reason behind it when the store knows one.
std::string WithCause(const std::exception& AError) {
  const auto* store = dynamic_cast<const TRegistryError*>(&AError);
  if (store == nullptr || store->Cause().empty()) {
    return AError.what();
  }
  return std::string(AError.what()) + " (" + store->Cause() + ")";
}

}  // namespace

namespace {

TOutcome Refuse(std::string AMessage) {
  return {kExitBadCommand, std::move(AMessage)};
}

// Row numbers as the lists show them: "1." is the first entry.
bool ParseRowNumber(const std::string& AText, int ACount, int& AIndex) {
  if (AText.empty() || AText.size() > 9 || AText.find_first_not_of("0123456789") != AText.npos) {
    return false;
  }
  const int row = std::stoi(AText);
  if (row < 1 || row > ACount) {
    return false;
  }
  AIndex = row - 1;
  return true;
}

}  // namespace

bool ParseStaticEntryText(const std::string& AText, TStaticEntryText& AEntry, std::string& AError) {
  const std::vector<std::string> fields = SplitStaticListFields(AText);
  if (fields.size() != 3) {
    AError = "'" + AText + "' is not NAD,HOST,PORT (" + std::to_string(fields.size()) +
             " fields instead of 3)";
    return false;
  }
  const auto nad = ParseInt32(fields[0]);
  if (!nad) {
    AError = "the NAD '" + fields[0] + "' is not a signed 32-bit decimal number";
    return false;
  }
  const auto port = ParseInt32(fields[2]);
  if (!port) {
    AError = "the port '" + fields[2] + "' is not a decimal number";
    return false;
  }
  AEntry.NAD = *nad;
  AEntry.Host = fields[1];
  // As the entry editor converts it: 70000 becomes 4464.
  AEntry.Port = static_cast<std::uint16_t>(static_cast<std::uint32_t>(*port) & 0xFFFFu);
  return true;
}

TOutcome ApplyConfigChange(const TConfigChange& AChange, std::string& AAdapterID,
                           TNATInfoList& AStaticTable) {
  switch (AChange.Kind) {
    case TConfigChange::TKind::SetAdapter: {
      TEthernetAdapterInfoList adapters;
      adapters.Refresh();
      if (adapters.GetByID(AChange.Argument) == nullptr) {
        return Refuse("there is no network adapter with the ID '" + AChange.Argument +
                      "' (--list-adapters shows them)");
      }
      AAdapterID = AChange.Argument;
      return {};
    }
    case TConfigChange::TKind::AddStatic: {
      TStaticEntryText text;
      std::string error;
      if (!ParseStaticEntryText(AChange.Argument, text, error)) {
        return Refuse(error);
      }
      // As Setup's Add: an entry whose host does not resolve is not added.
      std::unique_ptr<TNATInfo> entry;
      try {
        entry = std::make_unique<TNATInfo>(text.NAD, text.Host, text.Port, -1);
      } catch (const std::exception& failure) {
        return Refuse("cannot resolve the host '" + text.Host + "' (" + failure.what() + ")");
      }
      AStaticTable.Add(std::move(entry));
      return {};
    }
    case TConfigChange::TKind::RemoveStatic: {
      int index = -1;
      if (!ParseRowNumber(AChange.Argument, AStaticTable.Count(), index)) {
        return Refuse("there is no row '" + AChange.Argument + "' in the static IP list (" +
                      std::to_string(AStaticTable.Count()) + " rows)");
      }
      AStaticTable.Remove(AStaticTable.Items(index)).reset();
      return {};
    }
  }
  return Refuse("unknown change");
}

TOutcome ApplyConfigChangeToRelay(TRelayHost& AHost, const TConfigChange& AChange) {
  // The change is saved at once; a settings file that cannot be read is not replaced.
  if (std::string reason = UnreadableSettingsReason(AHost.Store()); !reason.empty()) {
    return {kExitFailure, reason + "; nothing was changed"};
  }
  std::unique_ptr<TNATInfoList> staticTable = AHost.Tables().DuplicateStaticTable();
  std::string adapterID = AHost.ChosenAdapterID();
  TOutcome outcome = ApplyConfigChange(AChange, adapterID, *staticTable);
  if (outcome.ExitCode != kExitOk) {
    return outcome;
  }
  return ApplyToRelayAndSave(AHost, std::move(staticTable), AHost.Engine().CreateDebugLogs(),
                             adapterID);
}

TOutcome ApplyToRelayAndSave(TRelayHost& AHost, std::unique_ptr<TNATInfoList> AStaticTable,
                             bool ACreateDebugLogs, const std::string& AAdapterID) {
  AHost.ApplySetup(std::move(AStaticTable), ACreateDebugLogs, AAdapterID);
  try {
    AHost.SaveSettings();
  } catch (const std::exception& error) {
    return {kExitFailure,
            std::string("the change is in effect but cannot be saved: ") + WithCause(error), true};
  }
  if (const TNetworkStatus& status = AHost.NetworkStatus(); !status.IsListening()) {
    return {kExitFailure,
            "the change is saved, but the relay cannot listen: " + DescribeNetworkStatus(status),
            true};
  }
  return {kExitOk, "", true};
}

std::string UnreadableSettingsReason(TRegistryStore& AStore) {
  if (AStore.OpenKey(false)) {
    AStore.DiscardKey();
    return {};
  }
  return AStore.OpenError();  // empty when there is simply no file yet
}

TOutcome ApplyConfigChangeToFile(TRegistryStore& AStore, const TConfigChange& AChange) {
  if (std::string reason = UnreadableSettingsReason(AStore); !reason.empty()) {
    return {kExitFailure, reason + "; it was left untouched"};
  }
  // Loaded as the relay loads them at start-up.
  TStoredSettings values;
  try {
    LoadSettings(AStore, values);
  } catch (const std::exception& error) {
    return {kExitFailure, "cannot load the settings from " + AStore.FileName() + ": " +
                              error.what() + "; the file was left untouched"};
  }
  TNATInfoList staticTable(kStaticTableTimeout);
  AddStaticEntries(values.StaticList, false, staticTable, {});
  if (!values.EthernetAdapterID) {
    // As a relay started now would choose it.
    std::string ignored;
    values.EthernetAdapterID = DefaultAdapterOrNone(ignored).ID();
  }
  TOutcome outcome = ApplyConfigChange(AChange, *values.EthernetAdapterID, staticTable);
  if (outcome.ExitCode != kExitOk) {
    return outcome;
  }
  if (AChange.Kind != TConfigChange::TKind::SetAdapter) {
    // Written from the table, as the relay writes it; a change of the adapter leaves the
    // stored texts exactly as they are.
    values.StaticList = StaticEntryTexts(staticTable);
  }
  // A stored window position is kept: unset values are not written.
  values.Top.reset();
  values.Left.reset();
  try {
    SaveSettings(AStore, values);
  } catch (const std::exception& error) {
    return {kExitFailure,
            "cannot save the settings to " + AStore.FileName() + ": " + WithCause(error)};
  }
  return {};
}

}  // namespace kelvo
