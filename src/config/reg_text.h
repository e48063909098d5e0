// Text pieces of the Windows Registry Editor 5.00 file format: encodings, value syntax.
// Internal to the settings store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::regtext {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

// The file's bytes as UTF-8: a UTF-8 byte order mark is dropped, UTF-16LE with its mark is
// converted. Broken sequences become U+FFFD.
std::string DecodeFileText(std::string_view ABytes);
std::u16string Utf8ToUtf16(std::string_view AText);
std::string Utf16ToUtf8(std::u16string_view AText);

// Lines without their LF or CR LF; a final line end adds no empty line.
std::vector<std::string> SplitLines(std::string_view AText);
std::string_view Trim(std::string_view AText);
bool EqualsNoCase(std::string_view A, std::string_view B);

// "\"" + name with backslash and double quote escaped + "\"".
std::string QuoteName(std::string_view AName);
// Parses the quoted name at the start of ALine; on success returns it and sets ARest to what
// follows the "=" behind it.
std::optional<std::string> ParseValueName(std::string_view ALine, std::string_view& ARest);

// Right-hand sides of a value line.
std::string DwordData(std::uint32_t AValue);     // dword:0000000a
std::string StringData(std::string_view AText);  // "text", or hex(1): when it must be
std::optional<std::uint32_t> ParseDword(std::string_view AData);
std::optional<std::string> ParseString(std::string_view AData);

}  // namespace kelvo::regtext
