// What /proc tells about a process under test. Any thread.
#pragma once

#include <fstream>
#include <string>

namespace kelvo::bench {

// The resident memory of process APid in KiB, or -1 when it cannot be read.
inline long ResidentKb(int APid) {
  std::ifstream status("/proc/" + std::to_string(APid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

}  // namespace kelvo::bench
