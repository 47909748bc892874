// The WHOIS client: one query line to port 43, the answer shown as it arrives.
#include "ui/main/WhoisLookup.h"

#include "ui/main/AnswerView.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

#include <algorithm>

namespace tarnwick {

namespace {

// Qt keeps at most this much unread; past it the kernel holds the rest and the server waits.
constexpr qint64 kSocketReadBuffer = 64 * 1024;
constexpr qint64 kMebibyte = 1024 * 1024;
// An answer's text past this length gets room for all the answer may grow to at once: grown by
// doubling, it would be copied whole, megabytes at a time, while the window waits. Room that
// is never written takes no memory.
constexpr qsizetype kReservedFrom = 64 * 1024;
constexpr qsizetype kRoomForNotes = 4 * 1024;

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

QString SizeText(qint64 bytes) {
    if (bytes % kMebibyte == 0) {
        return QStringLiteral("%1 MiB").arg(bytes / kMebibyte);
    }
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString SecondsText(std::chrono::milliseconds duration) {
    return QStringLiteral("%1 seconds").arg(static_cast<double>(duration.count()) / 1000.0);
}

} // namespace

QString TrimBlanks(const QString& text) {
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

WhoisLookup::WhoisLookup(AnswerView& view, QObject* parent) : QObject(parent), view_(view) {
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, &WhoisLookup::OnConnectTimeout);
}

WhoisLookup::~WhoisLookup() {
    CloseSocket();
}

void WhoisLookup::Start(const QString& serverEntry) {
    buffer_.clear();
    received_ = 0;
    decoder_.Reset();
    shownMessage_.clear();
    view_.SetText(QString());
    CloseSocket();

    server_ = TrimBlanks(serverEntry);
    serverPort_ = port_;
    query_.clear();
    asked_ = QStringList{ServerKey(server_, serverPort_)};
    answerStart_ = 0;
    referralScanner_ = {};
    SetWaiting(true);
    OpenConnection();
}

void WhoisLookup::Stop() {
    const bool active = state_ != State::Idle && state_ != State::Ended;
    CloseSocket();
    SetWaiting(false);
    if (active) {
        Show(decoder_.Finish());
        state_ = State::Ended;
        emit Ended();
    }
}

void WhoisLookup::OpenConnection() {
    state_ = State::Connecting;
    connectTimer_.start(connectTimeout_);
    if (!QHostAddress(server_).isNull()) {
        ConnectSocket();
        return;
    }
    // The socket's own look-up reports a name that does not exist and a resolver that could
    // not be asked alike; asking first tells them apart. The socket then finds the addresses
    // in Qt's host cache and tries each in turn.
    const std::uint64_t number = lookupNumber_;
    hostLookupId_ = QHostInfo::lookupHost(server_, this, [this, number](const QHostInfo& host) {
        if (number != lookupNumber_ || state_ != State::Connecting) {
            return;
        }
        hostLookupId_ = -1;
        switch (host.error()) {
        case QHostInfo::NoError:
            ConnectSocket();
            break;
        case QHostInfo::HostNotFound:
            FailToConnect(QStringLiteral("the name was not found"));
            break;
        default:
            FailToConnect(QStringLiteral("the name could not be looked up"));
            break;
        }
    });
}

void WhoisLookup::ConnectSocket() {
    socket_ = new QTcpSocket(this);
    socket_->setReadBufferSize(kSocketReadBuffer);
    // Queued, so that no event arrives inside Start (a loopback connect may complete at once)
    // and events already posted by a closed socket can be told apart by their number.
    const std::uint64_t number = lookupNumber_;
    auto current = [this, number] { return number == lookupNumber_ && socket_ != nullptr; };
    connect(
        socket_, &QTcpSocket::connected, this,
        [this, current] {
            if (current()) {
                OnConnected();
            }
        },
        Qt::QueuedConnection);
    connect(
        socket_, &QTcpSocket::readyRead, this,
        [this, current] {
            if (current()) {
                OnReadyRead();
            }
        },
        Qt::QueuedConnection);
    connect(
        socket_, &QTcpSocket::errorOccurred, this,
        [this, current](QAbstractSocket::SocketError error) {
            if (current()) {
                OnSocketError(error);
            }
        },
        Qt::QueuedConnection);
    connect(
        socket_, &QTcpSocket::disconnected, this,
        [this, current] {
            if (current()) {
                OnDisconnected();
            }
        },
        Qt::QueuedConnection);
    // No bind: the system picks the local port, as local port 0 asks.
    socket_->connectToHost(server_, serverPort_);
}

void WhoisLookup::SendQuery(const QString& input) {
    if (state_ != State::Connected) {
        return;
    }
    const QString query = TrimBlanks(input);
    if (query.isEmpty()) {
        state_ = State::OpenWithoutQuery;
        shownMessage_ = QString::fromLatin1(kNoQueryMessage);
        view_.SetText(shownMessage_);
        SetWaiting(false);
        return;
    }
    query_ = query;
    WriteQuery();
}

void WhoisLookup::WriteQuery() {
    state_ = State::Receiving;
    socket_->write(query_.toUtf8() + "\r\n");
}

void WhoisLookup::TakeData() {
    if (socket_ == nullptr || (state_ != State::Connected && state_ != State::OpenWithoutQuery &&
                               state_ != State::Receiving)) {
        return;
    }
    const qint64 room = answerLimit_ - received_;
    if (room > 0) {
        // What waits, not `room`: Qt sets aside as much as it is asked for before reading.
        const QByteArray bytes = socket_->read(std::min(room, socket_->bytesAvailable()));
        received_ += bytes.size();
        if (!bytes.isEmpty()) {
            SetWaiting(false);
        }
        Show(decoder_.Decode(bytes));
    }
    if (received_ >= answerLimit_ && socket_->bytesAvailable() > 0) {
        EndAnswer(QStringLiteral(" The answer was cut off at %1.").arg(SizeText(answerLimit_)));
    }
}

void WhoisLookup::OnConnected() {
    if (state_ != State::Connecting) {
        return;
    }
    connectTimer_.stop();
    state_ = State::Connected;
    // A referred server gets the query without asking the binder: the input is read once.
    if (asked_.size() > 1) {
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
        FailToConnect(ConnectFailureReason(error, *socket_));
        return;
    }
    // A server ends its answer by closing; a reset mid-answer looks the same to Qt.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        Finish();
        return;
    }
    const QString reason = socket_->errorString();
    TakeData();
    if (socket_ != nullptr) {
        EndAnswer(QStringLiteral(" The connection failed: %1.").arg(reason));
    }
}

void WhoisLookup::OnDisconnected() {
    if (state_ == State::Connecting) {
        FailToConnect(socket_->errorString());
        return;
    }
    Finish();
}

void WhoisLookup::OnConnectTimeout() {
    if (state_ == State::Connecting) {
        FailToConnect(QStringLiteral("no connection within %1").arg(SecondsText(connectTimeout_)));
    }
}

void WhoisLookup::Show(const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    if (buffer_.size() + text.size() > buffer_.capacity() && buffer_.size() >= kReservedFrom) {
        buffer_.reserve(std::max(buffer_.size() + text.size(), answerLimit_ + kRoomForNotes));
    }
    buffer_ += text;
    referralScanner_.Scan(QStringView(buffer_).sliced(answerStart_), false);
    if (shownMessage_.isEmpty()) {
        view_.Append(text, buffer_);
    } else {
        // The server's text replaces the message.
        shownMessage_.clear();
        view_.SetText(buffer_);
    }
}

void WhoisLookup::AppendNote(const QString& line) {
    const QString& shown = shownMessage_.isEmpty() ? buffer_ : shownMessage_;
    QString note = line;
    if (!shown.isEmpty() && !shown.endsWith(u'\n') && !shown.endsWith(u'\r')) {
        note.prepend(u'\n');
    }
    view_.Append(note, shown + note);
}

void WhoisLookup::FailToConnect(const QString& reason) {
    CloseSocket();
    state_ = State::Ended;
    const QString message = QStringLiteral(" Could not connect to %1: %2.").arg(server_, reason);
    if (asked_.size() > 1) {
        // A referred server: the earlier answers stay, the reason goes under its heading.
        AppendNote(message);
    } else {
        shownMessage_ = message;
        view_.SetText(shownMessage_);
    }
    SetWaiting(false);
    emit Ended();
}

void WhoisLookup::Finish() {
    TakeData();
    if (socket_ != nullptr) {
        EndAnswer(QString());
    }
}

void WhoisLookup::EndAnswer(const QString& note) {
    CloseSocket();
    Show(decoder_.Finish());
    // Only a whole answer is followed: a failed or cut one may have lost its referral line.
    if (!note.isEmpty()) {
        AppendNote(note);
    } else if (FollowReferral()) {
        return;
    }
    state_ = State::Ended;
    SetWaiting(false);
    emit Ended();
}

bool WhoisLookup::FollowReferral() {
    if (query_.isEmpty() || asked_.size() > kMostWhoisReferrals) {
        return false;
    }
    referralScanner_.Scan(QStringView(buffer_).sliced(answerStart_), true);
    const std::optional<WhoisReferral> referral = referralScanner_.Referral();
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
    server_ = referral->host;
    serverPort_ = port;
    QString heading = QStringLiteral("\n Answer from %1:\n\n").arg(server_);
    if (!buffer_.endsWith(u'\n') && !buffer_.endsWith(u'\r')) {
        heading.prepend(u'\n');
    }
    buffer_ += heading;
    view_.Append(heading, buffer_);
    answerStart_ = buffer_.size();
    referralScanner_ = {};
    SetWaiting(true);
    OpenConnection();
    return true;
}

void WhoisLookup::SetWaiting(bool waiting) {
    if (waiting_ != waiting) {
        waiting_ = waiting;
        emit WaitingChanged(waiting);
    }
}

void WhoisLookup::CloseSocket() {
    connectTimer_.stop();
    ++lookupNumber_;
    if (hostLookupId_ != -1) {
        QHostInfo::abortHostLookup(std::exchange(hostLookupId_, -1));
    }
    if (socket_ == nullptr) {
        return;
    }
    QTcpSocket* socket = std::exchange(socket_, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace tarnwick
