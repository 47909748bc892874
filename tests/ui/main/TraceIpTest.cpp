// "Trace IP" through the main window: what goes out, what the box shows, how an answer ends,
// fails or is cut, referrals, the busy pointer, and names that give no address. Every server is
// on a loopback address; name look-ups run in namespaces of their own.
#include "tests/support/NamedRows.h"
#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedWhoisServer.h"
#include "tests/ui/main/Form1Fixture.h"
#include "ui/main/PlainTextAnswerView.h"
#include "whois/AnswerLines.h"
#include "whois/WhoisLookup.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCursor>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <ostream>
#include <tuple>
#include <vector>

#include <unistd.h>

// IANA's form of a referral, and the heading that the box shows above the referred answer.
#define REFER(n) "refer: 127.0.0." #n "\n"
#define FROM(n) "\n Answer from 127.0.0." #n ":\n\n"
#define COULD_NOT(reason) " Could not connect to %1: " reason "."

namespace tarnwick::testing {
namespace {

using testing::PrintTo; // rows print by name

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

class TraceIp : public Form1Fixture {
protected:
    void SetUp() override {
        Form1Fixture::SetUp();
        // Servers 0 to 4 on 127.0.0.1 to 127.0.0.5 share the port that referrals without one
        // go to; server 5 has a port of its own.
        servers.emplace_back();
        for (int i = 2; i <= 5; ++i)
            servers.emplace_back(QStringLiteral("127.0.0.%1").arg(i), servers[0].Port());
        servers.emplace_back();
        ASSERT_EQ(servers[4].Port(), servers[0].Port());
        // Never the public server: the entry points at this test's own servers.
        form->ServerList->setItemText(0, QStringLiteral(" 127.0.0.1 "));
        form->Winsock2->SetPort(servers[0].Port());
        form->show();
    }
    QString Fill(QString text) const {
        return text.replace("{5}", QString::number(servers[5].Port()));
    }
    void Click(const QString& typed = QStringLiteral("193.0.6.139")) {
        form->Text1->setText(typed);
        QTest::mouseClick(form->Button2, Qt::LeftButton);
    }
    QString Shown() const { return form->Box->toPlainText(); }
    bool WaitForShown(const QString& text) {
        return WaitUntil([&] { return Shown() == text; }, 10s);
    }
    // The pointer that the user sees over the middle of the box.
    Qt::CursorShape PointerOverBox() const {
        return form->childAt(form->Box->geometry().center())->cursor().shape();
    }

    std::deque<ScriptedWhoisServer> servers;
};

struct ChainRow {
    const char* name;
    const char* typed;               // into Text1 once the click has started the lookup
    const char* query;               // the line that every server asked gets, without CR LF
    std::vector<QByteArray> answers; // of servers 0 to 5; missing: "S<number>\n"
    QString shown;                   // Input_Label at the end; the box shows it with LF for CR LF
    std::string asked;               // the servers that got the query, once each
    const char* note = "";           // shown after that, not part of Input_Label
    qint64 limit = kWhoisAnswerLimit;
};

class ReferralChain : public TraceIp, public ::testing::WithParamInterface<ChainRow> {};

TEST_P(ReferralChain, ShowsEachAnswerUnderTheServerItCameFrom) {
    const ChainRow& row = GetParam();
    for (std::size_t i = 0; i < servers.size(); ++i)
        servers[i].answer = i < row.answers.size()
                                ? Fill(QString::fromUtf8(row.answers[i])).toUtf8()
                                : "S" + QByteArray::number(i) + "\n";
    form->Winsock2->SetAnswerLimit(row.limit);
    // The query is read when the connection stands, and read once: what is typed after it went
    // out changes nothing that a referred server is asked.
    Click(QStringLiteral("not yet"));
    form->Text1->setText(QString::fromUtf8(row.typed));
    QObject::connect(form->Winsock2, &WhoisLookup::Connect,
                     [this] { form->Text1->setText(QStringLiteral("typed later")); });
    EXPECT_EQ(PointerOverBox(), Qt::BusyCursor);
    const QString shown = Fill(row.shown);
    ASSERT_TRUE(WaitUntil([&] { return form->Input_Label->text() == shown; }, 10s));
    EXPECT_TRUE(WaitForShown(QString(shown).replace("\r\n", "\n") + row.note))
        << Shown().toStdString();
    RunEvents(50ms);
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const auto times = std::count(row.asked.begin(), row.asked.end(), '0' + i);
        EXPECT_EQ(servers[i].Received(), (row.query + QByteArray("\r\n")).repeated(times)) << i;
    }
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
    EXPECT_FALSE(form->Input_Label->isVisible());
}

const QByteArray kLines = (QByteArray(63, 'x') + '\n').repeated(16384); // 1 MiB

// clang-format off
const ChainRow kChainRows[] = {
    {"ArinFormWithPort", "  193.0.6.139  ", "193.0.6.139",
     {"ReferralServer: whois://127.0.0.1:{5}/\r\n"},
     "ReferralServer: whois://127.0.0.1:{5}/\r\n" FROM(1) "S5\n", "05"},
    {"IanaRefer", "\t\xC2\xA0" "b\xC3\xBC" "cher  x\t ", "\t\xC2\xA0" "b\xC3\xBC" "cher  x\t",
     {REFER(2)}, REFER(2) FROM(2) "S1\n", "01"},
    {"LoopEndsAtAServerAlreadyAsked", "q", "q", {REFER(2), REFER(1)},
     REFER(2) FROM(2) REFER(1), "01"},
    {"ChainOfFourEndsAfterThreeReferrals", "q", "q", {REFER(2), REFER(3), REFER(4), REFER(5)},
     REFER(2) FROM(2) REFER(3) FROM(3) REFER(4) FROM(4) REFER(5), "0123"},
    {"ExactlyTheLimitIsWhole", "q", "q", {"0123456789012345678\n"}, "0123456789012345678\n",
     "0", "", 20},
    {"CutAnswerIsNotFollowed", "q", "q", {REFER(2) "0123456789"}, REFER(2) "012", "0",
     "\n The answer was cut off at 20 bytes.", 20},
    {"LimitCountsTheWholeChain", "q", "q", {REFER(2), "S1 0123456789\n"},
     REFER(2) FROM(2) "S1 ", "01", "\n The answer was cut off at 20 bytes.", 20},
    {"PastTheLimitIsCut", "q", "q", {kLines + "y"}, QString::fromLatin1(kLines), "0",
     " The answer was cut off at 1 MiB.", 1024 * 1024},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Answers, ReferralChain, ::testing::ValuesIn(kChainRows), kRowName);

// Guards the box growing with every piece (never a later piece alone), the buffer as sent,
// characters of two, three and four bytes split between pieces, NUL bytes, bytes that are no
// character, a character cut by the server closing, and nothing lost at the close.
TEST_F(TraceIp, TheBoxGrowsWithEveryPieceOfTheAnswer) {
    form->Box->setEnabled(false);
    Click();
    EXPECT_TRUE(form->Box->isEnabled());
    ASSERT_TRUE(servers[0].WaitForReceived("193.0.6.139\r\n"));
    const std::pair<QByteArray, QStringView> pieces[] = {
        {"\xEF\xBB\xBFStra\xC3", u"\uFEFFStra"},
        {QByteArray("\x9F\x65\0\xE2\x82", 5), u"\uFEFFStra\u00DFe\u2400"},
        {"\xAC \xF0\x9F\x98", u"\uFEFFStra\u00DFe\u2400\u20AC "},
        {"\x80\r\nb\xE2\x82", u"\uFEFFStra\u00DFe\u2400\u20AC \U0001F600\nb"},
        {"(\xFF\r", u"\uFEFFStra\u00DFe\u2400\u20AC \U0001F600\nb\uFFFD\uFFFD(\uFFFD\n"},
        {"\nd\xC3", u"\uFEFFStra\u00DFe\u2400\u20AC \U0001F600\nb\uFFFD\uFFFD(\uFFFD\nd"}};
    for (const auto& [bytes, shown] : pieces) {
        servers[0].Send(bytes);
        ASSERT_TRUE(WaitForShown(shown.toString())) << bytes.toHex().data();
    }
    servers[0].Close();
    const QString whole = std::rbegin(pieces)->second.toString().replace("\n", "\r\n") + u'\uFFFD';
    EXPECT_TRUE(WaitUntil([&] { return form->Input_Label->text() == whole; }));
    EXPECT_TRUE(WaitForShown(QString(whole).replace("\r\n", "\n")));
}

// Guards the blank query: the message, nothing sent, the connection kept open, and what the
// server sends then replacing the message. Then a reset mid-answer: what arrived stays shown, a
// referral line it cut short is not followed, and the next lookup works.
TEST_F(TraceIp, BlankQueryResetAndRefusalAreShownInTheBox) {
    form->Winsock2->SetAnswerTimeout(100ms); // nothing was asked: nothing is waited for
    Click(QStringLiteral("   "));
    ASSERT_TRUE(WaitForShown(" No domain name was entered."));
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
    RunEvents(300ms);
    EXPECT_EQ(servers[0].Received(), QByteArray());
    servers[0].Send("% no query given\n");
    EXPECT_TRUE(WaitForShown("% no query given\n"));
    form->Winsock2->SetAnswerTimeout(kWhoisAnswerTimeout);
    Click();
    ASSERT_TRUE(servers[0].WaitForReceived("193.0.6.139\r\n"));
    servers[0].Send("refer: 127.0.0.2"); // of 127.0.0.23, say
    servers[0].Reset();
    ASSERT_TRUE(WaitUntil([&] { return form->Input_Label->text() == "refer: 127.0.0.2"; }));
    EXPECT_TRUE(Shown().startsWith("refer: 127.0.0.2"));
    EXPECT_EQ(servers[1].Received(), "");
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
    Click();
    ASSERT_TRUE(servers[0].WaitForReceived("193.0.6.139\r\n193.0.6.139\r\n"));
    servers[0].Send("whole answer");
    EXPECT_TRUE(WaitForShown("whole answer"));
}

// Guards a server that takes the query and then stays silent after some of its answer: the lookup
// ends with a note (30 s; shortened here, as are the 20 s connect timeout and the 8 MiB cap
// elsewhere). A server that keeps sending is waited for, however long it takes.
TEST_F(TraceIp, SilentServerEndsTheLookupWithANote) {
    EXPECT_EQ(std::tuple(kWhoisAnswerTimeout, kWhoisConnectTimeout, kWhoisAnswerLimit),
              std::tuple(30s, 20s, 8 * 1024 * 1024));
    // Pieces far closer together than the timeout and longer in all, so that a slow machine
    // only delays them.
    form->Winsock2->SetAnswerTimeout(2s);
    Click();
    ASSERT_TRUE(servers[0].WaitForReceived("193.0.6.139\r\n"));
    for (int piece = 0; piece < 12; ++piece) {
        servers[0].Send("slow\n");
        RunEvents(200ms);
    }
    const QString note = QStringLiteral(" Nothing came from 127.0.0.%1 for 2 seconds.");
    EXPECT_TRUE(WaitForShown(QString("slow\n").repeated(12) + note.arg(1)));
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
}

// Guards a second click while the referred answer arrives: the busy pointer until the first
// data, nothing of the first lookup shown from the click on, not even half a character, and
// Ended once for every lookup that was running, the window's too.
TEST_F(TraceIp, SecondClickWhileTheReferredAnswerArrivesEndsTheWholeChain) {
    ScriptedWhoisServer referred;
    servers[0].answer =
        "ReferralServer: whois://127.0.0.1:" + QByteArray::number(referred.Port()) + "\n";
    int ended = 0;
    QObject::connect(form->Winsock2, &WhoisLookup::Ended, [&] { ++ended; });
    Click();
    ASSERT_TRUE(referred.WaitForReceived("193.0.6.139\r\n"));
    EXPECT_EQ(PointerOverBox(), Qt::BusyCursor);
    referred.Send("inetnum: FIRST\n\xE2\x82");
    ASSERT_TRUE(WaitForShown(servers[0].answer + FROM(1) "inetnum: FIRST\n"));
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
    referred.Send("\xAC FIRST more\n"); // already in the kernel when the second lookup starts
    servers[0].answer.clear();
    Click(QStringLiteral("second"));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(form->Input_Label->text(), "");
    bool firstShownLater = Shown() != QString();
    QObject::connect(form->Box, &QPlainTextEdit::textChanged, form.get(),
                     [&] { firstShownLater |= Shown().contains("FIRST"); });
    EXPECT_EQ(PointerOverBox(), Qt::BusyCursor);
    ASSERT_TRUE(servers[0].WaitForReceived("193.0.6.139\r\nsecond\r\n"));
    servers[0].Send("second answer\n");
    ASSERT_TRUE(WaitForShown("second answer\n"));
    RunEvents(100ms);
    EXPECT_FALSE(firstShownLater);
    // A window closed while connecting leaves no busy pointer behind.
    Click();
    form->close();
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor);
}

// The answer box on its own, handed the answer a piece at a time.
class PlainTextAnswerViewTest : public ::testing::Test {
protected:
    void Append(const QString& piece) {
        view_.Append(piece, whole_);
        whole_ += piece;
    }
    bool Shows(const QString& text) {
        return WaitUntil([&] { return box_.toPlainText() == text; });
    }
    QPlainTextEdit box_;
    PlainTextAnswerView view_{box_};
    QString whole_;
};

// Guards the box after the user typed into it: the next piece shows the whole answer again.
TEST_F(PlainTextAnswerViewTest, NeverDriftsFromTheAnswer) {
    Append("answer\r");
    QTextCursor(box_.document()).insertText("typed by the user ");
    Append("\n!");
    EXPECT_TRUE(Shows("answer\n!"));
}

struct BoxRow {
    const char* name;
    QString pieces; // '|' between two pieces
    QString shown;
};

class LineEndsInTheBox : public PlainTextAnswerViewTest,
                         public ::testing::WithParamInterface<BoxRow> {};

// Guards line ends as the box shows them (which ends a line: WhoisTest's LineEnd): a lone CR one
// break of its own; an endless line broken at the limit across pieces, never between the halves
// of a pair. A CR LF, whole or split between pieces, is one break: TheBoxGrowsWithEveryPiece.
TEST_P(LineEndsInTheBox, ShowEachLineEndAsOneBreak) {
    for (const QString& piece : GetParam().pieces.split(u'|'))
        Append(piece);
    EXPECT_TRUE(Shows(GetParam().shown)) << box_.toPlainText().toStdString();
}

const QString kLong(kLongestShownLine - 1, u'x');
const QString kFace = QString::fromUtf16(u"\U0001F600");
const BoxRow kBoxRows[] = {
    {"LoneCrsAndLfCr", "a\r|\r|b\n\r", "a\n\nb\n\n"},
    {"EndlessLineAcrossPieces", kLong + "|xy|\n" + kLong + "x", kLong + "x\ny\n" + kLong + "x"},
    {"SurrogatePairKeptWhole", kLong + kFace + kFace, kLong + kFace + "\n" + kFace},
};
INSTANTIATE_TEST_SUITE_P(Texts, LineEndsInTheBox, ::testing::ValuesIn(kBoxRows), kRowName);

// Runs the current test again in network and mount namespaces of its own, and says whether it
// passed there. Resolver settings are bind-mounted over /etc there only, so no query can leave
// the machine: host names come from `hostsSource` with a hosts file of the test's own. This
// machine is behind NAT, as most users are: 10.9.0.2 on a veth, and 192.0.2.9 of its own. Across
// the veth, in the namespace "far" that only this one sees, 203.0.113.1 and 198.51.100.0/24 are
// public hosts (a connection to a port where no test server listens is refused), and packets
// to any other address are dropped.
bool InNamespace() {
    return qEnvironmentVariableIsSet("TARNWICK_TEST_IN_NAMESPACE");
}
void RerunInNamespace(const char* hostsSource) {
    if (geteuid() != 0 || std::system("unshare --net --mount true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs root to make network and mount namespaces (CI runs as root)";
    }
    const QTemporaryDir etc;
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    // Nothing listens on port 53 in the namespace, and without a resolv.conf the resolver asks
    // 127.0.0.1 all the same. A running nscd would answer from outside: it is hidden.
    const std::string script =
        "printf \"hosts: $4\\n\" >$1/n && printf \"nameserver 127.0.0.1\\n\" >$1/r && "
        "printf \"127.0.0.2 inside.tarnwick.test\\n127.0.0.9 refusing.tarnwick.test\\n"
        "192.0.2.99 slow.tarnwick.test\\n198.51.100.8 several.tarnwick.test\\n"
        "198.51.100.9 several.tarnwick.test\\n198.51.100.7 several.tarnwick.test "
        "mixed.tarnwick.test\\n10.0.0.5 mixed.tarnwick.test\\n\" >$1/h && "
        "ip link set lo up && mkdir -p /run/netns && mount -t tmpfs none /run/netns && "
        "ip netns add far && ip link add tw0 type veth peer name tw1 netns far && "
        "ip addr add 10.9.0.2/24 dev tw0 && ip addr add 192.0.2.9/32 dev tw0 && "
        "ip link set tw0 up && ip route add default via 10.9.0.1 && ip -n far link set lo up && "
        "ip -n far addr add 10.9.0.1/24 dev tw1 && ip -n far link set tw1 up && "
        "ip -n far addr add 203.0.113.1/32 dev lo && ip -n far addr add 198.51.100.1/24 dev lo && "
        "mount --bind $1/n /etc/nsswitch.conf && "
        "mount --bind $1/h /etc/hosts && "
        "{ [ ! -e /etc/resolv.conf ] || mount --bind $1/r /etc/resolv.conf; } && "
        "{ [ ! -d /run/nscd ] || mount -t tmpfs none /run/nscd; } && "
        "TARNWICK_TEST_IN_NAMESPACE=1 exec $2 --gtest_filter=$3";
    const std::string command =
        "unshare --net --mount sh -c '" + script + "' sh " + etc.path().toStdString() + " " +
        std::filesystem::read_symlink("/proc/self/exe").string() + " " + test.test_suite_name() +
        "." + test.name() + " '" + hostsSource + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

// A public server's referral, to each form of an address that is not public, to names, and to
// public addresses. What a referral may lead to is judged on the addresses it resolves to, and
// the referrer on its own address, never the client's.
struct TargetRow {
    const char* name;
    const char* target;
    const char* shownAfterTheAnswer; // %1: the target
};

class ReferralFromAPublicServer : public TraceIp,
                                  public ::testing::WithParamInterface<TargetRow> {};

TEST_P(ReferralFromAPublicServer, LeadsOnlyToPublicAddresses) {
    if (!InNamespace())
        return RerunInNamespace("files");
    ScriptedWhoisServer own(QStringLiteral("0.0.0.0")); // every address of this machine
    ScriptedWhoisServer registry(QStringLiteral("203.0.113.1"), 0, "far");
    ScriptedWhoisServer referred(QStringLiteral("198.51.100.7"), own.Port(), "far");
    const QString target = QString::fromLatin1(GetParam().target);
    registry.answer =
        QStringLiteral("ReferralServer: whois://%1:%2\n").arg(target).arg(own.Port()).toLatin1();
    referred.answer = "S-referred\n";
    form->ServerList->setItemText(0, QStringLiteral("203.0.113.1"));
    form->Winsock2->SetPort(registry.Port());
    Click();
    const QString after = QString::fromLatin1(GetParam().shownAfterTheAnswer).arg(target);
    EXPECT_TRUE(WaitForShown(registry.answer + after)) << Shown().toStdString();
    EXPECT_EQ(own.Received(), "");
}

const char kRefused[] = " The referral to %1 was not followed: it points into a private network.";
const char kFollowed[] = "\n Answer from %1:\n\nS-referred\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Targets, ReferralFromAPublicServer, ::testing::Values(
    TargetRow{"Loopback", "127.0.0.1", kRefused},
    TargetRow{"LoopbackInHex", "0x7f000001", kRefused},
    TargetRow{"ThisHost", "0", kRefused},
    TargetRow{"PrivateNetwork", "10.0.0.5", kRefused},
    TargetRow{"ThisMachinesOwnAddress", "192.0.2.9", kRefused},
    TargetRow{"NameOfALoopbackAddress", "inside.tarnwick.test", kRefused},
    TargetRow{"NameOfAPublicAndAPrivateAddress", "mixed.tarnwick.test", kRefused},
    TargetRow{"PublicAddress", "198.51.100.7", kFollowed},
    TargetRow{"NameWhoseFirstAddressesRefuse", "several.tarnwick.test", kFollowed}),
    kRowName);
// clang-format on

// A server that cannot be reached, at each step, named with the reason: the first one in place
// of an answer, a referred one under its heading; and the busy pointer gone at the end. The
// first server silent: SilentServerEndsTheLookupWithANote.
struct UnreachedRow {
    const char* name;
    const char* server; // the entry, or referred to by 127.0.0.1
    bool referred;
    const char* note;            // %1: the server
    const char* hosts = "files"; // where nsswitch.conf looks host names up
    std::chrono::milliseconds connectTimeout = kWhoisConnectTimeout;
    std::chrono::milliseconds answerTimeout = kWhoisAnswerTimeout;
};

class UnreachedServer : public TraceIp, public ::testing::WithParamInterface<UnreachedRow> {};

TEST_P(UnreachedServer, IsNamedWithTheReason) {
    const UnreachedRow& row = GetParam();
    if (!InNamespace())
        return RerunInNamespace(row.hosts);
    servers[0].answer = QByteArray("refer: ") + row.server + "\n";
    if (!row.referred)
        form->ServerList->setItemText(0, QString::fromLatin1(row.server));
    // The timeouts of that server only.
    QObject::connect(form->Winsock2, &WhoisLookup::WaitingChanged, [&](bool waiting) {
        if (waiting && form->Winsock2->Server() == row.server) {
            form->Winsock2->SetConnectTimeout(row.connectTimeout);
            form->Winsock2->SetAnswerTimeout(row.answerTimeout);
        }
    });
    Click();
    const QString heading = row.referred ? "refer: %1\n\n Answer from %1:\n\n" : "";
    EXPECT_TRUE(WaitForShown((heading + row.note).arg(row.server))) << Shown().toStdString();
    EXPECT_EQ(PointerOverBox(), Qt::IBeamCursor) << "the busy pointer stays after the end";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, UnreachedServer, ::testing::Values(
    UnreachedRow{"NameInNoSource", "missing.tarnwick.test", false, COULD_NOT("the name was not found")},
    UnreachedRow{"NameServerNotAnswering", "missing.tarnwick.test", false,
                 COULD_NOT("the name could not be looked up"), "files dns"},
    UnreachedRow{"NoConnectionInTime", "slow.tarnwick.test", false,
                 COULD_NOT("no connection within 0.3 seconds"), "files", 300ms},
    UnreachedRow{"ReferredNameNotFound", "missing.tarnwick.test", true, COULD_NOT("the name was not found")},
    UnreachedRow{"ReferredNoConnectionInTime", "slow.tarnwick.test", true,
                 COULD_NOT("no connection within 0 seconds"), "files", 0ms},
    UnreachedRow{"ReferredConnectionRefused", "refusing.tarnwick.test", true,
                 COULD_NOT("the connection was refused")},
    UnreachedRow{"ReferredServerSilent", "inside.tarnwick.test", true,
                 " Nothing came from %1 for 0 seconds.", "files", kWhoisConnectTimeout, 0ms}),
    kRowName);
// clang-format on

} // namespace
} // namespace tarnwick::testing
