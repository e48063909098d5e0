// Load benchmark: several applications and one controller on loopback, against the headless
// relay and, in the same run and with the same generator, against a bare single-threaded
// forwarder (the floor). Both run side by side and take turns in short rounds, so that what
// else the machine does falls on both alike. Prints round trips per second and latency for
// each round, the medians, and the ratio.
//
//   load_bench [seconds per target, default 3] [rounds, default 6]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "echo_controller.h"
#include "relay/frame.h"
#include "relay_start.h"
#include "support/relay_process.h"

namespace {

using namespace std::chrono;
using kelvo::bench::LoopbackSocket;
using kelvo::bench::StartListeningRelay;
using kelvo::bench::TEchoController;
using kelvo::bench::WriteControllerSettings;
using kelvo::test::TConfigHome;
using kelvo::test::TRelayProcess;

constexpr int kApplications = 4;
constexpr int kInFlight = 8;
constexpr std::size_t kPayloadSize = 16;
constexpr std::int32_t kControllerNAD = 1001;
constexpr std::uint16_t kBarePort = 18442;

std::int64_t NowNs() {
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

struct TResult {
  double RoundTripsPerSecond = 0;
  double P50Us = 0;
  double P99Us = 0;
  std::int64_t Lost = 0;
};

// kApplications sockets with kInFlight requests each; every reply sends the next request.
TResult RunLoad(std::uint16_t ATargetPort, duration<double> ADuration) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  target.sin_port = htons(ATargetPort);

  std::vector<int> sockets;
  std::vector<pollfd> polls;
  for (int i = 0; i < kApplications; ++i) {
    sockaddr_in address{};
    sockets.push_back(LoopbackSocket(address));
    polls.push_back({sockets.back(), POLLIN, 0});
  }
  std::vector<std::int64_t> lastReply(kApplications, NowNs());
  std::vector<int> inFlight(kApplications, 0);

  const auto send = [&](int AApp) {
    std::vector<std::uint8_t> payload(kPayloadSize, 0);
    const std::int64_t now = NowNs();
    std::memcpy(payload.data(), &now, sizeof now);
    std::uint8_t frame[kelvo::kFrameHeaderSize + kPayloadSize + 2] = {};
    frame[0] = kelvo::kStartByte1;
    frame[1] = kelvo::kStartByte2;
    frame[2] = static_cast<std::uint8_t>(kPayloadSize + 2);
    kelvo::WriteNAD(frame, kelvo::kOffsetSourceNAD, 100 + AApp);
    kelvo::WriteNAD(frame, kelvo::kOffsetDestNAD, kControllerNAD);
    std::memcpy(frame + kelvo::kFrameHeaderSize, payload.data(), kPayloadSize);
    kelvo::RefreshChecksum(frame);
    ::sendto(sockets[static_cast<std::size_t>(AApp)], frame, sizeof frame, 0,
             reinterpret_cast<const sockaddr*>(&target), sizeof target);
    ++inFlight[static_cast<std::size_t>(AApp)];
  };

  for (int app = 0; app < kApplications; ++app) {
    for (int i = 0; i < kInFlight; ++i) {
      send(app);
    }
  }

  std::vector<std::int64_t> latencies;
  latencies.reserve(4'000'000);
  std::int64_t lost = 0;
  const auto warmUpEnd = steady_clock::now() + milliseconds(300);
  const auto end = warmUpEnd + duration_cast<steady_clock::duration>(ADuration);
  bool measuring = false;
  std::uint8_t buffer[2048];
  while (steady_clock::now() < end) {
    if (!measuring && steady_clock::now() >= warmUpEnd) {
      measuring = true;
      latencies.clear();
    }
    ::poll(polls.data(), polls.size(), 20);
    const std::int64_t now = NowNs();
    for (int app = 0; app < kApplications; ++app) {
      const auto index = static_cast<std::size_t>(app);
      for (;;) {
        const ssize_t n = ::recv(sockets[index], buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < static_cast<ssize_t>(kelvo::kFrameHeaderSize + kPayloadSize)) {
          break;
        }
        std::int64_t sent = 0;
        std::memcpy(&sent, buffer + kelvo::kFrameHeaderSize, sizeof sent);
        latencies.push_back(NowNs() - sent);
        lastReply[index] = now;
        --inFlight[index];
        send(app);
      }
      // A datagram lost on the way would shrink the window for good: refill after 200 ms.
      if (now - lastReply[index] > 200'000'000) {
        lost += kInFlight - inFlight[index];
        while (inFlight[index] < kInFlight) {
          send(app);
        }
        inFlight[index] = kInFlight;
        lastReply[index] = now;
      }
    }
  }
  for (const int fd : sockets) {
    ::close(fd);
  }

  TResult result;
  result.Lost = lost;
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    result.RoundTripsPerSecond = static_cast<double>(latencies.size()) / ADuration.count();
    result.P50Us = static_cast<double>(latencies[latencies.size() / 2]) / 1000.0;
    result.P99Us = static_cast<double>(latencies[latencies.size() * 99 / 100]) / 1000.0;
  }
  return result;
}

void Print(const char* AName, const TResult& AResult) {
  std::printf("%-26s %14.0f %10.1f %10.1f %8lld\n", AName, AResult.RoundTripsPerSecond,
              AResult.P50Us, AResult.P99Us, static_cast<long long>(AResult.Lost));
  std::fflush(stdout);
}

std::string BareForwarderExecutable() {
  return std::string(KELVO_BENCH_BIN_DIR) + "/bare_forwarder";
}

double Median(std::vector<double> AValues) {
  if (AValues.empty()) {
    return 0;
  }
  std::sort(AValues.begin(), AValues.end());
  return AValues[AValues.size() / 2];
}

// The medians over rounds of each figure; lost ones are summed.
TResult Summary(const std::vector<TResult>& ARounds) {
  std::vector<double> rates, p50s, p99s;
  TResult result;
  for (const TResult& round : ARounds) {
    rates.push_back(round.RoundTripsPerSecond);
    p50s.push_back(round.P50Us);
    p99s.push_back(round.P99Us);
    result.Lost += round.Lost;
  }
  result.RoundTripsPerSecond = Median(rates);
  result.P50Us = Median(p50s);
  result.P99Us = Median(p99s);
  return result;
}

}  // namespace

// load_bench [seconds per target] [rounds] [--windows <kelvorelay.exe>]: with --windows, the
// Windows build under Wine is measured too, after the Linux relay and against the same
// controller, for the same time in one piece.
int main(int argc, char** argv) {
  double seconds = 3.0;
  int rounds = 6;
  std::string windowsRelay;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--windows" && i + 1 < argc) {
      windowsRelay = argv[++i];
    } else if (positional++ == 0) {
      seconds = std::atof(argv[i]);
    } else {
      rounds = std::max(1, std::atoi(argv[i]));
    }
  }
  const duration<double> runTime(seconds > 0 ? seconds : 3.0);
  const duration<double> roundTime = runTime / rounds;

  TEchoController controller(kControllerNAD);
  TConfigHome home;
  WriteControllerSettings(home, kControllerNAD, controller.Port());

  std::printf(
      "%d applications x %d requests in flight, %zu-byte payloads, %.1f s per target in "
      "%d rounds\n",
      kApplications, kInFlight, kPayloadSize, runTime.count(), rounds);
  std::printf("%-26s %14s %10s %10s %8s\n", "target", "round trips/s", "p50 us", "p99 us", "lost");

  std::vector<TResult> bare, relay;
  std::vector<double> ratios;
  {
    TRelayProcess forwarder;
    forwarder.StartProgram(BareForwarderExecutable(),
                           {std::to_string(kBarePort), std::to_string(controller.Port())}, home,
                           {"listening"});
    TRelayProcess process;
    if (!StartListeningRelay(process, home)) {
      return 1;
    }
    for (int round = 0; round < rounds; ++round) {
      // Turn about who goes first, so a drift in the machine's load favours neither.
      if (round % 2 == 0) {
        bare.push_back(RunLoad(kBarePort, roundTime));
        relay.push_back(RunLoad(8442, roundTime));
      } else {
        relay.push_back(RunLoad(8442, roundTime));
        bare.push_back(RunLoad(kBarePort, roundTime));
      }
      const std::string name = "round " + std::to_string(round + 1);
      Print((name + " bare forwarder").c_str(), bare.back());
      Print((name + " relay").c_str(), relay.back());
      if (bare.back().RoundTripsPerSecond > 0) {
        ratios.push_back(relay.back().RoundTripsPerSecond / bare.back().RoundTripsPerSecond);
      }
    }
    process.Stop(SIGTERM);
    forwarder.Stop(SIGKILL);
  }
  const TResult bareSummary = Summary(bare);
  Print("bare forwarder (median)", bareSummary);
  Print("relay, debug log off (med.)", Summary(relay));

  TResult relayLogged;
  {
    TRelayProcess process;
    if (!StartListeningRelay(process, home, {"--debug-log"})) {
      return 1;
    }
    relayLogged = RunLoad(8442, runTime);
    process.Stop(SIGTERM);
  }
  Print("relay, debug log on", relayLogged);

  TResult windows;
  if (!windowsRelay.empty()) {
    // From here on the test kit starts kelvorelay.exe under Wine, with the same settings
    // imported into the Wine prefix's registry.
    ::setenv("KELVO_WINDOWS_RELAY", windowsRelay.c_str(), 1);
    WriteControllerSettings(home, kControllerNAD, controller.Port());
    TRelayProcess process;
    if (!StartListeningRelay(process, home)) {
      return 1;
    }
    windows = RunLoad(8442, runTime);
    process.Stop(SIGTERM);
    Print("Windows relay under Wine", windows);
  }

  std::printf(
      "relay / bare forwarder (debug log off): %.2f median of %zu rounds, from %.2f to "
      "%.2f (goal >= 1.10)\n",
      Median(ratios), ratios.size(),
      ratios.empty() ? 0.0 : *std::min_element(ratios.begin(), ratios.end()),
      ratios.empty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end()));

  std::printf("relay / bare forwarder (debug log on):  %.2f\n",
              bareSummary.RoundTripsPerSecond > 0
                  ? relayLogged.RoundTripsPerSecond / bareSummary.RoundTripsPerSecond
                  : 0.0);
  if (!windowsRelay.empty()) {
    std::printf("Windows relay under Wine / Linux relay:  %.2f\n",
                Summary(relay).RoundTripsPerSecond > 0
                    ? windows.RoundTripsPerSecond / Summary(relay).RoundTripsPerSecond
                    : 0.0);
  }
  return 0;
}
