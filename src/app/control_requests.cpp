#include "app/control_requests.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "app/command_line.h"
#include "app/relay_host.h"
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

constexpr std::string_view kSetupBegin = "setup-begin";
constexpr std::string_view kSetupEnd = "setup-end";
constexpr std::string_view kSetup = "setup";

std::size_t MaxLineFor(std::string_view ABegin) {
  const std::string_view setup = "setup ";
  return ABegin.substr(0, setup.size()) == setup ? kMaxSetupLine : kMaxControlLine;
}

bool IsToken(std::string_view AText) {
  return !AText.empty() && AText.size() <= 64 && AText.find_first_of(" \t") == AText.npos;
}

TControlAnswer Answer(const TOutcome& AOutcome) {
  TControlAnswer answer;
  answer.Line = EncodeOutcome(AOutcome);
  answer.Applied = AOutcome.Applied;
  return answer;
}

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
      break;
    case TControlRequest::TKind::SetupBegin:
      return std::string(kSetupBegin) + " " + ARequest.Token;
    case TControlRequest::TKind::SetupEnd:
      return std::string(kSetupEnd) + " " + ARequest.Token;
    case TControlRequest::TKind::Setup:
      return std::string(kSetup) + " " + EncodeSetupRequest(ARequest.Setup);
  }
  return {};
}

bool CouldBeControlRequest(std::string_view ABegin) {
  if (ABegin.size() > MaxLineFor(ABegin)) {
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
  for (std::string_view setup : {kSetupBegin, kSetupEnd, kSetup}) {
    if (fits(std::string(setup) + " ")) {
      return true;
    }
  }
  return false;
}

std::optional<TControlRequest> DecodeControlRequest(std::string_view ALine) {
  if (ALine.size() > MaxLineFor(ALine) || ALine.find_first_of("\r\n") != ALine.npos) {
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
  const std::string_view argument = space == ALine.npos ? "" : ALine.substr(space + 1);
  if ((name == kSetupBegin || name == kSetupEnd) && IsToken(argument)) {
    request.Kind =
        name == kSetupBegin ? TControlRequest::TKind::SetupBegin : TControlRequest::TKind::SetupEnd;
    request.Token = std::string(argument);
    return request;
  }
  if (name == kSetup) {
    std::optional<TSetupRequest> setup = DecodeSetupRequest(argument);
    if (!setup || !IsToken(setup->Token)) {
      return std::nullopt;
    }
    request.Kind = TControlRequest::TKind::Setup;
    request.Setup = std::move(*setup);
    return request;
  }
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
  TSetupHold& hold = AHost.SetupHold();
  const auto now = std::chrono::steady_clock::now();
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
    case TControlRequest::TKind::Change:
      if (hold.Busy(now)) {
        return Answer({kExitFailure, hold.BusyText(now)});
      }
      return Answer(ApplyConfigChangeToRelay(AHost, request->Change));
    case TControlRequest::TKind::SetupBegin:
      if (!hold.Take(request->Token, now)) {
        return Answer({kExitFailure, hold.BusyText(now)});
      }
      return Answer({});
    case TControlRequest::TKind::SetupEnd:
      hold.Release(request->Token);
      return Answer({});
    case TControlRequest::TKind::Setup: {
      // Only while its sender holds Setup: otherwise a change taken since it opened, or
      // confirmed in the relay's own window, would be lost.
      if (!hold.HeldBy(request->Setup.Token, now)) {
        return Answer({kExitFailure, hold.BusyText(now)});
      }
      hold.Release(request->Setup.Token);
      return Answer(ApplySetupToRelay(AHost, request->Setup));
    }
  }
  return answer;
}

}  // namespace kelvo
