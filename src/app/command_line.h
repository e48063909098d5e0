// Command-line options of the kelvorelay executable. Portable: no platform code here.
#pragma once

#include <string>

namespace kelvo {

// What one start of the executable does. At most one of the options that pick something
// other than the window may be given.
enum class TCommandAction {
  Window,        // (no option) the relay with its window
  Headless,      // --headless
  ListAdapters,  // --list-adapters
  SetAdapter,    // --set-adapter ID
  AddStatic,     // --add-static NAD,HOST,PORT
  RemoveStatic,  // --remove-static N
  ShowSettings,  // --show-settings
  Status,        // --status [--json]
  Quit,          // --quit
  Autostart,     // --autostart on|off
  Version,       // --version
  Help,          // --help, -h
};

struct TCommandLine {
  TCommandAction Action = TCommandAction::Window;
  std::string Argument;   // the ID, NAD,HOST,PORT text or row number of the action
  bool Headless = false;  // Action == Headless
  bool DebugLog = false;  // switch the trace log on from the start (window or headless)
  bool Hidden = false;    // the window starts hidden in the notification area (window only)
  bool Json = false;      // --status: the answer as it came, one JSON object
  bool ShowHelp = false;  // Action == Help
  std::string Error;      // non-empty when the arguments are not understood: one line
};

TCommandLine ParseCommandLine(int argc, char** argv);
std::string UsageText();
// "KelvoRelay 1.0.2"
std::string VersionLine();

// Exit codes of the executable.
inline constexpr int kExitOk = 0;             // stopped cleanly, or the command was done
inline constexpr int kExitFailure = 1;        // cannot listen or save, busy; none runs (--quit)
inline constexpr int kExitBadCommand = 2;     // bad command line, or no display for the window
inline constexpr int kExitOtherInstance = 3;  // another instance of this executable runs

}  // namespace kelvo
