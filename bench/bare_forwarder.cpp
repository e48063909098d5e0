// The floor for the load benchmark: a single-threaded recvfrom/sendto forwarder doing the
// relay's job with nothing else: requests go to the one controller, replies go back to the
// application that last used the reply's destination NAD.
//
//   bare_forwarder <listen port> <controller port>      (both on 127.0.0.1)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace {

sockaddr_in Loopback(std::uint16_t APort) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(APort);
  return address;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bare_forwarder <listen port> <controller port>\n");
    return 2;
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in listen = Loopback(static_cast<std::uint16_t>(std::atoi(argv[1])));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&listen), sizeof listen) != 0) {
    std::perror("bind");
    return 1;
  }
  const sockaddr_in controller = Loopback(static_cast<std::uint16_t>(std::atoi(argv[2])));
  std::printf("bare forwarder listening\n");
  std::fflush(stdout);

  std::unordered_map<std::uint32_t, sockaddr_in> applications;
  std::uint8_t buffer[8192];
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 14) {
      continue;
    }
    std::uint32_t source = 0;
    std::uint32_t dest = 0;
    std::memcpy(&source, buffer + 4, 4);
    std::memcpy(&dest, buffer + 8, 4);
    if (buffer[12] == 0) {
      applications[source] = from;
      ::sendto(fd, buffer, static_cast<std::size_t>(n), 0,
               reinterpret_cast<const sockaddr*>(&controller), sizeof controller);
    } else if (const auto app = applications.find(dest); app != applications.end()) {
      ::sendto(fd, buffer, static_cast<std::size_t>(n), 0,
               reinterpret_cast<const sockaddr*>(&app->second), sizeof app->second);
    }
  }
}
