#include <winsock2.h>

#include <mutex>
#include <stdexcept>
#include <string>

#include "app/windows_text.h"
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
  return std::to_string(ABytes[0]) + "." + std::to_string(ABytes[1]) + "." +
         std::to_string(ABytes[2]) + "." + std::to_string(ABytes[3]);
}

}  // namespace kelvo
