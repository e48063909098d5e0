#include "config/reg_text.h"

#include <cstdio>

#include "base/utf16.h"

namespace kelvo::regtext {

namespace {

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined map to the C1 control of the
// same number, as Windows itself converts them, so every byte survives a round trip.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The Windows-1252 byte of ACode, -1 when it has none.
int Cp1252Byte(char32_t ACode) {
  if (ACode < 0x80 || (ACode >= 0xA0 && ACode <= 0xFF)) {
    return static_cast<int>(ACode);
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == ACode) {
      return 0x80 + i;
    }
  }
  return -1;
}

int HexDigit(char AChar) {
  if (AChar >= '0' && AChar <= '9') {
    return AChar - '0';
  }
  if (AChar >= 'a' && AChar <= 'f') {
    return AChar - 'a' + 10;
  }
  if (AChar >= 'A' && AChar <= 'F') {
    return AChar - 'A' + 10;
  }
  return -1;
}

bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
  return AText.size() >= APrefix.size() && EqualsNoCase(AText.substr(0, APrefix.size()), APrefix);
}

// "hex(N):" or "hex:" data: the type number and the bytes; nullopt when malformed.
struct THexData {
  unsigned Type;
  std::string Bytes;
};

std::optional<THexData> ParseHex(std::string_view AData) {
  THexData result{3, {}};  // plain "hex:" is binary data
  if (StartsWithNoCase(AData, "hex(")) {
    const auto close = AData.find("):");
    if (close == std::string_view::npos || close == 4) {
      return std::nullopt;
    }
    unsigned type = 0;
    for (const char ch : AData.substr(4, close - 4)) {
      const int d = HexDigit(ch);
      if (d < 0 || type > 0x0FFFFFFF) {
        return std::nullopt;
      }
      type = type * 16 + static_cast<unsigned>(d);
    }
    result.Type = type;
    AData.remove_prefix(close + 2);
  } else if (StartsWithNoCase(AData, "hex:")) {
    AData.remove_prefix(4);
  } else {
    return std::nullopt;
  }
  AData = Trim(AData);
  while (!AData.empty()) {
    const auto comma = AData.find(',');
    const std::string_view item = Trim(AData.substr(0, comma));
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) {
      return std::nullopt;
    }
    result.Bytes.push_back(static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
    if (comma == std::string_view::npos) {
      break;
    }
    AData.remove_prefix(comma + 1);
  }
  return result;
}

// A double-quoted text at the start of AData with backslash escapes; AEnd is set behind the
// closing quote. nullopt when there is no closing quote.
std::optional<std::string> ParseQuoted(std::string_view AData, std::size_t& AEnd) {
  if (!AData.starts_with('"')) {
    return std::nullopt;
  }
  std::string result;
  for (std::size_t p = 1; p < AData.size(); ++p) {
    if (AData[p] == '"') {
      AEnd = p + 1;
      return result;
    }
    if (AData[p] == '\\' && p + 1 < AData.size()) {
      ++p;
    }
    result.push_back(AData[p]);
  }
  return std::nullopt;
}

}  // namespace

bool IsHeader(std::string_view ALine) {
  const std::string_view line = Trim(ALine);
  return EqualsNoCase(line, kHeader) || EqualsNoCase(line, kHeader4);
}

std::optional<TDecodedText> DecodeFileText(std::string_view ABytes, std::string& AError) {
  using enum TTextEncoding;
  TDecodedText result;
  const auto byte = [&ABytes](std::size_t I) { return static_cast<unsigned char>(ABytes[I]); };
  if (ABytes.starts_with("\xFF\xFE")) {
    result.Encoding = teUtf16LeBom;
  } else if (ABytes.starts_with("\xFE\xFF")) {
    result.Encoding = teUtf16BeBom;
  } else if (ABytes.starts_with("\xEF\xBB\xBF")) {
    result.Encoding = teUtf8Bom;
  } else if (ABytes.size() >= 2 && byte(0) != 0 && byte(1) == 0) {
    result.Encoding = teUtf16Le;
  } else if (ABytes.size() >= 2 && byte(0) == 0 && byte(1) != 0) {
    result.Encoding = teUtf16Be;
  } else if (EqualsNoCase(Trim(ABytes.substr(0, ABytes.find_first_of("\r\n"))), kHeader4)) {
    result.Encoding = teAnsi;
  }
  switch (result.Encoding) {
    case teUtf8:
      result.Text.assign(ABytes);
      return result;
    case teUtf8Bom:
      result.Text.assign(ABytes.substr(3));
      return result;
    case teAnsi:
      result.Text.reserve(ABytes.size());
      for (const char ch : ABytes) {
        const auto code = static_cast<unsigned char>(ch);
        AppendUtf8(result.Text, (code >= 0x80 && code < 0xA0) ? kCp1252High[code - 0x80] : code);
      }
      return result;
    default:
      break;
  }
  const bool bigEndian = result.Encoding == teUtf16Be || result.Encoding == teUtf16BeBom;
  const std::size_t start =
      (result.Encoding == teUtf16LeBom || result.Encoding == teUtf16BeBom) ? 2 : 0;
  if ((ABytes.size() - start) % 2 != 0) {
    AError = "UTF-16 text with an odd number of bytes (its last character is cut off)";
    return std::nullopt;
  }
  std::u16string units;
  units.reserve((ABytes.size() - start) / 2);
  for (std::size_t i = start; i + 1 < ABytes.size(); i += 2) {
    const unsigned hi = bigEndian ? byte(i) : byte(i + 1);
    const unsigned lo = bigEndian ? byte(i + 1) : byte(i);
    units.push_back(static_cast<char16_t>((hi << 8) | lo));
  }
  result.Text = Utf16ToUtf8(units);
  return result;
}

std::optional<std::string> EncodeFileText(std::string_view AText, TTextEncoding AEncoding) {
  using enum TTextEncoding;
  std::string bytes;
  switch (AEncoding) {
    case teUtf8:
      return std::string(AText);
    case teUtf8Bom:
      return "\xEF\xBB\xBF" + std::string(AText);
    case teAnsi: {
      bytes.reserve(AText.size());
      std::size_t pos = 0;
      while (pos < AText.size()) {
        const char32_t code = NextUtf8(AText, pos);
        const int ansi = Cp1252Byte(code);
        if (ansi < 0) {
          return std::nullopt;
        }
        bytes.push_back(static_cast<char>(ansi));
      }
      return bytes;
    }
    default:
      break;
  }
  const bool bigEndian = AEncoding == teUtf16Be || AEncoding == teUtf16BeBom;
  const std::u16string units = Utf8ToUtf16(AText);
  bytes.reserve(2 * units.size() + 2);
  auto put = [&bytes, bigEndian](char16_t AUnit) {
    const auto lo = static_cast<char>(AUnit & 0xFF);
    const auto hi = static_cast<char>(AUnit >> 8);
    bytes.push_back(bigEndian ? hi : lo);
    bytes.push_back(bigEndian ? lo : hi);
  };
  if (AEncoding == teUtf16LeBom || AEncoding == teUtf16BeBom) {
    put(0xFEFF);
  }
  for (const char16_t unit : units) {
    put(unit);
  }
  return bytes;
}

std::vector<std::string> SplitLines(std::string_view AText) {
  std::vector<std::string> lines;
  while (!AText.empty()) {
    const auto end = AText.find_first_of("\r\n");
    lines.emplace_back(AText.substr(0, end));
    if (end == std::string_view::npos) {
      break;
    }
    const bool crLf = AText[end] == '\r' && end + 1 < AText.size() && AText[end + 1] == '\n';
    AText.remove_prefix(end + (crLf ? 2 : 1));
  }
  return lines;
}

std::string_view Trim(std::string_view AText) {
  while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t')) {
    AText.remove_prefix(1);
  }
  while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t' || AText.back() == '\r')) {
    AText.remove_suffix(1);
  }
  return AText;
}

bool EqualsNoCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) {
    return false;
  }
  for (std::size_t i = 0; i < A.size(); ++i) {
    auto lower = [](char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C; };
    if (lower(A[i]) != lower(B[i])) {
      return false;
    }
  }
  return true;
}

std::string QuoteName(std::string_view AName) {
  std::string result;
  result.reserve(AName.size() + 4);
  result.push_back('"');
  for (const char ch : AName) {
    if (ch == '\\' || ch == '"') {
      result.push_back('\\');
    }
    result.push_back(ch);
  }
  result.push_back('"');
  return result;
}

std::optional<std::string> ParseValueName(std::string_view ALine, std::string_view& ARest) {
  std::size_t end = 0;
  auto name = ParseQuoted(ALine, end);
  if (!name) {
    return std::nullopt;
  }
  const std::string_view rest = Trim(ALine.substr(end));
  if (!rest.starts_with('=')) {
    return std::nullopt;
  }
  ARest = Trim(rest.substr(1));
  return name;
}

std::string DwordData(std::uint32_t AValue) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "dword:%08x", AValue);
  return buf;
}

std::string StringData(std::string_view AText) {
  // A line break cannot stand inside a quoted string of this format, and a NUL would end the
  // text early in other readers: such texts go into the file as REG_SZ bytes instead.
  if (AText.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    std::u16string units = Utf8ToUtf16(AText);
    units.push_back(u'\0');
    std::string result = "hex(1):";
    char buf[8];
    for (std::size_t i = 0; i < units.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%s%02x,%02x", i == 0 ? "" : ",", units[i] & 0xFF,
                    units[i] >> 8);
      result.append(buf);
    }
    return result;
  }
  return QuoteName(AText);
}

std::optional<std::uint32_t> ParseDword(std::string_view AData) {
  if (StartsWithNoCase(AData, "dword:")) {
    const std::string_view digits = Trim(AData.substr(6));
    if (digits.empty() || digits.size() > 8) {
      return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char ch : digits) {
      const int d = HexDigit(ch);
      if (d < 0) {
        return std::nullopt;
      }
      value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
  }
  const auto hex = ParseHex(AData);
  if (!hex || hex->Type != 4 || hex->Bytes.size() != 4) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(hex->Bytes[static_cast<std::size_t>(i)]);
  }
  return value;
}

std::optional<std::string> ParseString(std::string_view AData) {
  if (AData.starts_with('"')) {
    std::size_t end = 0;
    return ParseQuoted(AData, end);
  }
  // REG_SZ and REG_EXPAND_SZ as bytes: UTF-16LE up to the first NUL.
  const auto hex = ParseHex(AData);
  if (!hex || (hex->Type != 1 && hex->Type != 2)) {
    return std::nullopt;
  }
  std::u16string units;
  for (std::size_t i = 0; i + 1 < hex->Bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(hex->Bytes[i]) |
                                            (static_cast<unsigned char>(hex->Bytes[i + 1]) << 8));
    if (unit == 0) {
      break;
    }
    units.push_back(unit);
  }
  return Utf16ToUtf8(units);
}

}  // namespace kelvo::regtext
