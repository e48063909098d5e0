// Listens for the request of a refused second start ("1025") and reports it, so the running
// instance can bring its window forward. GUI thread only.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace kelvo {

class TShowRequestServer : public QObject {
  Q_OBJECT

 public:
  explicit TShowRequestServer(QObject* AParent);

  // Listens on AName (a socket path, see TInstanceGuard::ShowRequestName). A socket left
  // behind by a killed instance is replaced: the guard has already admitted only us.
  bool Listen(const QString& AName);
  QString ServerName() const;

 signals:
  void ShowRequested();

 private:
  void AcceptConnections();

  QLocalServer* fServer;  // child of this object
};

}  // namespace kelvo
