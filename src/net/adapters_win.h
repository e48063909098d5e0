// Pieces of the Windows adapter enumeration that tests check with a stand-in for the system.
// Internal to the network subsystem; not part of the core's public interface.
#pragma once

#include <iphlpapi.h>
#include <winsock2.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "net/ethernet_utils.h"

namespace kelvo::windows_adapters {

// The shape of GetAdaptersInfo.
using TGetAdaptersInfo = ULONG(WINAPI*)(PIP_ADAPTER_INFO AAdapterInfo, PULONG ASize);

// The first buffer: the size of one adapter record as the interface was first defined.
inline constexpr ULONG kFirstBufferSize = 640;

// A fixed-size character array up to its first zero, or the whole array when it has none.
std::string FixedText(const char* AChars, std::size_t ASize);
template <std::size_t N>
std::string FixedText(const char (&AChars)[N]) {
  return FixedText(AChars, N);
}

// Enumerates through AGetAdaptersInfo: a 640-byte buffer, one retry with the size that a 111
// (ERROR_BUFFER_OVERFLOW) asks for, nullopt for any other failure. Every adapter counts.
std::optional<std::vector<TPlatformAdapter>> Enumerate(TGetAdaptersInfo AGetAdaptersInfo);

}  // namespace kelvo::windows_adapters
