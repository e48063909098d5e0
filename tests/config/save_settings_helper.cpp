// Saves a static list of ACount entries into the settings file AFile, for the tests that kill a
// save half-way. Entry i is "i,<AHost>,i+1". Writes "S\n" to stdout just before SaveSettings
// starts and "D <microseconds>\n" when it has returned.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "config/settings.h"
#include "config/static_list_codec.h"

namespace {

void Say(const std::string& AText) {
  // Unbuffered, so the parent sees it at once.
  if (::write(STDOUT_FILENO, AText.data(), AText.size()) < 0) {
    std::perror("write");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FILE HOST COUNT\n", argv[0]);
    return 2;
  }
  using namespace kelvo;
  TRegistryStore Store(argv[1]);
  TStoredSettings Values;
  Values.Top = 10;
  Values.Left = 20;
  Values.EthernetAdapterID = "";
  const int Count = std::stoi(argv[3]);
  for (int I = 0; I < Count; ++I) {
    Values.StaticList.push_back(
        EncodeStaticListItem(I, argv[2], static_cast<std::uint16_t>(I + 1)));
  }
  Say("S\n");
  const auto Start = std::chrono::steady_clock::now();
  try {
    SaveSettings(Store, Values);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
  const auto Micros = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - Start);
  Say("D " + std::to_string(Micros.count()) + "\n");
  return 0;
}
