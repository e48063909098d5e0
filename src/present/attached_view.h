// The model of a window attached to a relay that runs without one (a service): it asks the
// relay for its status about every kAttachedPollPeriod over the local channel and turns each
// answer into what the main window shows, says so when the relay has ended and attaches again
// when it is back, and hands Setup's result to the relay in one request.
//
//   front-end timer (kAttachedPollPeriod) --> Poll() --"status"--> relay
//                                              |  lamps: lit when a lamp's count grew since
//                                              |  the last answer; lists: once a second
//                                              v
//                                          Display()  --> lists, gauge, counters, labels, tray
//
// Each request is bounded in time (kAttachedPollTimeout). Slow answers (very large tables)
// space the polls out, so that asking never takes more than a fifth of the time.
//
// GUI thread only. The clock and the transport are handed in, so tests drive it without a
// relay and without waiting.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/control_requests.h"
#include "app/status_report.h"
#include "base/thread_check.h"
#include "present/lamp_states.h"
#include "present/setup_working_copy.h"
#include "relay/relay_view.h"
#include "tables/address_tables.h"

namespace kelvo {

inline constexpr std::chrono::milliseconds kAttachedPollPeriod{250};
inline constexpr std::chrono::milliseconds kAttachedPollTimeout{2000};
// Setup's result makes the relay resolve host names and save: as long as a command may take.
inline constexpr std::chrono::milliseconds kAttachedSetupTimeout{30000};
// The lists are rebuilt as often as the window's own status tick rebuilds them.
inline constexpr std::chrono::milliseconds kAttachedListPeriod{1000};
// An attached Setup renews its hold on the relay this often (it lasts kRemoteSetupHold).
inline constexpr std::chrono::milliseconds kAttachedHoldRenewal{1000};
// How long a refused or failed hand-over of Setup's result stays in the error line.
inline constexpr std::chrono::milliseconds kAttachedNoticeTime{8000};

inline constexpr const char* kRelayEndedText = "The relay has ended";
inline constexpr const char* kRelaySilentText = "The relay does not answer";
inline constexpr const char* kSetupRefusedText = "Setup not handed over";

// Sends one request line to the relay and returns its answer line: nullopt when nobody
// accepts the connection (no relay runs), "" when no whole answer came within ATimeout.
using TRelayAsk = std::function<std::optional<std::string>(const std::string& ALine,
                                                           std::chrono::milliseconds ATimeout)>;
using TSteadyNow = std::function<std::chrono::steady_clock::time_point()>;

// What the window shows; the front-end copies it into its widgets as it is.
struct TAttachedDisplay {
  bool Attached = false;
  // Both lists (rows of the three tables, as the window's own snapshot has them).
  std::shared_ptr<const TTablesSnapshot> Rows = std::make_shared<const TTablesSnapshot>();
  std::string MsgCount = "-";  // lblMsgCount
  int Gauge = 0;               // Gauge1
  std::string ReqCount = "-";  // lblReqCount
  std::string AckCount = "-";  // lblAckCount
  std::string LocalIP;         // lblLocalIP: the bound address, "" when not listening
  std::string LocalIPHint;     // its tooltip: what the relay does about the network
  bool ErrorVisible = false;   // lblError
  std::string ErrorText;
  std::string ErrorHint;                      // lblError's tooltip: the whole reason
  std::array<TLedColor, kLampCount> Lamps{};  // TLamp order; grey = not lit
  std::string ToolTip;                        // the tray's
  bool Alert = true;                          // the tray's icon variant: cannot listen, or gone
  bool SetupEnabled = false;                  // acOptions: only while attached
};

// The attached window's own socket or pipe: it takes the show request of a later start and
// nothing else (the relay's requests go to the relay).
TControlAnswer AnswerAttachedWindowRequest(std::string_view ALine);

class TAttachedView {
 public:
  explicit TAttachedView(
      TRelayAsk AAsk, TSteadyNow ANow = [] { return std::chrono::steady_clock::now(); });

  // The front-end's timer, every kAttachedPollPeriod: asks the relay when a poll is due.
  struct TPollResult {
    bool Polled = false;       // Display() may have changed
    bool RowsChanged = false;  // the lists are to be rebuilt from Display().Rows
  };
  TPollResult Poll();
  const TAttachedDisplay& Display() const { return fDisplay; }
  // The last answer (none before the first, or while the relay is away).
  const std::optional<TStatusReport>& Report() const { return fReport; }

  // acOptionsExecute with the front-end's Setup form, as TFormLifecycle::RunSetup: takes the
  // relay's Setup (so that changes handed over meanwhile are answered "busy"), fills the form
  // from the relay's last answer, shows it (AShowModal returns true for OK) and hands OK's
  // result over. A refusal shows in the error line for a while.
  template <typename TForm, typename TShowModal>
  void RunSetup(TForm& AForm, TShowModal AShowModal) {
    if (!BeginSetup()) {
      return;
    }
    TSetupResult values = SetupValues();
    AForm.SetStaticList(std::move(values.StaticList));
    AForm.EthernetAdapterID = std::move(values.EthernetAdapterID);
    AForm.CreateDebugLogs = values.CreateDebugLogs;
    bool accepted = false;
    try {
      accepted = AShowModal();
    } catch (...) {
      CancelSetup();
      throw;
    }
    if (!accepted) {
      CancelSetup();
      return;
    }
    ConfirmSetup({AForm.TakeStaticList(), AForm.EthernetAdapterID, AForm.CreateDebugLogs});
  }
  // False (and the reason in the error line) when the relay is away or its Setup is open
  // elsewhere.
  bool BeginSetup();
  bool SetupOpen() const { return fSetupOpen; }
  // What Setup starts from: the relay's static list (its entries as the relay has them, no
  // name is looked up here), chosen adapter and debug switch.
  TSetupResult SetupValues() const;
  void CancelSetup();
  // OK: the whole result in one "setup" request; false (and the reason in the error line)
  // when the relay did not take it.
  bool ConfirmSetup(TSetupResult AResult);

  const std::string& Token() const { return fToken; }

 private:
  void Attach(TStatusReport AReport, std::chrono::steady_clock::time_point ANow);
  void Detach(const char* AText);
  void ShowError(std::chrono::steady_clock::time_point ANow);
  void Notice(const std::string& AReason);

  TRelayAsk fAsk;
  TSteadyNow fNow;
  std::string fToken;
  TAttachedDisplay fDisplay;
  std::optional<TStatusReport> fReport;
  std::chrono::steady_clock::time_point fNextPoll{};
  std::chrono::steady_clock::time_point fNextRows{};
  std::chrono::steady_clock::time_point fNextRenewal{};
  std::chrono::steady_clock::time_point fNoticeUntil{};
  std::string fNotice;
  const char* fAwayText = kRelayEndedText;
  bool fSetupOpen = false;
  bool fRowsChanged = false;
  TThreadOwner fGuiThread;  // checked in debug builds
};

}  // namespace kelvo
