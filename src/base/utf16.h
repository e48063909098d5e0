// The program's one UTF-8 <-> UTF-16 conversion (the settings file's encodings, the Windows API
// boundary) and the UTF-8 code point steps it is made of. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvo {

// What a sequence that is not UTF-8 (or a lone surrogate) becomes.
inline constexpr char32_t kReplacement = 0xFFFD;

// Appends ACode (at most U+10FFFF) in UTF-8.
void AppendUtf8(std::string& AOut, char32_t ACode);
// Decodes one code point at AText[APos] (APos < size), advancing APos; invalid input gives
// U+FFFD.
char32_t NextUtf8(std::string_view AText, std::size_t& APos);

std::u16string Utf8ToUtf16(std::string_view AText);
std::string Utf16ToUtf8(std::u16string_view AText);

}  // namespace kelvo
