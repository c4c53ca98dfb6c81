#include "LogPageRequests.h"

#include "jobs/WindowRequests.h"

#include <QLocalSocket>

TLogPageRequests::TLogPageRequests(const std::string& configFile, QObject* parent) : QObject(parent) {
    const QString path = QString::fromLocal8Bit(WindowRequestSocketPath(configFile));
    // A socket left by a window that did not end cleanly; this window holds
    // the configuration's instance lock, so nobody else listens there.
    QLocalServer::removeServer(path);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&FServer, &QLocalServer::newConnection, this, &TLogPageRequests::Accept);
    FServer.listen(path);
}

void TLogPageRequests::Accept() {
    while (QLocalSocket* socket = FServer.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine().trimmed();
                if (line.toStdString() == ShowLogRequest) {
                    socket->write(QByteArray::fromStdString(RequestDone + "\n"));
                    socket->flush();
                    emit ShowLogRequested();
                }
            }
            if (socket->bytesAvailable() > 256) {
                socket->abort(); // no request is that long
            }
        });
    }
}
