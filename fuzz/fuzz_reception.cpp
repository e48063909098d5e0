// libFuzzer entry: datagrams in any order, cut anywhere, through reception and routing.
#include <cstdio>
#include <cstdlib>

#include "reception_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const std::string error = kelvo::fuzz::RunReceptionInput({AData, ASize});
  if (!error.empty()) {
    std::fprintf(stderr, "reception check failed: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
