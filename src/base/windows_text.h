// UTF-8 <-> UTF-16 at the Windows API boundary (wchar_t texts, through base/utf16.h), the ANSI
// code page, and the system's text for an error code. Windows only. Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

std::wstring Utf8ToWide(std::string_view AText);
// Text in the ANSI code page (what the narrow Winsock and IP helper calls give) to UTF-16.
std::wstring AnsiToWide(const std::string& AText);
std::string WideToUtf8(std::wstring_view AText);
// ANSI code page text of a UTF-8 string; characters the code page lacks become its default
// character.
std::string Utf8ToAnsi(const std::string& AText);
// The system's message for a Win32 or Winsock error code (GetLastError, WSAGetLastError),
// UTF-8, without the trailing line break; the number when the system has no text.
std::string WindowsErrorText(unsigned long AError);

}  // namespace kelvo
