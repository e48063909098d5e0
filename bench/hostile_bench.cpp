// Hostile traffic against the headless relay, in a network and mount namespace of its own
// (needs root): what one sender's poison costs the others, how many datagrams one spoofed push
// causes, and how other senders fare while a static controller's name lookup hangs.
//
//   hostile_bench [poison] [loop] [dns]      (all three when none is named)
//
// poison: 5,000 requests of 20 bytes from one application through an answering controller,
//         after one poison head (AA 55 F1 FF) from another sender, and with one poison per 100
//         requests; prints the requests that got no reply.
// loop:   one push frame that claims to come from a UDP echo service, and one that claims the
//         relay's own address (a raw socket forges it); prints the datagrams each causes in two
//         seconds and the relay's CPU time, then an application's round trips per second
//         after 100 self-address pushes.
// dns:    the resolver points at 127.0.0.53, where a socket never answers (3 s timeout); one
//         request for a controller named by host name, while another application sends a
//         request every millisecond to a controller given by address; prints that
//         application's latency before and after the lookup began.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
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
using kelvo::test::MakeFrame;
using kelvo::test::TBytes;
using kelvo::test::TConfigHome;
using kelvo::test::TRelayProcess;

constexpr std::int32_t kControllerNAD = 1001;
constexpr std::int32_t kNamedControllerNAD = 2002;
constexpr const char* kResolvConf = "/tmp/kelvo_hostile_bench_resolv.conf";

// A namespace of our own: port 8442 and 127.0.0.53 are ours, and the resolver configuration
// seen by the relay (started after this) points at the silent socket.
bool EnterPrivateNamespaces() {
  if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    std::perror("unshare (needs root)");
    return false;
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    std::perror("mount --make-rprivate /");
    return false;
  }
  std::ofstream(kResolvConf) << "nameserver 127.0.0.53\noptions timeout:3 attempts:1\n";
  if (::mount(kResolvConf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
    std::perror("bind mount of /etc/resolv.conf");
    return false;
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  const bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                  (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
  ::close(fd);
  if (!up)
    std::perror("bringing lo up");
  return up;
}

sockaddr_in RelayAddress() {
  sockaddr_in relay{};
  relay.sin_family = AF_INET;
  relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  relay.sin_port = htons(8442);
  return relay;
}

void SendTo(int AFd, const TBytes& ABytes, const sockaddr_in& ATo) {
  ::sendto(AFd, ABytes.data(), ABytes.size(), 0, reinterpret_cast<const sockaddr*>(&ATo),
           sizeof ATo);
}

// A 20-byte request; the payload carries its number.
TBytes Request(std::int32_t ADest, std::uint32_t ANumber) {
  TBytes payload(4);
  std::memcpy(payload.data(), &ANumber, sizeof ANumber);
  return MakeFrame(5, ADest, 0, payload);
}

// Counts the replies to requests numbered 0..ACount-1 that reach AFd, on a thread of its own
// so that they never pile up in the socket; Finish waits until AQuiet passes without one.
class TReplyCounter {
 public:
  TReplyCounter(int AFd, std::uint32_t ACount) : fFd(AFd), fSeen(ACount, false) {
    fThread = std::thread([this] { Run(); });
  }
  int Finish() {
    fSending = false;
    fThread.join();
    return fReplies;
  }

 private:
  void Run() {
    std::uint8_t buffer[2048];
    pollfd pfd{fFd, POLLIN, 0};
    while (::poll(&pfd, 1, 500) > 0 || fSending) {
      const ssize_t n = ::recv(fFd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n != 20)
        continue;
      std::uint32_t number = 0;
      std::memcpy(&number, buffer + kelvo::kFrameHeaderSize, sizeof number);
      if (number < fSeen.size() && !fSeen[number]) {
        fSeen[number] = true;
        ++fReplies;
      }
    }
  }
  int fFd;
  std::vector<bool> fSeen;
  int fReplies = 0;
  std::atomic<bool> fSending{true};
  std::thread fThread;
};

// ARequests requests from one application; APoisonEvery > 0 puts a poison head from another
// sender before every APoisonEvery-th request, APoisonEvery < 0 one poison before the first.
int LostRequests(int ARequests, int APoisonEvery) {
  TEchoController controller(kControllerNAD);
  TConfigHome home;
  kelvo::bench::WriteControllerSettings(home, kControllerNAD, controller.Port());
  TRelayProcess relay;
  if (!StartListeningRelay(relay, home))
    return -1;
  sockaddr_in address{};
  const int app = LoopbackSocket(address);
  const int other = LoopbackSocket(address);
  const sockaddr_in to = RelayAddress();
  const TBytes poison = {0xAA, 0x55, 0xF1, 0xFF};
  TReplyCounter counter(app, static_cast<std::uint32_t>(ARequests));
  for (int i = 0; i < ARequests; ++i) {
    if ((APoisonEvery > 0 && i % APoisonEvery == 0) || (APoisonEvery < 0 && i == 0))
      SendTo(other, poison, to);
    SendTo(app, Request(kControllerNAD, static_cast<std::uint32_t>(i)), to);
    if (i % 10 == 9)
      std::this_thread::sleep_for(milliseconds(1));  // no socket buffer overflows
  }
  const int replies = counter.Finish();
  ::close(app);
  ::close(other);
  relay.Stop(SIGTERM);
  return ARequests - replies;
}

void RunPoison() {
  std::printf("poison: requests lost of 5000 (20-byte requests, one application)\n");
  std::printf("  no poison:              %d\n", LostRequests(5000, 0));
  std::printf("  one poison head first:  %d\n", LostRequests(5000, -1));
  std::printf("  one poison per 100:     %d\n", LostRequests(5000, 100));
  std::fflush(stdout);
}

// Datagrams this namespace's UDP layer has sent so far.
long long UdpOutDatagrams() {
  std::ifstream snmp("/proc/net/snmp");
  std::string names, values;
  for (std::string line; std::getline(snmp, line);) {
    if (line.rfind("Udp:", 0) == 0) {
      if (names.empty())
        names = line;
      else
        values = line;
    }
  }
  std::istringstream n(names), v(values);
  for (std::string name, value; n >> name && v >> value;) {
    if (name == "OutDatagrams")
      return std::stoll(value);
  }
  return -1;
}

// User plus system time of process APid in clock ticks.
long long CpuTicks(int APid) {
  std::ifstream stat("/proc/" + std::to_string(APid) + "/stat");
  std::string text;
  std::getline(stat, text);
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14)
      utime = std::stoll(field);
    if (i == 15) {
      stime = std::stoll(field);
      break;
    }
  }
  return utime + stime;
}

// A UDP echo service: every datagram goes back to its sender. Counts what it echoed.
class TEchoService {
 public:
  TEchoService() : fSocket(LoopbackSocket(fAddress)) {
    fThread = std::thread([this] { Run(); });
  }
  ~TEchoService() {
    fStop = true;
    fThread.join();
    ::close(fSocket);
  }
  int Socket() const { return fSocket; }
  long Echoed() const { return fEchoed.load(); }

 private:
  void Run() {
    std::uint8_t buffer[9000];
    while (!fStop) {
      pollfd pfd{fSocket, POLLIN, 0};
      if (::poll(&pfd, 1, 20) <= 0)
        continue;
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n = ::recvfrom(fSocket, buffer, sizeof buffer, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &length);
      if (n <= 0)
        continue;
      ::sendto(fSocket, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from),
               length);
      ++fEchoed;
    }
  }
  sockaddr_in fAddress{};
  int fSocket;
  std::atomic<bool> fStop{false};
  std::atomic<long> fEchoed{0};
  std::thread fThread;
};

// Sends APayload as a UDP datagram from 127.0.0.1:8442 to 127.0.0.1:8442 through a raw socket.
bool SendForgedFromRelay(const TBytes& APayload) {
  const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  if (fd < 0)
    return false;
  TBytes packet(20 + 8 + APayload.size(), 0);
  packet[0] = 0x45;  // IPv4, 20-byte header
  const auto total = static_cast<std::uint16_t>(packet.size());
  packet[2] = static_cast<std::uint8_t>(total >> 8);
  packet[3] = static_cast<std::uint8_t>(total & 0xFF);
  packet[8] = 64;           // TTL
  packet[9] = IPPROTO_UDP;  // the kernel fills in the header checksum and the id
  const std::uint8_t loopback[4] = {127, 0, 0, 1};
  std::memcpy(&packet[12], loopback, 4);
  std::memcpy(&packet[16], loopback, 4);
  packet[20] = 8442 >> 8;
  packet[21] = 8442 & 0xFF;
  packet[22] = 8442 >> 8;
  packet[23] = 8442 & 0xFF;
  const auto udpLength = static_cast<std::uint16_t>(8 + APayload.size());
  packet[24] = static_cast<std::uint8_t>(udpLength >> 8);
  packet[25] = static_cast<std::uint8_t>(udpLength & 0xFF);
  std::copy(APayload.begin(), APayload.end(), packet.begin() + 28);  // UDP checksum 0: none
  const sockaddr_in to = RelayAddress();
  const bool sent = ::sendto(fd, packet.data(), packet.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0;
  ::close(fd);
  return sent;
}

// Round trips per second of one application with 8 requests in flight, for ASeconds.
double RoundTripsPerSecond(double ASeconds) {
  sockaddr_in address{};
  const int app = LoopbackSocket(address);
  const sockaddr_in to = RelayAddress();
  for (std::uint32_t i = 0; i < 8; ++i)
    SendTo(app, Request(kControllerNAD, i), to);
  long done = 0;
  std::uint8_t buffer[2048];
  const auto end =
      steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(ASeconds));
  while (steady_clock::now() < end) {
    pollfd pfd{app, POLLIN, 0};
    if (::poll(&pfd, 1, 200) <= 0) {  // lost: refill the window
      for (std::uint32_t i = 0; i < 8; ++i)
        SendTo(app, Request(kControllerNAD, i), to);
      continue;
    }
    while (::recv(app, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      ++done;
      SendTo(app, Request(kControllerNAD, 0), to);
    }
  }
  ::close(app);
  return static_cast<double>(done) / ASeconds;
}

void RunLoop() {
  TEchoController controller(kControllerNAD);
  TConfigHome home;
  kelvo::bench::WriteControllerSettings(home, kControllerNAD, controller.Port());
  TRelayProcess relay;
  if (!StartListeningRelay(relay, home))
    return;
  const TBytes push = MakeFrame(4000, 0, 1);
  std::printf("loop: datagrams caused by one spoofed push in 2 s (UDP OutDatagrams)\n");
  const double clean = RoundTripsPerSecond(2.0);
  std::this_thread::sleep_for(milliseconds(300));  // what was still in flight settles
  {
    TEchoService echo;
    const long long before = UdpOutDatagrams();
    const long long cpu = CpuTicks(relay.Pid());
    SendTo(echo.Socket(), push, RelayAddress());  // the push "from" the echo service
    std::this_thread::sleep_for(seconds(2));
    std::printf("  from an echo service:   %lld datagrams, %ld echoed, relay CPU %lld ticks\n",
                UdpOutDatagrams() - before - 1, echo.Echoed(), CpuTicks(relay.Pid()) - cpu);
  }
  const long long before = UdpOutDatagrams();
  const long long cpu = CpuTicks(relay.Pid());
  if (!SendForgedFromRelay(MakeFrame(4001, 0, 1))) {
    std::printf("  from the relay's own address: skipped (no raw socket)\n");
  } else {
    std::this_thread::sleep_for(seconds(2));
    std::printf("  from the relay's own address: %lld datagrams, relay CPU %lld ticks\n",
                UdpOutDatagrams() - before, CpuTicks(relay.Pid()) - cpu);
    std::printf("  round trips/s before any push:          %.0f\n", clean);
    for (int i = 0; i < 100; ++i)
      SendForgedFromRelay(MakeFrame(5000 + i, 0, 1));
    std::this_thread::sleep_for(milliseconds(200));
    std::printf("  round trips/s after 100 self pushes:    %.0f\n", RoundTripsPerSecond(2.0));
  }
  std::fflush(stdout);
  relay.Stop(SIGTERM, seconds(20));
}

struct TLatencies {
  std::vector<double> Us;
  int Lost = 0;
  double Percentile(double AFraction) {
    if (Us.empty())
      return 0;
    std::sort(Us.begin(), Us.end());
    return Us[std::min(Us.size() - 1, static_cast<std::size_t>(AFraction * Us.size()))];
  }
};

void RunDns() {
  // Bound but never read: every query waits for the resolver's timeout.
  const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in dns{};
  dns.sin_family = AF_INET;
  dns.sin_port = htons(53);
  ::inet_pton(AF_INET, "127.0.0.53", &dns.sin_addr);
  if (::bind(silent, reinterpret_cast<sockaddr*>(&dns), sizeof dns) != 0) {
    std::perror("binding 127.0.0.53:53");
    return;
  }
  TEchoController controller(kControllerNAD);
  TEchoController named(kNamedControllerNAD);
  TConfigHome home;
  home.WriteSettings(
      {std::to_string(kControllerNAD) + ",127.0.0.1," + std::to_string(controller.Port()),
       std::to_string(kNamedControllerNAD) + ",ctl.kelvo.test," + std::to_string(named.Port())});
  TRelayProcess relay;
  const auto startBegin = steady_clock::now();
  if (!StartListeningRelay(relay, home))
    return;
  const double startSeconds = duration<double>(steady_clock::now() - startBegin).count();

  // One request every millisecond, whatever the replies do, so that a stalled listener delays
  // every request sent meanwhile; replies are matched to their send times by number.
  sockaddr_in address{};
  const int app = LoopbackSocket(address);
  const int other = LoopbackSocket(address);
  const sockaddr_in to = RelayAddress();
  constexpr std::uint32_t kRequests = 5000;
  std::vector<steady_clock::time_point> sentAt(kRequests);
  std::vector<double> latencyUs(kRequests, -1);
  std::atomic<bool> sending{true};
  std::thread receiver([&] {
    std::uint8_t buffer[2048];
    pollfd pfd{app, POLLIN, 0};
    while (::poll(&pfd, 1, 4000) > 0 || sending) {
      if (::recv(app, buffer, sizeof buffer, MSG_DONTWAIT) != 20)
        continue;
      std::uint32_t number = 0;
      std::memcpy(&number, buffer + kelvo::kFrameHeaderSize, sizeof number);
      if (number < kRequests && latencyUs[number] < 0)
        latencyUs[number] =
            duration<double, std::micro>(steady_clock::now() - sentAt[number]).count();
    }
  });
  const auto begin = steady_clock::now();
  for (std::uint32_t n = 0; n < kRequests; ++n) {
    std::this_thread::sleep_until(begin + milliseconds(n));
    if (n == 1000)  // after one second: the request that starts the lookup
      SendTo(other, Request(kNamedControllerNAD, 0), to);
    sentAt[n] = steady_clock::now();
    SendTo(app, Request(kControllerNAD, n), to);
  }
  sending = false;
  receiver.join();
  TLatencies quiet, during;
  for (std::uint32_t n = 0; n < kRequests; ++n) {
    TLatencies& into = n < 1000 ? quiet : during;
    if (latencyUs[n] < 0)
      ++into.Lost;
    else
      into.Us.push_back(latencyUs[n]);
  }
  std::printf("dns: another application's requests (one per ms) while a name lookup hangs\n");
  std::printf("  relay start-up: %.2f s\n", startSeconds);
  std::printf("  the second before:  p50 %.0f us, p99 %.0f us, max %.0f us, %d lost\n",
              quiet.Percentile(0.5), quiet.Percentile(0.99), quiet.Percentile(1.0), quiet.Lost);
  std::printf("  the 4 s after it:   p50 %.0f us, p99 %.0f us, max %.0f us, %d lost\n",
              during.Percentile(0.5), during.Percentile(0.99), during.Percentile(1.0), during.Lost);
  std::fflush(stdout);
  ::close(app);
  ::close(other);
  const auto stopBegin = steady_clock::now();
  const int code = relay.Stop(SIGTERM, seconds(30));
  std::printf("  stop: exit code %d after %.2f s\n", code,
              duration<double>(steady_clock::now() - stopBegin).count());
  ::close(silent);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> runs(argv + 1, argv + argc);
  if (runs.empty())
    runs = {"poison", "loop", "dns"};
  if (!EnterPrivateNamespaces()) {
    std::fprintf(stderr, "hostile_bench: needs root for its namespaces\n");
    return 2;
  }
  for (const std::string& run : runs) {
    if (run == "poison")
      RunPoison();
    else if (run == "loop")
      RunLoop();
    else if (run == "dns")
      RunDns();
    else
      std::fprintf(stderr, "hostile_bench: unknown run '%s'\n", run.c_str());
  }
  return 0;
}
