// Text form of one static controller entry: "NAD,host,port" with quoting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// Quotes a field that holds a space, a control character, a comma or a double quote.
std::string QuoteStaticListField(const std::string& AField);
// "1001,192.168.1.20,8442"
std::string EncodeStaticListItem(std::int32_t ANAD, const std::string& AHost, std::uint16_t APort);
// Splits a stored text into fields by the reading rules (quotes, doubled quotes, blanks).
std::vector<std::string> SplitStaticListFields(std::string_view AText);
// Signed 32-bit decimal; nullopt when the text is not such a number.
std::optional<std::int32_t> ParseInt32(std::string_view AText);

}  // namespace kelvo
