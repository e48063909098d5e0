#include "present/accessible_texts.h"

namespace kelvo {

const char* StatusListAccessibleName(TStatusList AList) {
  return AList == TStatusList::Applications ? "Applications (LAN)" : "Controllers (WAN)";
}

std::string LampAccessibleName(TLamp ALamp, TLedColor AColor) {
  const char* name = "";
  switch (ALamp) {
    case TLamp::LANRx:
      name = "LAN receive";
      break;
    case TLamp::WANRx:
      name = "WAN receive";
      break;
    case TLamp::LANTx:
      name = "LAN transmit";
      break;
    case TLamp::WANTx:
      name = "WAN transmit";
      break;
  }
  return std::string(name) + (AColor == TLedColor::Gray ? ": idle" : ": active");
}

std::string LabelledAccessibleText(std::string_view ALabel, std::string_view AValue) {
  std::string text(ALabel);
  if (!AValue.empty()) {
    text.append(": ").append(AValue);
  }
  return text;
}

}  // namespace kelvo
