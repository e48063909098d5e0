// Text of the per-datagram trace lines ("Rx"/"Tx", peer, bytes in hex).
// Pure functions; safe on any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo {

// "ip:port" padded with blanks to 21 characters (longer texts are left as they are).
std::string IPPortToStr(const std::string& AIP, std::uint16_t APort);
// Two upper-case hex digits per byte, no separator.
std::string BytesToHex(std::span<const std::uint8_t> ABytes);
// ADirection is "Rx" or "Tx": "<dir> <peer, at most 21 chars> <hex>".
std::string FormatTraceLine(const char* ADirection, const std::string& AIP, std::uint16_t APort,
                            std::span<const std::uint8_t> ABytes);

}  // namespace kelvo
