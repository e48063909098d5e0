// Everything the relay owns at run time, without a window: address tables, engine, endpoint,
// selected adapter, settings store. The window (or the headless runner) owns one TRelayHost,
// implements TRelayView and TSettingsWindow, and drives the 100 ms ageing tick.
//
// Threads: every operation runs on the owner's thread (GUI thread, or the headless runner's
// main thread); the engine's listener thread works behind it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "config/registry_store.h"
#include "config/settings.h"
#include "net/ethernet_utils.h"
#include "net/udp_endpoint.h"
#include "relay/relay_engine.h"
#include "relay/relay_view.h"
#include "tables/address_tables.h"
#include "tables/clock.h"

namespace kelvo {

class TMyLog;

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
  TEthernetAdapterInfo& EthAdapterInfo() { return fEthAdapterInfo; }
  TMyLog& Log() { return fLog; }
  TRegistryStore& Store() { return fStore; }

  // Where warnings go that do not stop the relay (default: one line on stderr).
  using TWarningSink = std::function<void(const std::string&)>;
  void SetWarningSink(TWarningSink ASink) { fWarn = std::move(ASink); }

  // Start-up steps, in the order the owner calls them.
  // GetDefault. When the default adapter cannot be determined (the machine's own host name
  // does not resolve) that is a warning: the record stays empty and the relay listens on every
  // local address.
  bool SelectDefaultAdapter();
  // May throw TRegistryError. A settings file that exists but cannot be used gets one warning
  // naming it and what is wrong; the relay then goes on with its start-up values.
  void LoadSettings(TSettingsWindow& AWindow);
  // (Re)binds port 8442 on the adapter's address. Never throws: a failure shows the port error
  // through the view, leaves the endpoint closed and returns false.
  bool StartListening();
  void StopListening();
  void SaveSettings(const TSettingsWindow& AWindow);  // may throw TRegistryError

  // 100 ms tick of the tables' ageing timers.
  void AgeTables() { fTables.AgeAll(); }

  // Setup confirmed: installs AStaticTable, switches the debug log (writing the separator
  // line while it is on), re-selects the adapter and restarts the endpoint. The caller saves
  // the settings afterwards.
  void ApplySetup(std::unique_ptr<TNATInfoList> AStaticTable, bool ACreateDebugLogs,
                  const std::string& AEthernetAdapterID);

  // Reads the settings file again and applies it as a confirmed Setup does (static table,
  // adapter, endpoint restart); the debug switch and the window's place are left alone.
  // Nothing is applied, and false returned with AError set, when the file cannot be read.
  bool ReloadSettings(std::string& AError);

 private:
  void SelectAdapter(const std::string& AEthernetAdapterID);  // SetByID, else GetDefault

  TRelayView& fView;
  TMyLog& fLog;
  TRegistryStore& fStore;
  TAddressTables fTables;
  TUDPEndpoint fEndpoint;
  TRelayEngine fEngine;
  TEthernetAdapterInfo fEthAdapterInfo;
  TWarningSink fWarn;
};

// The debug log's file for this executable: beside it, or in the user's state folder when the
// executable's folder cannot be written (see app/debug_log_location.h).
std::string DebugLogFileName();
// The running executable's full path.
std::string ExecutablePath();

}  // namespace kelvo
