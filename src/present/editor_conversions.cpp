#include "present/editor_conversions.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace kelvo {

namespace {

bool IsDigit(char AChar) {
  return AChar >= '0' && AChar <= '9';
}

bool AllDigits(std::string_view AText) {
  return std::all_of(AText.begin(), AText.end(), IsDigit);
}

std::string_view Trimmed(std::string_view AText) {
  const auto isSpace = [](char AChar) { return AChar == ' ' || (AChar >= '\t' && AChar <= '\r'); };
  while (!AText.empty() && isSpace(AText.front())) {
    AText.remove_prefix(1);
  }
  while (!AText.empty() && isSpace(AText.back())) {
    AText.remove_suffix(1);
  }
  return AText;
}

// A whole signed decimal number in the 32-bit range: optional surrounding spaces, an optional
// sign, at least one digit and nothing else.
std::optional<std::int32_t> ParseInt32(std::string_view AText) {
  AText = Trimmed(AText);
  if (!AText.empty() && AText.front() == '+') {
    AText.remove_prefix(1);
    if (!AText.empty() && !IsDigit(AText.front())) {
      return std::nullopt;  // "+-5"
    }
  }
  if (AText.empty()) {
    return std::nullopt;
  }
  std::int32_t value = 0;
  const char* end = AText.data() + AText.size();
  const auto [stop, error] = std::from_chars(AText.data(), end, value, 10);
  if (error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

bool EntryTextsAcceptable(const TEntryTexts& ATexts) {
  const std::optional<std::int32_t> port = ParseInt32(ATexts.Port);
  return ParseInt32(ATexts.NAD).has_value() && !Trimmed(ATexts.Host).empty() && port.has_value() &&
         *port >= 1 && *port <= 0xFFFF;
}

std::int32_t ConvertNAD(std::string_view AText) {
  return ParseInt32(AText).value_or(1);
}

std::uint16_t ConvertPort(std::string_view AText) {
  const std::int32_t value = ParseInt32(AText).value_or(1);
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}

std::string NADEditText(std::int32_t ANAD) {
  return std::to_string(ANAD);
}

std::string PortEditText(std::uint16_t APort) {
  return std::to_string(APort);
}

TFieldAcceptance NADFieldAcceptance(std::string_view AText) {
  if (!AText.empty() && AText.front() == '-') {
    const std::string_view digits = AText.substr(1);
    if (!AllDigits(digits)) {
      return TFieldAcceptance::Invalid;
    }
    return digits.empty() ? TFieldAcceptance::Intermediate : TFieldAcceptance::Acceptable;
  }
  return AllDigits(AText) ? TFieldAcceptance::Acceptable : TFieldAcceptance::Invalid;
}

TFieldAcceptance PortFieldAcceptance(std::string_view AText) {
  return AllDigits(AText) ? TFieldAcceptance::Acceptable : TFieldAcceptance::Invalid;
}

}  // namespace kelvo
