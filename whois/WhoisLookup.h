// The WHOIS conversation: one query line to port 43, the answer taken as it arrives, referrals
// followed. What is shown is the transcript's business (whois/WhoisTranscript.h).
#pragma once

#include "whois/WhoisTranscript.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>

class QTcpSocket;

namespace tarnwick {

class AnswerView;

inline constexpr quint16 kWhoisPort = 43;
inline constexpr std::chrono::milliseconds kWhoisConnectTimeout{20000};
// A server that sends nothing for this long after the query, or after its last bytes, is not
// waited for any more.
inline constexpr std::chrono::milliseconds kWhoisAnswerTimeout{30000};
inline constexpr char kNoQueryMessage[] = " No domain name was entered.";
// Referrals followed after the first server's answer, so that a loop of referrals ends.
inline constexpr int kMostWhoisReferrals = 3;

// Removes leading and trailing spaces (code 32) only; tabs and the rest stay.
QString TrimSpaces(const QString& text);

// A lookup is started with Start. Its socket reports the connection through Connect and every
// piece of the answer through DataArrival; whoever binds the lookup answers Connect with
// SendQuery and DataArrival with TakeData. Start takes no query on purpose: the input is read
// when the connection stands, not at the click, so what the user typed meanwhile is what goes
// out. Every socket event reaches the lookup through the event loop, never inside Start, and
// none of an earlier connection follows a new Start.
// An answer that ends normally and names another WHOIS server on a whole line is followed there
// (whois/ReferralPolicy.h says where it may lead): the same query goes out again without Connect,
// and that answer, or why the server could not be reached, is added under a heading of its own.
// Each server is connected to at the very addresses its name was checked at, so a name server
// that answers differently the second time cannot lead the lookup elsewhere.
class WhoisLookup final : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,             // never started
        Connecting,       // Start called or a referral followed, no connection yet
        Connected,        // connection stands, no query handled yet
        OpenWithoutQuery, // the query was empty: nothing sent, the connection stays open
        Receiving,        // the query line went out
        Ended,            // the last server closed, a connection failed or the answer was cut
    };

    explicit WhoisLookup(AnswerView& view, QObject* parent = nullptr);
    ~WhoisLookup() override;

    void SetPort(quint16 port) { port_ = port; }
    void SetConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }
    void SetAnswerTimeout(std::chrono::milliseconds timeout) { answerTimeout_ = timeout; }
    void SetAnswerLimit(qint64 bytes, qsizetype lines = kWhoisLineLimit) {
        transcript_.SetLimits(bytes, lines);
    }

    // Ends any earlier lookup as Stop does, Ended included, then empties the buffer and the view
    // and starts connecting to the server entry, trimmed of spaces. Returns at once.
    void Start(const QString& serverEntry);
    // Ends the lookup where it stands, keeping what is shown.
    void Stop();
    // Sends the input, trimmed of spaces, with CR LF in one write; shows kNoQueryMessage and
    // sends nothing when that leaves nothing. Only once per connection.
    void SendQuery(const QString& input);
    // Takes everything that waits on the socket, within the limits, and shows it.
    void TakeData();

    State state() const { return state_; }
    const QString& Buffer() const { return transcript_.Text(); }
    // The server being asked, or last asked.
    const QString& Server() const { return server_; }
    qint64 BytesReceived() const { return transcript_.BytesReceived(); }

signals:
    void Connect();
    void DataArrival(qint64 bytesAvailable);
    // The lookup is over: closed by the last server, failed, cut, stopped or ended by a new Start.
    // Once for every lookup that was running, the buffer still the lookup's own; never when the
    // lookup is destroyed.
    void Ended();
    // Whether the user is waiting for a server: from a connect until its first data or end.
    void WaitingChanged(bool waiting);

private slots:
    void OnHostLookedUp(const QHostInfo& host);

private:
    bool IsReferred() const { return asked_.size() > 1; }
    void OpenConnection();
    void OnResolved(const QList<QHostAddress>& addresses);
    void ConnectSocket();
    void WriteQuery();
    bool FollowReferral();
    // A referred server's heading, shown once, before its answer or the reason it gave none.
    void ShowHeading();
    void SetWaiting(bool waiting);
    void OnConnected();
    void OnReadyRead();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnDisconnected();
    void FailToConnect(const QString& reason);
    void EndLookup(const QString& note);
    void EndAnswer(const QString& note);
    // Takes what still waits, then ends the answer with `note` unless a limit already ended it.
    void Finish(const QString& note = QString());
    // Ends the connection and everything waiting for this server.
    void CloseSocket();
    // Ends the connection only; no event of it follows.
    void DropSocket();

    WhoisTranscript transcript_;
    quint16 port_ = kWhoisPort;
    std::chrono::milliseconds connectTimeout_ = kWhoisConnectTimeout;
    std::chrono::milliseconds answerTimeout_ = kWhoisAnswerTimeout;

    QTcpSocket* socket_ = nullptr;
    int hostLookupId_ = -1;
    std::uint64_t lookupNumber_ = 0;
    QTimer connectTimer_;
    QTimer answerTimer_;
    State state_ = State::Idle;
    QString server_;
    quint16 serverPort_ = kWhoisPort;
    // Where the name of the server being asked led, tried in turn.
    QList<QHostAddress> addresses_;
    // The address of the server that gave the current answer.
    QHostAddress answeredFrom_;
    bool headingShown_ = false;
    // The query text sent to the first server; referred servers get it again.
    QString query_;
    // "host:port" of every server asked since Start, host in lower case.
    QStringList asked_;
    bool waiting_ = false;
};

} // namespace tarnwick
