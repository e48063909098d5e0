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
  const auto lead = static_cast<unsigned char>(AText[APos++]);
  if (lead < 0x80) {
    return lead;
  }
  int more = 0;
  char32_t code = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    more = 1, code = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    more = 2, code = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    more = 3, code = lead & 0x07, min = 0x10000;
  } else {
    return kReplacement;
  }
  for (int i = 0; i < more; ++i) {
    if (APos >= AText.size() || (static_cast<unsigned char>(AText[APos]) & 0xC0) != 0x80) {
      return kReplacement;
    }
    code = (code << 6) | (static_cast<unsigned char>(AText[APos++]) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return kReplacement;
  }
  return code;
}

std::u16string Utf8ToUtf16(std::string_view AText) {
  std::u16string result;
  result.reserve(AText.size());
  std::size_t pos = 0;
  while (pos < AText.size()) {
    const char32_t code = NextUtf8(AText, pos);
    if (code >= 0x10000) {
      result.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code));
    }
  }
  return result;
}

std::string Utf16ToUtf8(std::u16string_view AText) {
  std::string result;
  result.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    char32_t code = AText[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 &&
        AText[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (AText[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;  // a lone surrogate
    }
    AppendUtf8(result, code);
  }
  return result;
}

}  // namespace kelvo
