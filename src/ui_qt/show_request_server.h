// The window's end of the local socket that the single-instance guard names: the bare show
// request ("1025") of a refused second start, and the request lines of --quit and of the
// settings options (see app/control_requests.h), each answered with one line. GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

#include "app/control_requests.h"

class QLocalServer;
class QLocalSocket;

namespace kelvo {

class TShowRequestServer : public QObject {
  Q_OBJECT

 public:
  // One request line (without its end) → the answer (see app/control_requests.h); a quit
  // takes effect once the answer is out.
  using TRequestHandler = std::function<TControlAnswer(const std::string& ALine)>;

  explicit TShowRequestServer(QObject* AParent);

  // Listens on AName (a socket path, see TInstanceGuard::ShowRequestName). A socket left
  // behind by a killed instance is replaced: the guard has already admitted only us.
  bool Listen(const QString& AName);
  QString ServerName() const;

  // Without a handler only show requests are understood.
  void SetRequestHandler(TRequestHandler AHandler) { fHandler = std::move(AHandler); }

 signals:
  void ShowRequested();
  void QuitRequested();  // after the answer to "quit" has been written

 private:
  void AcceptConnections();
  void Handle(QLocalSocket* ASocket);

  QLocalServer* fServer;  // child of this object
  TRequestHandler fHandler;
};

}  // namespace kelvo
