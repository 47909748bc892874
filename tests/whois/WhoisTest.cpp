// The WHOIS client without a window: where an answer refers the asker, which addresses a
// referral may lead to, and the bounds on what an answer may cost to show.
#include "tests/support/NamedRows.h"
#include "whois/AnswerView.h"
#include "whois/WhoisLookup.h"
#include "whois/WhoisReferral.h"
#include "whois/WhoisTranscript.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <ostream>

namespace tarnwick::testing {
namespace {

using testing::PrintTo; // rows print by name

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

// Guards the ranges a referral from a public server may not lead into, at their edges, and
// IPv4 addresses written as IPv6.
TEST(ReferralTarget, IsPublicOnlyOutsideEveryPrivateAndReservedRange) {
    for (const char* address :
         {"0.0.0.0",         "0.255.255.255",   "10.0.0.0",   "10.255.255.255",
          "100.64.0.0",      "100.127.255.255", "127.0.0.1",  "127.255.255.255",
          "169.254.0.0",     "169.254.255.255", "172.16.0.0", "172.31.255.255",
          "192.168.0.0",     "192.168.255.255", "224.0.0.1",  "239.255.255.255",
          "240.0.0.0",       "255.255.255.255", "::",         "::1",
          "fe80::1",         "fd00::1",         "ff02::1",    "::ffff:10.0.0.1",
          "::ffff:127.0.0.1"})
        EXPECT_FALSE(IsPublicAddress(QHostAddress(QString::fromLatin1(address)))) << address;
    for (const char* address :
         {"1.0.0.0", "9.255.255.255", "11.0.0.0", "100.63.255.255", "100.128.0.0",
          "126.255.255.255", "128.0.0.0", "169.253.255.255", "169.255.0.0", "172.15.255.255",
          "172.32.0.0", "192.167.255.255", "192.169.0.0", "192.0.2.1", "198.51.100.7",
          "203.0.113.1", "223.255.255.255", "2a00:1450::1", "::ffff:192.0.2.1"})
        EXPECT_TRUE(IsPublicAddress(QHostAddress(QString::fromLatin1(address)))) << address;
}

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
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
