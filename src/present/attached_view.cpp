#include "present/attached_view.h"

#include <random>
#include <utility>

#include "app/command_line.h"
#include "app/control_requests.h"
#include "app/static_entries.h"
#include "app/version.h"
#include "present/status_rows.h"
#include "present/tray_text.h"
#include "tables/address_tables.h"

namespace kelvo {

namespace {

using TTime = std::chrono::steady_clock::time_point;

constexpr const char* kSetupTroubleText = "Setup applied with errors";

std::string NewToken() {
  std::random_device random;
  std::string token = "view-";
  for (int i = 0; i < 4; ++i) {
    const unsigned value = random();
    static const char kDigits[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4) {
      token += kDigits[(value >> shift) & 0xF];
    }
  }
  return token;
}

// The list row as the window's own snapshot has it: a controller by the host as entered.
TTableRow TableRow(const TStatusRow& ARow) {
  return TTableRow{static_cast<std::int32_t>(ARow.NAD),
                   static_cast<std::int32_t>(ARow.Alias),
                   ARow.Host.empty() ? ARow.IP : ARow.Host,
                   ARow.IP,
                   ARow.Port,
                   ARow.Timeout.value_or(0)};
}

std::shared_ptr<const TTablesSnapshot> Rows(const TStatusReport& AReport) {
  auto rows = std::make_shared<TTablesSnapshot>();
  rows->NATRows.reserve(AReport.Applications.size());
  for (const TStatusRow& row : AReport.Applications) {
    rows->NATRows.push_back(TableRow(row));
  }
  for (const TStatusRow& row : AReport.Controllers) {
    (row.Static ? rows->StaticRows : rows->PushRows).push_back(TableRow(row));
  }
  return rows;
}

std::string Count(std::int64_t AValue) {
  // As the window: "-" until the first frame is counted.
  return AValue == 0 ? std::string("-") : std::to_string(AValue);
}

bool IsRx(TLamp ALamp) {
  return ALamp == TLamp::LANRx || ALamp == TLamp::WANRx;
}

}  // namespace

TControlAnswer AnswerAttachedWindowRequest(std::string_view ALine) {
  TControlAnswer answer;
  answer.Show = ALine == kShowRequestLine;
  if (!answer.Show) {
    answer.Line = EncodeOutcome({kExitBadCommand, "request not understood"});
  }
  return answer;
}

TAttachedView::TAttachedView(TRelayAsk AAsk, TSteadyNow ANow)
    : fAsk(std::move(AAsk)), fNow(std::move(ANow)), fToken(NewToken()) {
  Detach(kRelayEndedText);
}

TAttachedView::TPollResult TAttachedView::Poll() {
  KELVO_ASSERT_THREAD(fGuiThread, "TAttachedView: GUI thread only");
  TPollResult result;
  const TTime now = fNow();
  if (!fNotice.empty() && now >= fNoticeUntil) {
    fNotice.clear();
    ShowError(now);
    result.Polled = true;
  }
  if (now < fNextPoll) {
    return result;
  }
  if (fSetupOpen && now >= fNextRenewal) {
    // A refusal needs no action now: OK is then refused too, and says so.
    fNextRenewal = now + kAttachedHoldRenewal;
    TControlRequest renew;
    renew.Kind = TControlRequest::TKind::SetupBegin;
    renew.Token = fToken;
    fAsk(EncodeControlRequest(renew), kAttachedPollTimeout);
  }
  const TTime asked = fNow();
  const std::optional<std::string> answer = fAsk(kStatusRequestLine, kAttachedPollTimeout);
  const TTime answered = fNow();
  // Asking takes at most a fifth of the time: a slow answer waits four times as long.
  const auto took = answered - asked;
  fNextPoll = took * 5 > kAttachedPollPeriod ? answered + took * 4 : answered;

  result.Polled = true;
  TStatusReport report;
  std::string error;
  if (!answer) {
    Detach(kRelayEndedText);
  } else if (answer->empty() || !ParseStatusJson(*answer, report, error)) {
    Detach(kRelaySilentText);
  } else {
    Attach(std::move(report), answered);
  }
  result.RowsChanged = std::exchange(fRowsChanged, false);
  return result;
}

void TAttachedView::Attach(TStatusReport AReport, TTime ANow) {
  const bool wasAttached = fDisplay.Attached;
  for (TLamp lamp : {TLamp::LANRx, TLamp::WANRx, TLamp::LANTx, TLamp::WANTx}) {
    const std::size_t index = static_cast<std::size_t>(lamp);
    // No activity is made up from the counts of a relay seen for the first time.
    const bool lit = wasAttached && fReport && fReport->Pid == AReport.Pid &&
                     AReport.LampCounts[index] != fReport->LampCounts[index];
    fDisplay.Lamps[index] = !lit ? TLedColor::Gray : IsRx(lamp) ? TLedColor::Red : TLedColor::Green;
  }
  const TNetworkStatus& network = AReport.Network;
  fDisplay.Attached = true;
  fDisplay.MsgCount = MsgRateText(AReport.Rate);
  fDisplay.Gauge = GaugePosition(AReport.Rate);
  fDisplay.ReqCount = Count(AReport.Requests);
  fDisplay.AckCount = Count(AReport.Replies);
  fDisplay.LocalIP = network.IsListening() ? network.Address : std::string();
  fDisplay.LocalIPHint = DescribeNetworkStatus(network);
  fDisplay.ToolTip = TrayToolTip(network, static_cast<int>(AReport.Applications.size()),
                                 static_cast<int>(AReport.Controllers.size()));
  fDisplay.Alert = !network.IsListening();
  fDisplay.SetupEnabled = true;
  if (!wasAttached || ANow >= fNextRows) {
    fDisplay.Rows = Rows(AReport);
    fNextRows = ANow + kAttachedListPeriod;
    fRowsChanged = true;
  }
  fReport = std::move(AReport);
  ShowError(ANow);
}

void TAttachedView::Detach(const char* AText) {
  const bool hadRows = !fDisplay.Rows->NATRows.empty() || !fDisplay.Rows->StaticRows.empty() ||
                       !fDisplay.Rows->PushRows.empty();
  fReport.reset();
  fAwayText = AText;
  const std::string notice = fNotice;
  const TTime noticeUntil = fNoticeUntil;
  fDisplay = TAttachedDisplay{};
  fDisplay.Lamps.fill(TLedColor::Gray);
  fDisplay.ToolTip =
      std::string(kApplicationTitle) + "\n" + AText + "; the window attaches again when it is back";
  fRowsChanged = fRowsChanged || hadRows;
  fNotice = notice;
  fNoticeUntil = noticeUntil;
  ShowError(fNow());
}

void TAttachedView::ShowError(TTime ANow) {
  if (!fNotice.empty() && ANow < fNoticeUntil) {
    fDisplay.ErrorVisible = true;
    return;  // the notice's texts stay
  }
  fDisplay.ErrorHint.clear();
  if (!fDisplay.Attached) {
    fDisplay.ErrorVisible = true;
    fDisplay.ErrorText = fAwayText;
  } else if (fReport && !fReport->Network.IsListening()) {
    fDisplay.ErrorVisible = true;
    fDisplay.ErrorText = "Error opening port 8442!";
    fDisplay.ErrorHint = DescribeNetworkStatus(fReport->Network);
  } else {
    fDisplay.ErrorVisible = false;
    fDisplay.ErrorText.clear();
  }
}

void TAttachedView::Notice(const std::string& AReason) {
  fNotice = AReason;
  fNoticeUntil = fNow() + kAttachedNoticeTime;
  fDisplay.ErrorVisible = true;
  fDisplay.ErrorText = kSetupRefusedText;
  fDisplay.ErrorHint = AReason;
}

bool TAttachedView::BeginSetup() {
  KELVO_ASSERT_THREAD(fGuiThread, "TAttachedView: GUI thread only");
  if (!fDisplay.Attached) {
    return false;
  }
  TControlRequest begin;
  begin.Kind = TControlRequest::TKind::SetupBegin;
  begin.Token = fToken;
  const std::optional<std::string> answer = fAsk(EncodeControlRequest(begin), kAttachedPollTimeout);
  if (!answer) {
    Detach(kRelayEndedText);
    return false;
  }
  const TOutcome outcome = DecodeOutcome(*answer);
  if (outcome.ExitCode != kExitOk) {
    Notice(answer->empty() ? std::string(kRelaySilentText) : outcome.Message);
    return false;
  }
  fSetupOpen = true;
  fNextRenewal = fNow() + kAttachedHoldRenewal;
  return true;
}

TSetupResult TAttachedView::SetupValues() const {
  TSetupResult values;
  values.StaticList = std::make_unique<TNATInfoList>(kStaticTableTimeout);
  if (!fReport) {
    return values;
  }
  for (const TStatusRow& row : fReport->Controllers) {
    if (!row.Static) {
      continue;
    }
    // Made from an address text, which needs no lookup, then given the relay's host and IP.
    auto entry =
        std::make_unique<TNATInfo>(static_cast<std::int32_t>(row.NAD), "0.0.0.0", row.Port, -1);
    entry->SetHost(row.Host.empty() ? row.IP : row.Host);
    entry->SetIP(row.IP);
    values.StaticList->Add(std::move(entry));
  }
  values.EthernetAdapterID = fReport->Network.AdapterID;
  values.CreateDebugLogs = fReport->DebugLog;
  return values;
}

void TAttachedView::CancelSetup() {
  KELVO_ASSERT_THREAD(fGuiThread, "TAttachedView: GUI thread only");
  if (!fSetupOpen) {
    return;
  }
  fSetupOpen = false;
  TControlRequest end;
  end.Kind = TControlRequest::TKind::SetupEnd;
  end.Token = fToken;
  fAsk(EncodeControlRequest(end), kAttachedPollTimeout);
}

bool TAttachedView::ConfirmSetup(TSetupResult AResult) {
  KELVO_ASSERT_THREAD(fGuiThread, "TAttachedView: GUI thread only");
  fSetupOpen = false;
  TControlRequest request;
  request.Kind = TControlRequest::TKind::Setup;
  request.Setup.Token = fToken;
  request.Setup.AdapterID = AResult.EthernetAdapterID;
  request.Setup.DebugLog = AResult.CreateDebugLogs;
  if (AResult.StaticList) {
    request.Setup.StaticList = StaticEntryTexts(*AResult.StaticList);
  } else if (fReport) {
    request.Setup.StaticList = StaticEntryTexts(*SetupValues().StaticList);
  }
  const std::optional<std::string> answer =
      fAsk(EncodeControlRequest(request), kAttachedSetupTimeout);
  fNextPoll = fNow();  // show what the relay made of it at the next tick
  if (!answer) {
    Detach(kRelayEndedText);
    Notice("the relay ended before it took Setup's result; nothing was changed");
    return false;
  }
  const TOutcome outcome = DecodeOutcome(*answer);
  if (outcome.ExitCode == kExitOk) {
    return true;
  }
  Notice(answer->empty() ? std::string(kRelaySilentText) : outcome.Message);
  if (outcome.Applied) {
    fDisplay.ErrorText = kSetupTroubleText;
  }
  return false;
}

}  // namespace kelvo
