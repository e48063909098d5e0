// One address table entry: a NAD and its alias tied to a host, its IPv4 text and a port.
#pragma once

#include <cstdint>
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

// "LOCALHOST" in any case -> "127.0.0.1"; IPv4 text -> itself unchanged; anything else -> the
// first IPv4 address of a fresh system lookup. Throws TResolveError when the lookup fails.
// Thread-safe; may block for as long as the resolver takes.
std::string ResolveHostToIP(const std::string& AHost);

// Plain data; not thread-safe. Entries inside a table are guarded by the table's owner.
class TNATInfo {
 public:
  // Resolves AHost into IP; throws TResolveError (and no entry exists) when that fails.
  TNATInfo(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort, std::int32_t ATimeout);
  TNATInfo(const TNATInfo&) = default;  // copies all six fields, no lookup
  TNATInfo& operator=(const TNATInfo&) = default;
  ~TNATInfo() = default;

  void Assign(const TNATInfo& ANATInfo) { *this = ANATInfo; }

  std::int32_t NAD() const { return fNAD; }
  void SetNAD(std::int32_t AValue) { fNAD = AValue; }
  std::int32_t NADAlias() const { return fNADAlias; }
  void SetNADAlias(std::int32_t AValue) { fNADAlias = AValue; }
  const std::string& IP() const { return fIP; }
  void SetIP(const std::string& AValue) { fIP = AValue; }
  const std::string& Host() const { return fHost; }
  void SetHost(const std::string& AValue) { fHost = AValue; }
  std::uint16_t Port() const { return fPort; }
  void SetPort(std::uint16_t AValue) { fPort = AValue; }
  std::int32_t Timeout() const { return fTimeout; }
  void SetTimeout(std::int32_t AValue) { fTimeout = AValue; }

 private:
  std::int32_t fNAD;
  std::int32_t fNADAlias;
  std::string fIP;
  std::string fHost;
  std::uint16_t fPort;
  std::int32_t fTimeout;
};

}  // namespace kelvo
