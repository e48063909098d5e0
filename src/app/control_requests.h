// The requests that reach a running relay over its local socket, one line each, and their
// one-line answers. The socket is the one the single-instance guard names; besides these
// lines it carries the bare show request "1025" of a refused second start.
//
//   request                      answer
//   quit                         "0 ok", then the relay ends as "Exit" does
//   set-adapter <ID>             "<exit code> <message>": 0 when applied and saved,
//   add-static <NAD,HOST,PORT>   2 when refused (nothing changed), 1 when applied but
//   remove-static <N>            not saved
//   status                       one JSON object (app/status_report.h)
//   setup-begin <TOKEN>          "0 ok": an attached window's Setup opens (or is still open)
//   setup-end <TOKEN>            "0 ok": it was cancelled
//   setup <JSON>                 as a change: its whole result (app/setup_request.h)
//
// While Setup is open (app/setup_hold.h), a change from anybody but the one who holds it is
// answered "1 busy: ..." and nothing changes.
//
// Portable; the owner's thread (GUI thread or the headless runner's main thread) only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/config_change.h"
#include "app/setup_request.h"

namespace kelvo {

class TRelayHost;

inline constexpr std::string_view kShowRequestLine = "1025";
// Longer lines are not requests of ours (a "setup" line may be up to kMaxSetupLine).
inline constexpr std::size_t kMaxControlLine = 4096;
// A status answer lists every row of the tables: up to 300,000 of them.
inline constexpr std::size_t kMaxControlAnswer = 256u << 20;

struct TControlRequest {
  enum class TKind { Show, Quit, Status, Change, SetupBegin, SetupEnd, Setup };
  TKind Kind = TKind::Show;
  TConfigChange Change;  // Kind == Change
  std::string Token;     // Kind == SetupBegin, SetupEnd: a word without spaces
  TSetupRequest Setup;   // Kind == Setup
};

std::string EncodeControlRequest(const TControlRequest& ARequest);  // without the line end
// Whether ABegin (the bytes received so far, no line end yet) can still become a request: a
// client that sends anything else is dropped at once.
bool CouldBeControlRequest(std::string_view ABegin);
std::optional<TControlRequest> DecodeControlRequest(std::string_view ALine);

std::string EncodeOutcome(const TOutcome& AOutcome);
// An answer that is not of this form counts as a failure (kExitFailure).
TOutcome DecodeOutcome(std::string_view ALine);

struct TControlAnswer {
  std::string Line;      // to send back; empty for a show request
  bool Quit = false;     // the owner must now end as "Exit" does
  bool Show = false;     // the owner brings its window forward
  bool Applied = false;  // a change is in effect (the endpoint was restarted)
};

// Answers one request line (without its line end) for the relay AHost, which runs as AMode
// ("window" or "headless").
TControlAnswer AnswerControlRequest(TRelayHost& AHost, std::string_view ALine,
                                    const std::string& AMode);

}  // namespace kelvo
