// Recorders and frame builders shared by the relay engine's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "diag/my_log.h"
#include "net/datagram_transport.h"
#include "relay/frame.h"
#include "relay/relay_engine.h"
#include "relay/relay_view.h"
#include "support/relay_doubles.h"
#include "tables/address_tables.h"
#include "tables/clock.h"
#include "tables/host_resolver.h"
#include "tables/nat_info.h"

namespace kelvo::test {

struct TSentDatagram {
  std::string Host;
  std::uint16_t Port = 0;
  TBytes Bytes;
};

// Keeps every datagram handed to it; can be told to fail for one host or for every send.
class TRecorderTransport : public TDatagramTransport {
 public:
  void SendDatagram(const std::string& AHost, std::uint16_t APort,
                    std::span<const std::uint8_t> ABytes) override {
    const std::lock_guard<std::mutex> lock(fLock);
    if (FailAll || AHost == FailHost)
      throw std::runtime_error("send refused for " + AHost);
    Sent.push_back({AHost, APort, TBytes(ABytes.begin(), ABytes.end())});
  }

  std::vector<TSentDatagram> Take() {
    const std::lock_guard<std::mutex> lock(fLock);
    return std::exchange(Sent, {});
  }

  bool FailAll = false;
  std::string FailHost;
  std::vector<TSentDatagram> Sent;

 private:
  std::mutex fLock;
};

struct TViewEvent {
  enum TKind { Led, ReqCount, AckCount } Kind;
  TLamp Lamp = TLamp::LANRx;
  TLedColor Color = TLedColor::Gray;
  std::int32_t Value = 0;
};

class TRecorderView : public TRelayView {
 public:
  void SetLed(TLamp ALamp, TLedColor AColor) override {
    Events.push_back({TViewEvent::Led, ALamp, AColor, 0});
  }
  void ReqCountChanged(std::int32_t AValue) override {
    Events.push_back({TViewEvent::ReqCount, TLamp::LANRx, TLedColor::Gray, AValue});
  }
  void AckCountChanged(std::int32_t AValue) override {
    Events.push_back({TViewEvent::AckCount, TLamp::LANRx, TLedColor::Gray, AValue});
  }
  void LocalIPChanged(const std::string&) override {}
  void PortErrorChanged(bool) override {}

  int LedCount(TLamp ALamp, TLedColor AColor) const {
    int count = 0;
    for (const auto& e : Events)
      if (e.Kind == TViewEvent::Led && e.Lamp == ALamp && e.Color == AColor)
        ++count;
    return count;
  }

  std::vector<TViewEvent> Events;
};

inline TBytes Concat(std::initializer_list<TBytes> AParts) {
  TBytes all;
  for (const auto& part : AParts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// "AA 55 0A" -> bytes; blanks are ignored.
inline TBytes Hex(const std::string& AText) {
  TBytes bytes;
  int high = -1;
  for (char c : AText) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else
      continue;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return bytes;
}

// A clock that only moves when told to; safe to advance from another thread.
class TFakeClock : public TClock {
 public:
  TTimePoint Now() const override { return TTimePoint(std::chrono::milliseconds(fMs.load())); }
  void Advance(std::chrono::milliseconds ADelta) { fMs += ADelta.count(); }

 private:
  std::atomic<std::int64_t> fMs{1'700'000'000'000};
};

// A steady clock for the host resolver that only moves when told to; any thread.
class TFakeSteadyClock {
 public:
  THostResolver::TTime Now() const {
    return THostResolver::TTime(std::chrono::milliseconds(fMs.load()));
  }
  void Advance(std::chrono::milliseconds ADelta) { fMs += ADelta.count(); }
  THostResolver::TNow Function() {
    return [this] { return Now(); };
  }

 private:
  std::atomic<std::int64_t> fMs{1'000'000};
};

// A name service for tests: answers from its table, fails for names it does not hold, and can
// be told to hang every lookup until released (10 s at most). Safe from any thread.
class TFakeNames {
 public:
  void Set(const std::string& AHost, const std::string& AIP) {
    const std::lock_guard<std::mutex> lock(fLock);
    fTable[AHost] = AIP;
  }
  void Remove(const std::string& AHost) {
    const std::lock_guard<std::mutex> lock(fLock);
    fTable.erase(AHost);
  }
  void Hang() {
    const std::lock_guard<std::mutex> lock(fLock);
    fHanging = true;
  }
  void Release() {
    {
      const std::lock_guard<std::mutex> lock(fLock);
      fHanging = false;
    }
    fReleased.notify_all();
  }
  // Lookups of AHost begun so far (also those still hanging).
  int Calls(const std::string& AHost) const {
    const std::lock_guard<std::mutex> lock(fLock);
    const auto found = fCalls.find(AHost);
    return found == fCalls.end() ? 0 : found->second;
  }
  // Waits until a lookup hangs, at most ATimeout.
  bool WaitUntilHanging(std::chrono::milliseconds ATimeout) {
    std::unique_lock<std::mutex> lock(fLock);
    return fReleased.wait_for(lock, ATimeout, [this] { return fWaiting > 0; });
  }
  THostResolver::TLookup Function() {
    return [this](const std::string& AHost) { return Lookup(AHost); };
  }

 private:
  std::string Lookup(const std::string& AHost) {
    std::unique_lock<std::mutex> lock(fLock);
    ++fCalls[AHost];
    ++fWaiting;
    fReleased.notify_all();
    // Bounded, so that a listener that waits for a lookup fails its test instead of hanging.
    fReleased.wait_for(lock, std::chrono::seconds(10), [this] { return !fHanging; });
    --fWaiting;
    const auto found = fTable.find(AHost);
    if (found == fTable.end())
      throw TResolveError("no such host: " + AHost);
    return found->second;
  }

  mutable std::mutex fLock;
  std::condition_variable fReleased;
  std::map<std::string, std::string> fTable;
  std::map<std::string, int> fCalls;
  bool fHanging = false;
  int fWaiting = 0;
};

// An engine wired to recorders, tables on a fake clock and a log file in a temporary folder.
struct TEngineRig {
  TEngineRig() {
    // Test processes run in parallel: the name must differ between them.
    LogPath = std::filesystem::temp_directory_path() /
              ("kelvo_relay_test_" + std::to_string(std::random_device{}()) + ".log");
    std::filesystem::remove(LogPath);
    Log.SetLogFile(LogPath.string());
  }
  ~TEngineRig() {
    Names.Release();  // the resolver's worker must not be left hanging when it is joined
    std::filesystem::remove(LogPath);
  }

  static constexpr const char* kPeerIP = "192.168.1.20";
  static constexpr std::uint16_t kPeerPort = 50123;

  void Receive(const TBytes& ABytes, const std::string& AIP = kPeerIP,
               std::uint16_t APort = kPeerPort) {
    Engine.udpLocalUDPRead(ABytes, AIP, APort);
  }
  // The reassembly state of one sender (by default the one Receive uses).
  TCommState CommState(const std::string& AIP = kPeerIP, std::uint16_t APort = kPeerPort) {
    return Engine.CommState(AIP, APort);
  }
  void AddStatic(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort) {
    const TAddressTables::TLock lock(Tables);
    Tables.fStaticTable->Add(std::make_unique<TNATInfo>(ANAD, AHost, APort, kStaticTableTimeout));
  }
  // One ageing step of every table, as a second of wall-clock time passing would give.
  void AgeOneStep() {
    Clock.Advance(std::chrono::milliseconds(1000));
    Tables.AgeAll();
  }
  std::string LogText() const {
    std::ifstream in(LogPath, std::ios::binary);  // the log's CR LF as written
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TFakeClock Clock;
  TAddressTables Tables{Clock};
  TRecorderTransport Transport;
  TRecorderView View;
  TMyLog Log;
  TFakeNames Names;
  TFakeSteadyClock SteadyClock;
  THostResolver Resolver{Names.Function(), SteadyClock.Function()};
  TRelayEngine Engine{Tables, Transport, View, Log, &Resolver};
  std::filesystem::path LogPath;
};

}  // namespace kelvo::test
