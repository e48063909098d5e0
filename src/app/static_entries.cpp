#include "app/static_entries.h"

#include "app/config_change.h"
#include "config/settings.h"
#include "config/static_list_codec.h"

namespace kelvo {

static_assert(kMaxStoredStaticEntries == kMaxTableEntries,
              "the settings keep exactly as many static entries as the table holds");

std::unique_ptr<TNATInfo> StaticEntryFromText(const std::string& AText) {
  TStaticEntryText fields;
  std::string error;
  if (!ParseStaticEntryText(AText, fields, error)) {
    return nullptr;
  }
  try {
    return std::make_unique<TNATInfo>(fields.NAD, fields.Host, fields.Port, -1);
  } catch (const TResolveError&) {
    // Built from an address text, which needs no lookup, then given the stored host.
    auto entry = std::make_unique<TNATInfo>(fields.NAD, "0.0.0.0", fields.Port, -1);
    entry->SetHost(fields.Host);
    entry->SetIP("");
    return entry;
  }
}

void AddStaticEntries(const std::vector<std::string>& ATexts, bool ATruncated, TNATInfoList& ATable,
                      const std::function<void(const std::string&)>& AWarn) {
  bool dropped = ATruncated;
  for (const std::string& text : ATexts) {
    std::unique_ptr<TNATInfo> entry = StaticEntryFromText(text);
    if (!entry) {
      continue;
    }
    if (ATable.Full()) {
      dropped = true;
      break;
    }
    ATable.Add(std::move(entry));
  }
  if (dropped && AWarn) {
    // The table's bound holds for every table; entries past it could not be routed to.
    AWarn("only the first " + std::to_string(kMaxTableEntries) +
          " static entries are used; the others stay in the settings file");
  }
}

std::vector<std::string> StaticEntryTexts(const TNATInfoList& ATable) {
  std::vector<std::string> texts;
  texts.reserve(static_cast<std::size_t>(ATable.Count()));
  for (int i = 0; i < ATable.Count(); ++i) {
    const TNATInfo* entry = ATable.Items(i);
    texts.push_back(EncodeStaticListItem(entry->NAD(), entry->Host(), entry->Port()));
  }
  return texts;
}

}  // namespace kelvo
