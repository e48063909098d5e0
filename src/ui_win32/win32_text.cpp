#include "ui_win32/win32_text.h"

#include <windows.h>

namespace kelvo {

std::wstring Widen(std::string_view AUtf8) {
  if (AUtf8.empty()) {
    return {};
  }
  const int size = static_cast<int>(AUtf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), size, nullptr, 0);
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), size, result.data(), length);
  return result;
}

std::string Narrow(std::wstring_view AUtf16) {
  if (AUtf16.empty()) {
    return {};
  }
  const int size = static_cast<int>(AUtf16.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, AUtf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, AUtf16.data(), size, result.data(), length, nullptr, nullptr);
  return result;
}

}  // namespace kelvo
