// The program's name and version, compiled in from the build's project version.
#pragma once

#include <string>

namespace kelvo {

inline constexpr const char* kApplicationTitle = "KelvoRelay";

// The first AParts dot-separated parts of the file version ("1.0.2.0"); empty below 1, the
// whole version from 4 on.
std::string GetVersionText(int AParts);
// "KelvoRelay v1.0.2": the main window's caption.
std::string MainWindowCaption();

}  // namespace kelvo
