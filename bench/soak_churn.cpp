// Churn soak: 1,000 new senders a second, each on an address the relay has not seen, all with
// one NAD (so every one of them needs a fresh alias), beside an established application that
// keeps one request in flight. Checks that every request of both gets its reply, that the
// established application's p99 round trip stays under 2 ms, and that memory stays flat once
// the applications table has reached its steady size (60 s of senders).
#include "soak_churn.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "echo_controller.h"
#include "proc_status.h"
#include "relay/frame.h"
#include "relay_start.h"
#include "support/relay_process.h"

namespace kelvo::bench {

namespace {

using namespace std::chrono;
using kelvo::test::TConfigHome;
using kelvo::test::TRelayProcess;

constexpr std::int32_t kControllerNAD = 1001;
constexpr std::int32_t kChurnNAD = 5;
constexpr std::int32_t kEstablishedNAD = 100;
constexpr int kNewSendersPerSecond = 1000;
constexpr auto kReplyLimit = seconds(2);  // a reply later than this counts as lost

std::int64_t NowNs() {
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// A request from ANAD carrying AToken, so the reply can be matched to it.
std::vector<std::uint8_t> Request(std::int32_t ANAD, std::uint64_t AToken) {
  std::vector<std::uint8_t> frame(kFrameHeaderSize + sizeof AToken + 2, 0);
  frame[0] = kStartByte1;
  frame[1] = kStartByte2;
  frame[2] = static_cast<std::uint8_t>(sizeof AToken + 2);
  WriteNAD(frame, kOffsetSourceNAD, ANAD);
  WriteNAD(frame, kOffsetDestNAD, kControllerNAD);
  std::memcpy(frame.data() + kFrameHeaderSize, &AToken, sizeof AToken);
  RefreshChecksum(frame);
  return frame;
}

// True when ABytes is the reply to the request from ANAD with AToken.
bool IsReply(const std::uint8_t* ABytes, ssize_t ALength, std::int32_t ANAD, std::uint64_t AToken) {
  if (ALength != static_cast<ssize_t>(kFrameHeaderSize + sizeof AToken + 2)) {
    return false;
  }
  const std::span<const std::uint8_t> frame(ABytes, static_cast<std::size_t>(ALength));
  std::uint64_t token = 0;
  std::memcpy(&token, ABytes + kFrameHeaderSize, sizeof token);
  return ReadNAD(frame, kOffsetDestNAD) == ANAD && token == AToken && ParseFrame(frame).Valid;
}

sockaddr_in Relay() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(8442);
  return address;
}

struct TEstablishedResult {
  std::vector<std::int64_t> RoundTripsNs;
  long Lost = 0;
};

// One request in flight, the next half a millisecond after each reply.
void RunEstablished(const std::atomic<bool>& AStop, TEstablishedResult& AResult) {
  sockaddr_in own{};
  const int fd = LoopbackSocket(own);
  const sockaddr_in relay = Relay();
  std::uint8_t buffer[256];
  for (std::uint64_t token = 1; !AStop.load(); ++token) {
    const auto request = Request(kEstablishedNAD, token);
    const std::int64_t sent = NowNs();
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&relay),
             sizeof relay);
    bool answered = false;
    while (!answered && NowNs() - sent < duration_cast<nanoseconds>(kReplyLimit).count()) {
      pollfd wait{fd, POLLIN, 0};
      if (::poll(&wait, 1, 100) <= 0) {
        continue;
      }
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      answered = IsReply(buffer, n, kEstablishedNAD, token);
    }
    if (answered) {
      AResult.RoundTripsNs.push_back(NowNs() - sent);
    } else {
      ++AResult.Lost;
    }
    std::this_thread::sleep_for(microseconds(500));
  }
  ::close(fd);
}

struct TChurnResult {
  long Senders = 0;
  long Answered = 0;
  long Lost = 0;
};

// The n-th new sender: its own address in 127.0.0.0/8, so the relay has never seen it.
std::uint32_t ChurnAddress(long AIndex) {
  const auto n = static_cast<std::uint32_t>(AIndex);
  return (127u << 24) | ((1 + n / 65536 % 250) << 16) | (n / 256 % 256) << 8 | (n % 256);
}

void RunChurn(const std::atomic<bool>& AStop, TChurnResult& AResult) {
  struct TPending {
    int Socket;
    std::uint64_t Token;
    std::int64_t SentNs;
  };
  std::deque<TPending> pending;
  const sockaddr_in relay = Relay();
  const std::int64_t start = NowNs();
  std::uint8_t buffer[256];
  const auto collect = [&](int AWaitMs) {
    std::vector<pollfd> waits;
    for (const auto& p : pending) {
      waits.push_back({p.Socket, POLLIN, 0});
    }
    if (!waits.empty()) {
      ::poll(waits.data(), waits.size(), AWaitMs);
    }
    std::deque<TPending> open;
    for (std::size_t i = 0; i < pending.size(); ++i) {
      const TPending& p = pending[i];
      bool done = false;
      if ((waits[i].revents & POLLIN) != 0) {
        const ssize_t n = ::recv(p.Socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (IsReply(buffer, n, kChurnNAD, p.Token)) {
          ++AResult.Answered;
          done = true;
        }
      }
      if (!done && NowNs() - p.SentNs > duration_cast<nanoseconds>(kReplyLimit).count()) {
        ++AResult.Lost;
        done = true;
      }
      if (done) {
        ::close(p.Socket);
      } else {
        open.push_back(p);
      }
    }
    pending = std::move(open);
  };
  while (!AStop.load()) {
    // Paced by the clock: sender n goes out at start + n ms, late ones right away.
    const std::int64_t due = start + AResult.Senders * (1'000'000'000 / kNewSendersPerSecond);
    if (NowNs() < due) {
      collect(pending.empty() ? 0 : 1);
      if (pending.empty()) {
        std::this_thread::sleep_for(nanoseconds(std::max<std::int64_t>(0, due - NowNs())));
      }
      continue;
    }
    sockaddr_in own{};
    const int fd = LoopbackSocket(own, ChurnAddress(AResult.Senders));
    const std::uint64_t token = static_cast<std::uint64_t>(AResult.Senders) + 1;
    const auto request = Request(kChurnNAD, token);
    pending.push_back({fd, token, NowNs()});
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&relay),
             sizeof relay);
    ++AResult.Senders;
  }
  // Ends: whatever is still unanswered counts as lost after kReplyLimit.
  while (!pending.empty()) {
    collect(10);
  }
}

}  // namespace

int RunChurnSoak(double ASeconds) {
  TEchoController controller(kControllerNAD);
  TConfigHome home;
  WriteControllerSettings(home, kControllerNAD, controller.Port());
  TRelayProcess relay;
  if (!StartListeningRelay(relay, home)) {
    return 1;
  }
  const int pid = relay.Pid();
  std::printf("churn: %d new senders a second beside one established application, %.0f s\n",
              kNewSendersPerSecond, ASeconds);
  std::fflush(stdout);

  std::atomic<bool> stop{false};
  TEstablishedResult established;
  TChurnResult churn;
  std::thread establishedThread([&] { RunEstablished(stop, established); });
  std::thread churnThread([&] { RunChurn(stop, churn); });

  // The applications table fills for 60 s (the entries' lifetime), then stays level.
  const auto started = steady_clock::now();
  const auto end = started + duration_cast<steady_clock::duration>(duration<double>(ASeconds));
  long rssSteady = -1;
  long rssMax = 0;
  for (int tick = 1; steady_clock::now() < end; ++tick) {
    std::this_thread::sleep_until(std::min(end, started + seconds(tick * 10)));
    const long rss = ResidentKb(pid);
    rssMax = std::max(rssMax, rss);
    if (rssSteady < 0 && steady_clock::now() - started >= seconds(90)) {
      rssSteady = rss;
    }
    std::printf("  %4.0f s  resident %ld kB\n",
                duration<double>(steady_clock::now() - started).count(), rss);
    std::fflush(stdout);
  }
  stop = true;
  establishedThread.join();
  churnThread.join();
  const long rssAtEnd = ResidentKb(pid);
  const int exitCode = relay.Stop(SIGTERM);

  auto& trips = established.RoundTripsNs;
  std::sort(trips.begin(), trips.end());
  const auto percentileMs = [&](double AShare) {
    return trips.empty() ? 0.0
                         : static_cast<double>(trips[static_cast<std::size_t>(
                               static_cast<double>(trips.size() - 1) * AShare)]) /
                               1e6;
  };
  const double p99 = percentileMs(0.99);
  std::printf("new senders          %ld, answered %ld, lost %ld\n", churn.Senders, churn.Answered,
              churn.Lost);
  std::printf(
      "established requests %zu answered, lost %ld; p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
      trips.size(), established.Lost, percentileMs(0.5), p99, percentileMs(1.0));
  std::printf("resident memory      at 90 s %ld kB, max %ld kB, end %ld kB\n", rssSteady, rssMax,
              rssAtEnd);
  std::printf("relay exit code      %d\n", exitCode);

  // Memory is judged only once the table has had time to level off.
  const bool memoryFlat = rssSteady < 0 || rssAtEnd - rssSteady < 8 * 1024;
  const bool ok = churn.Lost == 0 && churn.Answered == churn.Senders && established.Lost == 0 &&
                  !trips.empty() && p99 < 2.0 && memoryFlat && exitCode == 0;
  std::printf("%s\n", ok ? "churn soak passed" : "churn soak FAILED");
  return ok ? 0 : 1;
}

}  // namespace kelvo::bench
