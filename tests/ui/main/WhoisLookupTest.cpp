// The WHOIS lookup on real sockets against servers on 127.0.0.1, without a window.
#include "ui/main/WhoisLookup.h"

#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedWhoisServer.h"
#include "tests/support/StreamingWhoisServer.h"
#include "ui/main/PlainTextAnswerView.h"

#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <ostream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using testing::EventLoopStallMeter;
using testing::RunEvents;
using testing::ScriptedWhoisServer;
using testing::StreamedAnswer;
using testing::StreamingWhoisServer;
using testing::TestApplication;
using testing::WaitUntil;
using State = WhoisLookup::State;

// A lookup bound the way the main window binds it, with the query read from `query`.
class WhoisLookupTest : public ::testing::Test, private testing::WithApplication {
protected:
    WhoisLookupTest() {
        QObject::connect(&lookup, &WhoisLookup::Connect, [this] { lookup.SendQuery(query); });
        QObject::connect(&lookup, &WhoisLookup::DataArrival, [this] { lookup.TakeData(); });
        QObject::connect(&lookup, &WhoisLookup::Ended, [this] { ++ended; });
    }
    void StartOn(const ScriptedWhoisServer& server, const QString& entry = "127.0.0.1") {
        lookup.SetPort(server.Port());
        lookup.Start(entry);
    }
    bool WaitForShown(const QString& text) {
        return WaitUntil([&] { return box.toPlainText() == text; });
    }
    QString Shown() const { return box.toPlainText(); }

    QString query = "example.com";
    QPlainTextEdit box;
    PlainTextAnswerView view{box};
    WhoisLookup lookup{view};
    int ended = 0;
};

// --- What goes out ---

struct QueryRow {
    const char* name;
    QString input;
    QByteArray line;
};
void PrintTo(const QueryRow& row, std::ostream* out) {
    *out << row.name;
}

class QueryLineOnTheWire : public WhoisLookupTest,
                           public ::testing::WithParamInterface<QueryRow> {};

TEST_P(QueryLineOnTheWire, IsTheInputTrimmedOfBlanksWithCrLfSentOnce) {
    ScriptedWhoisServer server;
    query = GetParam().input;
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived(GetParam().line)) << server.Received().toStdString();
    RunEvents(100ms);
    EXPECT_EQ(server.Received(), GetParam().line);
    EXPECT_EQ(server.ClientCount(), 1u);
    EXPECT_EQ(lookup.state(), State::Receiving);
    EXPECT_EQ(Shown(), QString());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, QueryLineOnTheWire,
    ::testing::Values(QueryRow{"Plain", "example.com", "example.com\r\n"},
                      QueryRow{"OuterBlanksGo", "  example.com  ", "example.com\r\n"},
                      QueryRow{"InnerBlanksStay", " two  words ", "two  words\r\n"},
                      QueryRow{"TabsStay", "\t8.8.8.8\t ", "\t8.8.8.8\t\r\n"},
                      QueryRow{"BeyondAsciiGoesAsUtf8", QString::fromUtf16(u"b\u00FCcher.de"),
                               "b\xC3\xBC"
                               "cher.de\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

class BlankQuery : public WhoisLookupTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BlankQuery, SendsNothingShowsTheMessageAndKeepsTheConnection) {
    ScriptedWhoisServer server;
    query = GetParam();
    StartOn(server);
    ASSERT_TRUE(WaitForShown(" No domain name was entered."));
    EXPECT_EQ(server.ClientCount(), 1u);
    RunEvents(100ms);
    EXPECT_EQ(server.Received(), QByteArray());
    EXPECT_EQ(lookup.state(), State::OpenWithoutQuery);
    // Whatever the server sends then replaces the message.
    server.Send("% no query given\n");
    EXPECT_TRUE(WaitForShown("% no query given\n"));
}

INSTANTIATE_TEST_SUITE_P(Inputs, BlankQuery, ::testing::Values("", " ", "     "));

TEST_F(WhoisLookupTest, ServerEntryIsTrimmedOfBlanksBeforeConnecting) {
    ScriptedWhoisServer server;
    StartOn(server, "  127.0.0.1  ");
    EXPECT_EQ(lookup.Server(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(server.WaitForReceived("example.com\r\n"));
}

TEST_F(WhoisLookupTest, QueryIsReadWhenTheConnectionStandsNotAtStart) {
    ScriptedWhoisServer server;
    query = "typed before";
    StartOn(server);
    // Connection events come through the event loop, so this edit is before the connection.
    query = "typed after";
    EXPECT_TRUE(server.WaitForReceived("typed after\r\n"));
}

TEST_F(WhoisLookupTest, QueryGoesOutOnlyOnceWhateverTheBinderDoes) {
    ScriptedWhoisServer server;
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    lookup.SendQuery("again");
    RunEvents(50ms);
    EXPECT_EQ(server.Received(), QByteArray("example.com\r\n"));
}

// --- What comes back ---

TEST_F(WhoisLookupTest, EveryPieceShowsTheWholeAnswerSoFar) {
    ScriptedWhoisServer server;
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("Domain Name: EXAMPLE.COM\r\n");
    EXPECT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\n"));
    server.Send("Registrar: Example ");
    EXPECT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\nRegistrar: Example "));
    server.Send("Inc.\n");
    EXPECT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\nRegistrar: Example Inc.\n"));
    EXPECT_EQ(lookup.Buffer(),
              QStringLiteral("Domain Name: EXAMPLE.COM\r\nRegistrar: Example Inc.\n"));
}

struct AnswerRow {
    const char* name;
    std::vector<QByteArray> pieces;
    QString buffer; // the receive buffer afterwards
    QString shown;  // the box afterwards
};
void PrintTo(const AnswerRow& row, std::ostream* out) {
    *out << row.name;
}

class AnswerBytes : public WhoisLookupTest, public ::testing::WithParamInterface<AnswerRow> {};

TEST_P(AnswerBytes, ArriveInTheBufferAndTheBox) {
    ScriptedWhoisServer server;
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    for (const QByteArray& piece : GetParam().pieces) {
        const qint64 before = lookup.BytesReceived();
        server.Send(piece);
        ASSERT_TRUE(WaitUntil([&] { return lookup.BytesReceived() == before + piece.size(); }));
    }
    server.Close();
    ASSERT_TRUE(WaitUntil([&] { return lookup.state() == State::Ended; }));
    EXPECT_EQ(lookup.Buffer(), GetParam().buffer);
    EXPECT_EQ(Shown(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Pieces, AnswerBytes,
                         ::testing::Values(AnswerRow{"Utf8SplitAcrossPieces",
                                                     {"Stra\xC3",
                                                      "\x9F"
                                                      "e \xE2\x82",
                                                      "\xAC"},
                                                     QString::fromUtf16(u"Stra\u00DFe \u20AC"),
                                                     QString::fromUtf16(u"Stra\u00DFe \u20AC")},
                                           AnswerRow{"InvalidBytesShowAsReplacements",
                                                     {"a\xFE\xFF", "b\xC3"},
                                                     QString::fromUtf16(u"a\uFFFD\uFFFDb\uFFFD"),
                                                     QString::fromUtf16(u"a\uFFFD\uFFFDb\uFFFD")},
                                           AnswerRow{"NulBytesDoNotCutTheText",
                                                     {QByteArray("one\0two", 7),
                                                      QByteArray("\0", 1), "3"},
                                                     QString::fromUtf16(u"one\u2400two\u24003"),
                                                     QString::fromUtf16(u"one\u2400two\u24003")},
                                           AnswerRow{"LineEndsKeptAsSent",
                                                     {"a\r\nb\n", "c\r", "\nd"},
                                                     "a\r\nb\nc\r\nd",
                                                     "a\nb\nc\nd"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WhoisLookupTest, ServerClosingEndsTheLookupQuietlyWithEverythingShown) {
    ScriptedWhoisServer server;
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("last words");
    server.Close();
    ASSERT_TRUE(WaitUntil([&] { return ended == 1; }));
    EXPECT_EQ(lookup.state(), State::Ended);
    EXPECT_EQ(Shown(), QStringLiteral("last words"));
    RunEvents(50ms);
    EXPECT_EQ(ended, 1);
}

TEST_F(WhoisLookupTest, ServerResettingMidAnswerKeepsWhatArrivedAndALaterLookupWorks) {
    ScriptedWhoisServer server;
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("half an ans");
    ASSERT_TRUE(WaitForShown("half an ans"));
    server.Reset();
    ASSERT_TRUE(WaitUntil([&] { return lookup.state() == State::Ended; }));
    EXPECT_EQ(Shown(), QStringLiteral("half an ans"));

    StartOn(server);
    ASSERT_TRUE(server.WaitForClients(2));
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("whole answer");
    EXPECT_TRUE(WaitForShown("whole answer"));
}

TEST_F(WhoisLookupTest, SecondStartWhileAnswerArrivesShowsNothingOfTheFirstAnswer) {
    ScriptedWhoisServer server;
    bool firstAnswerShownLater = false;
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("FIRST part one\n");
    ASSERT_TRUE(WaitForShown("FIRST part one\n"));
    // More of the first answer is already in the kernel when the second lookup starts.
    server.Send(0, "FIRST part two\n");
    query = "second.example";
    StartOn(server);
    EXPECT_EQ(Shown(), QString());
    EXPECT_EQ(lookup.Buffer(), QString());
    QObject::connect(box.document(), &QTextDocument::contentsChanged,
                     [&] { firstAnswerShownLater |= Shown().contains("FIRST"); });
    ASSERT_TRUE(server.WaitForClients(2));
    ASSERT_TRUE(WaitUntil([&] { return server.Received(1) == "second.example\r\n"; }));
    server.Send(0, "FIRST part three\n");
    server.Send(1, "SECOND answer\n");
    ASSERT_TRUE(WaitForShown("SECOND answer\n"));
    RunEvents(100ms);
    EXPECT_FALSE(firstAnswerShownLater);
    EXPECT_EQ(Shown(), QStringLiteral("SECOND answer\n"));
    EXPECT_EQ(lookup.Buffer(), QStringLiteral("SECOND answer\n"));
}

// --- Connections that fail ---

quint16 ClosedLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

TEST_F(WhoisLookupTest, RefusedConnectionNamesServerAndReasonReplacingAnEarlierAnswer) {
    view.SetText("an earlier answer");
    lookup.SetPort(ClosedLoopbackPort());
    lookup.Start(" 127.0.0.1 ");
    ASSERT_TRUE(WaitUntil([&] { return ended == 1; }));
    EXPECT_EQ(Shown(),
              QStringLiteral(" Could not connect to 127.0.0.1: the connection was refused."));
    EXPECT_EQ(lookup.state(), State::Ended);
    EXPECT_EQ(lookup.Buffer(), QString());
}

// A listener whose accept queue is full: the kernel drops further connection attempts.
class UnansweringListener {
public:
    UnansweringListener() {
        listener_ = Socket();
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 0);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        for (int& filler : fillers_) {
            filler = Socket();
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~UnansweringListener() {
        for (const int filler : fillers_) {
            ::close(filler);
        }
        ::close(listener_);
    }
    quint16 Port() const { return port_; }

private:
    static int Socket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }
    int listener_ = -1;
    int fillers_[4] = {-1, -1, -1, -1};
    quint16 port_ = 0;
};

TEST_F(WhoisLookupTest, ServerAcceptingNothingInTimeEndsWithTheTimeoutMessage) {
    EXPECT_EQ(kWhoisConnectTimeout, 20s);
    UnansweringListener listener;
    RunEvents(50ms);
    lookup.SetPort(listener.Port());
    lookup.SetConnectTimeout(300ms);
    lookup.Start("127.0.0.1");
    RunEvents(150ms);
    EXPECT_EQ(lookup.state(), State::Connecting);
    ASSERT_TRUE(WaitUntil([&] { return ended == 1; }));
    EXPECT_EQ(Shown(),
              QStringLiteral(" Could not connect to 127.0.0.1: no connection within 0.3 seconds."));
}

TEST_F(WhoisLookupTest, StartWhileConnectingLeavesNoTraceOfTheFirstAttempt) {
    UnansweringListener listener;
    ScriptedWhoisServer server;
    lookup.SetPort(listener.Port());
    lookup.SetConnectTimeout(200ms);
    lookup.Start("127.0.0.1");
    StartOn(server);
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("answer");
    RunEvents(400ms);
    EXPECT_EQ(Shown(), QStringLiteral("answer"));
    EXPECT_EQ(ended, 0);
}

// --- Hostile servers ---

struct FloodRow {
    const char* name;
    std::size_t lineBytes;
};
void PrintTo(const FloodRow& row, std::ostream* out) {
    *out << row.name;
}

class EndlessAnswer : public WhoisLookupTest, public ::testing::WithParamInterface<FloodRow> {};

TEST_P(EndlessAnswer, IsCutAtTheLimitWithANoteAndTheWindowStaysResponsive) {
    const StreamedAnswer answer{-1, 1024, GetParam().lineBytes};
    StreamingWhoisServer server(answer);
    box.show();
    lookup.SetPort(server.Port());
    EventLoopStallMeter stalls;
    lookup.Start("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return ended == 1 && !view.HasPending(); }, 60s));
    EXPECT_EQ(lookup.BytesReceived(), kWhoisAnswerLimit);
    EXPECT_EQ(lookup.Buffer().size(), kWhoisAnswerLimit);
    EXPECT_EQ(lookup.Buffer().toStdString(),
              StreamingWhoisServer::AnswerText(answer, kWhoisAnswerLimit));
    // Neither answer is at a line end at the limit, so the note starts a line of its own.
    EXPECT_TRUE(Shown().endsWith("x\n The answer was cut off at 8 MiB.") ||
                Shown().endsWith("v\n The answer was cut off at 8 MiB."))
        << Shown().right(80).toStdString();
    // Apart from the breaks of an endless line, the box shows the buffer and the note.
    EXPECT_EQ(QString(Shown()).remove(u'\n'),
              QString(lookup.Buffer()).remove(u'\n') + " The answer was cut off at 8 MiB.");
    ASSERT_TRUE(WaitUntil([&] { return server.Done(); }));
    // The server was stopped, not drained: it got little further than the limit.
    EXPECT_LT(server.BytesSent(), kWhoisAnswerLimit + 8 * 1024 * 1024);
    // A generous bound; the benchmark measures the real figure.
    EXPECT_LT(stalls.Longest(), 1500ms);
}

INSTANTIATE_TEST_SUITE_P(Servers, EndlessAnswer,
                         ::testing::Values(FloodRow{"ManyLines", 79},
                                           FloodRow{"OneEndlessLine", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WhoisLookupTest, AnswerOfExactlyTheLimitIsNotCut) {
    const StreamedAnswer answer{64 * 1024, 1024, 79};
    StreamingWhoisServer server(answer);
    lookup.SetAnswerLimit(64 * 1024);
    lookup.SetPort(server.Port());
    lookup.Start("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return ended == 1 && !view.HasPending(); }));
    EXPECT_EQ(Shown().toStdString(), StreamingWhoisServer::AnswerText(answer, 64 * 1024));
}

TEST(TrimBlanks, RemovesOnlySpacesAtEitherEnd) {
    EXPECT_EQ(TrimBlanks("  a b  "), QStringLiteral("a b"));
    EXPECT_EQ(TrimBlanks("\t a \t"), QStringLiteral("\t a \t"));
    EXPECT_EQ(TrimBlanks(QString::fromUtf16(u"\u00A0a\u00A0")),
              QString::fromUtf16(u"\u00A0a\u00A0"));
    EXPECT_EQ(TrimBlanks("    "), QString());
    EXPECT_EQ(TrimBlanks(""), QString());
}

} // namespace
} // namespace tarnwick
