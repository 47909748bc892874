// The WHOIS client: one query line to port 43, the answer shown as it arrives.
#pragma once

#include "ui/main/AnswerDecoder.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>

class QTcpSocket;

namespace tarnwick {

class AnswerView;

inline constexpr quint16 kWhoisPort = 43;
inline constexpr std::chrono::milliseconds kWhoisConnectTimeout{20000};
inline constexpr qint64 kWhoisAnswerLimit = 8 * 1024 * 1024;
inline constexpr char kNoQueryMessage[] = " No domain name was entered.";

// Removes leading and trailing blanks (code 32) only; tabs and the rest stay.
QString TrimBlanks(const QString& text);

// A lookup is started with Start. Its socket reports the connection through Connect and every
// piece of the answer through DataArrival; whoever binds the lookup answers Connect with
// SendQuery and DataArrival with TakeData. Every socket event reaches the lookup through the
// event loop, never inside Start, and none of an earlier connection follows a new Start.
class WhoisLookup final : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,             // never started
        Connecting,       // Start called, no connection yet
        Connected,        // connection stands, no query handled yet
        OpenWithoutQuery, // the query was empty: nothing sent, the connection stays open
        Receiving,        // the query line went out
        Ended,            // the server closed, the connection failed or the answer was cut
    };

    explicit WhoisLookup(AnswerView& view, QObject* parent = nullptr);
    ~WhoisLookup() override;

    void SetPort(quint16 port) { port_ = port; }
    void SetConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }
    void SetAnswerLimit(qint64 bytes) { answerLimit_ = bytes; }

    // Ends any earlier lookup, empties the buffer and the view, and starts connecting to the
    // server entry, trimmed of blanks. Returns at once.
    void Start(const QString& serverEntry);
    // Sends the input, trimmed of blanks, with CR LF in one write; shows kNoQueryMessage and
    // sends nothing when that leaves nothing. Only once per connection.
    void SendQuery(const QString& input);
    // Takes everything that waits on the socket, adds it to the buffer and shows the buffer.
    void TakeData();

    State state() const { return state_; }
    const QString& Buffer() const { return buffer_; }
    const QString& Server() const { return server_; }
    qint64 BytesReceived() const { return received_; }

signals:
    void Connect();
    void DataArrival(qint64 bytesAvailable);
    // The lookup is over: closed by the server, failed or cut.
    void Ended();

private:
    void OnConnected();
    void OnReadyRead();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnDisconnected();
    void OnConnectTimeout();
    void Show(const QString& text);
    void AppendNote(const QString& line);
    void FailToConnect(const QString& reason);
    void EndAnswer(const QString& note);
    void Finish();
    void CloseSocket();

    AnswerView& view_;
    quint16 port_ = kWhoisPort;
    std::chrono::milliseconds connectTimeout_ = kWhoisConnectTimeout;
    qint64 answerLimit_ = kWhoisAnswerLimit;

    QTcpSocket* socket_ = nullptr;
    std::uint64_t lookupNumber_ = 0;
    QTimer connectTimer_;
    State state_ = State::Idle;
    QString server_;
    QString buffer_;
    AnswerDecoder decoder_;
    qint64 received_ = 0;
    // What the view shows instead of the buffer (a message), empty while it shows the buffer.
    QString shownMessage_;
};

} // namespace tarnwick
