#include <winsock2.h>

#include <mutex>
#include <stdexcept>
#include <string>

#include "base/windows_text.h"
#include "net/ethernet_utils.h"
#include "net/winsock.h"

namespace kelvo {

void EnsureWinsock() {
  static std::once_flag Once;
  static int Result = 0;
  std::call_once(Once, [] {
    WSADATA Data{};
    Result = WSAStartup(MAKEWORD(2, 2), &Data);
  });
  if (Result != 0) {
    throw std::runtime_error("cannot start Windows Sockets: " +
                             WindowsErrorText(static_cast<unsigned long>(Result)));
  }
}

std::string DottedQuad(const unsigned char (&ABytes)[4]) {
  return IntToIPAddress(static_cast<std::uint32_t>(ABytes[0]) << 24 |
                        static_cast<std::uint32_t>(ABytes[1]) << 16 |
                        static_cast<std::uint32_t>(ABytes[2]) << 8 | ABytes[3]);
}

}  // namespace kelvo
