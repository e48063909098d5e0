// Load benchmark: several applications and one controller on loopback, against the headless
// relay and, in the same run and with the same generator, against a bare single-threaded
// forwarder (the floor). Prints round trips per second and latency for each, and the ratio.
//
//   load_bench [seconds per run, default 3]
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

#include "relay/frame.h"
#include "support/relay_process.h"

namespace {

using namespace std::chrono;
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

int LoopbackSocket(sockaddr_in& AAddress) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  AAddress = {};
  AAddress.sin_family = AF_INET;
  AAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&AAddress), sizeof AAddress);
  socklen_t length = sizeof AAddress;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&AAddress), &length);
  const int bufferSize = 1 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
  return fd;
}

// Answers every request with a reply to its source NAD, through whoever sent it.
class TEchoController {
 public:
  TEchoController() : fSocket(LoopbackSocket(fAddress)) {
    fThread = std::thread([this] { Run(); });
  }
  ~TEchoController() {
    fStop = true;
    fThread.join();
    ::close(fSocket);
  }
  std::uint16_t Port() const { return ntohs(fAddress.sin_port); }

 private:
  void Run() {
    std::uint8_t buffer[2048];
    while (!fStop) {
      pollfd pfd{fSocket, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0) {
        continue;
      }
      for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fSocket, buffer, sizeof buffer, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < static_cast<ssize_t>(kelvo::kMinFrameSize)) {
          break;
        }
        std::span<std::uint8_t> frame(buffer, static_cast<std::size_t>(n));
        const std::int32_t source = kelvo::ReadNAD(frame, kelvo::kOffsetSourceNAD);
        kelvo::WriteNAD(frame, kelvo::kOffsetSourceNAD, kControllerNAD);
        kelvo::WriteNAD(frame, kelvo::kOffsetDestNAD, source);
        frame[kelvo::kOffsetDirection] = 1;
        kelvo::RefreshChecksum(frame);
        ::sendto(fSocket, buffer, frame.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
      }
    }
  }

  sockaddr_in fAddress{};
  int fSocket;
  std::atomic<bool> fStop{false};
  std::thread fThread;
};

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

}  // namespace

// load_bench [seconds] [--windows <kelvorelay.exe>]: with --windows, the Windows build under
// Wine is measured too, after the Linux relay and against the same controller.
int main(int argc, char** argv) {
  double seconds = 3.0;
  std::string windowsRelay;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--windows" && i + 1 < argc) {
      windowsRelay = argv[++i];
    } else {
      seconds = std::atof(argv[i]);
    }
  }
  const duration<double> runTime(seconds > 0 ? seconds : 3.0);

  TEchoController controller;
  TConfigHome home;
  home.WriteSettings(
      {std::to_string(kControllerNAD) + ",127.0.0.1," + std::to_string(controller.Port())});

  std::printf("%d applications x %d requests in flight, %zu-byte payloads, %.1f s per run\n",
              kApplications, kInFlight, kPayloadSize, runTime.count());
  std::printf("%-26s %14s %10s %10s %8s\n", "target", "round trips/s", "p50 us", "p99 us", "lost");

  TResult bare;
  {
    TRelayProcess forwarder;
    forwarder.StartProgram(BareForwarderExecutable(),
                           {std::to_string(kBarePort), std::to_string(controller.Port())}, home,
                           {"listening"});
    bare = RunLoad(kBarePort, runTime);
    forwarder.Stop(SIGKILL);
  }
  Print("bare forwarder", bare);

  TResult relay;
  TResult relayLogged;
  for (const bool debugLog : {false, true}) {
    TRelayProcess process;
    const std::string line = process.Start(
        home, debugLog ? std::vector<std::string>{"--debug-log"} : std::vector<std::string>{});
    if (line.find("listening on") == std::string::npos) {
      std::fprintf(stderr, "the relay did not start: %s\n", process.Output().c_str());
      return 1;
    }
    (debugLog ? relayLogged : relay) = RunLoad(8442, runTime);
    process.Stop(SIGTERM);
    Print(debugLog ? "relay, debug log on" : "relay, debug log off",
          debugLog ? relayLogged : relay);
  }

  TResult windows;
  if (!windowsRelay.empty()) {
    // From here on the test kit starts kelvorelay.exe under Wine, with the same settings
    // imported into the Wine prefix's registry.
    ::setenv("KELVO_WINDOWS_RELAY", windowsRelay.c_str(), 1);
    home.WriteSettings(
        {std::to_string(kControllerNAD) + ",127.0.0.1," + std::to_string(controller.Port())});
    TRelayProcess process;
    const std::string line = process.Start(home, {});
    if (line.find("listening on") == std::string::npos) {
      std::fprintf(stderr, "the Windows relay did not start: %s\n", process.Output().c_str());
      return 1;
    }
    windows = RunLoad(8442, runTime);
    process.Stop(SIGTERM);
    Print("Windows relay under Wine", windows);
  }

  const double ratio =
      bare.RoundTripsPerSecond > 0 ? relay.RoundTripsPerSecond / bare.RoundTripsPerSecond : 0.0;
  std::printf("relay / bare forwarder (debug log off): %.2f (goal >= 0.90)\n", ratio);
  std::printf("relay / bare forwarder (debug log on):  %.2f\n",
              bare.RoundTripsPerSecond > 0
                  ? relayLogged.RoundTripsPerSecond / bare.RoundTripsPerSecond
                  : 0.0);
  if (!windowsRelay.empty()) {
    std::printf("Windows relay under Wine / Linux relay:  %.2f\n",
                relay.RoundTripsPerSecond > 0
                    ? windows.RoundTripsPerSecond / relay.RoundTripsPerSecond
                    : 0.0);
  }
  return 0;
}
