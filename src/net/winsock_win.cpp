#include <winsock2.h>

#include <mutex>
#include <stdexcept>
#include <string>

#include "base/windows_text.h"
#include "net/ethernet_utils.h"
#include "net/winsock.h"

namespace kelvo {

void EnsureWinsock() {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data{};
    result = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (result != 0) {
    throw std::runtime_error("cannot start Windows Sockets: " +
                             WindowsErrorText(static_cast<unsigned long>(result)));
  }
}

std::string DottedQuad(const unsigned char (&ABytes)[4]) {
  return IntToIPAddress(static_cast<std::uint32_t>(ABytes[0]) << 24 |
                        static_cast<std::uint32_t>(ABytes[1]) << 16 |
                        static_cast<std::uint32_t>(ABytes[2]) << 8 | ABytes[3]);
}

}  // namespace kelvo
