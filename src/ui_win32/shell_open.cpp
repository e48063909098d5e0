#include "ui_win32/shell_open.h"

#include <shellapi.h>

#include <utility>

namespace kelvo {

namespace {

void ShellExecuteOpen(HWND AParent, const std::wstring& AText) {
  ShellExecuteW(AParent, L"open", AText.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

TShellOpener& CurrentOpener() {
  static TShellOpener opener = ShellExecuteOpen;
  return opener;
}

}  // namespace

void ShellOpen(HWND AParent, const std::wstring& AText) {
  if (const TShellOpener& opener = CurrentOpener()) {
    opener(AParent, AText);
  }
}

TShellOpener SetShellOpener(TShellOpener AOpener) {
  return std::exchange(CurrentOpener(),
                       AOpener ? std::move(AOpener) : TShellOpener(ShellExecuteOpen));
}

}  // namespace kelvo
