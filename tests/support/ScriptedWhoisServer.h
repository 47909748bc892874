// A WHOIS server on 127.0.0.1 that a test drives step by step from its own event loop.
#pragma once

#include "tests/support/QtEventLoop.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

#include <vector>

namespace tarnwick::testing {

// A port on 127.0.0.1 that nothing listens on.
inline quint16 ClosedLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

class ScriptedWhoisServer {
public:
    ScriptedWhoisServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* client = server_.nextPendingConnection()) {
                const std::size_t index = clients_.size();
                clients_.push_back({client, {}});
                QObject::connect(client, &QTcpSocket::readyRead, [this, index] {
                    clients_[index].received += clients_[index].socket->readAll();
                });
            }
        });
    }

    quint16 Port() const { return server_.serverPort(); }
    std::size_t ClientCount() const { return clients_.size(); }
    bool WaitForClients(std::size_t count) {
        return WaitUntil([&] { return clients_.size() >= count; });
    }
    // Everything the latest client (or client `index`) has sent so far.
    QByteArray Received() const { return clients_.back().received; }
    QByteArray Received(std::size_t index) const { return clients_.at(index).received; }
    bool WaitForReceived(const QByteArray& expected) {
        return WaitUntil([&] { return !clients_.empty() && Received() == expected; });
    }

    // Sends to the latest client and hands the bytes to the kernel before returning.
    void Send(const QByteArray& bytes) { Send(clients_.size() - 1, bytes); }
    void Send(std::size_t index, const QByteArray& bytes) {
        QTcpSocket& client = *clients_.at(index).socket;
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
        QTcpSocket* socket;
        QByteArray received;
    };
    QTcpServer server_;
    std::vector<Client> clients_;
};

} // namespace tarnwick::testing
