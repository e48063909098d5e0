// Command-line options of the kelvorelay executable.
#pragma once

#include <string>

namespace kelvo {

struct TCommandLine {
  bool Headless = false;
  bool DebugLog = false;  // switch the trace log on from the start
  bool ShowHelp = false;
  std::string Error;  // non-empty when the arguments are not understood
};

TCommandLine ParseCommandLine(int argc, char** argv);
std::string UsageText();

}  // namespace kelvo
