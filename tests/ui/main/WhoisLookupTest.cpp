// The WHOIS lookup on real sockets against servers on 127.0.0.1: how an answer ends, fails or
// is cut. What goes out and the box growing are seen through the window (Form1WhoisTest).
#include "ui/main/WhoisLookup.h"

#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedWhoisServer.h"
#include "ui/main/PlainTextAnswerView.h"

#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using testing::RunEvents;
using testing::ScriptedWhoisServer;
using testing::WaitUntil;

// A lookup bound the way the main window binds it.
class WhoisLookupTest : public ::testing::Test {
protected:
    WhoisLookupTest() {
        QObject::connect(&lookup, &WhoisLookup::Connect,
                         [this] { lookup.SendQuery("example.com"); });
        QObject::connect(&lookup, &WhoisLookup::DataArrival, [this] { lookup.TakeData(); });
        QObject::connect(&lookup, &WhoisLookup::Ended, [this] { ++ended; });
    }
    void StartOn(quint16 port) {
        lookup.SetPort(port);
        lookup.Start("127.0.0.1");
    }
    bool WaitForShown(const QString& text) {
        return WaitUntil([&] { return box.toPlainText() == text; });
    }
    // Sends the pieces one by one, each taken before the next.
    void Send(ScriptedWhoisServer& server, const std::vector<QByteArray>& pieces) {
        for (const QByteArray& piece : pieces) {
            const qint64 before = lookup.BytesReceived();
            server.Send(piece);
            ASSERT_TRUE(WaitUntil([&] { return lookup.BytesReceived() == before + piece.size(); }));
        }
    }
    QPlainTextEdit box;
    PlainTextAnswerView view{box};
    WhoisLookup lookup{view};
    int ended = 0;
};

// Guards bytes to text through the socket (a character split between pieces, NUL, a character
// cut by the end), line ends kept in the buffer as sent, nothing lost when the server closes,
// and one end of the lookup.
TEST_F(WhoisLookupTest, ServerClosingEndsTheAnswerWithEverythingShown) {
    ScriptedWhoisServer server;
    StartOn(server.Port());
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    Send(server, {"Stra\xC3",
                  QByteArray("\x9F"
                             "e\0",
                             3),
                  "\r\nb\n", "c\r", "\nd\xE2\x82"});
    server.Close();
    ASSERT_TRUE(WaitUntil([&] { return ended == 1; }));
    EXPECT_EQ(lookup.Buffer(), QString::fromUtf16(u"Stra\u00DFe\u2400\r\nb\nc\r\nd\uFFFD\uFFFD"));
    EXPECT_TRUE(WaitForShown(QString::fromUtf16(u"Stra\u00DFe\u2400\nb\nc\nd\uFFFD\uFFFD")));
    RunEvents(50ms);
    EXPECT_EQ(ended, 1);
}

// Guards a reset mid-answer: what arrived stays shown, and a later lookup works.
TEST_F(WhoisLookupTest, ServerResettingMidAnswerKeepsWhatArrived) {
    ScriptedWhoisServer server;
    StartOn(server.Port());
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    Send(server, {"half an ans"});
    server.Reset();
    ASSERT_TRUE(WaitUntil([&] { return ended == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return box.toPlainText().startsWith("half an ans"); }));
    StartOn(server.Port());
    ASSERT_TRUE(server.WaitForClients(2));
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("whole answer");
    EXPECT_TRUE(WaitForShown("whole answer"));
}

// Guards the connect timeout (20 s; shortened here) and its message, and a Start while
// connecting leaving no trace of the first attempt. A listener with a full accept queue makes
// the kernel drop further connection attempts.
TEST_F(WhoisLookupTest, ConnectionNotAcceptedInTimeNamesServerAndReason) {
    EXPECT_EQ(kWhoisConnectTimeout, 20s);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener, 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    int fillers[4];
    for (int& filler : fillers) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
    }
    RunEvents(50ms);
    lookup.SetConnectTimeout(300ms);
    StartOn(ntohs(address.sin_port));
    RunEvents(150ms);
    EXPECT_EQ(lookup.state(), WhoisLookup::State::Connecting);
    ASSERT_TRUE(WaitUntil([&] { return ended == 1; }));
    EXPECT_TRUE(WaitForShown(" Could not connect to 127.0.0.1: no connection within 0.3 seconds."));
    ScriptedWhoisServer server;
    StartOn(ntohs(address.sin_port));
    StartOn(server.Port());
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("answer");
    RunEvents(400ms);
    EXPECT_EQ(box.toPlainText(), QStringLiteral("answer"));
    EXPECT_EQ(ended, 1);
    for (const int socket : fillers)
        ::close(socket);
    ::close(listener);
}

// Guards the cap: an answer past the limit is cut there with a note on a line of its own; an
// answer of exactly the limit is whole. The program's limit is 8 MiB.
TEST_F(WhoisLookupTest, AnswerPastTheLimitIsCutWithANote) {
    EXPECT_EQ(kWhoisAnswerLimit, 8 * 1024 * 1024);
    const QByteArray lines = (QByteArray(63, 'x') + '\n').repeated(16384);
    for (const bool past : {false, true}) {
        ScriptedWhoisServer server;
        lookup.SetAnswerLimit(1024 * 1024);
        StartOn(server.Port());
        ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
        server.Send(lines + (past ? "y" : ""));
        if (!past)
            server.Close();
        ASSERT_TRUE(WaitUntil([&] { return ended == 1 + past; }, 20s)) << past;
        EXPECT_EQ(lookup.Buffer().size(), 1024 * 1024);
        const QString note = past ? " The answer was cut off at 1 MiB." : "";
        EXPECT_TRUE(WaitForShown(QString::fromLatin1(lines) + note)) << past;
    }
}

} // namespace
} // namespace tarnwick
