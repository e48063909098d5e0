#include "app/command_line.h"

#include <string_view>

#include "app/version.h"

namespace kelvo {

namespace {

struct TOptionName {
  std::string_view Name;
  TCommandAction Action;
  bool TakesArgument;
};

constexpr TOptionName kOptions[] = {
    {"--headless", TCommandAction::Headless, false},
    {"--list-adapters", TCommandAction::ListAdapters, false},
    {"--set-adapter", TCommandAction::SetAdapter, true},
    {"--add-static", TCommandAction::AddStatic, true},
    {"--remove-static", TCommandAction::RemoveStatic, true},
    {"--show-settings", TCommandAction::ShowSettings, false},
    {"--status", TCommandAction::Status, false},
    {"--quit", TCommandAction::Quit, false},
    {"--autostart", TCommandAction::Autostart, true},
    {"--version", TCommandAction::Version, false},
    {"--help", TCommandAction::Help, false},
    {"-h", TCommandAction::Help, false},
};

bool Runs(TCommandAction AAction) {
  return AAction == TCommandAction::Window || AAction == TCommandAction::Headless;
}

}  // namespace

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine result;
  bool actionGiven = false;
  std::string_view actionName;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--debug-log") {
      result.DebugLog = true;
      continue;
    }
    if (arg == "--hidden") {
      result.Hidden = true;
      continue;
    }
    if (arg == "--json") {
      result.Json = true;
      continue;
    }
    // "--set-adapter=eth0" is the same as "--set-adapter eth0".
    std::string_view inlineValue;
    bool hasInlineValue = false;
    if (const std::size_t equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
      inlineValue = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      hasInlineValue = true;
    }
    const TOptionName* option = nullptr;
    for (const TOptionName& candidate : kOptions) {
      if (candidate.Name == arg) {
        option = &candidate;
      }
    }
    if (option == nullptr) {
      result.Error = "unknown option '" + std::string(argv[i]) + "'";
      return result;
    }
    if (hasInlineValue && !option->TakesArgument) {
      result.Error = "option " + std::string(arg) + " takes no value";
      return result;
    }
    if (actionGiven) {
      result.Error =
          "options " + std::string(actionName) + " and " + std::string(arg) + " cannot be combined";
      return result;
    }
    actionGiven = true;
    actionName = option->Name;
    result.Action = option->Action;
    if (option->TakesArgument) {
      if (hasInlineValue) {
        result.Argument = std::string(inlineValue);
      } else if (i + 1 < argc) {
        result.Argument = argv[++i];
      } else {
        result.Error = "option " + std::string(arg) + " needs a value";
        return result;
      }
      // The value travels as one line to a running relay.
      if (result.Argument.find_first_of("\r\n") != std::string::npos) {
        result.Error = "the value of " + std::string(arg) + " must be one line";
        return result;
      }
    }
  }
  if (result.DebugLog && !Runs(result.Action)) {
    result.Error = "option --debug-log goes only with the window or --headless";
    return result;
  }
  if (result.Hidden && result.Action != TCommandAction::Window) {
    result.Error = "option --hidden goes only with the window";
    return result;
  }
  if (result.Json && result.Action != TCommandAction::Status) {
    result.Error = "option --json goes only with --status";
    return result;
  }
  result.Headless = result.Action == TCommandAction::Headless;
  result.ShowHelp = result.Action == TCommandAction::Help;
  return result;
}

std::string UsageText() {
  return "Usage: kelvorelay [--hidden] [--debug-log] | --headless [--debug-log]\n"
         "       kelvorelay --list-adapters | --show-settings | --set-adapter ID\n"
         "       kelvorelay --add-static NAD,HOST,PORT | --remove-static N\n"
         "       kelvorelay --status [--json] | --autostart on|off\n"
         "       kelvorelay --quit | --version | --help\n"
         "\n"
         "Relays framed UDP messages between PC applications on the LAN and Kelvo\n"
         "controllers, through UDP port 8442 of the selected network adapter.\n"
         "\n"
         "Running the relay:\n"
         "  (no option)      start with the window; the program lives in the notification\n"
         "                   area, closing the window only hides it, \"Exit\" ends it\n"
         "  --headless       run the relay without a window and without a display: prints\n"
         "                   the address it listens on (0.0.0.0: every local address) or\n"
         "                   \"Error opening port 8442!\"; SIGINT/SIGTERM stop it (endpoint\n"
         "                   closed, settings saved), SIGHUP re-reads the settings file\n"
         "  --hidden         start with the window hidden in the notification area (shown\n"
         "                   as usual when the desktop has none)\n"
         "  --debug-log      write a line for every datagram received and sent to the\n"
         "                   debug log from the start (the executable's name + \".log\", or\n"
         "                   $XDG_STATE_HOME/Marlowin/kelvorelay.log when its folder\n"
         "                   cannot be written)\n"
         "\n"
         "Settings, without a window (a running relay of this executable takes the change\n"
         "at once and saves it; otherwise the settings file is changed):\n"
         "  --list-adapters  one line per network adapter: as Setup lists it, and its ID\n"
         "  --set-adapter ID listen on the adapter with this ID\n"
         "  --add-static NAD,HOST,PORT\n"
         "                   add a controller to the static IP list,\n"
         "                   e.g. 1001,10.0.0.7,8442\n"
         "                   (quote a host with spaces or commas: 1001,\"my host\",8442)\n"
         "  --remove-static N\n"
         "                   remove row N (numbered from 1 as --show-settings lists them)\n"
         "  --show-settings  the adapter, the listening address, the static IP list and\n"
         "                   whether the program starts at sign-in\n"
         "\n"
         "Status of the running relay (window or --headless) of this executable:\n"
         "  --status         its state and address, adapter, counters, rate, debug log,\n"
         "                   then the applications and controllers as the window lists\n"
         "                   them; `watch -n1 kelvorelay --status` follows it live\n"
         "  --json           with --status: the relay's answer as it came, one JSON object\n"
         "\n"
         "Other:\n"
         "  --autostart on|off\n"
         "                   start the window hidden in the notification area when you\n"
         "                   sign in (on), or no longer (off)\n"
         "  --quit           ask the running instance of this executable to end as\n"
         "                   \"Exit\" does (settings saved) and wait until it has ended\n"
         "  --version        print the version\n"
         "  --help, -h       show this text\n"
         "\n"
         "Exit codes:\n"
         "  0  stopped cleanly, or the command was done\n"
         "  1  cannot listen or cannot save, or busy: Setup is open (--quit, --status:\n"
         "     no instance was running)\n"
         "  2  bad command line or bad value (the settings are left untouched), or no\n"
         "     display for the window\n"
         "  3  another instance of this executable runs (--headless)\n"
         "\n"
         "Settings: $XDG_CONFIG_HOME/Marlowin/KelvoRelay.reg (default ~/.config).\n"
         "One instance runs per executable path; a second start shows the first\n"
         "instance's window (or, with --headless, exits with code 3). Started while the\n"
         "relay runs with --headless (as a service), the window attaches to it.\n";
}

std::string VersionLine() {
  return std::string(kApplicationTitle) + " " + GetVersionText(3);
}

}  // namespace kelvo
