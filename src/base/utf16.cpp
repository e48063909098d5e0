#include "base/utf16.h"

namespace kelvo {

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

}  // namespace kelvo
