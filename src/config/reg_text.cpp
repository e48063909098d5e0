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
  for (int I = 0; I < 32; ++I) {
    if (kCp1252High[I] == ACode) {
      return 0x80 + I;
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

bool IsHeader(std::string_view ALine) {
  const std::string_view Line = Trim(ALine);
  return EqualsNoCase(Line, kHeader) || EqualsNoCase(Line, kHeader4);
}

std::optional<TDecodedText> DecodeFileText(std::string_view ABytes, std::string& AError) {
  using enum TTextEncoding;
  TDecodedText Result;
  const auto Byte = [&ABytes](std::size_t I) { return static_cast<unsigned char>(ABytes[I]); };
  if (ABytes.starts_with("\xFF\xFE")) {
    Result.Encoding = teUtf16LeBom;
  } else if (ABytes.starts_with("\xFE\xFF")) {
    Result.Encoding = teUtf16BeBom;
  } else if (ABytes.starts_with("\xEF\xBB\xBF")) {
    Result.Encoding = teUtf8Bom;
  } else if (ABytes.size() >= 2 && Byte(0) != 0 && Byte(1) == 0) {
    Result.Encoding = teUtf16Le;
  } else if (ABytes.size() >= 2 && Byte(0) == 0 && Byte(1) != 0) {
    Result.Encoding = teUtf16Be;
  } else if (EqualsNoCase(Trim(ABytes.substr(0, ABytes.find_first_of("\r\n"))), kHeader4)) {
    Result.Encoding = teAnsi;
  }
  switch (Result.Encoding) {
    case teUtf8:
      Result.Text.assign(ABytes);
      return Result;
    case teUtf8Bom:
      Result.Text.assign(ABytes.substr(3));
      return Result;
    case teAnsi:
      Result.Text.reserve(ABytes.size());
      for (const char Ch : ABytes) {
        const auto Code = static_cast<unsigned char>(Ch);
        AppendUtf8(Result.Text, (Code >= 0x80 && Code < 0xA0) ? kCp1252High[Code - 0x80] : Code);
      }
      return Result;
    default:
      break;
  }
  const bool BigEndian = Result.Encoding == teUtf16Be || Result.Encoding == teUtf16BeBom;
  const std::size_t Start =
      (Result.Encoding == teUtf16LeBom || Result.Encoding == teUtf16BeBom) ? 2 : 0;
  if ((ABytes.size() - Start) % 2 != 0) {
    AError = "UTF-16 text with an odd number of bytes (its last character is cut off)";
    return std::nullopt;
  }
  std::u16string Units;
  Units.reserve((ABytes.size() - Start) / 2);
  for (std::size_t I = Start; I + 1 < ABytes.size(); I += 2) {
    const unsigned Hi = BigEndian ? Byte(I) : Byte(I + 1);
    const unsigned Lo = BigEndian ? Byte(I + 1) : Byte(I);
    Units.push_back(static_cast<char16_t>((Hi << 8) | Lo));
  }
  Result.Text = Utf16ToUtf8(Units);
  return Result;
}

std::optional<std::string> EncodeFileText(std::string_view AText, TTextEncoding AEncoding) {
  using enum TTextEncoding;
  std::string Bytes;
  switch (AEncoding) {
    case teUtf8:
      return std::string(AText);
    case teUtf8Bom:
      return "\xEF\xBB\xBF" + std::string(AText);
    case teAnsi: {
      Bytes.reserve(AText.size());
      std::size_t Pos = 0;
      while (Pos < AText.size()) {
        const char32_t Code = NextUtf8(AText, Pos);
        const int Ansi = Cp1252Byte(Code);
        if (Ansi < 0) {
          return std::nullopt;
        }
        Bytes.push_back(static_cast<char>(Ansi));
      }
      return Bytes;
    }
    default:
      break;
  }
  const bool BigEndian = AEncoding == teUtf16Be || AEncoding == teUtf16BeBom;
  const std::u16string Units = Utf8ToUtf16(AText);
  Bytes.reserve(2 * Units.size() + 2);
  auto Put = [&Bytes, BigEndian](char16_t AUnit) {
    const auto Lo = static_cast<char>(AUnit & 0xFF);
    const auto Hi = static_cast<char>(AUnit >> 8);
    Bytes.push_back(BigEndian ? Hi : Lo);
    Bytes.push_back(BigEndian ? Lo : Hi);
  };
  if (AEncoding == teUtf16LeBom || AEncoding == teUtf16BeBom) {
    Put(0xFEFF);
  }
  for (const char16_t Unit : Units) {
    Put(Unit);
  }
  return Bytes;
}

std::vector<std::string> SplitLines(std::string_view AText) {
  std::vector<std::string> Lines;
  while (!AText.empty()) {
    const auto End = AText.find_first_of("\r\n");
    Lines.emplace_back(AText.substr(0, End));
    if (End == std::string_view::npos) {
      break;
    }
    const bool CrLf = AText[End] == '\r' && End + 1 < AText.size() && AText[End + 1] == '\n';
    AText.remove_prefix(End + (CrLf ? 2 : 1));
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
