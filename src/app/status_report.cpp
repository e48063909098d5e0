#include "app/status_report.h"

#include <nlohmann/json.hpp>

#include "app/relay_host.h"
#include "app/version.h"
#include "diag/my_log.h"

namespace kelvo {

namespace {

using TJson = nlohmann::json;

std::string Unsigned(std::int32_t AValue) {
  return std::to_string(static_cast<std::uint32_t>(AValue));
}

TJson Row(int ANo, const TTableRow& ARow, bool AController, bool AStatic) {
  TJson row = {{"no", ANo},
               {"nad", static_cast<std::uint32_t>(ARow.NAD)},
               {"alias", static_cast<std::uint32_t>(ARow.NADAlias)},
               {"nad_text", NADText(ARow.NAD, ARow.NADAlias)},
               {"ip", ARow.IP},
               {"port", ARow.Port},
               {"timeout", AStatic ? TJson(nullptr) : TJson(ARow.Timeout)}};
  if (AController) {
    row["static"] = AStatic;
    row["host"] = ARow.Host;
  }
  return row;
}

TStatusRow ReadRow(const TJson& ARow) {
  TStatusRow row;
  row.No = ARow.at("no").get<int>();
  row.NAD = ARow.at("nad").get<std::uint32_t>();
  row.Alias = ARow.at("alias").get<std::uint32_t>();
  row.NADText = ARow.at("nad_text").get<std::string>();
  row.IP = ARow.at("ip").get<std::string>();
  row.Port = ARow.at("port").get<std::uint16_t>();
  if (!ARow.at("timeout").is_null()) {
    row.Timeout = ARow.at("timeout").get<std::int32_t>();
  }
  row.Static = ARow.value("static", false);
  row.Host = ARow.value("host", std::string());
  return row;
}

TListenState StateNamed(const std::string& AName) {
  for (TListenState state : {TListenState::Listening, TListenState::Fallback, TListenState::Waiting,
                             TListenState::Error}) {
    if (AName == ListenStateName(state)) {
      return state;
    }
  }
  throw std::invalid_argument("unknown state '" + AName + "'");
}

}  // namespace

std::string NADText(std::int32_t ANAD, std::int32_t ANADAlias) {
  if (ANAD == ANADAlias) {
    return Unsigned(ANAD);
  }
  return Unsigned(ANAD) + '/' + Unsigned(ANADAlias);
}

std::string StatusJson(TRelayHost& AHost, const std::string& AMode) {
  const TNetworkStatus& network = AHost.NetworkStatus();
  const TTablesSnapshot snapshot = AHost.Tables().Snapshot();

  TJson applications = TJson::array();
  for (std::size_t i = 0; i < snapshot.NATRows.size(); ++i) {
    applications.push_back(Row(static_cast<int>(i) + 1, snapshot.NATRows[i], false, false));
  }
  // One list, numbered on: the static controllers first, then the announced ones.
  TJson controllers = TJson::array();
  int no = 0;
  for (const TTableRow& row : snapshot.StaticRows) {
    controllers.push_back(Row(++no, row, true, true));
  }
  for (const TTableRow& row : snapshot.PushRows) {
    controllers.push_back(Row(++no, row, true, false));
  }

  const std::string listening = ListeningText(network);
  const TJson status = {{"version", GetVersionText(3)},
                        {"mode", AMode},
                        {"pid", CurrentProcessId()},
                        {"adapter", network.AdapterID},
                        {"adapter_in_use", AHost.EthAdapterInfo().ID()},
                        {"state", ListenStateName(network.State)},
                        {"listening", listening.empty() ? TJson(nullptr) : TJson(listening)},
                        {"error", network.Error},
                        {"requests", AHost.Engine().ReqCount()},
                        {"replies", AHost.Engine().AckCount()},
                        {"rate", AHost.LastRate()},
                        {"debug_log", AHost.Engine().CreateDebugLogs()},
                        {"log_path", AHost.Log().LogFile()},
                        {"applications", std::move(applications)},
                        {"controllers", std::move(controllers)}};
  // Replacement characters rather than an exception for a host name that is not UTF-8.
  return status.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

bool ParseStatusJson(const std::string& AJson, TStatusReport& AReport, std::string& AError) {
  try {
    const TJson status = TJson::parse(AJson);
    TStatusReport report;
    report.Version = status.at("version").get<std::string>();
    report.Mode = status.at("mode").get<std::string>();
    report.Pid = status.at("pid").get<long>();
    report.Network.AdapterID = status.at("adapter").get<std::string>();
    report.Network.State = StateNamed(status.at("state").get<std::string>());
    if (const TJson& listening = status.at("listening"); !listening.is_null()) {
      const std::string text = listening.get<std::string>();
      report.Network.Address = text.substr(0, text.rfind(':'));
    }
    report.Network.Error = status.at("error").get<std::string>();
    report.BoundAdapterID = status.value("adapter_in_use", std::string());
    report.Requests = status.at("requests").get<std::int64_t>();
    report.Replies = status.at("replies").get<std::int64_t>();
    report.Rate = status.at("rate").get<std::int32_t>();
    report.DebugLog = status.at("debug_log").get<bool>();
    report.LogPath = status.at("log_path").get<std::string>();
    for (const TJson& row : status.at("applications")) {
      report.Applications.push_back(ReadRow(row));
    }
    for (const TJson& row : status.at("controllers")) {
      report.Controllers.push_back(ReadRow(row));
    }
    AReport = std::move(report);
    return true;
  } catch (const std::exception& error) {
    AError = std::string("not a status answer: ") + error.what();
    return false;
  }
}

}  // namespace kelvo
