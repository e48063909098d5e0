#include "config/reg_text.h"

#include <cstdio>

namespace kelvo::regtext {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& AOut, char32_t ACode) {
  if (ACode < 0x80) {
    AOut.push_back(static_cast<char>(ACode));
  } else if (ACode < 0x800) {
    AOut.push_back(static_cast<char>(0xC0 | (ACode >> 6)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  } else if (ACode < 0x10000) {
    AOut.push_back(static_cast<char>(0xE0 | (ACode >> 12)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  } else {
    AOut.push_back(static_cast<char>(0xF0 | (ACode >> 18)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 12) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  }
}

// Decodes one code point at AText[APos], advancing APos; invalid input gives U+FFFD.
char32_t NextUtf8(std::string_view AText, std::size_t& APos) {
  const auto Lead = static_cast<unsigned char>(AText[APos++]);
  if (Lead < 0x80) {
    return Lead;
  }
  int More = 0;
  char32_t Code = 0;
  char32_t Min = 0;
  if ((Lead & 0xE0) == 0xC0) {
    More = 1, Code = Lead & 0x1F, Min = 0x80;
  } else if ((Lead & 0xF0) == 0xE0) {
    More = 2, Code = Lead & 0x0F, Min = 0x800;
  } else if ((Lead & 0xF8) == 0xF0) {
    More = 3, Code = Lead & 0x07, Min = 0x10000;
  } else {
    return kReplacement;
  }
  for (int I = 0; I < More; ++I) {
    if (APos >= AText.size() || (static_cast<unsigned char>(AText[APos]) & 0xC0) != 0x80) {
      return kReplacement;
    }
    Code = (Code << 6) | (static_cast<unsigned char>(AText[APos++]) & 0x3F);
  }
  if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) {
    return kReplacement;
  }
  return Code;
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
  THexData Result{3, {}};  // plain "hex:" is binary data
  if (StartsWithNoCase(AData, "hex(")) {
    const auto Close = AData.find("):");
    if (Close == std::string_view::npos || Close == 4) {
      return std::nullopt;
    }
    unsigned Type = 0;
    for (const char Ch : AData.substr(4, Close - 4)) {
      const int D = HexDigit(Ch);
      if (D < 0 || Type > 0x0FFFFFFF) {
        return std::nullopt;
      }
      Type = Type * 16 + static_cast<unsigned>(D);
    }
    Result.Type = Type;
    AData.remove_prefix(Close + 2);
  } else if (StartsWithNoCase(AData, "hex:")) {
    AData.remove_prefix(4);
  } else {
    return std::nullopt;
  }
  AData = Trim(AData);
  while (!AData.empty()) {
    const auto Comma = AData.find(',');
    const std::string_view Item = Trim(AData.substr(0, Comma));
    if (Item.size() != 2 || HexDigit(Item[0]) < 0 || HexDigit(Item[1]) < 0) {
      return std::nullopt;
    }
    Result.Bytes.push_back(static_cast<char>(HexDigit(Item[0]) * 16 + HexDigit(Item[1])));
    if (Comma == std::string_view::npos) {
      break;
    }
    AData.remove_prefix(Comma + 1);
  }
  return Result;
}

// A double-quoted text at the start of AData with backslash escapes; AEnd is set behind the
// closing quote. nullopt when there is no closing quote.
std::optional<std::string> ParseQuoted(std::string_view AData, std::size_t& AEnd) {
  if (!AData.starts_with('"')) {
    return std::nullopt;
  }
  std::string Result;
  for (std::size_t P = 1; P < AData.size(); ++P) {
    if (AData[P] == '"') {
      AEnd = P + 1;
      return Result;
    }
    if (AData[P] == '\\' && P + 1 < AData.size()) {
      ++P;
    }
    Result.push_back(AData[P]);
  }
  return std::nullopt;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view AText) {
  std::u16string Result;
  Result.reserve(AText.size());
  std::size_t Pos = 0;
  while (Pos < AText.size()) {
    const char32_t Code = NextUtf8(AText, Pos);
    if (Code >= 0x10000) {
      Result.push_back(static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10)));
      Result.push_back(static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF)));
    } else {
      Result.push_back(static_cast<char16_t>(Code));
    }
  }
  return Result;
}

std::string Utf16ToUtf8(std::u16string_view AText) {
  std::string Result;
  Result.reserve(AText.size());
  for (std::size_t I = 0; I < AText.size(); ++I) {
    char32_t Code = AText[I];
    if (Code >= 0xD800 && Code <= 0xDBFF && I + 1 < AText.size() && AText[I + 1] >= 0xDC00 &&
        AText[I + 1] <= 0xDFFF) {
      Code = 0x10000 + ((Code - 0xD800) << 10) + (AText[I + 1] - 0xDC00);
      ++I;
    } else if (Code >= 0xD800 && Code <= 0xDFFF) {
      Code = kReplacement;  // a lone surrogate
    }
    AppendUtf8(Result, Code);
  }
  return Result;
}

std::string DecodeFileText(std::string_view ABytes) {
  if (ABytes.starts_with("\xFF\xFE")) {
    ABytes.remove_prefix(2);
    std::u16string Units;
    Units.reserve(ABytes.size() / 2);
    for (std::size_t I = 0; I + 1 < ABytes.size(); I += 2) {
      Units.push_back(static_cast<char16_t>(static_cast<unsigned char>(ABytes[I]) |
                                            (static_cast<unsigned char>(ABytes[I + 1]) << 8)));
    }
    return Utf16ToUtf8(Units);
  }
  if (ABytes.starts_with("\xEF\xBB\xBF")) {
    ABytes.remove_prefix(3);
  }
  return std::string(ABytes);
}

std::vector<std::string> SplitLines(std::string_view AText) {
  std::vector<std::string> Lines;
  while (!AText.empty()) {
    const auto Lf = AText.find('\n');
    std::string_view Line = AText.substr(0, Lf);
    if (Line.ends_with('\r')) {
      Line.remove_suffix(1);
    }
    Lines.emplace_back(Line);
    if (Lf == std::string_view::npos) {
      break;
    }
    AText.remove_prefix(Lf + 1);
  }
  return Lines;
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
  for (std::size_t I = 0; I < A.size(); ++I) {
    auto Lower = [](char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C; };
    if (Lower(A[I]) != Lower(B[I])) {
      return false;
    }
  }
  return true;
}

std::string QuoteName(std::string_view AName) {
  std::string Result;
  Result.reserve(AName.size() + 4);
  Result.push_back('"');
  for (const char Ch : AName) {
    if (Ch == '\\' || Ch == '"') {
      Result.push_back('\\');
    }
    Result.push_back(Ch);
  }
  Result.push_back('"');
  return Result;
}

std::optional<std::string> ParseValueName(std::string_view ALine, std::string_view& ARest) {
  std::size_t End = 0;
  auto Name = ParseQuoted(ALine, End);
  if (!Name) {
    return std::nullopt;
  }
  const std::string_view Rest = Trim(ALine.substr(End));
  if (!Rest.starts_with('=')) {
    return std::nullopt;
  }
  ARest = Trim(Rest.substr(1));
  return Name;
}

std::string DwordData(std::uint32_t AValue) {
  char Buf[16];
  std::snprintf(Buf, sizeof Buf, "dword:%08x", AValue);
  return Buf;
}

std::string StringData(std::string_view AText) {
  // A line break cannot stand inside a quoted string of this format, and a NUL would end the
  // text early in other readers: such texts go into the file as REG_SZ bytes instead.
  if (AText.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    std::u16string Units = Utf8ToUtf16(AText);
    Units.push_back(u'\0');
    std::string Result = "hex(1):";
    char Buf[8];
    for (std::size_t I = 0; I < Units.size(); ++I) {
      std::snprintf(Buf, sizeof Buf, "%s%02x,%02x", I == 0 ? "" : ",", Units[I] & 0xFF,
                    Units[I] >> 8);
      Result.append(Buf);
    }
    return Result;
  }
  return QuoteName(AText);
}

std::optional<std::uint32_t> ParseDword(std::string_view AData) {
  if (StartsWithNoCase(AData, "dword:")) {
    const std::string_view Digits = Trim(AData.substr(6));
    if (Digits.empty() || Digits.size() > 8) {
      return std::nullopt;
    }
    std::uint32_t Value = 0;
    for (const char Ch : Digits) {
      const int D = HexDigit(Ch);
      if (D < 0) {
        return std::nullopt;
      }
      Value = Value * 16 + static_cast<std::uint32_t>(D);
    }
    return Value;
  }
  const auto Hex = ParseHex(AData);
  if (!Hex || Hex->Type != 4 || Hex->Bytes.size() != 4) {
    return std::nullopt;
  }
  std::uint32_t Value = 0;
  for (int I = 3; I >= 0; --I) {
    Value = (Value << 8) | static_cast<unsigned char>(Hex->Bytes[static_cast<std::size_t>(I)]);
  }
  return Value;
}

std::optional<std::string> ParseString(std::string_view AData) {
  if (AData.starts_with('"')) {
    std::size_t End = 0;
    return ParseQuoted(AData, End);
  }
  // REG_SZ and REG_EXPAND_SZ as bytes: UTF-16LE up to the first NUL.
  const auto Hex = ParseHex(AData);
  if (!Hex || (Hex->Type != 1 && Hex->Type != 2)) {
    return std::nullopt;
  }
  std::u16string Units;
  for (std::size_t I = 0; I + 1 < Hex->Bytes.size(); I += 2) {
    const auto Unit = static_cast<char16_t>(static_cast<unsigned char>(Hex->Bytes[I]) |
                                            (static_cast<unsigned char>(Hex->Bytes[I + 1]) << 8));
    if (Unit == 0) {
      break;
    }
    Units.push_back(Unit);
  }
  return Utf16ToUtf8(Units);
}

}  // namespace kelvo::regtext
