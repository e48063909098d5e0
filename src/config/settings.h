// The relay's settings as they are stored: window position, chosen adapter, static controllers,
// as plain values. What they mean to the relay (adapter records, address tables) is the
// business of src/app. GUI thread (or the headless runner's main thread) only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/registry_store.h"

namespace kelvo {

// No more StaticList values than one table holds are ever read or removed; the ones past this
// bound stay in the store untouched.
inline constexpr int kMaxStoredStaticEntries = 100000;

struct TStoredSettings {
  // Unset when missing. A "Top" or "Left" that cannot be read is unset too: a window position is
  // not worth a relay that does not start.
  std::optional<std::int32_t> Top;
  std::optional<std::int32_t> Left;
  // Unset when missing; saving writes "" for an unset one.
  std::optional<std::string> EthernetAdapterID;
  // The texts of StaticList0, StaticList1, ... up to the first missing name.
  std::vector<std::string> StaticList;
  // Loading stopped at the bound with more values behind it.
  bool StaticListTruncated = false;
};

// Fills AValues from the store; nothing when the key does not exist. Throws TRegistryError at an
// adapter or StaticList value of the wrong type; what was read before it stays in AValues.
void LoadSettings(TRegistryStore& AStore, TStoredSettings& AValues);
// All values reach the store in one commit; "Top" and "Left" only when set (otherwise the stored
// ones stay as they are). When it fails: TRegistryError("Failed to set data for
// 'EthernetAdapterID'"), the first value written, and the stored settings are unchanged.
void SaveSettings(TRegistryStore& AStore, const TStoredSettings& AValues);

}  // namespace kelvo
