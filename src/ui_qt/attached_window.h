// The main window's collaborator while it is attached to a relay that runs without one (a
// service): a timer asks TAttachedView to poll the relay, and what the model shows is copied
// into the window's lists, gauge, counters, labels, lamps, Setup button and tray icon. Setup's
// result goes to the relay through the model. GUI thread only.
#pragma once

#include <QObject>

#include "present/attached_view.h"

class QAction;
class QTimer;

namespace kelvo {

class TLampPanel;
class TTrayIcon;
class TfmOptions;
struct TMainWindowUi;

class TAttachedWindow : public QObject {
  Q_OBJECT

 public:
  // The widgets, lamps, tray icon and Setup action of the window, which outlive this object.
  TAttachedWindow(TMainWindowUi& AUi, TLampPanel& ALamps, TTrayIcon& ATray, QAction& AacOptions,
                  TRelayAsk AAsk, QObject* AParent);

  // Polls at once, then every kAttachedPollPeriod until Stop.
  void Start();
  void Stop();
  // acOptionsExecute: Setup over the relay's settings; OK hands the result to the relay.
  void RunSetup(TfmOptions& AOptions);

  TAttachedView& Model() { return fModel; }
  QTimer* timPoll = nullptr;  // child of this object

 private:
  void timPollTimer();
  void Show(bool ARowsChanged);

  TMainWindowUi& fUi;
  TLampPanel& fLamps;
  TTrayIcon& fTray;
  QAction& facOptions;
  TAttachedView fModel;
};

}  // namespace kelvo
