// The WHOIS conversation: one query line to port 43, the answer taken as it arrives, referrals
// followed.
#include "whois/WhoisLookup.h"

#include "whois/ReferralPolicy.h"

#include <QTcpSocket>

#include <algorithm>

namespace tarnwick {

namespace {

// Qt keeps at most this much unread; past it the kernel holds the rest and the server waits.
constexpr qint64 kSocketReadBuffer = 64 * 1024;

QString ConnectFailureReason(QAbstractSocket::SocketError error, const QTcpSocket& socket) {
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("the name was not found");
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("the connection was refused");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("the server cannot be reached");
    default:
        return socket.errorString();
    }
}

QString ServerKey(const QString& host, quint16 port) {
    return QStringLiteral("%1:%2").arg(host.toLower()).arg(port);
}

QString SecondsText(std::chrono::milliseconds duration) {
    return QStringLiteral("%1 seconds").arg(static_cast<double>(duration.count()) / 1000.0);
}

} // namespace

QString TrimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && text.at(first) == u' ') {
        ++first;
    }
    while (end > first && text.at(end - 1) == u' ') {
        --end;
    }
    return text.sliced(first, end - first);
}

WhoisLookup::WhoisLookup(AnswerView& view, QObject* parent) : QObject(parent), transcript_(view) {
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        if (state_ == State::Connecting) {
            FailToConnect(
                QStringLiteral("no connection within %1").arg(SecondsText(connectTimeout_)));
        }
    });
    answerTimer_.setSingleShot(true);
    connect(&answerTimer_, &QTimer::timeout, this, [this] {
        if (state_ == State::Receiving) {
            Finish(QStringLiteral(" Nothing came from %1 for %2.")
                       .arg(server_, SecondsText(answerTimeout_)));
        }
    });
}

WhoisLookup::~WhoisLookup() {
    CloseSocket();
}

void WhoisLookup::Start(const QString& serverEntry) {
    Stop();
    transcript_.Clear();
    server_ = TrimSpaces(serverEntry);
    serverPort_ = port_;
    query_.clear();
    asked_ = QStringList{ServerKey(server_, serverPort_)};
    SetWaiting(true);
    OpenConnection();
}

void WhoisLookup::Stop() {
    const bool active = state_ != State::Idle && state_ != State::Ended;
    CloseSocket();
    SetWaiting(false);
    if (active) {
        transcript_.EndAnswer();
        state_ = State::Ended;
        emit Ended();
    }
}

void WhoisLookup::OpenConnection() {
    state_ = State::Connecting;
    connectTimer_.start(connectTimeout_);
    // Asked for an address, the look-up would ask the name server for its name instead.
    if (const QHostAddress address(server_); !address.isNull()) {
        const std::uint64_t number = lookupNumber_;
        QMetaObject::invokeMethod(
            this,
            [this, number, address] {
                if (number == lookupNumber_ && state_ == State::Connecting) {
                    OnResolved({address});
                }
            },
            Qt::QueuedConnection);
        return;
    }
    // Resolved here, not by the socket, to tell a name that does not exist from a resolver that
    // could not be asked, and to check every address before connecting to it.
    // A slot named, not a functor: Qt 6.4 leaks the functor of a lookup that is aborted.
    hostLookupId_ = QHostInfo::lookupHost(server_, this, SLOT(OnHostLookedUp(QHostInfo)));
}

void WhoisLookup::OnHostLookedUp(const QHostInfo& host) {
    // Not the lookup of the server being asked now: an aborted one, already on its way.
    if (host.lookupId() != hostLookupId_ || state_ != State::Connecting) {
        return;
    }
    hostLookupId_ = -1;
    if (host.error() == QHostInfo::NoError && !host.addresses().isEmpty()) {
        OnResolved(host.addresses());
        return;
    }
    FailToConnect(host.error() == QHostInfo::UnknownError
                      ? QStringLiteral("the name could not be looked up")
                      : QStringLiteral("the name was not found"));
}

void WhoisLookup::OnResolved(const QList<QHostAddress>& addresses) {
    if (IsReferred()) {
        // A public server cannot send the query on into the user's own network; a local
        // registry may refer to its neighbours.
        if (!MayFollowReferral(answeredFrom_, addresses)) {
            CloseSocket();
            EndLookup(QStringLiteral(" The referral to %1 was not followed: it points into a "
                                     "private network.")
                          .arg(server_));
            return;
        }
        ShowHeading();
    }
    addresses_ = addresses;
    ConnectSocket();
}

void WhoisLookup::ConnectSocket() {
    socket_ = new QTcpSocket(this);
    socket_->setReadBufferSize(kSocketReadBuffer);
    // Queued, so that no event arrives inside Start (a loopback connect may complete at once)
    // and events already posted by a closed socket can be told apart by their number.
    const std::uint64_t number = lookupNumber_;
    auto current = [this, number] { return number == lookupNumber_ && socket_ != nullptr; };
    const auto queued = [&](auto signal, auto handler) {
        connect(
            socket_, signal, this,
            [this, current, handler](auto... arguments) {
                if (current()) {
                    (this->*handler)(arguments...);
                }
            },
            Qt::QueuedConnection);
    };
    queued(&QTcpSocket::connected, &WhoisLookup::OnConnected);
    queued(&QTcpSocket::readyRead, &WhoisLookup::OnReadyRead);
    queued(&QTcpSocket::errorOccurred, &WhoisLookup::OnSocketError);
    queued(&QTcpSocket::disconnected, &WhoisLookup::OnDisconnected);
    // No bind: the system picks the local port, as local port 0 asks. The address is one that
    // was checked: no second look-up between the check and the connect.
    socket_->connectToHost(addresses_.takeFirst(), serverPort_);
}

void WhoisLookup::SendQuery(const QString& input) {
    if (state_ != State::Connected) {
        return;
    }
    const QString query = TrimSpaces(input);
    if (query.isEmpty()) {
        // Not a wait: the connection stays open with nothing asked.
        state_ = State::OpenWithoutQuery;
        transcript_.ShowMessage(QString::fromLatin1(kNoQueryMessage));
        SetWaiting(false);
        return;
    }
    query_ = query;
    WriteQuery();
}

void WhoisLookup::WriteQuery() {
    state_ = State::Receiving;
    socket_->write(query_.toUtf8() + "\r\n");
    answerTimer_.start(answerTimeout_);
}

void WhoisLookup::TakeData() {
    if (socket_ == nullptr || (state_ != State::Connected && state_ != State::OpenWithoutQuery &&
                               state_ != State::Receiving)) {
        return;
    }
    if (const qint64 room = transcript_.Room(); room > 0) {
        // What waits, not `room`: Qt sets aside as much as it is asked for before reading.
        const QByteArray bytes = socket_->read(std::min(room, socket_->bytesAvailable()));
        if (!bytes.isEmpty()) {
            SetWaiting(false);
            if (state_ == State::Receiving) {
                answerTimer_.start(answerTimeout_);
            }
        }
        transcript_.Add(bytes);
    }
    if (transcript_.Room() <= 0 && socket_->bytesAvailable() > 0) {
        transcript_.CutOffAtByteLimit();
    }
    if (transcript_.IsCut()) {
        EndAnswer(transcript_.CutNote());
    }
}

void WhoisLookup::OnConnected() {
    if (state_ != State::Connecting) {
        return;
    }
    connectTimer_.stop();
    state_ = State::Connected;
    answeredFrom_ = socket_->peerAddress();
    // A referred server gets the query without asking the binder: the input is read once.
    if (IsReferred()) {
        WriteQuery();
        return;
    }
    emit Connect();
}

void WhoisLookup::OnReadyRead() {
    const qint64 available = socket_->bytesAvailable();
    if (available > 0) {
        emit DataArrival(available);
    }
}

void WhoisLookup::OnSocketError(QAbstractSocket::SocketError error) {
    if (state_ == State::Connecting) {
        if (!addresses_.isEmpty()) {
            // The name has further addresses: the next one may answer.
            DropSocket();
            ConnectSocket();
            return;
        }
        FailToConnect(ConnectFailureReason(error, *socket_));
        return;
    }
    // A server ends its answer by closing; a reset mid-answer looks the same to Qt.
    Finish(error == QAbstractSocket::RemoteHostClosedError
               ? QString()
               : QStringLiteral(" The connection failed: %1.").arg(socket_->errorString()));
}

void WhoisLookup::OnDisconnected() {
    if (state_ == State::Connecting) {
        FailToConnect(socket_->errorString());
        return;
    }
    Finish();
}

void WhoisLookup::FailToConnect(const QString& reason) {
    CloseSocket();
    const QString message = QStringLiteral(" Could not connect to %1: %2.").arg(server_, reason);
    if (IsReferred()) {
        // A referred server: the earlier answers stay, the reason goes under its heading, whether
        // the name lookup, the connection or the timeout failed.
        ShowHeading();
        EndLookup(message);
        return;
    }
    transcript_.ShowMessage(message);
    EndLookup(QString());
}

void WhoisLookup::Finish(const QString& note) {
    TakeData();
    if (socket_ != nullptr) {
        EndAnswer(note);
    }
}

void WhoisLookup::EndAnswer(const QString& note) {
    CloseSocket();
    transcript_.EndAnswer();
    // Only an answer that ended without a note is followed: a failed or cut one may have lost its
    // referral line. A reset looks like a close, but the line it cut short never refers.
    if (note.isEmpty() && FollowReferral()) {
        return;
    }
    EndLookup(note);
}

void WhoisLookup::EndLookup(const QString& note) {
    if (!note.isEmpty()) {
        transcript_.AddNote(note);
    }
    state_ = State::Ended;
    SetWaiting(false);
    emit Ended();
}

bool WhoisLookup::FollowReferral() {
    if (query_.isEmpty() || asked_.size() > kMostWhoisReferrals) {
        return false;
    }
    const std::optional<WhoisReferral> referral = transcript_.Referral();
    if (!referral) {
        return false;
    }
    // Without a port of its own the referral goes to the port the first server was asked on.
    const quint16 port = referral->port.value_or(port_);
    const QString key = ServerKey(referral->host, port);
    if (asked_.contains(key)) {
        return false;
    }
    asked_.append(key);
    headingShown_ = false;
    server_ = referral->host;
    serverPort_ = port;
    SetWaiting(true);
    OpenConnection();
    return true;
}

void WhoisLookup::ShowHeading() {
    if (!std::exchange(headingShown_, true)) {
        transcript_.StartAnswerFrom(server_);
    }
}

void WhoisLookup::SetWaiting(bool waiting) {
    if (waiting_ != waiting) {
        waiting_ = waiting;
        emit WaitingChanged(waiting);
    }
}

void WhoisLookup::CloseSocket() {
    connectTimer_.stop();
    answerTimer_.stop();
    if (hostLookupId_ != -1) {
        QHostInfo::abortHostLookup(std::exchange(hostLookupId_, -1));
    }
    DropSocket();
}

void WhoisLookup::DropSocket() {
    ++lookupNumber_;
    if (socket_ == nullptr) {
        return;
    }
    QTcpSocket* socket = std::exchange(socket_, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace tarnwick
