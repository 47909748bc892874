// A WHOIS server on a loopback address that a test drives step by step from its own event loop,
// or that answers every query line with a canned answer.
#pragma once

#include "tests/support/QtEventLoop.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

#include <deque>

namespace tarnwick::testing {

// A port on 127.0.0.1 that nothing listens on.
inline quint16 ClosedLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

class ScriptedWhoisServer {
public:
    explicit ScriptedWhoisServer(const QString& address = QStringLiteral("127.0.0.1"),
                                 quint16 port = 0) {
        server_.listen(QHostAddress(address), port);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                clients_.push_back({socket, {}});
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, [this, &client = clients_.back()] {
                    client.received += client.socket->readAll();
                    client.received.squeeze(); // what readAll returns has room for far more
                    if (!answer.isEmpty() && client.received.endsWith("\r\n")) {
                        client.socket->write(answer);
                        client.socket->disconnectFromHost();
                    }
                });
            }
        });
    }

    // When set, sent in answer to every query line, and the connection closed.
    QByteArray answer;

    quint16 Port() const { return server_.serverPort(); } // 0: not listening
    std::size_t ClientCount() const { return clients_.size(); }
    // Everything that every client has sent so far, in the order they came.
    QByteArray Received() const {
        QByteArray all;
        for (const Client& client : clients_)
            all += client.received;
        return all;
    }
    bool WaitForReceived(const QByteArray& expected) {
        return WaitUntil([&] { return Received() == expected; });
    }

    // Sends to the latest client and hands the bytes to the kernel before returning.
    void Send(const QByteArray& bytes) {
        QTcpSocket& client = *clients_.back().socket;
        client.write(bytes);
        while (client.bytesToWrite() > 0 && client.waitForBytesWritten(1000)) {
        }
    }
    // The normal end of an answer.
    void Close() { clients_.back().socket->disconnectFromHost(); }
    // Drops the latest connection with a reset instead of a normal close.
    void Reset() {
        QTcpSocket& client = *clients_.back().socket;
        const linger abortive{1, 0};
        ::setsockopt(static_cast<int>(client.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                     sizeof abortive);
        client.abort();
    }

private:
    struct Client {
        QTcpSocket* socket; // gone once the connection is
        QByteArray received;
    };
    QTcpServer server_;
    std::deque<Client> clients_; // stays in place as it grows: the handlers hold references
};

} // namespace tarnwick::testing
