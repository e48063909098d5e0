// The static entry editor's texts: how the three fields turn into an entry's NAD and port,
// how an entry fills them, and which texts the digit fields accept. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvo {

// The editor's three texts, as the fields hold them.
struct TEntryTexts {
  std::string NAD;
  std::string Host;
  std::string Port;
};

// Whether the editor's OK is enabled: the NAD is a whole signed 32-bit number, the host is not
// blank and the port is a number from 1 to 65535. The conversions below turn any text into an
// entry, but only these texts become the entry the user typed: a port of 99999 would be stored
// as 34463 and a NAD past the range as 1.
bool EntryTextsAcceptable(const TEntryTexts& ATexts);

// A signed 32-bit decimal number; empty, not a number or outside the range gives 1.
std::int32_t ConvertNAD(std::string_view AText);
// Read as a signed 32-bit decimal number (empty or not a number gives 1), then its low 16
// bits: 65536 gives 0, 70000 gives 4464.
std::uint16_t ConvertPort(std::string_view AText);

// Filling the fields from an entry: the NAD in signed decimal, the port in decimal.
std::string NADEditText(std::int32_t ANAD);
std::string PortEditText(std::uint16_t APort);

// How a digit field judges a text it would hold after a key press or a paste.
enum class TFieldAcceptance {
  Invalid,       // the change is refused
  Intermediate,  // kept while typing, but not a finished text
  Acceptable,
};
// Typing adds digits only, but the caller's own text, a negative NAD, stays acceptable and
// editable: one leading "-" followed by digits. A lone "-" is Intermediate.
TFieldAcceptance NADFieldAcceptance(std::string_view AText);
// Digits only, or empty.
TFieldAcceptance PortFieldAcceptance(std::string_view AText);

}  // namespace kelvo
