// "Trace IP" beyond one server: referrals, the busy pointer, and names that give no address.
// Every server is on a loopback address; name look-ups run in namespaces of their own.
#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedWhoisServer.h"
#include "tests/ui/main/Form1Fixture.h"
#include "ui/main/PlainTextAnswerView.h"
#include "ui/main/WhoisLookup.h"
#include "ui/main/WhoisReferral.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <vector>

#include <unistd.h>

// IANA's form of a referral, and the heading that the box shows above the referred answer.
#define REFER(n) "refer: 127.0.0." #n "\n"
#define FROM(n) "\n Answer from 127.0.0." #n ":\n\n"

namespace tarnwick::testing {
namespace {

using namespace std::chrono_literals;

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

struct ParseRow {
    const char* name;
    const char* answer;
    const char* found; // "host", "host:port", or empty for none
};

class ReferralLine : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ReferralLine, NamesTheWhoisServerToAskNext) {
    const auto referral = FindReferral(QString::fromUtf8(GetParam().answer));
    const QString port = referral && referral->port ? ":" + QString::number(*referral->port) : "";
    EXPECT_EQ(referral ? referral->host + port : "", QString::fromUtf8(GetParam().found));
}

const ParseRow kParseRows[] = {
    {"PortAndSlash", "ReferralServer: whois://a.net:4321/\r\n", "a.net:4321"},
    {"AnyCaseBlanksAround", "referralserver:\t WHOIS://A.net \r\n", "A.net"},
    {"FirstLineCounts", "REFER: a.net\nReferralServer: whois://b.net\n", "a.net"},
    {"FirstLineCountsIfNotWhois", "ReferralServer: rwhois://a.net:4321\nrefer: b.net\n", ""},
    {"SimilarKeys", "Ref: https://x.net\nResourceLink: a.net\nComment: refer: b.net\n", ""},
    {"Path", "ReferralServer: whois://a.net/path\n", ""},
    {"PortTooLarge", "ReferralServer: whois://a.net:65536\n", ""},
    {"NotAHostName", "refer: a.net; rm -rf ~\n", ""},
};
INSTANTIATE_TEST_SUITE_P(Answers, ReferralLine, ::testing::ValuesIn(kParseRows), kRowName);

// Answers every query line with its text, then closes.
struct CannedServer {
    CannedServer(const QString& address, quint16 port) {
        listening = server.listen(QHostAddress(address), port);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* client = server.nextPendingConnection()) {
                queries.append(QByteArray());
                QObject::connect(client, &QTcpSocket::readyRead,
                                 [this, client, at = queries.size() - 1] {
                                     queries[at] += client->readAll();
                                     if (queries[at].endsWith("\r\n")) {
                                         client->write(answer);
                                         client->disconnectFromHost();
                                     }
                                 });
            }
        });
    }
    QTcpServer server;
    bool listening = false;
    QByteArray answer;
    QList<QByteArray> queries;
};

class Referrals : public Form1Fixture {
protected:
    void SetUp() override {
        Form1Fixture::SetUp();
        // Servers 0 to 4 on 127.0.0.1 to 127.0.0.5 share the port that referrals without one
        // go to; server 5 has a port of its own.
        servers.emplace_back(QStringLiteral("127.0.0.1"), 0);
        const quint16 port = servers[0].server.serverPort();
        for (int i = 2; i <= 5; ++i) {
            servers.emplace_back(QStringLiteral("127.0.0.%1").arg(i), port);
        }
        servers.emplace_back(QStringLiteral("127.0.0.1"), 0);
        ASSERT_TRUE(servers[4].listening);
        // Typing after the query went out changes nothing that a referred server is asked.
        QObject::connect(form->Winsock2, &WhoisLookup::Connect,
                         [this] { form->Text1->setText(QStringLiteral("typed later")); });
        form->ServerList->setItemText(0, QStringLiteral(" 127.0.0.1 "));
        form->Winsock2->SetPort(port);
        form->Text1->setText(QStringLiteral("193.0.6.139"));
        form->show();
    }
    QString Fill(QString text) const {
        return text.replace("{5}", QString::number(servers[5].server.serverPort()));
    }
    void TraceIp() { QTest::mouseClick(form->Button2, Qt::LeftButton); }
    QString Shown() const { return form->Box->toPlainText(); }
    bool WaitForShown(const QString& text) {
        return WaitUntil([&] { return Shown() == text; }, 10s);
    }
    // The pointer that the user sees over the middle of the box.
    Qt::CursorShape PointerOverBox() const {
        return form->childAt(form->Box->geometry().center())->cursor().shape();
    }

    std::deque<CannedServer> servers;
};

struct ChainRow {
    const char* name;
    std::vector<const char*> answers; // of servers 0 to 5; missing: "S<number>\n"
    const char* shown;                // the box and Input_Label at the end
    std::string asked;                // the servers that got the query, once each
    const char* note = "";            // shown after that, not part of Input_Label
    qint64 limit = kWhoisAnswerLimit;
};

class ReferralChain : public Referrals, public ::testing::WithParamInterface<ChainRow> {};

TEST_P(ReferralChain, ShowsEachAnswerUnderTheServerItCameFrom) {
    const ChainRow& row = GetParam();
    for (std::size_t i = 0; i < servers.size(); ++i) {
        servers[i].answer = i < row.answers.size() ? Fill(row.answers[i]).toUtf8()
                                                   : "S" + QByteArray::number(i) + "\n";
    }
    form->Winsock2->SetAnswerLimit(row.limit);
    TraceIp();
    EXPECT_EQ(PointerOverBox(), Qt::BusyCursor);
    const QString shown = Fill(row.shown);
    ASSERT_TRUE(WaitUntil([&] { return form->Input_Label->text() == shown; }, 10s));
    EXPECT_TRUE(WaitForShown(shown + row.note)) << Shown().toStdString();
    RunEvents(50ms);
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const auto times = std::count(row.asked.begin(), row.asked.end(), '0' + i);
        EXPECT_EQ(servers[i].queries, QList<QByteArray>(times, "193.0.6.139\r\n")) << i;
    }
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
}

// clang-format off
const ChainRow kChainRows[] = {
    {"ArinFormWithPort", {"ReferralServer: whois://127.0.0.1:{5}/"},
     "ReferralServer: whois://127.0.0.1:{5}/\n" FROM(1) "S5\n", "05"},
    {"ArinFormWithoutPort", {"ReferralServer: whois://127.0.0.2\n"},
     "ReferralServer: whois://127.0.0.2\n" FROM(2) "S1\n", "01"},
    {"IanaRefer", {REFER(2)}, REFER(2) FROM(2) "S1\n", "01"},
    {"LoopEndsAtAServerAlreadyAsked", {REFER(2), REFER(1)}, REFER(2) FROM(2) REFER(1), "01"},
    {"ChainOfFourEndsAfterThreeReferrals", {REFER(2), REFER(3), REFER(4), REFER(5)},
     REFER(2) FROM(2) REFER(3) FROM(3) REFER(4) FROM(4) REFER(5), "0123"},
    {"RwhoisLeftAlone", {"ReferralServer: rwhois://127.0.0.2\n"},
     "ReferralServer: rwhois://127.0.0.2\n", "0"},
    {"ReferredServerRefusing", {REFER(9)}, REFER(9) FROM(9), "0",
     " Could not connect to 127.0.0.9: the connection was refused."},
    {"CutAnswerIsNotFollowed", {REFER(2) "0123456789"}, REFER(2) "012", "0",
     "\n The answer was cut off at 20 bytes.", 20},
    {"LimitCountsTheWholeChain", {REFER(2), "S1 0123456789\n"}, REFER(2) FROM(2) "S1 ", "01",
     "\n The answer was cut off at 20 bytes.", 20},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Answers, ReferralChain, ::testing::ValuesIn(kChainRows), kRowName);

TEST_F(Referrals, SecondClickWhileTheReferredAnswerArrivesEndsTheWholeChain) {
    ScriptedWhoisServer referred;
    servers[0].answer = "ReferralServer: whois://127.0.0.1:" + QByteArray::number(referred.Port());
    TraceIp();
    ASSERT_TRUE(referred.WaitForReceived("193.0.6.139\r\n"));
    EXPECT_EQ(PointerOverBox(), Qt::BusyCursor);
    referred.Send("inetnum: first\n");
    ASSERT_TRUE(WaitForShown(servers[0].answer + "\n" FROM(1) "inetnum: first\n"));
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
    referred.Send("FIRST more\n");
    servers[0].answer = "second answer\n";
    TraceIp();
    EXPECT_EQ(Shown(), QString());
    EXPECT_EQ(PointerOverBox(), Qt::BusyCursor);
    ASSERT_TRUE(WaitForShown("second answer\n"));
    referred.Send("FIRST still more\n");
    RunEvents(100ms);
    EXPECT_EQ(Shown(), QStringLiteral("second answer\n"));
    EXPECT_EQ(form->Input_Label->text(), QStringLiteral("second answer\n"));
    // A window closed while connecting leaves no busy pointer behind.
    TraceIp();
    form->close();
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
}

TEST_F(Referrals, ArinAnswerForARipeAddressLeadsToTheRipeAnswerUnderItsHeading) {
    QFile file(QStringLiteral(TARNWICK_TEST_DATA "/arin-ripe-address.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString arin = Fill(QString::fromUtf8(file.readAll()));
    const char ripe[] = "% This is the RIPE Database query service.\n\n"
                        "inetnum:        193.0.0.0 - 193.0.7.255\nnetname:        RIPE-NCC\n";
    servers[0].answer = arin.toUtf8();
    servers[5].answer = ripe;
    TraceIp();
    EXPECT_TRUE(WaitForShown(arin + FROM(1) + ripe)) << Shown().toStdString();
}

// A server name that gives no address: missing, or not looked up at all. Each case runs this
// binary again inside network and mount namespaces of its own, with resolver settings
// bind-mounted over /etc there only, so no query can leave the machine.
struct ResolverRow {
    const char* name;
    const char* hosts; // where nsswitch.conf looks host names up
    const char* reason;
};

class UnresolvedServer : public ::testing::TestWithParam<ResolverRow> {};

TEST_P(UnresolvedServer, SaysWhetherTheNameIsMissingOrCouldNotBeLookedUp) {
    if (qEnvironmentVariableIsSet("TARNWICK_TEST_IN_NAMESPACE")) {
        QPlainTextEdit box;
        PlainTextAnswerView view(box);
        WhoisLookup lookup(view);
        lookup.Start(QStringLiteral("whois.tarnwick.invalid"));
        const QString shown = QStringLiteral(" Could not connect to whois.tarnwick.invalid: %1.");
        EXPECT_TRUE(
            WaitUntil([&] { return box.toPlainText() == shown.arg(GetParam().reason); }, 25s))
            << box.toPlainText().toStdString();
        return;
    }
    if (geteuid() != 0 || std::system("unshare --net --mount true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs root to make network and mount namespaces (CI runs as root)";
    }
    const QTemporaryDir etc;
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    // Nothing listens on port 53 in the namespace, and without a resolv.conf the resolver asks
    // 127.0.0.1 all the same. A running nscd would answer from outside: it is hidden.
    const std::string script =
        "printf \"hosts: $4\\n\" >$1/n && printf \"nameserver 127.0.0.1\\n\" >$1/r && "
        "ip link set lo up && mount --bind $1/n /etc/nsswitch.conf && "
        "{ [ ! -e /etc/resolv.conf ] || mount --bind $1/r /etc/resolv.conf; } && "
        "{ [ ! -d /run/nscd ] || mount -t tmpfs none /run/nscd; } && "
        "TARNWICK_TEST_IN_NAMESPACE=1 exec $2 --gtest_filter=$3";
    const std::string command =
        "unshare --net --mount sh -c '" + script + "' sh " + etc.path().toStdString() + " " +
        std::filesystem::read_symlink("/proc/self/exe").string() + " " + test.test_suite_name() +
        "." + test.name() + " '" + GetParam().hosts + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Resolvers, UnresolvedServer, ::testing::Values(
    ResolverRow{"NameInNoSource", "files", "the name was not found"},
    ResolverRow{"NameServerNotAnswering", "files dns", "the name could not be looked up"}),
    kRowName);
// clang-format on

} // namespace
} // namespace tarnwick::testing
