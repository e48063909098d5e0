#include <windows.h>

#include <string>

#include "app/windows_text.h"

namespace kelvo {

namespace {

std::wstring ToWide(UINT ACodePage, const std::string& AText) {
  if (AText.empty()) {
    return {};
  }
  const int Size = static_cast<int>(AText.size());
  const int Needed = MultiByteToWideChar(ACodePage, 0, AText.data(), Size, nullptr, 0);
  std::wstring Wide(static_cast<std::size_t>(Needed > 0 ? Needed : 0), L'\0');
  if (Needed > 0) {
    MultiByteToWideChar(ACodePage, 0, AText.data(), Size, Wide.data(), Needed);
  }
  return Wide;
}

std::string FromWide(UINT ACodePage, const std::wstring& AText) {
  if (AText.empty()) {
    return {};
  }
  const int Size = static_cast<int>(AText.size());
  const int Needed =
      WideCharToMultiByte(ACodePage, 0, AText.data(), Size, nullptr, 0, nullptr, nullptr);
  std::string Text(static_cast<std::size_t>(Needed > 0 ? Needed : 0), '\0');
  if (Needed > 0) {
    WideCharToMultiByte(ACodePage, 0, AText.data(), Size, Text.data(), Needed, nullptr, nullptr);
  }
  return Text;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& AText) {
  return ToWide(CP_UTF8, AText);
}

std::wstring AnsiToWide(const std::string& AText) {
  return ToWide(CP_ACP, AText);
}

std::string WideToUtf8(const std::wstring& AText) {
  return FromWide(CP_UTF8, AText);
}

std::string Utf8ToAnsi(const std::string& AText) {
  return FromWide(CP_ACP, Utf8ToWide(AText));
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
