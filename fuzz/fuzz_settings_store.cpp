// libFuzzer entry: any file as the settings file, loaded, saved with the relay's change and
// loaded again.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings_store_harness.h"

namespace {

namespace fs = std::filesystem;

// The file's folder for this run, removed when the fuzzer ends. Every save syncs the file: in
// memory (/dev/shm) that costs nothing.
struct TFolder {
  fs::path Path;
  TFolder() {
    std::error_code Ec;
    const fs::path Base =
        fs::is_directory("/dev/shm", Ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    Path = Base / ("kelvo_settings_fuzz_" + std::to_string(::getpid()));
    fs::create_directories(Path);
  }
  ~TFolder() {
    std::error_code Ec;
    fs::remove_all(Path, Ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  static const TFolder Dir;
  const std::string error = kelvo::fuzz::RunSettingsStoreInput({AData, ASize}, Dir.Path.string());
  if (!error.empty()) {
    std::fprintf(stderr, "settings store check failed: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
