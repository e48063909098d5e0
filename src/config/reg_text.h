// Text pieces of the Registry Editor file formats ("Windows Registry Editor Version 5.00" and the
// older "REGEDIT4"): encodings, line ends, value syntax. Used by the settings store and by tests
// that hand the same text to regedit. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::regtext {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kHeader4 = "REGEDIT4";

// True when ALine (trimmed, any letter case) is one of the two headers.
bool IsHeader(std::string_view ALine);

// How a file's text is stored. A file is written back the way it was read.
enum class TTextEncoding {
  teUtf8,  // what a new file gets
  teUtf8Bom,
  teUtf16Le,     // without a byte order mark
  teUtf16LeBom,  // what regedit exports
  teUtf16Be,
  teUtf16BeBom,
  teAnsi,  // a "REGEDIT4" file without a byte order mark: Windows-1252
};

struct TDecodedText {
  std::string Text;  // UTF-8, without the byte order mark
  TTextEncoding Encoding = TTextEncoding::teUtf8;
};

// Detects the encoding (byte order mark; else zero bytes in the first two bytes mean UTF-16;
// else a "REGEDIT4" first line means ANSI; else UTF-8) and decodes. UTF-16 with an odd number
// of bytes is refused (nullopt, AError says why): its last character would be lost.
std::optional<TDecodedText> DecodeFileText(std::string_view ABytes, std::string& AError);
// AText (UTF-8) in AEncoding, with its byte order mark. For teAnsi, nullopt when a character
// has no Windows-1252 form.
std::optional<std::string> EncodeFileText(std::string_view AText, TTextEncoding AEncoding);

// Lines without their line ends; CR LF, LF and a lone CR each end a line. A final line end
// adds no empty line.
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
