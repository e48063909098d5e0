// Loading and saving the relay's settings: window position, adapter, static controllers.
// GUI thread (or the headless runner's main thread) only.
#pragma once

#include <cstdint>

#include "config/registry_store.h"
#include "net/ethernet_utils.h"
#include "tables/nat_info_list.h"

namespace kelvo {

// The window whose restored position is stored. The headless runner keeps a stored position
// unchanged.
class TSettingsWindow {
 public:
  virtual ~TSettingsWindow() = default;
  virtual std::int32_t RestoredTop() const = 0;
  virtual std::int32_t RestoredLeft() const = 0;
  virtual void SetTop(std::int32_t ATop) = 0;
  virtual void SetLeft(std::int32_t ALeft) = 0;
  // False for a relay without a window: saving then leaves "Top" and "Left" as they are.
  virtual bool HasPlacement() const { return true; }
};

// Fills window position, adapter and AStaticTable (which the caller holds locked or private).
// Throws TRegistryError on a value of the wrong type; what was read before it stays applied.
// A static entry whose host does not resolve is loaded with an empty IP; malformed ones are
// skipped.
// When the stored adapter is gone and the default adapter cannot be determined either, the
// adapter record is left empty (the relay then listens on every local address).
void LoadSettings(TRegistryStore& AStore, TSettingsWindow& AWindow,
                  TEthernetAdapterInfo& AEthAdapterInfo, TNATInfoList& AStaticTable);
// All values reach the store in one commit. When it fails: TRegistryError("Failed to set data
// for 'EthernetAdapterID'"), the first value written, and the stored settings are unchanged.
void SaveSettings(TRegistryStore& AStore, const TSettingsWindow& AWindow,
                  const TEthernetAdapterInfo& AEthAdapterInfo, const TNATInfoList& AStaticTable);

}  // namespace kelvo
