#include "app/relay_host.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>

#include "app/config_change.h"
#include "app/static_entries.h"
#include "config/settings.h"
#include "diag/my_log.h"

namespace kelvo {

namespace {

const char* const kSetupSeparator = "---------------------------------";

void PrintWarning(const std::string& AText) {
  std::fprintf(stderr, "kelvorelay: warning: %s\n", AText.c_str());
  std::fflush(stderr);
}

std::chrono::steady_clock::time_point Now() {
  return std::chrono::steady_clock::now();
}

}  // namespace

TRelayHost::TRelayHost(TRelayView& AView, TMyLog& ALog, TRegistryStore& AStore,
                       const TClock& AClock)
    : fLampCounts(AView),
      fView(fLampCounts),
      fLog(ALog),
      fStore(AStore),
      fTables(AClock),
      fEngine(fTables, fEndpoint, fView, fLog),
      fFollower({[](const std::string& AID) -> std::optional<TEthernetAdapterInfo> {
                   TEthernetAdapterInfo adapter;
                   if (!adapter.SetByID(AID)) {
                     return std::nullopt;
                   }
                   return adapter;
                 },
                 [this] { return DefaultAdapter(); },
                 [this](const TEthernetAdapterInfo& AAdapter) { return BindTo(AAdapter); },
                 [this] { return fEndpoint.BoundAddress(); }}),
      fWarn(PrintWarning) {}

TRelayHost::~TRelayHost() {
  // The listener thread uses the engine and the tables: it must be gone before they are.
  fEndpoint.Close();
}

TEthernetAdapterInfo TRelayHost::DefaultAdapter() const {
  std::string error;
  TEthernetAdapterInfo adapter = DefaultAdapterOrNone(error);
  if (!error.empty()) {
    fWarn("the default adapter is unknown (" + error +
          "); the relay binds every local address (0.0.0.0)");
  }
  return adapter;
}

bool TRelayHost::SelectDefaultAdapter() {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  fEthAdapterInfo = DefaultAdapter();
  fFollower.SetChosenAdapterID(fEthAdapterInfo.ID());
  return !fEthAdapterInfo.IPAddress().empty();
}

void TRelayHost::LoadSettings(TStoredPlacement& APlacement) {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  TStoredSettings values;
  // Host names are resolved while the entries are made; that must not happen under the
  // tables' lock, so they go into a table of our own, installed afterwards, also when loading
  // stops at a bad value (what was read before it stays applied).
  struct TApply {
    TRelayHost& Host;
    TStoredSettings& Values;
    TStoredPlacement& Placement;
    ~TApply() {
      Placement = {Values.Top, Values.Left};
      if (Values.EthernetAdapterID) {
        Host.fFollower.SetChosenAdapterID(*Values.EthernetAdapterID);
      }
      auto table = std::make_unique<TNATInfoList>(kStaticTableTimeout, Host.fTables.Clock());
      try {
        AddStaticEntries(Values.StaticList, Values.StaticListTruncated, *table, Host.fWarn);
      } catch (...) {
        // A table that cannot take its entries keeps what it has.
      }
      Host.fTables.ReplaceStaticTable(std::move(table));
    }
  } apply{*this, values, APlacement};
  kelvo::LoadSettings(fStore, values);
  // Both front-ends come through here, so an unusable file is told once on either start. The
  // store never writes such a file, so the user's data stays for them to mend.
  if (!fStore.OpenError().empty()) {
    std::fprintf(stderr, "kelvorelay: %s; going on without stored settings\n",
                 fStore.OpenError().c_str());
  }
}

std::string TRelayHost::BindTo(const TEthernetAdapterInfo& AAdapter) {
  fEthAdapterInfo = AAdapter;
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
    return {};
  } catch (const std::exception& error) {
    fEndpoint.Close();
    // Nothing is bound: the label must not go on naming an address nobody listens on.
    fView.LocalIPChanged("");
    fView.PortErrorChanged(true);
    return error.what()[0] != '\0' ? error.what() : "the endpoint cannot be opened";
  }
}

void TRelayHost::Publish(bool AChanged, bool ATell) {
  const TNetworkStatus& status = fFollower.Status();
  // The start is no change: the log's first line of a run stays a datagram's (or the
  // separator), as it always was.
  if (AChanged && fStarted && fEngine.CreateDebugLogs()) {
    try {
      fLog.AddLog("Network: " + DescribeNetworkStatus(status));
    } catch (const std::exception&) {
      // An unwritable log must not keep the relay from following the network.
    }
  }
  fStarted = true;
  if ((AChanged || ATell) && fStatusSink) {
    fStatusSink(status);
  }
}

bool TRelayHost::StartListening() {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  // Told also when nothing changed: a restart asked for is answered.
  Publish(fFollower.Restart(Now()), true);
  return fFollower.Status().IsListening();
}

void TRelayHost::StopListening() {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  fEndpoint.Close();
}

std::int32_t TRelayHost::SampleRate() {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  fLastRate = fEngine.TakeMsgCount();
  return fLastRate;
}

void TRelayHost::FollowNetwork() {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  Publish(fFollower.Tick(Now()), false);
}

void TRelayHost::NetworkChanged() {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  fFollower.NetworkChanged(Now());
}

void TRelayHost::SaveSettings() {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  TStoredSettings values;
  if (fPlacement) {
    const auto [top, left] = fPlacement();
    values.Top = top;
    values.Left = left;
  }
  values.EthernetAdapterID = fFollower.ChosenAdapterID();
  // Saving writes a file; work on a copy so the listener is never held up by the disk.
  values.StaticList = StaticEntryTexts(*fTables.DuplicateStaticTable());
  kelvo::SaveSettings(fStore, values);
}

void TRelayHost::ApplySetup(std::unique_ptr<TNATInfoList> AStaticTable, bool ACreateDebugLogs,
                            const std::string& AEthernetAdapterID) {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  // The previous table is out of every reader's reach once the swap returns.
  fTables.ReplaceStaticTable(std::move(AStaticTable)).reset();

  fEngine.SetCreateDebugLogs(ACreateDebugLogs);
  if (ACreateDebugLogs) {
    // A log that reached its size limit starts again with this confirmed Setup.
    fLog.Resume();
    try {
      fLog.AddLog(kSetupSeparator);
    } catch (const std::exception&) {
      // An unwritable log must not keep the new settings from taking effect.
    }
  }

  fFollower.SetChosenAdapterID(AEthernetAdapterID);
  StartListening();
}

bool TRelayHost::ReloadSettings(std::string& AError) {
  KELVO_ASSERT_THREAD(fOwner, "TRelayHost: the owner's thread only");
  // A file that is there but cannot be read (being edited, say) must not empty the static
  // table: the relay keeps what it runs with.
  if (std::string reason = UnreadableSettingsReason(fStore); !reason.empty()) {
    AError = reason;
    return false;
  }
  TStoredSettings values;
  try {
    kelvo::LoadSettings(fStore, values);
  } catch (const std::exception& error) {
    AError = "cannot load the settings from " + fStore.FileName() + ": " + error.what();
    return false;
  }
  auto staticTable = std::make_unique<TNATInfoList>(kStaticTableTimeout, fTables.Clock());
  AddStaticEntries(values.StaticList, values.StaticListTruncated, *staticTable, fWarn);
  // As at start-up: without a stored adapter the default one is chosen.
  const std::string adapterID =
      values.EthernetAdapterID ? *values.EthernetAdapterID : DefaultAdapter().ID();
  ApplySetup(std::move(staticTable), fEngine.CreateDebugLogs(), adapterID);
  return true;
}

}  // namespace kelvo
