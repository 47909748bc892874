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

struct LineEndRow {
    const char* name;
    QString end;   // a line end, or a character that is none
    QString shown; // what the box is handed for it; empty where it ends no line
};

class LineEnd : public ::testing::TestWithParam<LineEndRow> {};

// Guards the one rule of what ends a line, the same for the line limit, the referral line and
// the box, which starts a paragraph there (LF, CR, U+2029 and the frame marks start one in a text
// document) and counts the next line afresh. The limit counts empty lines, a CR LF once (also
// split between pieces), cuts nothing at exactly the limit and cuts at the first character past.
TEST_P(LineEnd, EndsALineForTheLimitTheReferralAndTheBoxAlike) {
    const auto& [name, end, shown] = GetParam();
    const bool endsLine = !shown.isEmpty();
    const QByteArray threeLines = (end + end + u"c"_s + end).toUtf8();
    for (const qsizetype piece : {threeLines.size(), qsizetype{1}}) {
        ShownText view;
        WhoisTranscript transcript(view);
        transcript.SetLimits(1024, 3);
        for (qsizetype at = 0; at < threeLines.size(); at += piece)
            transcript.Add(QByteArrayView(threeLines).sliced(at, piece));
        EXPECT_FALSE(transcript.IsCut()) << piece;
        transcript.Add("d");
        EXPECT_EQ(view.shown, QString::fromUtf8(endsLine ? threeLines : threeLines + "d")) << piece;
        EXPECT_EQ(transcript.IsCut() ? transcript.CutNote() : QString(),
                  endsLine ? " The answer was cut off at 3 lines." : "");
    }
    ReferralScanner scanner;
    scanner.Scan(u"Domain Name: A.NET"_s + end + u"refer:a.net"_s + end);
    EXPECT_EQ(scanner.Referral().has_value(), endsLine) << "referral";
    const QString line(kLongestShownLine, u'x');
    const QString box = ShownLines().Next(line + end + line);
    EXPECT_TRUE(box.startsWith(line + (endsLine ? shown + line : u"\n"_s))) << "box";
}

const LineEndRow kLineEndRows[] = {
    {"LineFeed", u"\n"_s, u"\n"_s},
    {"CarriageReturn", u"\r"_s, u"\r"_s},
    {"CrLf", u"\r\n"_s, u"\r\n"_s},
    {"LineSeparator", u"\u2028"_s, u"\n"_s},
    {"ParagraphSeparator", u"\u2029"_s, u"\u2029"_s},
    {"FrameStart", u"\uFDD0"_s, u"\uFDD0"_s},
    {"FrameEnd", u"\uFDD1"_s, u"\uFDD1"_s},
    {"NextLineIsNoLineEnd", u"\u0085"_s, u""_s},
};
INSTANTIATE_TEST_SUITE_P(Characters, LineEnd, ::testing::ValuesIn(kLineEndRows), kRowName);

} // namespace
} // namespace tarnwick::testing

int main(int argc, char* argv[]) {
    tarnwick::platform::MapLargeBlocks();
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
