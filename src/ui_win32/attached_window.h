// The main window's collaborator while it is attached to a relay that runs without one (a
// service): on every status tick (kAttachedPollPeriod apart) TAttachedView polls the relay,
// and what the model shows is copied into the window's lists, gauge, counters, labels, lamps,
// Setup button and tray icon. Setup's result goes to the relay through the model.
// GUI thread only.
#pragma once

#include "present/attached_view.h"

namespace kelvo {

class TfmMain;
class TfmOptions;

class TAttachedWindow {
 public:
  // AWindow outlives this object.
  TAttachedWindow(TfmMain& AWindow, TRelayAsk AAsk);

  // The window's status tick.
  void timPollTimer();
  // acOptionsExecute: Setup over the relay's settings; OK hands the result to the relay.
  void RunSetup(TfmOptions& AOptions);

  TAttachedView& Model() { return fModel; }

 private:
  void Show(bool ARowsChanged);

  TfmMain& fWindow;
  TAttachedView fModel;
};

}  // namespace kelvo
