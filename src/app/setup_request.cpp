#include "app/setup_request.h"

#include <memory>
#include <nlohmann/json.hpp>

#include "app/command_line.h"
#include "app/relay_host.h"
#include "app/static_entries.h"

namespace kelvo {

namespace {

using TJson = nlohmann::json;

}  // namespace

std::string EncodeSetupRequest(const TSetupRequest& ARequest) {
  const TJson request = {{"token", ARequest.Token},
                         {"adapter", ARequest.AdapterID},
                         {"debug_log", ARequest.DebugLog},
                         {"static", ARequest.StaticList}};
  return request.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

std::optional<TSetupRequest> DecodeSetupRequest(std::string_view AText) {
  try {
    const TJson request = TJson::parse(AText);
    TSetupRequest result;
    result.Token = request.at("token").get<std::string>();
    result.AdapterID = request.at("adapter").get<std::string>();
    result.DebugLog = request.at("debug_log").get<bool>();
    result.StaticList = request.at("static").get<std::vector<std::string>>();
    return result;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

TOutcome ApplySetupToRelay(TRelayHost& AHost, const TSetupRequest& ARequest) {
  // Saved at once; a settings file that cannot be read is not replaced.
  if (std::string reason = UnreadableSettingsReason(AHost.Store()); !reason.empty()) {
    return {kExitFailure, reason + "; nothing was changed"};
  }
  // Entries as the settings file makes them: a host that does not resolve now keeps its entry.
  auto staticTable = std::make_unique<TNATInfoList>(kStaticTableTimeout, AHost.Tables().Clock());
  AddStaticEntries(ARequest.StaticList, false, *staticTable, {});
  return ApplyToRelayAndSave(AHost, std::move(staticTable), ARequest.DebugLog, ARequest.AdapterID);
}

}  // namespace kelvo
