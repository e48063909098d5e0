// The settings tests' fixture: a private settings home, and the static entries as the relay
// turns the stored texts into its table and back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/static_entries.h"
#include "config/registry_store.h"
#include "config/settings.h"
#include "settings_home.h"
#include "tables/nat_info_list.h"

namespace kelvo {

class SettingsTest : public ::testing::Test {
 protected:
  void Add(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort) {
    fTable.Add(std::make_unique<TNATInfo>(ANAD, AHost, APort, -1));
  }
  // The values a relay with fTable, adapter AAdapterID and a window at ATop, ALeft saves.
  TStoredSettings Values(const std::string& AAdapterID, std::optional<std::int32_t> ATop,
                         std::optional<std::int32_t> ALeft) const {
    TStoredSettings values;
    values.Top = ATop;
    values.Left = ALeft;
    values.EthernetAdapterID = AAdapterID;
    values.StaticList = StaticEntryTexts(fTable);
    return values;
  }
  // Loads the settings and makes the static table from them, as the relay does at start.
  TStoredSettings Load(TNATInfoList& ATable) {
    TStoredSettings values;
    LoadSettings(fStore, values);
    AddStaticEntries(values.StaticList, values.StaticListTruncated, ATable, {});
    return values;
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
  TNATInfoList fTable{-1};
  TRegistryStore fStore;
};

}  // namespace kelvo
