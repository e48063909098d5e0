#include "ui_win32/win32_text.h"

#include "base/windows_text.h"

namespace kelvo {

std::wstring Widen(std::string_view AUtf8) {
  return Utf8ToWide(AUtf8);
}

std::string Narrow(std::wstring_view AUtf16) {
  return WideToUtf8(AUtf16);
}

}  // namespace kelvo
