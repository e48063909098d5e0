// Replays the settings store fuzzer's seed corpus (and any crash file added to it) through the
// same checks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "settings_store_harness.h"

namespace kelvo {
namespace {

TEST(SettingsFuzzCorpus, EveryInputLoadsSavesAndLoadsAgainUnchanged) {
  char Template[] = "/tmp/kelvo_settings_corpus_XXXXXX";
  ASSERT_NE(::mkdtemp(Template), nullptr);
  const std::filesystem::path dir = KELVO_SETTINGS_CORPUS_DIR;
  int files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    if (!item.is_regular_file()) {
      continue;
    }
    std::ifstream in(item.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EXPECT_EQ(fuzz::RunSettingsStoreInput(bytes, Template), "") << item.path().filename();
    ++files;
  }
  std::filesystem::remove_all(Template);
  EXPECT_GE(files, 10) << "seed corpus missing in " << dir;
}

}  // namespace
}  // namespace kelvo
