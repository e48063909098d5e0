// "Open this text" through the shell (a web address, or "mailto: ..." for a new mail), with a
// replaceable opener so tests can see what would be opened. GUI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace kelvo {

using TShellOpener = std::function<void(HWND AParent, const std::wstring& AText)>;

// ShellExecuteW(AParent, "open", AText, no parameters, no folder, SW_SHOWNORMAL); its result
// is not used.
void ShellOpen(HWND AParent, const std::wstring& AText);
// Replaces the opener (empty: the shell again); returns the previous one.
TShellOpener SetShellOpener(TShellOpener AOpener);

}  // namespace kelvo
