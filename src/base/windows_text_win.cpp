#include <windows.h>

#include <string>

#include "base/utf16.h"
#include "base/windows_text.h"

namespace kelvo {

namespace {

std::string WideToAnsiText(const std::wstring& AText) {
  if (AText.empty()) {
    return {};
  }
  const int size = static_cast<int>(AText.size());
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, AText.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0) {
    WideCharToMultiByte(CP_ACP, 0, AText.data(), size, text.data(), needed, nullptr, nullptr);
  }
  return text;
}

}  // namespace

// wchar_t is UTF-16 on Windows: the portable converter's units are the API's units.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Utf8ToWide(std::string_view AText) {
  const std::u16string units = Utf8ToUtf16(AText);
  return std::wstring(units.begin(), units.end());
}

std::wstring AnsiToWide(const std::string& AText) {
  if (AText.empty()) {
    return {};
  }
  const int size = static_cast<int>(AText.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, AText.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(needed > 0 ? needed : 0), L'\0');
  if (needed > 0) {
    MultiByteToWideChar(CP_ACP, 0, AText.data(), size, wide.data(), needed);
  }
  return wide;
}

std::string WideToUtf8(std::wstring_view AText) {
  return Utf16ToUtf8(std::u16string(AText.begin(), AText.end()));
}

std::string Utf8ToAnsi(const std::string& AText) {
  return WideToAnsiText(Utf8ToWide(AText));
}

std::string WindowsErrorText(unsigned long AError) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, AError, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
  if (buffer != nullptr) {
    LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) {
    return "error " + std::to_string(AError);
  }
  return WideToUtf8(text);
}

}  // namespace kelvo
