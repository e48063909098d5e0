#include "app/relay_host.h"

#include <exception>
#include <utility>

#include "diag/my_log.h"

namespace kelvo {

namespace {

const char* const kSetupSeparator = "---------------------------------";

}  // namespace

TRelayHost::TRelayHost(TRelayView& AView, TMyLog& ALog, TRegistryStore& AStore,
                       const TClock& AClock)
    : fView(AView),
      fLog(ALog),
      fStore(AStore),
      fTables(AClock),
      fEngine(fTables, fEndpoint, fView, fLog) {}

TRelayHost::~TRelayHost() {
  // The listener thread uses the engine and the tables: it must be gone before they are.
  fEndpoint.Close();
}

bool TRelayHost::SelectDefaultAdapter() {
  return fEthAdapterInfo.GetDefault();
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
}

bool TRelayHost::StartListening() {
  fView.PortErrorChanged(false);
  try {
    fEndpoint.Close();
    fEngine.ResetCommState();
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

  if (!fEthAdapterInfo.SetByID(AEthernetAdapterID)) {
    fEthAdapterInfo.GetDefault();
  }
  StartListening();
}

std::string DebugLogFileName() {
  const std::string path = ExecutablePath();
  // Either separator: Windows paths may hold both.
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    return path.substr(0, dot) + ".log";
  }
  return path + ".log";
}

}  // namespace kelvo
