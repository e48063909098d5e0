#include "ui_qt/show_request_server.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QVariant>

namespace kelvo {

namespace {

const QByteArray kShowRequest = QByteArrayLiteral("1025");
constexpr int kMaxRequestBytes = 16;

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
    // The request is four bytes; a client that sends more, or something else, is dropped.
    auto handle = [this, socket] {
      QByteArray received = socket->property("received").toByteArray();
      received += socket->read(kMaxRequestBytes);
      socket->setProperty("received", received);
      if (received.startsWith(kShowRequest)) {
        socket->setProperty("received", QByteArray());
        socket->disconnectFromServer();
        emit ShowRequested();
      } else if (received.size() >= kShowRequest.size()) {
        socket->abort();
      }
    };
    connect(socket, &QLocalSocket::readyRead, this, handle);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->bytesAvailable() > 0) {
      handle();
    }
  }
}

}  // namespace kelvo
