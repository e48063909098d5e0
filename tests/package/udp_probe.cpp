// One request and its reply through a relay listening on 127.0.0.1:8442, for the package tests,
// which drive the installed program from a shell script.
//
//   package_udp_probe <controller port> <application NAD>
//
// Binds the controller (NAD 1001) on 127.0.0.1:<controller port>, as the relay's static list names
// it, and an application on an ephemeral port. Exit code 0 when both frames arrive unchanged from
// port 8442; an application NAD that another application still holds would be given an alias.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "support/relay_doubles.h"
#include "support/relay_process.h"

namespace {

using namespace std::chrono_literals;
using kelvo::test::TUdpPeer;

bool Expect(const TUdpPeer& APeer, const kelvo::test::TBytes& AFrame, const char* AWhat) {
  std::uint16_t from = 0;
  const auto received = APeer.Receive(3s, &from);
  if (!received) {
    std::fprintf(stderr, "%s: nothing arrived within 3 s\n", AWhat);
    return false;
  }
  if (*received != AFrame || from != 8442) {
    std::fprintf(stderr, "%s: %zu bytes from port %u, not the frame sent\n", AWhat,
                 received->size(), from);
    return false;
  }
  std::printf("%s: %zu bytes from port 8442\n", AWhat, received->size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <controller port> <application NAD>\n", argv[0]);
    return 2;
  }
  try {
    const TUdpPeer controller(static_cast<std::uint16_t>(std::atoi(argv[1])));
    const TUdpPeer application;
    const std::int32_t nad = std::atoi(argv[2]);
    const kelvo::test::TBytes request = kelvo::test::MakeFrame(nad, 1001, 0, {0x01, 0x02});
    application.SendToRelay(request);
    if (!Expect(controller, request, "request at the controller")) {
      return 1;
    }
    const kelvo::test::TBytes reply = kelvo::test::MakeFrame(1001, nad, 1, {0x03});
    controller.SendToRelay(reply);
    return Expect(application, reply, "reply at the application") ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
