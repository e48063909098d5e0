#include "config/settings.h"

#include <string>

namespace kelvo {

namespace {

constexpr const char* kTop = "Top";
constexpr const char* kLeft = "Left";
constexpr const char* kEthernetAdapterID = "EthernetAdapterID";

std::string StaticListName(int AIndex) {
  return "StaticList" + std::to_string(AIndex);
}

// The key is closed on every way out. Only a pass that ran to its end commits; one cut short by
// an error leaves the stored settings as they were.
class TKeyCloser {
 public:
  explicit TKeyCloser(TRegistryStore& AStore) : fStore(AStore) {}
  ~TKeyCloser() {
    if (!fClosed) {
      fStore.DiscardKey();
    }
  }
  void Close() {
    fClosed = true;
    fStore.CloseKey();
  }
  TKeyCloser(const TKeyCloser&) = delete;
  TKeyCloser& operator=(const TKeyCloser&) = delete;

 private:
  TRegistryStore& fStore;
  bool fClosed = false;
};

std::optional<std::int32_t> ReadPosition(const TRegistryStore& AStore, const char* AName) {
  if (!AStore.ValueExists(AName)) {
    return std::nullopt;
  }
  try {
    return AStore.ReadInteger(AName);
  } catch (const TRegistryError&) {
    return std::nullopt;
  }
}

}  // namespace

void LoadSettings(TRegistryStore& AStore, TStoredSettings& AValues) {
  if (!AStore.OpenKey(false)) {
    return;
  }
  TKeyCloser closer(AStore);

  AValues.Top = ReadPosition(AStore, kTop);
  AValues.Left = ReadPosition(AStore, kLeft);
  if (AStore.ValueExists(kEthernetAdapterID)) {
    AValues.EthernetAdapterID = AStore.ReadString(kEthernetAdapterID);
  }
  for (int i = 0; i < kMaxStoredStaticEntries && AStore.ValueExists(StaticListName(i)); ++i) {
    AValues.StaticList.push_back(AStore.ReadString(StaticListName(i)));
  }
  AValues.StaticListTruncated = AStore.ValueExists(StaticListName(kMaxStoredStaticEntries));
  closer.Close();
}

void SaveSettings(TRegistryStore& AStore, const TStoredSettings& AValues) {
  try {
    AStore.OpenKey(true);
  } catch (const TRegistryError&) {
    // Without a key the first value is the one that cannot be set.
    throw TRegistryError("Failed to set data for '" + std::string(kEthernetAdapterID) + "'");
  }
  TKeyCloser closer(AStore);

  AStore.WriteString(kEthernetAdapterID, AValues.EthernetAdapterID.value_or(""));
  if (AValues.Top) {
    AStore.WriteInteger(kTop, *AValues.Top);
  }
  if (AValues.Left) {
    AStore.WriteInteger(kLeft, *AValues.Left);
  }

  // Only the unbroken run from 0 is ours to remove; a value behind a gap is left alone, and so
  // is every value past the bound, which loading never takes in.
  for (int i = 0; i < kMaxStoredStaticEntries && AStore.DeleteValue(StaticListName(i)); ++i) {
  }
  const int count = static_cast<int>(AValues.StaticList.size());
  for (int i = 0; i < count && i < kMaxStoredStaticEntries; ++i) {
    AStore.WriteString(StaticListName(i), AValues.StaticList[static_cast<std::size_t>(i)]);
  }
  closer.Close();
}

}  // namespace kelvo
