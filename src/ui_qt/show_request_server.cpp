#include "ui_qt/show_request_server.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QVariant>

#include "app/control_requests.h"

namespace kelvo {

namespace {

const QByteArray kShowRequest = QByteArray::fromStdString(std::string(kShowRequestLine));
const char* const kReceived = "received";

}  // namespace

TShowRequestServer::TShowRequestServer(QObject* AParent)
    : QObject(AParent), fServer(new QLocalServer(this)) {
  setObjectName(QStringLiteral("ShowRequestServer"));
  fServer->setSocketOptions(QLocalServer::UserAccessOption);
  connect(fServer, &QLocalServer::newConnection, this, &TShowRequestServer::AcceptConnections);
}

bool TShowRequestServer::Listen(const QString& AName) {
  if (fServer->listen(AName)) {
    return true;
  }
  QLocalServer::removeServer(AName);
  return fServer->listen(AName);
}

QString TShowRequestServer::ServerName() const {
  return fServer->fullServerName();
}

void TShowRequestServer::AcceptConnections() {
  while (QLocalSocket* socket = fServer->nextPendingConnection()) {
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Handle(socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->bytesAvailable() > 0) {
      Handle(socket);
    }
  }
}

void TShowRequestServer::Handle(QLocalSocket* ASocket) {
  QByteArray received = ASocket->property(kReceived).toByteArray();
  const qsizetype searched = received.size();
  received += ASocket->readAll();
  // The show request of a second start is four bytes without a line end; nothing else
  // starts with them.
  if (received.startsWith(kShowRequest)) {
    ASocket->setProperty(kReceived, QByteArray());
    ASocket->disconnectFromServer();
    emit ShowRequested();
    return;
  }
  // A "setup" line may be megabytes long: look for its end only in what just came, and
  // copy nothing while it is not whole.
  const qsizetype end = received.indexOf('\n', searched);
  if (end < 0) {
    if (CouldBeControlRequest(
            std::string_view(received.constData(), static_cast<std::size_t>(received.size())))) {
      ASocket->setProperty(kReceived, received);
    } else {
      ASocket->abort();  // not one of our clients
    }
    return;
  }
  ASocket->setProperty(kReceived, QByteArray());
  TControlAnswer answer;
  if (fHandler) {
    answer = fHandler(received.left(end).toStdString());
  } else {
    answer.Line = EncodeOutcome({2, "request not understood"});
  }
  if (!answer.Line.empty()) {
    ASocket->write(QByteArray::fromStdString(answer.Line + "\n"));
    ASocket->flush();
  }
  ASocket->disconnectFromServer();
  if (answer.Show) {
    emit ShowRequested();
  }
  if (answer.Quit) {
    emit QuitRequested();
  }
}

}  // namespace kelvo
