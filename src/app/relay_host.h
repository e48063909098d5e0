// Everything the relay owns at run time, without a window: address tables, engine, endpoint,
// the chosen adapter and the one in use, the settings store. The window (or the headless
// runner) owns one TRelayHost, implements TRelayView, and drives the 100 ms tick (ageing and
// following the network).
//
// Threads: every operation runs on the owner's thread (GUI thread, or the headless runner's
// main thread); the engine's listener thread works behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/lamp_counts.h"
#include "app/network_follower.h"
#include "app/network_status.h"
#include "app/setup_hold.h"
#include "base/thread_check.h"
#include "config/registry_store.h"
#include "net/ethernet_utils.h"
#include "net/udp_endpoint.h"
#include "relay/relay_engine.h"
#include "relay/relay_view.h"
#include "tables/address_tables.h"
#include "tables/clock.h"

namespace kelvo {

class TMyLog;

// Where the main window stood, as stored; each part unset when it is not stored.
struct TStoredPlacement {
  std::optional<std::int32_t> Top;
  std::optional<std::int32_t> Left;
};

class TRelayHost {
 public:
  TRelayHost(TRelayView& AView, TMyLog& ALog, TRegistryStore& AStore,
             const TClock& AClock = SystemClock());
  ~TRelayHost();  // closes the endpoint before the tables go
  TRelayHost(const TRelayHost&) = delete;
  TRelayHost& operator=(const TRelayHost&) = delete;

  TAddressTables& Tables() { return fTables; }
  TRelayEngine& Engine() { return fEngine; }
  TUDPEndpoint& Endpoint() { return fEndpoint; }
  // The adapter in use: the chosen one, or the fallback while it is absent or has no address.
  const TEthernetAdapterInfo& EthAdapterInfo() const { return fEthAdapterInfo; }
  // The adapter the user chose (Setup, --set-adapter, the settings file): what is saved.
  const std::string& ChosenAdapterID() const { return fFollower.ChosenAdapterID(); }
  const TNetworkStatus& NetworkStatus() const { return fFollower.Status(); }
  TMyLog& Log() { return fLog; }
  TRegistryStore& Store() { return fStore; }
  // How often each lamp was lit since the start (for the status answer).
  const TLampCountingView& LampCounts() const { return fLampCounts; }
  // Whose Setup is open: changes handed over meanwhile are answered "busy".
  TSetupHold& SetupHold() { return fSetupHold; }

  // Where warnings go that do not stop the relay (default: one line on stderr).
  using TWarningSink = std::function<void(const std::string&)>;
  void SetWarningSink(TWarningSink ASink) { fWarn = std::move(ASink); }
  // Told the network status after every (re)start of the endpoint and every change the relay
  // follows by itself, after the view has its labels.
  using TStatusSink = std::function<void(const TNetworkStatus&)>;
  void SetStatusSink(TStatusSink ASink) { fStatusSink = std::move(ASink); }
  // The window's restored position (top, left), asked for at every save. Without one, a stored
  // "Top" and "Left" stay as they are (a relay without a window has no place on any screen).
  using TPlacementSource = std::function<std::pair<std::int32_t, std::int32_t>()>;
  void SetPlacementSource(TPlacementSource ASource) { fPlacement = std::move(ASource); }

  // Start-up steps, in the order the owner calls them.
  // GetDefault, which is also the chosen adapter until the settings name one. When the default
  // adapter cannot be determined (the machine's own host name does not resolve) that is a
  // warning: the record stays empty and the relay listens on every local address.
  bool SelectDefaultAdapter();
  // Reads the settings: the chosen adapter and the static table, and where the window stood
  // into APlacement (for the window to apply). May throw TRegistryError at a value of the wrong
  // type; what was read before it stays applied (APlacement included). A settings file that exists
  // but cannot be used gets one warning naming it and what is wrong; the relay then goes on with
  // its start-up values.
  void LoadSettings(TStoredPlacement& APlacement);
  // (Re)binds port 8442 on the chosen adapter, or on the fallback (see network_follower.h).
  // Never throws: a failure shows the port error through the view, leaves the endpoint closed,
  // is retried with a backoff and returns false.
  bool StartListening();
  void StopListening();
  void SaveSettings();  // may throw TRegistryError

  // The status tick's reading of the message counter (frames since the last reading), kept
  // as the rate of the last status second for whoever asks for the status.
  std::int32_t SampleRate();
  std::int32_t LastRate() const { return fLastRate; }

  // 100 ms tick of the tables' ageing timers.
  void AgeTables() { fTables.AgeAll(); }
  // The same tick: a due look at the network (a debounced change, the re-check, a retry).
  void FollowNetwork();
  // The system says that links or addresses changed (a look follows after a short debounce).
  void NetworkChanged();

  // Setup confirmed: installs AStaticTable, switches the debug log (writing the separator
  // line while it is on), takes AEthernetAdapterID as the chosen adapter and restarts the
  // endpoint. The caller saves the settings afterwards.
  void ApplySetup(std::unique_ptr<TNATInfoList> AStaticTable, bool ACreateDebugLogs,
                  const std::string& AEthernetAdapterID);

  // Reads the settings file again and applies it as a confirmed Setup does (static table,
  // adapter, endpoint restart); the debug switch and the window's place are left alone.
  // Nothing is applied, and false returned with AError set, when the file cannot be read.
  bool ReloadSettings(std::string& AError);

 private:
  std::string BindTo(const TEthernetAdapterInfo& AAdapter);
  // The status to the debug log (a change after the start) and the sink (a change, or ATell).
  void Publish(bool AChanged, bool ATell);
  TEthernetAdapterInfo DefaultAdapter() const;

  TLampCountingView fLampCounts;  // the engine reports through it to the owner's view
  TRelayView& fView;
  TMyLog& fLog;
  TRegistryStore& fStore;
  TAddressTables fTables;
  TUDPEndpoint fEndpoint;
  TRelayEngine fEngine;
  TEthernetAdapterInfo fEthAdapterInfo;
  TNetworkFollower fFollower;
  TWarningSink fWarn;
  TStatusSink fStatusSink;
  TPlacementSource fPlacement;
  TSetupHold fSetupHold;
  TThreadOwner fOwner;  // the thread that runs the operations above (checked in debug builds)
  std::int32_t fLastRate = 0;
  bool fStarted = false;  // the endpoint was started once
};

// The debug log's file for this executable: beside it, or in the user's state folder when the
// executable's folder cannot be written (see app/debug_log_location.h).
std::string DebugLogFileName();
// The running executable's full path.
std::string ExecutablePath();
// This process's ID.
long CurrentProcessId();

}  // namespace kelvo
