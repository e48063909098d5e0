// The debug log tests' fixture: a log object writing into a fresh folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "diag/my_log.h"

namespace kelvo {

namespace fs = std::filesystem;

class MyLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device Random;
    fDir = fs::temp_directory_path() / ("kelvo_log_" + std::to_string(Random()));
    ASSERT_TRUE(fs::create_directories(fDir));
    fFile = (fDir / "relay.log").string();
    fLog.SetLogFile(fFile);
  }
  void TearDown() override { fs::remove_all(fDir); }

  static std::string Read(const std::string& AName) {
    std::ifstream In(AName, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
  }
  static void Put(const std::string& AName, const std::string& AText) {
    std::ofstream(AName, std::ios::binary) << AText;
  }

  fs::path fDir;
  std::string fFile;
  TMyLog fLog;
};

}  // namespace kelvo
