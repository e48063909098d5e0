// Whether the window can reach a display, asked before Qt is started: Qt aborts the process
// when its platform plugin finds no display, and says nothing useful.
#pragma once

#include <string>

namespace kelvo {

struct TDisplayEnvironment {
  std::string QtPlatform;      // QT_QPA_PLATFORM
  std::string Display;         // DISPLAY
  std::string WaylandDisplay;  // WAYLAND_DISPLAY
  std::string RuntimeDir;      // XDG_RUNTIME_DIR
};

TDisplayEnvironment CurrentDisplayEnvironment();

// True when a platform that Qt will try can be reached: an X server that accepts a
// connection, or a Wayland compositor's socket. Platforms that need no display (offscreen,
// minimal, vnc, ...) always count as reachable.
bool DisplayReachable(const TDisplayEnvironment& AEnvironment);

}  // namespace kelvo
