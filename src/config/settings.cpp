#include "config/settings.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "config/static_list_codec.h"

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

// One stored controller, or null when the item is malformed. A host that does not resolve now
// (a DNS name while the network is still down) keeps its entry with an empty IP: routing
// resolves the host before every send, so the entry works once the name resolves, and the
// next save does not lose it.
std::unique_ptr<TNATInfo> ParseStaticItem(const std::string& AText) {
  const std::vector<std::string> Fields = SplitStaticListFields(AText);
  if (Fields.size() != 3) {
    return nullptr;
  }
  const auto NAD = ParseInt32(Fields[0]);
  const auto Port = ParseInt32(Fields[2]);
  if (!NAD || !Port) {
    return nullptr;
  }
  // The stored port keeps only its low 16 bits: 70000 comes back as 4464.
  const auto Port16 = static_cast<std::uint16_t>(static_cast<std::uint32_t>(*Port));
  try {
    return std::make_unique<TNATInfo>(*NAD, Fields[1], Port16, -1);
  } catch (const TResolveError&) {
    // Built from an address text, which needs no lookup, then given the stored host.
    auto Entry = std::make_unique<TNATInfo>(*NAD, "0.0.0.0", Port16, -1);
    Entry->SetHost(Fields[1]);
    Entry->SetIP("");
    return Entry;
  }
}

}  // namespace

void LoadSettings(TRegistryStore& AStore, TSettingsWindow& AWindow,
                  TEthernetAdapterInfo& AEthAdapterInfo, TNATInfoList& AStaticTable) {
  if (!AStore.OpenKey(false)) {
    return;
  }
  TKeyCloser Closer(AStore);

  const std::int32_t Top =
      AStore.ValueExists(kTop) ? AStore.ReadInteger(kTop) : AWindow.RestoredTop();
  const std::int32_t Left =
      AStore.ValueExists(kLeft) ? AStore.ReadInteger(kLeft) : AWindow.RestoredLeft();
  AWindow.SetTop(Top);
  AWindow.SetLeft(Left);

  if (AStore.ValueExists(kEthernetAdapterID)) {
    if (!AEthAdapterInfo.SetByID(AStore.ReadString(kEthernetAdapterID))) {
      try {
        AEthAdapterInfo.GetDefault();
      } catch (const std::exception&) {
        AEthAdapterInfo.Clear();  // an unnamed machine must not cost the static list
      }
    }
  }

  for (int I = 0; AStore.ValueExists(StaticListName(I)); ++I) {
    if (auto Entry = ParseStaticItem(AStore.ReadString(StaticListName(I)))) {
      if (AStaticTable.Full()) {
        // The table's bound holds for every table; entries past it could not be routed to.
        // They stay in the file (see SaveSettings).
        std::fprintf(stderr,
                     "kelvorelay: warning: only the first %d static entries are used; the "
                     "others stay in the settings file\n",
                     kMaxTableEntries);
        break;
      }
      AStaticTable.Add(std::move(Entry));
    }
  }
  Closer.Close();
}

void SaveSettings(TRegistryStore& AStore, const TSettingsWindow& AWindow,
                  const TEthernetAdapterInfo& AEthAdapterInfo, const TNATInfoList& AStaticTable) {
  try {
    AStore.OpenKey(true);
  } catch (const TRegistryError&) {
    // Without a key the first value is the one that cannot be set.
    throw TRegistryError("Failed to set data for '" + std::string(kEthernetAdapterID) + "'");
  }
  TKeyCloser Closer(AStore);

  AStore.WriteString(kEthernetAdapterID, AEthAdapterInfo.ID());
  if (AWindow.HasPlacement()) {
    AStore.WriteInteger(kTop, AWindow.RestoredTop());
    AStore.WriteInteger(kLeft, AWindow.RestoredLeft());
  }

  // Only the unbroken run from 0 is ours to remove; a value behind a gap is left alone, and so
  // is every value past the table's bound, which loading never takes in.
  for (int I = 0; I < kMaxTableEntries && AStore.DeleteValue(StaticListName(I)); ++I) {
  }
  for (int I = 0; I < AStaticTable.Count(); ++I) {
    const TNATInfo* Entry = AStaticTable.Items(I);
    AStore.WriteString(StaticListName(I),
                       EncodeStaticListItem(Entry->NAD(), Entry->Host(), Entry->Port()));
  }
  Closer.Close();
}

}  // namespace kelvo
