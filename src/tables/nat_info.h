// One address table entry: a NAD and its alias tied to a host, its IPv4 text and a port.
#pragma once

#include <cstdint>
#include <string>

#include "net/host_lookup.h"

namespace kelvo {

class TNATInfoList;

// Plain data; not thread-safe. Entries inside a table are guarded by the table's owner.
// Writing NAD, NADAlias, IP or Port of an entry that a table lists keeps that table's indexes
// in step, so callers may write them as freely as any other field.
class TNATInfo {
 public:
  // Resolves AHost into IP; throws TResolveError (and no entry exists) when that fails.
  TNATInfo(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort, std::int32_t ATimeout);
  // Copies all six fields, no lookup; the copy belongs to no table.
  TNATInfo(const TNATInfo& AOther);
  TNATInfo& operator=(const TNATInfo& AOther);  // the six fields; stays in its own table
  ~TNATInfo() = default;

  void Assign(const TNATInfo& ANATInfo) { *this = ANATInfo; }

  std::int32_t NAD() const { return fNAD; }
  void SetNAD(std::int32_t AValue);
  std::int32_t NADAlias() const { return fNADAlias; }
  void SetNADAlias(std::int32_t AValue);
  const std::string& IP() const { return fIP; }
  void SetIP(const std::string& AValue);
  const std::string& Host() const { return fHost; }
  void SetHost(const std::string& AValue) { fHost = AValue; }
  std::uint16_t Port() const { return fPort; }
  void SetPort(std::uint16_t AValue);
  std::int32_t Timeout() const { return fTimeout; }
  void SetTimeout(std::int32_t AValue) { fTimeout = AValue; }

 private:
  friend class TNATInfoList;
  // Takes the entry out of its table's indexes for the lifetime of the object and puts it
  // back with its new keys afterwards.
  class TKeyChange;

  std::int32_t fNAD;
  std::int32_t fNADAlias;
  std::string fIP;
  std::string fHost;
  std::uint16_t fPort;
  std::int32_t fTimeout;
  TNATInfoList* fOwner = nullptr;  // the table that lists this entry, if any
  std::uint64_t fSeq = 0;          // the entry's place in its table's list order
};

}  // namespace kelvo
