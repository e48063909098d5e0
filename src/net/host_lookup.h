// Host names to IPv4 text: what needs no lookup, and the platform's name lookup behind it (one
// implementation per platform). Thread-safe.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvo {

class TResolveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True for exactly four dot-separated decimal parts of 0 to 255 and nothing else
// ("192.168.001.010" included).
bool IsIPv4Text(std::string_view AText);

// False for "LOCALHOST" in any case and for IPv4 text, which ResolveHostToIP answers without
// asking the system; true for everything else.
bool NeedsNameLookup(std::string_view AHost);
// What ResolveHostToIP answers for AHost when that takes no lookup, into AIP; false, AIP
// untouched, when AHost is a name to look up.
bool ResolveWithoutLookup(const std::string& AHost, std::string& AIP);

// "LOCALHOST" in any case -> "127.0.0.1"; IPv4 text -> itself unchanged; anything else -> the
// first IPv4 address of a fresh system lookup. Throws TResolveError when the lookup fails.
// Thread-safe; may block for as long as the resolver takes.
std::string ResolveHostToIP(const std::string& AHost);

// The first IPv4 address the system resolver returns for AHost, in dotted decimal. No caching.
// Throws TResolveError naming the host when the lookup fails. Thread-safe; may block.
std::string LookupHostIPv4(const std::string& AHost);

}  // namespace kelvo
