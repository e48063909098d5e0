#include "app/status_text.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kelvo {

namespace {

constexpr std::size_t kColumns = 4;
using TLine = std::array<std::string, kColumns>;

// The window's column captions and cell texts (present/status_rows.h shows the same).
TLine Cells(const TStatusRow& ARow, std::size_t AIndex, bool AController) {
  const std::string& host = AController && !ARow.Host.empty() ? ARow.Host : ARow.IP;
  return {std::to_string(AIndex + 1) + ".", ARow.NADText, host + ":" + std::to_string(ARow.Port),
          ARow.Timeout ? std::to_string(*ARow.Timeout) : std::string("static")};
}

void AppendList(std::string& AText, const char* ATitle, const std::vector<TStatusRow>& ARows,
                bool AController) {
  AText += "\n" + std::string(ATitle) + ": " +
           (ARows.empty() ? std::string("none") : std::to_string(ARows.size())) + "\n";
  if (ARows.empty()) {
    return;
  }
  std::vector<TLine> lines;
  lines.reserve(ARows.size() + 1);
  lines.push_back({"No.", "NAD", "IP address:port", "Timeout"});
  for (std::size_t i = 0; i < ARows.size(); ++i) {
    lines.push_back(Cells(ARows[i], i, AController));
  }
  std::array<std::size_t, kColumns> widths{};
  for (const TLine& line : lines) {
    for (std::size_t column = 0; column < kColumns; ++column) {
      widths[column] = std::max(widths[column], line[column].size());
    }
  }
  for (const TLine& line : lines) {
    std::string text = "  ";
    for (std::size_t column = 0; column < kColumns; ++column) {
      text += line[column];
      if (column + 1 < kColumns) {
        text.append(widths[column] - line[column].size() + 2, ' ');
      }
    }
    AText += text + "\n";
  }
}

}  // namespace

std::string StatusText(const TStatusReport& AReport) {
  const TNetworkStatus& network = AReport.Network;
  std::string adapter = network.AdapterID.empty() ? std::string("none chosen") : network.AdapterID;
  if (!AReport.BoundAdapterID.empty() && AReport.BoundAdapterID != network.AdapterID) {
    adapter += " (in use: " + AReport.BoundAdapterID + ")";
  }
  std::string text = "relay: KelvoRelay " + AReport.Version + ", " + AReport.Mode + ", pid " +
                     std::to_string(AReport.Pid) + "\n";
  text += "  state: " + DescribeNetworkStatus(network) + "\n";
  text += "  adapter: " + adapter + "\n";
  text += "  frames: " + std::to_string(AReport.Requests) + " requests, " +
          std::to_string(AReport.Replies) + " replies\n";
  text += "  rate: " + std::to_string(AReport.Rate) + " msg/sec\n";
  text += "  debug log: " + std::string(AReport.DebugLog ? "on" : "off") +
          (AReport.LogPath.empty() ? std::string() : " (" + AReport.LogPath + ")") + "\n";
  AppendList(text, "applications (LAN)", AReport.Applications, false);
  AppendList(text, "controllers (WAN)", AReport.Controllers, true);
  return text;
}

}  // namespace kelvo
