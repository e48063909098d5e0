// Turns SIGINT and SIGTERM into a Qt signal on the GUI thread, so ending the program from a
// terminal takes the same road as "Exit". One instance at a time. GUI thread only.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace kelvo {

class TUnixSignalNotifier : public QObject {
  Q_OBJECT

 public:
  explicit TUnixSignalNotifier(QObject* AParent);
  ~TUnixSignalNotifier() override;  // puts the default handlers back

 signals:
  void Triggered(int ASignal);

 private:
  void SocketActivated();

  QSocketNotifier* fNotifier = nullptr;  // child of this object
};

}  // namespace kelvo
