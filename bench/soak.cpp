// Soak run: a million mixed datagrams (valid, junk, bad checksum, wrong format byte, split,
// oversized) through the headless relay. Checks that nothing crashes, every valid frame is
// forwarded unchanged, resident memory stays flat after warm-up and no descriptor leaks.
// With --churn, new senders arrive beside an established application instead (soak_churn.cpp).
//
//   soak [datagrams, default 1000000]
//   soak --churn [seconds, default 600]
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "proc_status.h"
#include "relay/frame.h"
#include "relay_start.h"
#include "soak_churn.h"
#include "support/relay_process.h"

namespace {

using namespace std::chrono;
using kelvo::bench::ResidentKb;
using kelvo::bench::StartListeningRelay;
using kelvo::bench::WriteControllerSettings;
using kelvo::test::MakeFrame;
using kelvo::test::TBytes;
using kelvo::test::TConfigHome;
using kelvo::test::TRelayProcess;
using kelvo::test::TUdpPeer;

constexpr std::int32_t kControllerNAD = 1001;
// Datagrams sent before waiting for their frames: small enough that a batch of oversized
// datagrams still fits the default socket receive buffer, so the kernel drops nothing.
constexpr int kBatch = 16;

struct TDatagram {
  int App;
  TBytes Bytes;
};

// Datagrams the kernel dropped for a full receive buffer, machine-wide.
long UdpReceiveBufferErrors() {
  std::ifstream snmp("/proc/net/snmp");
  std::string header, values;
  while (std::getline(snmp, header) && std::getline(snmp, values)) {
    if (header.rfind("Udp:", 0) == 0) {
      std::istringstream names(header), numbers(values);
      for (std::string name, number; names >> name && numbers >> number;) {
        if (name == "RcvbufErrors") {
          return std::stol(number);
        }
      }
    }
  }
  return -1;
}

long OpenDescriptors(int APid) {
  long count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(APid) + "/fd")) {
    ++count;
  }
  return count;
}

class TMixer {
 public:
  explicit TMixer(unsigned ASeed) : fRandom(ASeed) {}

  // Appends the next one or two datagrams to AOut; returns the valid frame they carry, if any.
  // Each application keeps its own NAD, so no alias ever rewrites a frame.
  std::optional<TBytes> Next(std::deque<TDatagram>& AOut) {
    const int kind = Pick(0, 99);
    const int app = Pick(0, 3);
    TBytes frame = MakeFrame(100 + app, kControllerNAD, 0, Junk(Pick(0, 64)));
    if (kind < 40) {
      AOut.push_back({app, frame});
      return frame;
    }
    if (kind < 55) {  // split at a random point after the start pair
      const auto cut = static_cast<std::ptrdiff_t>(Pick(2, static_cast<int>(frame.size()) - 1));
      AOut.push_back({app, TBytes(frame.begin(), frame.begin() + cut)});
      AOut.push_back({app, TBytes(frame.begin() + cut, frame.end())});
      return frame;
    }
    if (kind < 75) {
      AOut.push_back({app, Junk(Pick(1, 200))});
    } else if (kind < 85) {
      frame[frame.size() - 1] ^= 0x01;  // bad checksum
      AOut.push_back({app, frame});
    } else if (kind < 92) {
      frame[kelvo::kOffsetFormat] = 1;  // wrong format byte, checksum right
      kelvo::RefreshChecksum(frame);
      AOut.push_back({app, frame});
    } else {
      frame.resize(static_cast<std::size_t>(Pick(8193, 9000)), 0x00);  // oversized
      AOut.push_back({app, frame});
    }
    return std::nullopt;
  }

 private:
  int Pick(int ALow, int AHigh) { return std::uniform_int_distribution<int>(ALow, AHigh)(fRandom); }
  // Bytes without 0xAA, so junk never looks like the start of a frame.
  TBytes Junk(int ASize) {
    TBytes bytes(static_cast<std::size_t>(ASize));
    for (auto& byte : bytes) {
      byte = static_cast<std::uint8_t>(Pick(0, 0xA9));
    }
    return bytes;
  }
  std::mt19937 fRandom;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--churn") {
    const double seconds = argc > 2 ? std::atof(argv[2]) : 600.0;
    return kelvo::bench::RunChurnSoak(seconds > 0 ? seconds : 600.0);
  }
  const long total = argc > 1 ? std::atol(argv[1]) : 1'000'000;
  TUdpPeer controller;
  std::vector<std::unique_ptr<TUdpPeer>> apps;
  for (int i = 0; i < 4; ++i) {
    apps.push_back(std::make_unique<TUdpPeer>());
  }
  TConfigHome home;
  WriteControllerSettings(home, kControllerNAD, controller.Port());
  TRelayProcess relay;
  if (!StartListeningRelay(relay, home)) {
    return 1;
  }
  const int pid = relay.Pid();
  const long fdsAtStart = OpenDescriptors(pid);
  const long rssAtStart = ResidentKb(pid);
  long rssAfterWarmUp = -1;

  TMixer mixer(20261209);
  std::deque<TDatagram> datagrams;
  std::deque<TBytes> expected;
  const long kernelDropsAtStart = UdpReceiveBufferErrors();
  long sent = 0, validFrames = 0, forwarded = 0, missing = 0, mismatched = 0;
  const auto started = steady_clock::now();
  while (sent < total) {
    for (int i = 0; i < kBatch && sent < total; ++i) {
      if (datagrams.empty()) {
        if (auto frame = mixer.Next(datagrams)) {
          expected.push_back(std::move(*frame));
          ++validFrames;
        }
      }
      // Split halves go out back to back, nothing between them.
      while (!datagrams.empty()) {
        const TDatagram& datagram = datagrams.front();
        apps[static_cast<std::size_t>(datagram.App)]->SendToRelay(datagram.Bytes);
        datagrams.pop_front();
        ++sent;
      }
    }
    while (!expected.empty()) {
      auto received = controller.Receive(milliseconds(2000));
      if (!received) {
        missing += static_cast<long>(expected.size());
        expected.clear();
        break;
      }
      ++forwarded;
      if (*received != expected.front()) {
        ++mismatched;
      }
      expected.pop_front();
    }
    if (rssAfterWarmUp < 0 && sent >= total / 10) {
      rssAfterWarmUp = ResidentKb(pid);
    }
  }
  const double seconds = duration<double>(steady_clock::now() - started).count();
  const long rssAtEnd = ResidentKb(pid);
  const long fdsAtEnd = OpenDescriptors(pid);
  const int exitCode = relay.Stop(SIGTERM);

  std::printf("datagrams sent       %ld in %.1f s (%.0f/s)\n", sent, seconds,
              static_cast<double>(sent) / seconds);
  std::printf("valid frames         %ld, forwarded %ld, missing %ld, changed %ld\n", validFrames,
              forwarded, missing, mismatched);
  std::printf(
      "resident memory      start %ld kB, after warm-up %ld kB, end %ld kB (growth %ld kB)\n",
      rssAtStart, rssAfterWarmUp, rssAtEnd, rssAtEnd - rssAfterWarmUp);
  std::printf("open descriptors     start %ld, end %ld\n", fdsAtStart, fdsAtEnd);
  std::printf("kernel buffer drops  %ld (all UDP sockets of the machine)\n",
              UdpReceiveBufferErrors() - kernelDropsAtStart);
  std::printf("relay exit code      %d\n", exitCode);

  const bool ok = missing == 0 && mismatched == 0 && forwarded == validFrames &&
                  rssAtEnd - rssAfterWarmUp < 1024 && fdsAtEnd == fdsAtStart && exitCode == 0;
  std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
  return ok ? 0 : 1;
}
