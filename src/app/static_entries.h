// The static controllers between their stored texts ("NAD,HOST,PORT", see
// config/static_list_codec.h) and the relay's static table. Owner's thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tables/nat_info_list.h"

namespace kelvo {

// One stored controller, or null when the text is malformed (not three fields, a number that
// does not parse). The port keeps its low 16 bits: 70000 comes back as 4464. A host that does
// not resolve now (a DNS name while the network is still down) keeps its entry with an empty
// IP: routing resolves the host before every send, so the entry works once the name
// resolves, and the next save does not lose it.
std::unique_ptr<TNATInfo> StaticEntryFromText(const std::string& AText);

// Appends the entries of ATexts to ATable in order, skipping malformed ones. Texts past the
// table's bound (or ATruncated: more stayed in the store) get one warning through AWarn; they
// stay in the settings file.
void AddStaticEntries(const std::vector<std::string>& ATexts, bool ATruncated, TNATInfoList& ATable,
                      const std::function<void(const std::string&)>& AWarn);

// The stored texts of ATable's entries, in table order.
std::vector<std::string> StaticEntryTexts(const TNATInfoList& ATable);

}  // namespace kelvo
