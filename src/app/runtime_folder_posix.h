// The folder in which this user's relay keeps its instance record and its local socket, and
// the check of who is at the other end of that socket. No other user may create, replace or
// listen on anything there. Internal to the core's POSIX files; any thread.
#pragma once

#include <string>

namespace kelvo {

// $XDG_RUNTIME_DIR when it is a folder of this user's alone; else "kelvorelay-<uid>" in $TMPDIR
// (default /tmp), made with mode 0700 when missing. Empty when neither can be had: AWhy then
// says why in one line (say, the folder in /tmp belongs to another user).
std::string PrivateRuntimeFolder(std::string& AWhy);

// True when the process at the other end of the connected local socket ASocket runs as this
// user; otherwise AWhy says who it is.
bool PeerIsThisUser(int ASocket, std::string& AWhy);

}  // namespace kelvo
