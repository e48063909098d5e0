#include "config/static_list_codec.h"

#include <charconv>

namespace kelvo {

namespace {

// Bytes of UTF-8 text above 127 must not count as control characters.
bool IsBlankOrControl(char AChar) {
  const auto c = static_cast<unsigned char>(AChar);
  return c >= 1 && c <= 32;
}

bool NeedsQuotes(const std::string& AField) {
  for (const char ch : AField) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 1 && c <= 32) || ch == ',' || ch == '"') {
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
  std::string result;
  result.reserve(AField.size() + 4);
  result.push_back('"');
  for (const char ch : AField) {
    if (ch == '"') {
      result.push_back('"');
    }
    result.push_back(ch);
  }
  result.push_back('"');
  return result;
}

std::string EncodeStaticListItem(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort) {
  std::string result = std::to_string(ANAD);
  result.push_back(',');
  result.append(QuoteStaticListField(AHost));
  result.push_back(',');
  result.append(std::to_string(APort));
  return result;
}

std::vector<std::string> SplitStaticListFields(std::string_view AText) {
  // A stored text ends at a NUL, as a registry string does.
  if (const auto nul = AText.find('\0'); nul != std::string_view::npos) {
    AText = AText.substr(0, nul);
  }
  std::vector<std::string> fields;
  std::size_t pos = 0;
  const std::size_t end = AText.size();
  auto skipBlanks = [&] {
    while (pos < end && IsBlankOrControl(AText[pos])) {
      ++pos;
    }
  };

  skipBlanks();
  while (pos < end) {
    std::string field;
    if (AText[pos] == '"') {
      ++pos;
      while (pos < end) {
        if (AText[pos] == '"') {
          if (pos + 1 < end && AText[pos + 1] == '"') {
            field.push_back('"');
            pos += 2;
            continue;
          }
          ++pos;  // the closing quote
          break;
        }
        field.push_back(AText[pos++]);
      }
    } else {
      const std::size_t start = pos;
      while (pos < end && !IsBlankOrControl(AText[pos]) && AText[pos] != ',') {
        ++pos;
      }
      field.assign(AText.substr(start, pos - start));
    }
    fields.push_back(std::move(field));

    skipBlanks();
    if (pos < end && AText[pos] == ',') {
      // Only a comma that ends the text makes an empty last field; "a, " has none.
      if (pos + 1 == end) {
        fields.emplace_back();
      }
      ++pos;
      skipBlanks();
    }
  }
  return fields;
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
  std::int32_t value = 0;
  const auto res = std::from_chars(AText.data(), AText.data() + AText.size(), value);
  if (res.ec != std::errc{} || res.ptr != AText.data() + AText.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace kelvo
