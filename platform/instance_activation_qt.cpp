// The activation request over a local (Unix domain) socket: the client writes
// one line, "activate", and the listener answers "ok" once it has passed the
// request on.
#include <QLocalServer>
#include <QLocalSocket>

#include "platform/instance_activation.h"

namespace platform {

namespace {

constexpr char kRequest[] = "activate\n";
constexpr char kAnswer[] = "ok\n";

}  // namespace

std::string ActivationSocketPath(const std::string& lock_path) {
  return lock_path + ".activate";
}

ActivationListener::ActivationListener(const std::string& lock_path, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)) {
  const QString path = QString::fromStdString(ActivationSocketPath(lock_path));
  // Only this process may listen here: it holds the lock beside it.
  QLocalServer::removeServer(path);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->listen(path);
  connect(server_, &QLocalServer::newConnection, this, &ActivationListener::Accept);
}

ActivationListener::~ActivationListener() {
  server_->close();  // removes the socket file
}

bool ActivationListener::Listening() const {
  return server_->isListening();
}

void ActivationListener::Accept() {
  while (QLocalSocket* client = server_->nextPendingConnection()) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, client] {
      if (!client->canReadLine()) return;
      const bool request = client->readLine(64) == kRequest;
      if (request) emit ActivationRequested();
      client->write(request ? kAnswer : "?\n");
      client->disconnectFromServer();
    });
  }
}

bool RequestActivation(const std::string& lock_path, int timeout_ms) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(ActivationSocketPath(lock_path)));
  if (!socket.waitForConnected(timeout_ms)) return false;
  socket.write(kRequest);
  if (!socket.waitForBytesWritten(timeout_ms)) return false;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(timeout_ms)) return false;
  }
  return socket.readLine(64) == kAnswer;
}

}  // namespace platform
