// The WHOIS client without a window: where an answer refers the asker, which addresses a
// referral may lead to, and the bounds on what an answer may cost to show.
#include "platform/Memory.h"
#include "tests/support/NamedRows.h"
#include "whois/AnswerView.h"
#include "whois/ReferralPolicy.h"
#include "whois/WhoisReferral.h"
#include "whois/WhoisTranscript.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <ostream>

namespace tarnwick::testing {
namespace {

using testing::PrintTo; // rows print by name
using namespace Qt::StringLiterals;

struct ParseRow {
    const char* name;
    const char* answer;
    const char* found; // "host", "host:port", or empty for none
};

class ReferralLine : public ::testing::TestWithParam<ParseRow> {};

// Read whole; the fuzzer checks that an answer read in pieces names the same server.
TEST_P(ReferralLine, NamesTheWhoisServerToAskNext) {
    ReferralScanner scanner;
    scanner.Scan(QString::fromUtf8(GetParam().answer));
    const auto& referral = scanner.Referral();
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
    {"LinesEndingInCr", "Domain Name: A.NET\rrefer:a.net\rcomment: x\r", "a.net"},
    {"LastLineCutShort", "Domain Name: A.NET\nrefer:a.ne", ""},
};
INSTANTIATE_TEST_SUITE_P(Answers, ReferralLine, ::testing::ValuesIn(kParseRows), kRowName);

struct RangeRow {
    const char* name;
    const char* inside;  // not public: the range's edges, or its forms
    const char* outside; // public: just past its edges; the documentation ranges stay public
};

class ReferralTarget : public ::testing::TestWithParam<RangeRow> {};

// Guards the ranges a referral from a public server may not lead into, and the machine's own
// addresses, also inside IPv6 addresses that carry them.
TEST_P(ReferralTarget, IsPublicOnlyOutsideTheRange) {
    const QList<QHostAddress> own{QHostAddress(u"192.0.2.9"_s), QHostAddress(u"2a00:1450::9"_s)};
    for (const bool isPublic : {false, true})
        for (const QString& address :
             QString::fromLatin1(isPublic ? GetParam().outside : GetParam().inside)
                 .split(u' ', Qt::SkipEmptyParts))
            EXPECT_EQ(IsPublicAddress(QHostAddress(address), own), isPublic) << qPrintable(address);
}

// clang-format off
const RangeRow kRangeRows[] = {
    {"ThisNetwork", "0.0.0.0 0.255.255.255", "1.0.0.0"},
    {"Private10", "10.0.0.0 10.255.255.255", "9.255.255.255 11.0.0.0"},
    {"SharedCarrierNat", "100.64.0.0 100.127.255.255", "100.63.255.255 100.128.0.0"},
    {"Loopback", "127.0.0.0 127.255.255.255", "126.255.255.255 128.0.0.0"},
    {"LinkLocal", "169.254.0.0 169.254.255.255", "169.253.255.255 169.255.0.0"},
    {"Private172", "172.16.0.0 172.31.255.255", "172.15.255.255 172.32.0.0"},
    {"ProtocolAssignments", "192.0.0.0 192.0.0.255", "191.255.255.255 192.0.1.0 192.0.2.0"},
    {"Private192", "192.168.0.0 192.168.255.255", "192.167.255.255 192.169.0.0"},
    {"Benchmarking", "198.18.0.0 198.19.255.255", "198.17.255.255 198.20.0.0 198.51.100.255"},
    {"MulticastAndReserved", "224.0.0.0 255.255.255.255", "223.255.255.255"},
    {"Ipv6Local", ":: ::1 fe80::1 fc00:: fdff:ffff::1 fec0:: feff:ffff::1 ff02::1",
     "2a00:1450::1 fbff:ffff::1"},
    {"Ipv4Mapped", "::ffff:10.0.0.1 ::ffff:127.0.0.1", "::ffff:192.0.2.1"},
    {"Ipv4Compatible", "::a00:1 ::c612:1", "::c000:201 0:0:0:0:1::a00:1"},
    {"Nat64", "64:ff9b::a00:1 64:ff9b::7f00:1", "64:ff9b::c000:201 64:ff9a:ffff::a00:1"},
    {"Nat64LocalUse", "64:ff9b:1::a00:1 64:ff9b:1:0:1::c000:201", "64:ff9b:1::c000:201"},
    {"SixToFour", "2002:a00:1::1 2002:c612:1::", "2002:c000:201::1 2003:a00:1::1"},
    {"OwnAddresses", "192.0.2.9 ::ffff:192.0.2.9 64:ff9b::c000:209 2002:c000:209::1 2a00:1450::9",
     "192.0.2.10 2a00:1450::8"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Ranges, ReferralTarget, ::testing::ValuesIn(kRangeRows), kRowName);

// Shows what it is handed, as the window's box would.
class ShownText : public AnswerView {
public:
    void SetText(const QString& text) override { shown = text; }
    void Append(const QString& piece, QStringView before) override {
        shown = before.toString() + piece;
    }
    QString shown;
};

struct LimitRow {
    const char* name;
    QByteArray answer;
    QString kept; // what is shown of it
    bool cut;
};

class AnswerWithinThreeLines : public ::testing::TestWithParam<LimitRow> {};

// Guards the line count as a text box counts lines (a CR LF once, also split between pieces),
// the cut made at the first character past the last line, and nothing cut at exactly the limit.
TEST_P(AnswerWithinThreeLines, KeepsThreeLinesAndSaysWhenItCutTheRest) {
    const LimitRow& row = GetParam();
    for (const qsizetype piece : {row.answer.size(), qsizetype{1}}) {
        ShownText view;
        WhoisTranscript transcript(view);
        transcript.SetLimits(1024, 3);
        for (qsizetype at = 0; at < row.answer.size() && !transcript.IsCut(); at += piece)
            transcript.Add(QByteArrayView(row.answer).sliced(at).first(piece));
        transcript.EndAnswer();
        EXPECT_EQ(view.shown, row.kept) << piece << " at a time";
        EXPECT_EQ(transcript.IsCut() ? transcript.CutNote() : QString(),
                  row.cut ? " The answer was cut off at 3 lines." : "")
            << piece << " at a time";
    }
}

const LimitRow kLimitRows[] = {
    {"ExactlyThreeLines", "a\nb\nc\n", "a\nb\nc\n", false},
    {"FourthLine", "a\nb\nc\nd", "a\nb\nc\n", true},
    {"EmptyLines", "\n\n\n\n\n", "\n\n\n", true},
    {"CrLfCountsOnce", "a\r\nb\r\nc\r\n", "a\r\nb\r\nc\r\n", false},
    {"LoneCrsAndSeparators", "a\r\r\xE2\x80\xA8\xE2\x80\xA9", "a\r\r\u2028", true},
};
INSTANTIATE_TEST_SUITE_P(Answers, AnswerWithinThreeLines, ::testing::ValuesIn(kLimitRows),
                         kRowName);

} // namespace
} // namespace tarnwick::testing

int main(int argc, char* argv[]) {
    tarnwick::platform::MapLargeBlocks();
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
