// The program's name and version. The version is the executable's file version: its
// VERSIONINFO resource on Windows, the build's project version compiled in elsewhere.
#pragma once

#include <string>

namespace kelvo {

inline constexpr const char* kApplicationTitle = "KelvoRelay";

// The first AParts dot-separated parts of the file version ("1.0.2.0"); empty below 1, the
// whole version from 4 on, empty when the executable carries no version.
std::string GetVersionText(int AParts);
// The cut that GetVersionText applies, on any version text.
std::string VersionParts(const std::string& AVersion, int AParts);
// The whole file version, or empty when the executable has none (platform file).
std::string FileVersionText();
// "KelvoRelay v1.0.2": the main window's caption.
std::string MainWindowCaption();

}  // namespace kelvo
