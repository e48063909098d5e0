// Turns SIGINT, SIGTERM and SIGHUP into Qt signals on the GUI thread, so ending the program
// from a terminal takes the same road as "Exit", and a reload the same road as Setup's OK.
// One instance at a time. GUI thread only.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace kelvo {

class TUnixSignalNotifier : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers, then lets the signals through on this thread (they are held back
  // since the program's first statement, so one sent during start-up arrives now).
  explicit TUnixSignalNotifier(QObject* AParent);
  ~TUnixSignalNotifier() override;  // holds the signals back again, default handlers

 signals:
  void Triggered(int ASignal);  // SIGINT or SIGTERM
  void ReloadRequested();       // SIGHUP

 private:
  void SocketActivated();

  QSocketNotifier* fNotifier = nullptr;  // child of this object
};

}  // namespace kelvo
