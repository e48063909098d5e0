#include "app/headless_runner.h"

#include <cstdio>
#include <exception>

#include "app/relay_host.h"
#include "app/stop_request.h"
#include "config/registry_store.h"
#include "diag/my_log.h"

namespace kelvo {

namespace {

// Without a window the lamps and counters have nowhere to go; the bound address and the port
// error are printed.
class THeadlessView final : public TRelayView {
 public:
  void SetLed(TLamp, TLedColor) override {}
  void ReqCountChanged(std::int32_t) override {}
  void AckCountChanged(std::int32_t) override {}
  void LocalIPChanged(const std::string& AAddress) override { fLocalIP = AAddress; }
  void PortErrorChanged(bool AVisible) override { fPortError = AVisible; }

  std::string fLocalIP;
  bool fPortError = false;
};

// There is no window to place: the stored position is kept as it was, so the next windowed
// start opens where the window last stood.
class THeadlessWindow final : public TSettingsWindow {
 public:
  std::int32_t RestoredTop() const override { return fTop; }
  std::int32_t RestoredLeft() const override { return fLeft; }
  void SetTop(std::int32_t ATop) override { fTop = ATop; }
  void SetLeft(std::int32_t ALeft) override { fLeft = ALeft; }

 private:
  // Where a first windowed start would open when nothing was ever stored.
  std::int32_t fTop = 100;
  std::int32_t fLeft = 100;
};

void Print(const char* AFormat, const std::string& AText) {
  std::fprintf(stdout, AFormat, AText.c_str());
  std::fflush(stdout);
}

}  // namespace

int RunHeadless(const TCommandLine& AOptions, TMyLog& ALog) {
  // Before the listener thread starts (see TStopRequest).
  TStopRequest stopRequest;

  THeadlessView view;
  THeadlessWindow window;
  TRegistryStore store;
  TRelayHost host(view, ALog, store);

  ALog.SetLogFile(DebugLogFileName());
  try {
    host.SelectDefaultAdapter();
  } catch (const std::exception& error) {
    Print("Warning: the default adapter is unknown (%s)\n", error.what());
  }
  try {
    host.LoadSettings(window);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvorelay: cannot load the settings from %s: %s\n",
                 store.FileName().c_str(), error.what());
    return 1;
  }
  host.Engine().SetCreateDebugLogs(AOptions.DebugLog);

  if (!host.StartListening()) {
    Print("%s\n", "Error opening port 8442!");
    return 1;
  }
  Print("KelvoRelay listening on %s:8442\n", view.fLocalIP);
  if (AOptions.DebugLog) {
    Print("Debug log: %s\n", ALog.LogFile());
  }

  // The tables age on a 100 ms tick, as they do under the window.
  while (!stopRequest.Wait(std::chrono::milliseconds(100))) {
    host.AgeTables();
  }

  host.StopListening();
  int exitCode = 0;
  try {
    host.SaveSettings(window);
    Print("%s\n", "KelvoRelay stopped.");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvorelay: %s\n", error.what());
    exitCode = 1;
  }
  stopRequest.Done();
  return exitCode;
}

}  // namespace kelvo
