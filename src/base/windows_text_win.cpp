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
  const int Size = static_cast<int>(AText.size());
  const int Needed =
      WideCharToMultiByte(CP_ACP, 0, AText.data(), Size, nullptr, 0, nullptr, nullptr);
  std::string Text(static_cast<std::size_t>(Needed > 0 ? Needed : 0), '\0');
  if (Needed > 0) {
    WideCharToMultiByte(CP_ACP, 0, AText.data(), Size, Text.data(), Needed, nullptr, nullptr);
  }
  return Text;
}

}  // namespace

// wchar_t is UTF-16 on Windows: the portable converter's units are the API's units.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Utf8ToWide(std::string_view AText) {
  const std::u16string Units = Utf8ToUtf16(AText);
  return std::wstring(Units.begin(), Units.end());
}

std::wstring AnsiToWide(const std::string& AText) {
  if (AText.empty()) {
    return {};
  }
  const int Size = static_cast<int>(AText.size());
  const int Needed = MultiByteToWideChar(CP_ACP, 0, AText.data(), Size, nullptr, 0);
  std::wstring Wide(static_cast<std::size_t>(Needed > 0 ? Needed : 0), L'\0');
  if (Needed > 0) {
    MultiByteToWideChar(CP_ACP, 0, AText.data(), Size, Wide.data(), Needed);
  }
  return Wide;
}

std::string WideToUtf8(std::wstring_view AText) {
  return Utf16ToUtf8(std::u16string(AText.begin(), AText.end()));
}

std::string Utf8ToAnsi(const std::string& AText) {
  return WideToAnsiText(Utf8ToWide(AText));
}

std::string WindowsErrorText(unsigned long AError) {
  wchar_t* Buffer = nullptr;
  const DWORD Length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, AError, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  std::wstring Text = Length > 0 && Buffer != nullptr ? std::wstring(Buffer, Length) : L"";
  if (Buffer != nullptr) {
    LocalFree(Buffer);
  }
  while (!Text.empty() && (Text.back() == L'\n' || Text.back() == L'\r' || Text.back() == L' ')) {
    Text.pop_back();
  }
  if (Text.empty()) {
    return "error " + std::to_string(AError);
  }
  return WideToUtf8(Text);
}

}  // namespace kelvo
