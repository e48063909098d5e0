#include <unistd.h>

#include <array>
#include <string>

#include "app/relay_host.h"

namespace kelvo {

std::string ExecutablePath() {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) {
    return {};
  }
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

long CurrentProcessId() {
  return static_cast<long>(::getpid());
}

}  // namespace kelvo
