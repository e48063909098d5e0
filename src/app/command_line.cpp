#include "app/command_line.h"

#include <string_view>

namespace kelvo {

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine result;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--headless") {
      result.Headless = true;
    } else if (arg == "--debug-log") {
      result.DebugLog = true;
    } else if (arg == "--help" || arg == "-h") {
      result.ShowHelp = true;
    } else {
      result.Error = "unknown option '" + std::string(arg) + "'";
      break;
    }
  }
  return result;
}

std::string UsageText() {
  return "Usage: kelvorelay [--headless] [--debug-log] [--help]\n"
         "\n"
         "Relays framed UDP messages between PC applications on the LAN and Kelvo\n"
         "controllers, through UDP port 8442 of the selected network adapter.\n"
         "\n"
         "  (no option)   start with the window; the program lives in the notification\n"
         "                area, closing the window only hides it, \"Exit\" ends it\n"
         "  --headless    run the relay without a window and without a display: prints\n"
         "                the bound address (or \"Error opening port 8442!\" and exits\n"
         "                with code 1), stops cleanly on SIGINT/SIGTERM (endpoint closed,\n"
         "                settings saved, exit code 0)\n"
         "  --debug-log   write a line for every datagram received and sent to the\n"
         "                debug log from the start (the executable's name + \".log\")\n"
         "  --help, -h    show this text\n"
         "\n"
         "Settings: $XDG_CONFIG_HOME/Marlowin/KelvoRelay.reg (default ~/.config).\n"
         "One instance runs per executable path; a second start shows the first\n"
         "instance's window (or, with --headless, exits with code 3).\n";
}

}  // namespace kelvo
