// A WHOIS server on a loopback address, or in a namespace of NetworkNamespaces.h, that a test
// drives step by step from its own event loop, or that answers every query line with a canned
// answer.
#pragma once

#include "tests/support/NetworkNamespaces.h"
#include "tests/support/QtEventLoop.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

#include <vector>

namespace tarnwick::testing {

class ScriptedWhoisServer {
public:
    explicit ScriptedWhoisServer(const QString& address = QStringLiteral("127.0.0.1"),
                                 quint16 port = 0, const std::string& netns = {}) {
        // Listening from inside the namespace leaves the socket there.
        const int home =
            netns.empty() ? -1 : open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (home < 0 || EnterNamespace(netns))
            server_.listen(QHostAddress(address), port);
        if (home >= 0)
            setns(home, CLONE_NEWNET), close(home);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                clients_.push_back(socket);
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                    received_ += socket->readAll();
                    received_.squeeze(); // what readAll returns has room for far more
                    if (!answer.isEmpty() && received_.endsWith("\r\n")) {
                        socket->write(answer);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
    }

    // When set, sent in answer to every query line, and the connection closed.
    QByteArray answer;

    quint16 Port() const { return server_.serverPort(); } // 0: not listening
    // Everything that every client has sent so far, in the order it came.
    const QByteArray& Received() const { return received_; }
    bool WaitForReceived(const QByteArray& expected) {
        return WaitUntil([&] { return Received() == expected; });
    }

    // Sends to the latest client and hands the bytes to the kernel before returning.
    void Send(const QByteArray& bytes) {
        clients_.back()->write(bytes);
        clients_.back()->flush();
    }
    // The normal end of an answer.
    void Close() { clients_.back()->disconnectFromHost(); }
    // Drops the latest connection with a reset instead of a normal close.
    void Reset() {
        QTcpSocket& client = *clients_.back();
        const linger abortive{1, 0};
        ::setsockopt(static_cast<int>(client.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                     sizeof abortive);
        client.abort();
    }

private:
    QTcpServer server_;
    std::vector<QTcpSocket*> clients_; // each gone once its connection is
    QByteArray received_;
};

} // namespace tarnwick::testing
