// The settings tests' fixture: a private settings home, two adapters of the test's own and an
// empty static table.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/registry_store.h"
#include "config/settings.h"
#include "settings_home.h"

namespace kelvo {

class TFakeWindow : public TSettingsWindow {
 public:
  TFakeWindow(std::int32_t ATop, std::int32_t ALeft) : fTop(ATop), fLeft(ALeft) {}
  std::int32_t RestoredTop() const override { return fTop; }
  std::int32_t RestoredLeft() const override { return fLeft; }
  void SetTop(std::int32_t ATop) override {
    fTop = ATop;
    fCalls += "T";
  }
  void SetLeft(std::int32_t ALeft) override {
    fLeft = ALeft;
    fCalls += "L";
  }
  std::int32_t fTop;
  std::int32_t fLeft;
  std::string fCalls;  // order of the Set calls
};

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fOldPlatform = SetAdapterPlatform(
        TAdapterPlatform{[] {
                           return std::optional<std::vector<TPlatformAdapter>>({
                               {"eth0", "Wired", "10.1.0.5", "255.255.0.0", "10.1.0.1"},
                               {"eth1", "Second", "192.168.7.2", "255.255.255.0", "0.0.0.0"},
                           });
                         },
                         [] { return std::string("10.1.0.5"); }});
    ASSERT_TRUE(fAdapter.GetDefault());
  }
  void TearDown() override { SetAdapterPlatform(std::move(fOldPlatform)); }

  void Add(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort) {
    fTable.Add(std::make_unique<TNATInfo>(ANAD, AHost, APort, -1));
  }
  // Writes values straight into the store, as an older run or the user would have left them.
  void Preset(const std::vector<std::pair<std::string, std::string>>& ATexts) {
    TRegistryStore Store;
    Store.OpenKey(true);
    for (const auto& [Name, Text] : ATexts) {
      Store.WriteString(Name, Text);
    }
    Store.CloseKey();
  }
  std::vector<std::string> StaticNames() {
    TRegistryStore Store;
    std::vector<std::string> Names;
    if (Store.OpenKey(false)) {
      for (int I = 0; I < 10; ++I) {
        if (Store.ValueExists("StaticList" + std::to_string(I))) {
          Names.push_back("StaticList" + std::to_string(I));
        }
      }
    }
    return Names;
  }

  test::TSettingsHome fHome;
  TAdapterPlatform fOldPlatform;
  TEthernetAdapterInfo fAdapter;
  TNATInfoList fTable{-1};
  TRegistryStore fStore;
};

}  // namespace kelvo
