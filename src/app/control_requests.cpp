#include "app/control_requests.h"

#include <algorithm>
#include <charconv>

#include "app/command_line.h"
#include "app/status_report.h"

namespace kelvo {

namespace {

struct TChangeName {
  std::string_view Name;
  TConfigChange::TKind Kind;
};

constexpr TChangeName kChanges[] = {
    {"set-adapter", TConfigChange::TKind::SetAdapter},
    {"add-static", TConfigChange::TKind::AddStatic},
    {"remove-static", TConfigChange::TKind::RemoveStatic},
};

}  // namespace

std::string EncodeControlRequest(const TControlRequest& ARequest) {
  switch (ARequest.Kind) {
    case TControlRequest::TKind::Show:
      return std::string(kShowRequestLine);
    case TControlRequest::TKind::Quit:
      return "quit";
    case TControlRequest::TKind::Status:
      return kStatusRequestLine;
    case TControlRequest::TKind::Change:
      for (const TChangeName& change : kChanges) {
        if (change.Kind == ARequest.Change.Kind) {
          return std::string(change.Name) + " " + ARequest.Change.Argument;
        }
      }
  }
  return {};
}

bool CouldBeControlRequest(std::string_view ABegin) {
  if (ABegin.size() > kMaxControlLine) {
    return false;
  }
  const auto fits = [ABegin](std::string_view AWord) {
    const std::size_t common = std::min(ABegin.size(), AWord.size());
    return ABegin.substr(0, common) == AWord.substr(0, common);
  };
  if (fits(kShowRequestLine) || fits("quit") || fits(kStatusRequestLine)) {
    return true;
  }
  for (const TChangeName& change : kChanges) {
    if (fits(std::string(change.Name) + " ")) {
      return true;
    }
  }
  return false;
}

std::optional<TControlRequest> DecodeControlRequest(std::string_view ALine) {
  if (ALine.size() > kMaxControlLine || ALine.find_first_of("\r\n") != ALine.npos) {
    return std::nullopt;
  }
  TControlRequest request;
  if (ALine == kShowRequestLine) {
    return request;
  }
  if (ALine == "quit") {
    request.Kind = TControlRequest::TKind::Quit;
    return request;
  }
  if (ALine == kStatusRequestLine) {
    request.Kind = TControlRequest::TKind::Status;
    return request;
  }
  const std::size_t space = ALine.find(' ');
  const std::string_view name = ALine.substr(0, space);
  for (const TChangeName& change : kChanges) {
    if (change.Name == name && space != ALine.npos) {
      request.Kind = TControlRequest::TKind::Change;
      request.Change.Kind = change.Kind;
      request.Change.Argument = std::string(ALine.substr(space + 1));
      return request;
    }
  }
  return std::nullopt;
}

std::string EncodeOutcome(const TOutcome& AOutcome) {
  return std::to_string(AOutcome.ExitCode) + " " +
         (AOutcome.ExitCode == kExitOk ? std::string("ok") : AOutcome.Message);
}

TOutcome DecodeOutcome(std::string_view ALine) {
  int code = -1;
  const auto [end, error] = std::from_chars(ALine.data(), ALine.data() + ALine.size(), code);
  const bool known = code == kExitOk || code == kExitFailure || code == kExitBadCommand;
  if (error != std::errc() || !known || end == ALine.data() + ALine.size() || *end != ' ') {
    return {kExitFailure, "the running instance gave an answer that is not understood: '" +
                              std::string(ALine.substr(0, 200)) + "'"};
  }
  TOutcome outcome{code, std::string(end + 1, ALine.data() + ALine.size())};
  if (code == kExitOk) {
    outcome.Message.clear();
  }
  return outcome;
}

TControlAnswer AnswerControlRequest(TRelayHost& AHost, std::string_view ALine,
                                    const std::string& AMode) {
  TControlAnswer answer;
  const std::optional<TControlRequest> request = DecodeControlRequest(ALine);
  if (!request) {
    answer.Line = EncodeOutcome({kExitBadCommand, "request not understood"});
    return answer;
  }
  switch (request->Kind) {
    case TControlRequest::TKind::Show:
      answer.Show = true;
      break;
    case TControlRequest::TKind::Quit:
      answer.Quit = true;
      answer.Line = EncodeOutcome({});
      break;
    case TControlRequest::TKind::Status:
      answer.Line = StatusJson(AHost, AMode);
      break;
    case TControlRequest::TKind::Change: {
      const TOutcome outcome = ApplyConfigChangeToRelay(AHost, request->Change);
      answer.Applied = outcome.Applied;
      answer.Line = EncodeOutcome(outcome);
      break;
    }
  }
  return answer;
}

}  // namespace kelvo
