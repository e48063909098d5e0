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
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "diag/my_log.h"
#include "relay/datagram_transport.h"
#include "relay/frame.h"
#include "relay/relay_engine.h"
#include "relay/relay_view.h"
#include "support/relay_doubles.h"
#include "tables/address_tables.h"
#include "tables/clock.h"

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

// An engine wired to recorders, tables on a fake clock and a log file in a temporary folder.
struct TEngineRig {
  TEngineRig() {
    // Test processes run in parallel: the name must differ between them.
    LogPath = std::filesystem::temp_directory_path() /
              ("kelvo_relay_test_" + std::to_string(std::random_device{}()) + ".log");
    std::filesystem::remove(LogPath);
    Log.SetLogFile(LogPath.string());
  }
  ~TEngineRig() { std::filesystem::remove(LogPath); }

  void Receive(const TBytes& ABytes, const std::string& AIP = "192.168.1.20",
               std::uint16_t APort = 50123) {
    Engine.udpLocalUDPRead(ABytes, AIP, APort);
  }
  void AddStatic(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort) {
    const std::lock_guard<std::mutex> lock(Tables.fTablesLock);
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
  TRelayEngine Engine{Tables, Transport, View, Log};
  std::filesystem::path LogPath;
};

}  // namespace kelvo::test
