// Load and save times of the settings file for static lists of several sizes. Each figure is
// the best of a few runs on a file in a private temporary folder; a save replaces a file that
// already holds a list of the same size, as every save but the first does.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/static_entries.h"
#include "config/settings.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using TClockType = std::chrono::steady_clock;

double Seconds(TClockType::duration ADuration) {
  return std::chrono::duration<double>(ADuration).count();
}

void Measure(const fs::path& AFolder, int ACount) {
  const std::string File = (AFolder / ("list" + std::to_string(ACount) + ".reg")).string();
  TNATInfoList Table(-1);
  for (int I = 0; I < ACount; ++I) {
    const std::string Host = "10." + std::to_string(I / 65536 % 256) + "." +
                             std::to_string(I / 256 % 256) + "." + std::to_string(I % 256);
    Table.Add(std::make_unique<TNATInfo>(1000 + I, Host, static_cast<std::uint16_t>(8442), -1));
  }
  TRegistryStore Store(File);
  // As the relay saves: the table's entries as texts, the window's place, the adapter.
  const auto Save = [&] {
    TStoredSettings Values;
    Values.Top = 100;
    Values.Left = 200;
    Values.EthernetAdapterID = "";
    Values.StaticList = StaticEntryTexts(Table);
    SaveSettings(Store, Values);
  };
  Save();  // the file exists from here on

  const int Runs = ACount >= 100000 ? 3 : 5;
  double BestSave = 1e9;
  double BestLoad = 1e9;
  int Loaded = 0;
  for (int Run = 0; Run < Runs; ++Run) {
    auto Start = TClockType::now();
    Save();
    BestSave = std::min(BestSave, Seconds(TClockType::now() - Start));

    TNATInfoList Back(-1);
    Start = TClockType::now();
    TStoredSettings Values;
    LoadSettings(Store, Values);
    AddStaticEntries(Values.StaticList, Values.StaticListTruncated, Back, {});
    BestLoad = std::min(BestLoad, Seconds(TClockType::now() - Start));
    Loaded = Back.Count();
  }
  std::printf("%9d entries  %10.4f s save  %10.4f s load  %8.1f KiB  (%d loaded)\n", ACount,
              BestSave, BestLoad, static_cast<double>(fs::file_size(File)) / 1024.0, Loaded);
  if (Loaded != ACount) {
    std::printf("  lost entries: saved %d, loaded %d\n", ACount, Loaded);
  }
}

}  // namespace
}  // namespace kelvo

int main() {
  char Template[] = "/tmp/kelvo_settings_bench_XXXXXX";
  if (::mkdtemp(Template) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path Folder(Template);
  std::printf("settings file, best of several runs (save includes fsync):\n");
  int Status = 0;
  try {
    for (const int Count : {10, 1000, 10000, 100000}) {
      kelvo::Measure(Folder, Count);
    }
  } catch (const std::exception& E) {
    std::fprintf(stderr, "settings_bench: %s\n", E.what());
    Status = 1;
  }
  std::error_code Ignored;
  std::filesystem::remove_all(Folder, Ignored);
  return Status;
}
