// Test harness: the real kelvorelay executable run headless, and UDP peers on loopback.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/relay_doubles.h"

namespace kelvo::test {

TBytes HexToBytes(const std::string& AHex);

// A fresh XDG_CONFIG_HOME with a settings file that binds the relay to the loopback adapter.
class TConfigHome {
 public:
  TConfigHome();
  ~TConfigHome();
  const std::filesystem::path& Dir() const { return fDir; }
  std::filesystem::path SettingsFile() const;
  // Writes the settings file: adapter "lo" (unless AExtraLines name another), AExtraLines as
  // they stand, then "StaticList<n>" values.
  void WriteSettings(const std::vector<std::string>& AStaticList,
                     const std::vector<std::string>& AExtraLines = {}) const;
  std::string ReadSettings() const;

 private:
  std::filesystem::path fDir;
};

// How a program is started besides its arguments.
struct TStartOptions {
  // "NAME=value" set (replacing the inherited value), "NAME" alone removed.
  std::vector<std::string> Environment;
  // Non-empty: the program runs in a UTS namespace of its own under this host name (see
  // CanUseOwnHostName).
  std::string HostName;
  // Non-empty: RunRelayCommand runs this copy of the relay instead of RelayExecutable().
  std::string Executable;
};

// Whether this process may give a child a host name of its own (root, or user namespaces).
bool CanUseOwnHostName();

class TRelayProcess {
 public:
  TRelayProcess() = default;
  ~TRelayProcess();  // kills the process if it still runs
  TRelayProcess(const TRelayProcess&) = delete;
  TRelayProcess& operator=(const TRelayProcess&) = delete;

  // Starts `kelvorelay --headless <AExtraArgs>` with XDG_CONFIG_HOME = AConfigHome and waits
  // until it has printed a line containing one of AReadyTexts (or ended). Returns that line.
  std::string Start(const TConfigHome& AConfigHome, const std::vector<std::string>& AExtraArgs,
                    const std::vector<std::string>& AReadyTexts = {"listening on",
                                                                   "Error opening port"});
  // The same for any program (AArgs without the program name).
  std::string StartProgram(const std::string& AExecutable, const std::vector<std::string>& AArgs,
                           const TConfigHome& AConfigHome,
                           const std::vector<std::string>& AReadyTexts,
                           const TStartOptions& AOptions = {});
  // Sends ASignal and waits for the exit code (-1 on timeout or abnormal end). Under Wine,
  // SIGINT and SIGTERM both arrive as Ctrl+C, Windows' stop request for a console program.
  int Stop(int ASignal, std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  // Waits for the process to end by itself.
  int Wait(std::chrono::milliseconds ATimeout);
  int Pid() const { return fPid; }
  std::string Output() const { return fOutput; }
  // Waits (bounded) until the output holds a line with AText after the first ASkip bytes.
  bool WaitForOutput(const std::string& AText, std::size_t ASkip,
                     std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  // Closes the reading end of the program's output: its next write finds no reader.
  void CloseOutput();

 private:
  void ReadAvailable(std::chrono::milliseconds AWait);
  int fPid = -1;
  int fStdout = -1;
  std::string fOutput;
};

// A program that ran to its end, with its two output streams apart.
struct TCommandResult {
  int ExitCode = -1;  // -1: killed by a signal, or still running after the timeout
  std::string Out;
  std::string Err;
};
// Runs `kelvorelay AArgs` with XDG_CONFIG_HOME = AConfigHome and waits for it (at most 60 s).
TCommandResult RunRelayCommand(const TConfigHome& AConfigHome,
                               const std::vector<std::string>& AArgs,
                               const TStartOptions& AOptions = {});

// The relay executable the tests run: a link to (or copy of) the built one in a private
// folder, so its debug log and its single-instance record are the tests' own and never the
// build's bin/kelvorelay.log or a running user instance.
//
// Or, when the environment names one in KELVO_WINDOWS_RELAY, the Windows build's
// kelvorelay.exe run under Wine. Its settings are then the registry of the Wine prefix,
// imported from and exported to the same .reg text.
std::string RelayExecutable();
bool RelayRunsUnderWine();
std::filesystem::path RelayDebugLog();
// The address the relay listens on with the settings of TConfigHome: Windows lists no loopback
// adapter, so there the "lo" adapter is unknown and the relay listens on every address.
std::string RelayListenAddress();
// The adapter identifier the relay writes back for the settings of TConfigHome: the chosen one,
// on every platform.
std::string RelaySavedAdapterID();

// A UDP socket bound to 127.0.0.1 on an ephemeral port.
class TUdpPeer {
 public:
  explicit TUdpPeer(std::uint16_t ABindPort = 0);
  ~TUdpPeer();
  TUdpPeer(const TUdpPeer&) = delete;
  TUdpPeer& operator=(const TUdpPeer&) = delete;

  std::uint16_t Port() const { return fPort; }
  void SendTo(std::uint16_t APort, const TBytes& ABytes) const;  // to 127.0.0.1
  void SendTo(const std::string& AIP, std::uint16_t APort, const TBytes& ABytes) const;
  void SendToRelay(const TBytes& ABytes) const { SendTo(8442, ABytes); }
  // One datagram, or nullopt after ATimeout. ASourcePort receives the sender's port.
  std::optional<TBytes> Receive(std::chrono::milliseconds ATimeout = std::chrono::seconds(2),
                                std::uint16_t* ASourcePort = nullptr) const;

 private:
  int fSocket = -1;
  std::uint16_t fPort = 0;
};

}  // namespace kelvo::test
