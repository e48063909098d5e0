// What a screen reader hears for the main window's parts whose look alone carries their
// meaning: the two lists, the four lamps with their state, the rate gauge with its value, the
// local address and the port error line. Both front-ends expose exactly these texts. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "present/status_rows.h"
#include "relay/relay_view.h"

namespace kelvo {

// "Applications (LAN)", "Controllers (WAN)": the captions above the lists.
const char* StatusListAccessibleName(TStatusList AList);

// "LAN receive: active" while the lamp is lit, "LAN receive: idle" while it is grey; likewise
// "LAN transmit", "WAN receive", "WAN transmit".
std::string LampAccessibleName(TLamp ALamp, TLedColor AColor);

inline constexpr std::string_view kGaugeAccessibleName = "Message rate";
inline constexpr std::string_view kLocalIPAccessibleName = "Local address";
inline constexpr std::string_view kPortErrorAccessibleName = "Port error";

// "ALabel: AValue", or ALabel alone while there is no value: for a control whose window text
// is all a reader gets (the Win32 gauge).
std::string LabelledAccessibleText(std::string_view ALabel, std::string_view AValue);

}  // namespace kelvo
