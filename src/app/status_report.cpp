#include "app/status_report.h"

#include <algorithm>
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

// A string as JSON. Addresses and most host names are plain ASCII and are copied as they are;
// anything else goes through the library, with replacement characters for bytes that are not
// UTF-8 rather than an exception.
void AppendString(std::string& AOut, const std::string& AText) {
  const bool plain = std::all_of(AText.begin(), AText.end(), [](char AChar) {
    const auto c = static_cast<unsigned char>(AChar);
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
  });
  if (plain) {
    AOut += '"';
    AOut += AText;
    AOut += '"';
    return;
  }
  AOut += TJson(AText).dump(-1, ' ', false, TJson::error_handler_t::replace);
}

// One row, written straight into the answer: a table near its bound has 100,000 of them, and
// building each as a JSON value first would take several times as long.
void AppendRow(std::string& AOut, int ANo, const TTableRow& ARow, bool AController, bool AStatic) {
  AOut += "{\"no\":";
  AOut += std::to_string(ANo);
  AOut += ",\"nad\":";
  AOut += Unsigned(ARow.NAD);
  AOut += ",\"alias\":";
  AOut += Unsigned(ARow.NADAlias);
  AOut += ",\"nad_text\":\"";
  AOut += NADText(ARow.NAD, ARow.NADAlias);
  AOut += "\",\"ip\":";
  AppendString(AOut, ARow.IP);
  AOut += ",\"port\":";
  AOut += std::to_string(ARow.Port);
  AOut += ",\"timeout\":";
  AOut += AStatic ? std::string("null") : std::to_string(ARow.Timeout);
  if (AController) {
    AOut += AStatic ? ",\"static\":true,\"host\":" : ",\"static\":false,\"host\":";
    AppendString(AOut, ARow.Host);
  }
  AOut += '}';
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

// The lamps' keys, in TLamp order.
constexpr const char* kLampKeys[] = {"lan_rx", "wan_rx", "lan_tx", "wan_tx"};

TJson Lamps(const TLampCountingView& ACounts) {
  TJson lamps = TJson::object();
  for (TLamp lamp : {TLamp::LANRx, TLamp::WANRx, TLamp::LANTx, TLamp::WANTx}) {
    lamps[kLampKeys[static_cast<std::size_t>(lamp)]] = ACounts.LitCount(lamp);
  }
  return lamps;
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
                        {"lamps", Lamps(AHost.LampCounts())}};
  // Replacement characters rather than an exception for a text that is not UTF-8.
  std::string text = status.dump(-1, ' ', false, TJson::error_handler_t::replace);
  const std::size_t rows =
      snapshot.NATRows.size() + snapshot.StaticRows.size() + snapshot.PushRows.size();
  text.reserve(text.size() + 64 + rows * 160);
  text.pop_back();  // the closing brace: the two lists follow
  text += ",\"applications\":[";
  for (std::size_t i = 0; i < snapshot.NATRows.size(); ++i) {
    if (i > 0) {
      text += ',';
    }
    AppendRow(text, static_cast<int>(i) + 1, snapshot.NATRows[i], false, false);
  }
  // One list, numbered on: the static controllers first, then the announced ones.
  text += "],\"controllers\":[";
  int no = 0;
  for (const TTableRow& row : snapshot.StaticRows) {
    if (no > 0) {
      text += ',';
    }
    AppendRow(text, ++no, row, true, true);
  }
  for (const TTableRow& row : snapshot.PushRows) {
    if (no > 0) {
      text += ',';
    }
    AppendRow(text, ++no, row, true, false);
  }
  text += "]}";
  return text;
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
    if (const auto lamps = status.find("lamps"); lamps != status.end()) {
      for (std::size_t i = 0; i < report.LampCounts.size(); ++i) {
        report.LampCounts[i] = lamps->value(kLampKeys[i], std::uint64_t{0});
      }
    }
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
