#include "app/relay_host.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "app/config_change.h"
#include "app/headless_window.h"
#include "diag/my_log.h"

namespace kelvo {

namespace {

const char* const kSetupSeparator = "---------------------------------";

void PrintWarning(const std::string& AText) {
  std::fprintf(stderr, "kelvorelay: warning: %s\n", AText.c_str());
  std::fflush(stderr);
}

// GetDefault, with a failure of the socket layer turned into a warning and an empty record.
bool GetDefaultOrWarn(TEthernetAdapterInfo& AInfo, const TRelayHost::TWarningSink& AWarn) {
  try {
    return AInfo.GetDefault();
  } catch (const std::exception& error) {
    AInfo.Clear();
    AWarn(std::string("the default adapter is unknown (") + error.what() +
          "); the relay binds every local address (0.0.0.0)");
    return false;
  }
}

}  // namespace

TRelayHost::TRelayHost(TRelayView& AView, TMyLog& ALog, TRegistryStore& AStore,
                       const TClock& AClock)
    : fView(AView),
      fLog(ALog),
      fStore(AStore),
      fTables(AClock),
      fEngine(fTables, fEndpoint, fView, fLog),
      fWarn(PrintWarning) {}

TRelayHost::~TRelayHost() {
  // The listener thread uses the engine and the tables: it must be gone before they are.
  fEndpoint.Close();
}

bool TRelayHost::SelectDefaultAdapter() {
  return GetDefaultOrWarn(fEthAdapterInfo, fWarn);
}

void TRelayHost::SelectAdapter(const std::string& AEthernetAdapterID) {
  if (!fEthAdapterInfo.SetByID(AEthernetAdapterID)) {
    GetDefaultOrWarn(fEthAdapterInfo, fWarn);
  }
}

void TRelayHost::LoadSettings(TSettingsWindow& AWindow) {
  // Host names are resolved while loading; that must not happen under the tables' lock, so the
  // entries are read into a table of our own and installed afterwards, also when loading stops
  // at a bad value (what was read before it stays applied).
  auto staticTable = std::make_unique<TNATInfoList>(kStaticTableTimeout, fTables.Clock());
  struct TInstall {
    TAddressTables& Tables;
    std::unique_ptr<TNATInfoList>& Table;
    ~TInstall() { Tables.ReplaceStaticTable(std::move(Table)); }
  } install{fTables, staticTable};
  kelvo::LoadSettings(fStore, AWindow, fEthAdapterInfo, *staticTable);
  // Both front-ends come through here, so an unusable file is told once on either start. The
  // store never writes such a file, so the user's data stays for them to mend.
  if (!fStore.OpenError().empty()) {
    std::fprintf(stderr, "kelvorelay: %s; going on without stored settings\n",
                 fStore.OpenError().c_str());
  }
}

bool TRelayHost::StartListening() {
  fView.PortErrorChanged(false);
  try {
    fEndpoint.Close();
    fEngine.ResetCommState();
    fEngine.PrepareListening(fEthAdapterInfo.IPAddress(), kRelayPort);
    fEndpoint.ClearBindings();
    fEndpoint.AddBinding(fEthAdapterInfo.IPAddress(), kRelayPort);
    fEndpoint.SetOnDatagram(
        [this](std::span<const std::uint8_t> ABytes, const std::string& APeerIP,
               std::uint16_t APeerPort) { fEngine.udpLocalUDPRead(ABytes, APeerIP, APeerPort); });
    fEndpoint.Open();
    fView.LocalIPChanged(fEndpoint.BoundAddress());
    return true;
  } catch (const std::exception&) {
    fEndpoint.Close();
    fView.PortErrorChanged(true);
    return false;
  }
}

void TRelayHost::StopListening() {
  fEndpoint.Close();
}

void TRelayHost::SaveSettings(const TSettingsWindow& AWindow) {
  // Saving writes a file; work on a copy so the listener is never held up by the disk.
  const std::unique_ptr<TNATInfoList> staticTable = fTables.DuplicateStaticTable();
  kelvo::SaveSettings(fStore, AWindow, fEthAdapterInfo, *staticTable);
}

void TRelayHost::ApplySetup(std::unique_ptr<TNATInfoList> AStaticTable, bool ACreateDebugLogs,
                            const std::string& AEthernetAdapterID) {
  // The previous table is out of every reader's reach once the swap returns.
  fTables.ReplaceStaticTable(std::move(AStaticTable)).reset();

  fEngine.SetCreateDebugLogs(ACreateDebugLogs);
  if (ACreateDebugLogs) {
    try {
      fLog.AddLog(kSetupSeparator);
    } catch (const std::exception&) {
      // An unwritable log must not keep the new settings from taking effect.
    }
  }

  SelectAdapter(AEthernetAdapterID);
  StartListening();
}

bool TRelayHost::ReloadSettings(std::string& AError) {
  // A file that is there but cannot be read (being edited, say) must not empty the static
  // table: the relay keeps what it runs with.
  if (std::string reason = UnreadableSettingsReason(fStore); !reason.empty()) {
    AError = reason;
    return false;
  }

  // The file's values are read into records of our own, as at start-up: a missing adapter
  // value means the default adapter.
  TEthernetAdapterInfo adapter;
  try {
    adapter.GetDefault();
  } catch (const std::exception&) {
    adapter.Clear();  // ApplySetup below warns when no adapter can be found
  }
  auto staticTable = std::make_unique<TNATInfoList>(kStaticTableTimeout, fTables.Clock());
  THeadlessWindow window;
  try {
    kelvo::LoadSettings(fStore, window, adapter, *staticTable);
  } catch (const std::exception& error) {
    AError = "cannot load the settings from " + fStore.FileName() + ": " + error.what();
    return false;
  }
  ApplySetup(std::move(staticTable), fEngine.CreateDebugLogs(), adapter.ID());
  return true;
}

}  // namespace kelvo
