#include "config/static_list_codec.h"

#include <charconv>

namespace kelvo {

namespace {

// Bytes of UTF-8 text above 127 must not count as control characters.
bool IsBlankOrControl(char AChar) {
  const auto C = static_cast<unsigned char>(AChar);
  return C >= 1 && C <= 32;
}

bool NeedsQuotes(const std::string& AField) {
  for (const char Ch : AField) {
    const auto C = static_cast<unsigned char>(Ch);
    if ((C >= 1 && C <= 32) || Ch == ',' || Ch == '"') {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string QuoteStaticListField(const std::string& AField) {
  if (!NeedsQuotes(AField)) {
    return AField;
  }
  std::string Result;
  Result.reserve(AField.size() + 4);
  Result.push_back('"');
  for (const char Ch : AField) {
    if (Ch == '"') {
      Result.push_back('"');
    }
    Result.push_back(Ch);
  }
  Result.push_back('"');
  return Result;
}

std::string EncodeStaticListItem(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort) {
  std::string Result = std::to_string(ANAD);
  Result.push_back(',');
  Result.append(QuoteStaticListField(AHost));
  Result.push_back(',');
  Result.append(std::to_string(APort));
  return Result;
}

std::vector<std::string> SplitStaticListFields(std::string_view AText) {
  // A stored text ends at a NUL, as a registry string does.
  if (const auto Nul = AText.find('\0'); Nul != std::string_view::npos) {
    AText = AText.substr(0, Nul);
  }
  std::vector<std::string> Fields;
  std::size_t P = 0;
  const std::size_t End = AText.size();
  auto SkipBlanks = [&] {
    while (P < End && IsBlankOrControl(AText[P])) {
      ++P;
    }
  };

  SkipBlanks();
  while (P < End) {
    std::string Field;
    if (AText[P] == '"') {
      ++P;
      while (P < End) {
        if (AText[P] == '"') {
          if (P + 1 < End && AText[P + 1] == '"') {
            Field.push_back('"');
            P += 2;
            continue;
          }
          ++P;  // the closing quote
          break;
        }
        Field.push_back(AText[P++]);
      }
    } else {
      const std::size_t Start = P;
      while (P < End && !IsBlankOrControl(AText[P]) && AText[P] != ',') {
        ++P;
      }
      Field.assign(AText.substr(Start, P - Start));
    }
    Fields.push_back(std::move(Field));

    SkipBlanks();
    if (P < End && AText[P] == ',') {
      // Only a comma that ends the text makes an empty last field; "a, " has none.
      if (P + 1 == End) {
        Fields.emplace_back();
      }
      ++P;
      SkipBlanks();
    }
  }
  return Fields;
}

std::optional<std::int32_t> ParseInt32(std::string_view AText) {
  if (!AText.empty() && AText.front() == '+') {
    AText.remove_prefix(1);
    if (!AText.empty() && AText.front() == '-') {
      return std::nullopt;
    }
  }
  if (AText.empty()) {
    return std::nullopt;
  }
  std::int32_t Value = 0;
  const auto Res = std::from_chars(AText.data(), AText.data() + AText.size(), Value);
  if (Res.ec != std::errc{} || Res.ptr != AText.data() + AText.size()) {
    return std::nullopt;
  }
  return Value;
}

}  // namespace kelvo
