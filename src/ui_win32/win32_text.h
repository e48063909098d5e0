// UTF-8 (the program's strings) to UTF-16 (the Windows API) and back, at the API boundary only;
// the front-end's short names for base/windows_text.h.
// Any thread.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

std::wstring Widen(std::string_view AUtf8);
std::string Narrow(std::wstring_view AUtf16);

}  // namespace kelvo
